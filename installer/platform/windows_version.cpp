#include "installer/platform/windows_version.h"

namespace installer {

int version_code_for(unsigned major, unsigned minor) {
  if (major <= 4) return 4;
  if (major == 5) return minor <= 2 ? 5 + int(minor) : 12;
  if (major == 6) return minor <= 4 ? 8 + int(minor) : 0;
  return 12;
}

}  // namespace installer
