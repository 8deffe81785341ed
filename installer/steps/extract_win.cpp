#include <windows.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "installer/format/installed_list.h"
#include "installer/platform/launch.h"
#include "installer/platform/files_in_use.h"
#include "installer/platform/removal.h"
#include "installer/platform/resources.h"
#include "installer/steps/extract.h"
#include "installer/steps/path_macros.h"
#include "runtime/value/codepage.h"
#include "runtime/win/handles.h"
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

// Where an entry goes: the archive's name in UTF-16 with its macros
// expanded (this exact text is what the file call receives), and the text
// the list records for it.
struct Target {
  std::u16string path;
  std::u16string listed;
  std::size_t base = 0;  // where the folder the name starts in ends
};

struct Targets {
  std::u16string app, tmp, own;

  // False for a name the list's code page cannot spell (the list would name
  // another file, which an uninstallation would then remove) and for one
  // inside the run's own folder.
  bool of(const rt::ZipEntry& entry, Target& t) const {
    t.base = 0;
    t.path = expand_path_macros(entry.wide_name, app, tmp, &t.base);
    t.listed = t.path;
    if (!(t.path.size() >= 2 && t.path[1] == u':') && !(!t.path.empty() && (t.path[0] == u'\\' || t.path[0] == u'/'))) {
      t.path = own + t.path;
      t.base += own.size();
    }
    if (rt::wide_from_cp936(rt::cp936_from_wide(t.path)) != t.path) return false;
    std::u16string run = app + kRunFolderName;
    if (format::same_listed_path(rt::cp936_from_wide(t.path.substr(0, std::min(t.path.size(), run.size()))),
                                 rt::cp936_from_wide(run)) &&
        (t.path.size() == run.size() || t.path[run.size()] == u'\\' || t.path[run.size()] == u'/'))
      return false;
    return true;
  }
};

