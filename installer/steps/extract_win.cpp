#include <windows.h>

#include "installer/format/cipher.h"
#include "installer/format/format.h"
#include "installer/platform/resources.h"
#include "installer/steps/extract.h"
#include "installer/steps/path_macros.h"
#include "runtime/value/codepage.h"
#include "runtime/zip/zip.h"

namespace installer {

PackageOutcome unpack_package(const rt::Text& package_path, const rt::Text& uninstaller_path,
                              rt::Text& installed_files, PackageStepHost& host) {
  PackageOutcome outcome;
  host.set_progress(0);
  rt::ZipVariable archive;
  if (rt::zip_open(archive, package_path)) {
    outcome.opened = true;
    int n = rt::zip_entry_count(archive);
    outcome.entries = n;
    std::string list = installed_files.str();
    int shown = 0;
    for (int i = 1; i <= n; ++i) {
      rt::Text name = rt::zip_entry_info(archive, i - 1).name;
      // The directory is read afresh for every entry, as the box shows it.
      rt::Text target = expand_path_macros(name, host.install_directory());
      // A failed entry is skipped (and still listed): the rest of the package
      // still installs; the outcome remembers it.
      if (rt::zip_extract_entry(archive, i - 1, target) != rt::kZipOk) ++outcome.failed;
      // The bar lives on the window's thread: only a change is worth the trip.
      int percent = int(double(i) / double(n) * 100.0);
      if (percent != shown) host.set_progress(shown = percent);
      list += target.str();
      list += "\r\n";
    }
    outcome.all_extracted = outcome.failed == 0;
    installed_files = rt::Text(list);
    rt::zip_close(archive);
  }
  // The package goes whether or not it could be read.
  DeleteFileW(rt::wide_path(package_path.view()).c_str());

  std::string list = installed_files.str();
  for (char& c : list)
    if (c == '/') c = '\\';  // '/' is never the second byte of a character
  installed_files = rt::Text(list);
  // An empty list removes an earlier one. Without an uninstaller the list is
  // not kept; the outcome says so.
  outcome.list_recorded = write_resource(uninstaller_path, format::kListResourceType, format::kListResourceName, 0,
                                         encrypt_text(installed_files, format::kRecordPassPhrase, true));
  host.package_step_ended(outcome);
  return outcome;
}

}  // namespace installer
