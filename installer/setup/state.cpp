#include "installer/setup/state.h"

namespace installer {

namespace {
InstallerState& storage() {
  static InstallerState* state = new InstallerState();  // lives until the exit routine
  return *state;
}
}  // namespace

InstallerState& installer_state() { return storage(); }

void reset_installer_state() {
  InstallerState& s = storage();
  s.software_name = s.software_version = s.package_url = s.required_framework = rt::Text();
  s.main_file = s.install_type = s.company_name = s.company_url = s.agreement_url = s.package_sha256 = rt::Text();
  s.package_path = s.uninstaller_path = s.installed_files = rt::Text();
  s.install_directory = s.earlier_files = rt::Text();
  s.desktop_shortcut = s.completed = false;
  s.worker_thread = nullptr;
}

}  // namespace installer