const wchar_t* w(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

// A copy of the uninstaller, made through a handle on the file itself (never
// what a link in its place points to), into a new file the run notes.
bool copy_noted(const std::u16string& from, const std::u16string& to) {
  return this_run().creating(to, false) && copy_plain_file(from, to);
}

// Writes `bytes` into a new file beside `path` and puts it in its place (the
// one there kept aside like any replaced file).
bool replace_with(const std::u16string& path, const rt::Bytes& bytes) {
  std::u16string part = path + u".~part";
  DeleteFileW(w(part));  // a part file of this name is never anyone's but ours
  if (!this_run().creating(part, false)) return false;
  bool ok = false;
  {
    rt::win::File file(CreateFileW(w(part), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD put = 0;
    ok = file && WriteFile(file.get(), bytes.data(), DWORD(bytes.size()), &put, nullptr) && put == bytes.size();
  }
  RunJournal& journal = this_run().journal();
  const bool there = rt::zip_fs::path_kind(path) == rt::zip_fs::PathKind::File;
  ok = ok && (!there || !journal.covers(path) || journal.set_aside(path)) &&
       MoveFileExW(w(part), w(path), MOVEFILE_REPLACE_EXISTING);
  if (!ok) DeleteFileW(w(part));
  return ok;
}

// The list goes into a copy of the uninstaller, which then takes its place
// (the one there kept aside like any replaced file): a run killed while the
// list is written never leaves a damaged uninstaller, and one taken back
// restores the earlier uninstaller with its own list. A signed uninstaller
// is left whole: the list goes into the file beside it, which the list names.
bool record_list(const rt::Text& uninstaller_path, rt::Text list) {
  std::u16string uninstaller = rt::wide_from_cp936(uninstaller_path.view());
  if (rt::zip_fs::path_kind(uninstaller) != rt::zip_fs::PathKind::File) return false;
  rt::Text list_file = list_file_beside(uninstaller_path);
  std::u16string beside = rt::wide_from_cp936(list_file.view());
  RunJournal& journal = this_run().journal();
  if (carries_signature(uninstaller_path)) {
    std::string lines = list.str();
    bool named = false;
    for (const format::ListedPath& line : format::ListLines(list.view()))
      named = named || format::same_listed_path(line.path, list_file.view());
    if (!named) format::append_listed(lines, list_file.view());
    return replace_with(beside, format::seal_installed_list(rt::Text(lines)));
  }
  // An earlier installation's list file would be read before this list.
  if (rt::zip_fs::path_kind(beside) == rt::zip_fs::PathKind::File &&
      !(journal.covers(beside) ? journal.set_aside(beside) : DeleteFileW(w(beside))))
    return false;
  std::u16string copy = uninstaller + u".~list.part";
  DeleteFileW(w(copy));
  bool ok = copy_noted(uninstaller, copy) && write_installed_list(rt::Text(rt::cp936_from_wide(copy)), list);
  ok = ok && (!journal.covers(uninstaller) || journal.set_aside(uninstaller)) &&
       MoveFileExW(w(copy), w(uninstaller), MOVEFILE_REPLACE_EXISTING);
  if (!ok) DeleteFileW(w(copy));
  return ok;
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

  const Targets targets{rt::wide_from_cp936(install_directory.view()) + u"\\",
                        rt::wide_from_cp936(temp_directory().view()), current_directory()};

  // Before anything is written: every target the list can spell, none in
  // the run's own folder, and no earlier file held by a running program.
  std::vector<std::u16string> replaced;
  for (int i = 0; i < n; ++i) {
    rt::ZipEntry entry;
    Target t;
    if (archive.describe(i, entry) != rt::kZipOk || !targets.of(entry, t)) {
      outcome.damaged = true;
      outcome.failed = 1;
      return outcome;
    }
    if (!entry.is_directory() && rt::zip_fs::path_kind(t.path) == rt::zip_fs::PathKind::File) replaced.push_back(t.path);
  }
  std::vector<rt::Text> holders = programs_holding(replaced);
  replaced = std::vector<std::u16string>();
  if (!holders.empty()) {
    outcome.held_by = close_programs_message(holders);
    outcome.failed = 1;
    return outcome;
  }

  const std::set<std::string> earlier = earlier_keys(earlier_files);
  std::string list;
  rt::ExtractNotes notes;
  notes.creating = [](const std::u16string& path, bool folder) { return this_run().creating(path, folder); };
  // An earlier file in the installation folder is kept aside until the run
  // ends: a failed run puts it back. Elsewhere it is replaced in one step.
  notes.set_aside = [](const std::u16string& path) {
    RunJournal& journal = this_run().journal();
    return journal.covers(path) ? journal.set_aside(path) : true;
  };
  notes.may_replace_read_only = [&earlier](const std::u16string& path) {
    return earlier.count(format::listed_path_key(rt::cp936_from_wide(path))) > 0;
  };

  // Inflating (most of the step's work) runs on a second thread while this
  // one notes, writes and renames each file in order; without that thread
  // the entries are inflated here.
  archive.read_ahead();
  int shown = 0;
  for (int i = 0; i < n; ++i) {
    // A safe point: the entry before is whole under its own name.
    if (install_cancel_requested()) {
      outcome.cancelled = true;
      break;
    }
    rt::ZipEntry entry;
    Target t;
    if (archive.describe(i, entry) != rt::kZipOk || !targets.of(entry, t)) {
      outcome.damaged = true;
      ++outcome.failed;
      break;
    }
    // Nothing below the folder the name starts in is written through a link.
    notes.links_refused_from = t.base;
    std::uint32_t result = archive.extract_exact(i, t.path, notes);
    if (result != rt::kZipOk) {
      ++outcome.failed;
      if (damaging(result)) outcome.damaged = true;
      else outcome.unwritable_file = rt::Text(rt::cp936_from_wide(t.path));
      break;
    }
    // The bar lives on the window's thread: only a change is worth the trip.
    int percent = int(double(i + 1) / double(n) * 100.0);
    if (percent != shown) host.set_progress(shown = percent);
    format::append_listed(list, rt::cp936_from_wide(t.listed));
  }
  archive.close();
  outcome.all_extracted = outcome.failed == 0 && !outcome.cancelled;

  if (outcome.all_extracted) {
    installed_files = rt::Text(installed_files.str() + list);
    // One list for both installations: uninstalling removes every file
    // either wrote. Without an uninstaller it is not kept; the outcome says so.
    rt::Text merged =
        earlier_files.empty() ? installed_files : format::merge_installed_lists(installed_files, earlier_files);
    outcome.list_recorded = record_list(uninstaller_path, merged);
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
