// The package step: unpacks the package archive into place through the path
// macros, keeps the list of what it wrote, deletes the archive and records
// the list, encrypted, in the uninstaller's resources. Runs on the install
// worker; it reaches the window only through PackageStepHost.
#pragma once

#include "installer/steps/host.h"
#include "runtime/value/value.h"

namespace installer {

// Unpacks `package_path`, appends every target path and CR LF to
// `installed_files` (with "\" separators), deletes the package, writes the
// encrypted list into `uninstaller_path`, then ends the step on `host`.
PackageOutcome unpack_package(const rt::Text& package_path, const rt::Text& uninstaller_path,
                              rt::Text& installed_files, PackageStepHost& host);

}  // namespace installer
