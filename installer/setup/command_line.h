// What an administrator may give setup.exe, and what its exit code says.
// Started without arguments the installer reads nothing here: a person's
// road is the window's alone. Portable: decisions on text alone.
#pragma once

#include <string>
#include <string_view>

#include "runtime/value/value.h"

namespace installer {

// setup.exe's exit codes, the same for the window and for /S.
enum SetupExit : int {
  kSetupInstalled = 0,
  kSetupFailed = 1,             // not installed: the download, the package, the .NET Framework, ... (see the log)
  kSetupCancelled = 2,          // the person closed the installer before the end
  kSetupDamaged = 3,            // the installer's own configuration cannot be read: refused, nothing changed
  kSetupFileInUse = 4,          // a file of the installation is held by a running program, or cannot be replaced
  kSetupFolderUnusable = 5,     // the installation folder cannot be made or used
  kSetupBusy = 6,               // another installation or uninstallation of the software runs
  kSetupNeedsAdministrator = 7, // an installation for every user, run without administrator rights
  kSetupUsage = 8,              // an unknown or malformed argument: nothing was done
  kSetupDowngrade = 9,          // a newer version is installed: an unattended run does not replace it
  kSetupRestartNeeded = 3010,   // installed; Windows must restart first (the .NET Framework said so)
};

struct SetupArguments {
  bool given = false;   // anything at all after the program's name
  bool silent = false;  // /S
  bool help = false;    // /? or --help
  std::u16string folder;  // /D=<folder>: the installation folder itself, a full path
  std::u16string log;     // /LOG=<file>, as given (made full against the caller's folder)
  // The first argument that could not be used; not empty means a usage error.
  std::u16string wrong;
  bool usage_error() const { return !wrong.empty(); }
};

// Reads a whole command line as Windows gives it (the program's own name
// first). Arguments are separated by blanks; double quotes group blanks and
// are dropped; "/D=" takes the rest of the line, blanks and all (so it comes
// last), and must name a full path ("C:\..." or "\\server\share\...").
// Options are matched without regard to case.
SetupArguments parse_setup_arguments(std::u16string_view command_line);

// The usage text: the arguments and every exit code (code page 936).
rt::Text setup_usage_text();

}  // namespace installer
