// The package step: unpacks the package archive into place through the path
// macros, keeps the list of what it wrote and records the list, encrypted, in
// the uninstaller's resources. Runs on the install worker; it reaches the
// window only through PackageStepHost.
#pragma once

#include <memory>

#include "installer/steps/host.h"
#include "runtime/value/value.h"
#include "runtime/zip/zip_input.h"

namespace installer {

// Unpacks the archive that `package` reads into `install_directory` (taken
// once, by the caller) and the other places its names say. Names stay in
// UTF-16 from the archive to the file call. Each file is written under a
// temporary name beside its own and renamed once complete; what the step
// creates is noted in this_run(). It stops at the first entry that fails, and
// between two entries when the window asks it to (install_cancel_requested).
// Only when every entry is in place are the target paths appended to
// `installed_files` (installed_list.h) and the list sealed into
// `uninstaller_path`; a failed or cancelled step leaves an earlier
// installation's list alone. A read-only file is replaced only when
// `earlier_files`, the earlier installation's list, names it.
PackageOutcome unpack_package(std::unique_ptr<rt::ZipInput> package, const rt::Text& install_directory,
                              const rt::Text& uninstaller_path, const rt::Text& earlier_files,
                              rt::Text& installed_files, PackageStepHost& host);

// The same for a package file (tests and tools): opened by path and deleted
// afterwards; the earlier list is the one `uninstaller_path` carries.
PackageOutcome unpack_package(const rt::Text& package_path, const rt::Text& install_directory,
                              const rt::Text& uninstaller_path, rt::Text& installed_files, PackageStepHost& host);

}  // namespace installer
