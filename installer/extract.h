// The package step: unpacks the package archive into place through the path
// macros, keeps the list of what it wrote, deletes the archive and records
// the list, encrypted, in the uninstaller's resources. Runs on the install
// worker; it reaches the window only through PackageStepHost.
#pragma once

#include "runtime/value.h"

namespace installer {

// How the step went. The Part's step always ends on the finish page; the
// controller uses this to show the failure page instead when the package
// could not be read or an entry could not be written.
struct PackageOutcome {
  bool opened = false;         // the package was a readable ZIP archive
  bool all_extracted = false;  // opened, and every entry extracted with result 0
  int entries = 0;
  int failed = 0;              // entries whose extraction gave a non-zero result
  bool list_recorded = false;  // the list reached the uninstaller's resources
  bool succeeded() const { return opened && all_extracted; }
};

// Implemented by the controller, which marshals to the window thread.
class PackageStepHost {
 public:
  virtual ~PackageStepHost() = default;
  // The installation directory as the install-path box shows it now.
  virtual rt::Text install_directory() = 0;
  // The progress bar's position, 0-100.
  virtual void set_progress(int percent) = 0;
  // The step is over (the Part's switch to the finish page).
  virtual void package_step_ended(const PackageOutcome& outcome) = 0;
};

// Resource of the uninstaller that holds the installed-file list.
inline constexpr char kListResourceType[] = "install";
inline constexpr char kListResourceName[] = "list";

// Unpacks `package_path`, appends every target path and CR LF to
// `installed_files` (with "\" separators), deletes the package, writes the
// encrypted list into `uninstaller_path`, then ends the step on `host`.
PackageOutcome unpack_package(const rt::Text& package_path, const rt::Text& uninstaller_path,
                              rt::Text& installed_files, PackageStepHost& host);

// Puts one resource into an executable on disk, keeping the others; empty
// data deletes the resource of that type and name.
bool write_resource(const rt::Text& executable, const rt::Text& type, const rt::Text& name, int language,
                    const rt::Bytes& data);

}  // namespace installer
