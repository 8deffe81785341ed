// One small number for the running Windows version; the configuration uses it
// to choose the default installation folder (above 9 means Windows 8 or later).
#pragma once

namespace installer {

// The code of an NT-family version as the system records it for the process.
int version_code_for(unsigned major, unsigned minor);
// The code of the running system (Windows only).
int windows_version_code();

}  // namespace installer
