// Start-up of setup.exe: runtime and process-wide state, module start-up,
// the installer window, the message loop.
#pragma once

namespace installer {

// Runs the installer and returns the process exit code.
int run_setup();

}  // namespace installer
