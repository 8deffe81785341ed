#include "installer/setup/state.h"

namespace installer {

namespace {
InstallerState& storage() {
  static InstallerState* state = new InstallerState();  // lives until the exit routine
  return *state;
}
}  // namespace

InstallerState& installer_state() { return storage(); }

void reset_installer_state() { storage() = InstallerState(); }

}  // namespace installer
