#include <windows.h>

#include <set>
#include <string>

#include "installer/format/installed_list.h"
#include "installer/platform/launch.h"
#include "installer/platform/resources.h"
#include "installer/steps/extract.h"
#include "installer/steps/path_macros.h"
#include "runtime/value/codepage.h"
#include "runtime/zip/zip.h"
#include "runtime/zip/zip_fs.h"

namespace installer {

namespace {

// The comparison keys of what the earlier installation listed in the
// uninstaller that is already in place.
std::set<std::string> earlier_keys(const rt::Text& earlier_files) {
  std::set<std::string> keys;
  for (const format::ListedPath& line : format::ListLines(earlier_files.view()))
    keys.insert(format::listed_path_key(line.path));
  return keys;
}

bool damaging(std::uint32_t result) {
  return result == rt::kZipBadArgument || result == rt::kZipDamaged || result == rt::kZipBadLocalHeader ||
         result == rt::kZipBadLocalExtra || result == rt::kZipWrongPassword;
}

std::u16string current_directory() {
  wchar_t buffer[32768];
  DWORD n = GetCurrentDirectoryW(32768, buffer);
  std::u16string d(reinterpret_cast<const char16_t*>(buffer), n < 32768 ? n : 0);
  if (!d.empty() && d.back() != u'\\') d += u'\\';
  return d;
}

}  // namespace

PackageOutcome unpack_package(std::unique_ptr<rt::ZipInput> package, const rt::Text& install_directory,
                              const rt::Text& uninstaller_path, const rt::Text& earlier_files,
                              rt::Text& installed_files, PackageStepHost& host) {
  PackageOutcome outcome;
  host.set_progress(0);
  rt::ZipArchive archive;
  if (archive.open(std::move(package)) != rt::kZipOk) return outcome;
  outcome.opened = true;
  int n = int(archive.count());
  outcome.entries = n;

  const std::u16string app = rt::wide_from_cp936(install_directory.view()) + u"\\";
  const std::u16string tmp = rt::wide_from_cp936(temp_directory().view());
  const std::u16string own = current_directory();
  const std::set<std::string> earlier = earlier_keys(earlier_files);
  std::string list;
  rt::ExtractNotes notes;
  notes.created = [](const std::u16string& path, bool folder) {
    if (folder) this_run().created_folder(path);
    else this_run().created_file(path);
  };
  notes.may_replace_read_only = [&earlier](const std::u16string& path) {
    return earlier.count(format::listed_path_key(rt::cp936_from_wide(path))) > 0;
  };

  int shown = 0;
  for (int i = 0; i < n; ++i) {
    // A safe point: the entry before is whole under its own name.
    if (install_cancel_requested()) {
      outcome.cancelled = true;
      break;
    }
    rt::ZipEntry entry;
    if (archive.describe(i, entry) != rt::kZipOk) {
      outcome.damaged = true;
      ++outcome.failed;
      break;
    }
    // The name as the archive gives it, in UTF-16, with its macros expanded;
    // this exact text is what the file call receives.
    std::size_t base = 0;
    std::u16string target = expand_path_macros(entry.wide_name, app, tmp, &base);
    std::u16string listed = target;
    if (!(target.size() >= 2 && target[1] == u':') && !(target.size() >= 1 && (target[0] == u'\\' || target[0] == u'/'))) {
      target = own + target;
      base += own.size();
    }
    // Nothing below the folder the name starts in is written through a link.
    notes.links_refused_from = base;
    std::uint32_t result = archive.extract_exact(i, target, notes);
    if (result != rt::kZipOk) {
      ++outcome.failed;
      if (damaging(result)) outcome.damaged = true;
      else outcome.unwritable_file = rt::Text(rt::cp936_from_wide(target));
      break;
    }
    // The bar lives on the window's thread: only a change is worth the trip.
    int percent = int(double(i + 1) / double(n) * 100.0);
    if (percent != shown) host.set_progress(shown = percent);
    format::append_listed(list, rt::cp936_from_wide(listed));
  }
  archive.close();
  outcome.all_extracted = outcome.failed == 0 && !outcome.cancelled;

  if (outcome.all_extracted) {
    installed_files = rt::Text(installed_files.str() + list);
    // Without an uninstaller the list is not kept; the outcome says so.
    outcome.list_recorded = write_installed_list(uninstaller_path, installed_files);
  }
  return outcome;
}

PackageOutcome unpack_package(const rt::Text& package_path, const rt::Text& install_directory,
                              const rt::Text& uninstaller_path, rt::Text& installed_files, PackageStepHost& host) {
  PackageOutcome outcome =
      unpack_package(rt::zip_fs::open_input(package_path), install_directory, uninstaller_path,
                     read_installed_list(uninstaller_path), installed_files, host);
  DeleteFileW(rt::wide_path(package_path.view()).c_str());
  return outcome;
}

}  // namespace installer
