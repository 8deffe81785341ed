#include <windows.h>

#include <algorithm>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "installer/format/format.h"
#include "installer/format/installed_list.h"
#include "installer/platform/launch.h"
#include "installer/platform/files_in_use.h"
#include "installer/platform/paths.h"
#include "installer/platform/removal.h"
#include "installer/platform/resources.h"
#include "installer/steps/extract.h"
#include "installer/steps/path_macros.h"
#include "installer/steps/run_file.h"
#include "runtime/value/codepage.h"
#include "runtime/win/confined.h"
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

// The mark of the file just written at `path`, read through a hold on its folder.
std::string mark_of(const std::u16string& path) {
  std::u16string folder, name;
  if (!rt::win::split_plain_parent(path, &folder, &name)) return {};
  rt::win::Folder held = rt::win::Folder::open(folder);
  rt::win::File file = held ? held.open_file(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)
                            : rt::win::File();
  return file ? file_mark(file.get()) : std::string();
}

// Where a path of the installation lies: its held folder and its name.
std::optional<Root::Place> place_of(Root& root, const std::u16string& path) {
  if (!root.held()) return std::nullopt;
  return root.place(path);
}

bool is_file(const std::optional<Root::Place>& at) {
  DWORD attributes = 0;
  return at && at->folder.look(at->name, &attributes) == rt::win::FileStatus::kOk &&
         !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
}

// Writes `bytes` through `file`.
bool write_all(HANDLE file, const void* bytes, std::size_t n) {
  DWORD put = 0;
  return WriteFile(file, bytes, DWORD(n), &put, nullptr) && put == n;
}

// Puts a new file made beside `path` (its name + `suffix`, noted first) in
// the place of `path`, the one there kept aside like any replaced file;
// `fill` writes its contents. Everything through the held folder and the
// new file's own handle.
template <typename Fill>
bool replace_through(const Root::Place& at, const std::u16string& path, const std::u16string& suffix, Fill fill) {
  const std::u16string part = at.name + suffix;
  at.folder.remove(part);  // a part file of this name is never anyone's but ours
  if (!this_run().creating(path + suffix, false)) return false;
  rt::win::File file = at.folder.create_file(part, GENERIC_WRITE | DELETE, 0);
  bool ok = file && fill(file.get());
  RunJournal& journal = this_run().journal();
  ok = ok && (!is_file(at) || !journal.covers(path) || journal.set_aside(path)) &&
       rt::win::rename_through(file.get(), at.folder, at.name, true) == rt::win::FileStatus::kOk;
  if (!ok && file) rt::win::delete_through(file.get());
  return ok;
}

// The list goes into a copy of the uninstaller, which then takes its place
// (the one there kept aside like any replaced file): a run killed while the
// list is written never leaves a damaged uninstaller, and one taken back
// restores the earlier uninstaller with its own list. The resource is
// written into a copy in the run's own working folder (which only this
// program's user, or administrators, can write), never in a folder others
// may change. A signed uninstaller is left whole: the list goes into the
// file beside it, which the list names. False when there is no uninstaller
// to record it in, or when it could not be recorded: then `*unwritten`
// names the file that should have taken it.
bool record_list(const rt::Text& uninstaller_path, rt::Text list, rt::Text* unwritten) {
  std::u16string uninstaller = rt::wide_from_cp936(uninstaller_path.view());
  rt::Text list_file = list_file_beside(uninstaller_path);
  std::u16string beside = rt::wide_from_cp936(list_file.view());
  std::u16string folder, name;
  if (!rt::win::split_plain_parent(uninstaller, &folder, &name)) return false;
  Root root = Root::hold(folder);
  std::optional<Root::Place> program = place_of(root, uninstaller), list_place = place_of(root, beside);
  if (!is_file(program)) return false;  // a package without an uninstaller
  const bool signed_program = carries_signature(program->folder, program->name);
  *unwritten = signed_program ? list_file : uninstaller_path;
  if (!list_place) return false;
  RunJournal& journal = this_run().journal();
  if (signed_program) {
    std::string lines = list.str();
    bool named = false;
    for (const format::ListedPath& line : format::ListLines(list.view()))
      named = named || format::same_listed_path(line.path, list_file.view());
    if (!named) format::append_listed(lines, list_file.view());
    rt::Bytes sealed = format::seal_installed_list(rt::Text(lines));
    if (!replace_through(*list_place, beside, u".~part",
                         [&](HANDLE f) { return write_all(f, sealed.data(), sealed.size()); }))
      return false;
    *unwritten = rt::Text();
    return true;
  }
  // An earlier installation's list file would be read before this list.
  if (is_file(list_place) && !(journal.covers(beside) ? journal.set_aside(beside)
                                                      : list_place->folder.remove(list_place->name) ==
                                                            rt::win::FileStatus::kOk))
    return false;
  RunFile copy;
  if (!copy.create(rt::Text(format::kUninstallerFile)) ||
      !copy_into(program->folder, program->name, copy.handle()) ||
      !copy.release_file() || !write_installed_list(copy.path_text(), list))
    return false;
  rt::win::File written = copy.folder().open_file(copy.name(), GENERIC_READ, FILE_SHARE_READ);
  if (!written || !replace_through(*program, uninstaller, u".~list.part", [&](HANDLE f) {
        std::vector<char> buffer(1 << 16);
        for (;;) {
          DWORD got = 0;
          if (!ReadFile(written.get(), buffer.data(), DWORD(buffer.size()), &got, nullptr)) return false;
          if (got == 0) return true;
          if (!write_all(f, buffer.data(), got)) return false;
        }
      }))
    return false;
  *unwritten = rt::Text();
  return true;
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

  // Before anything is written: no name stored with a "..", a drive, a
  // device or a root (a damaged package, never one the clean-up quietly
  // moves elsewhere), every target the list can spell, none in the run's own
  // folder, and no earlier file held by a running program.
  std::vector<std::u16string> replaced;
  HeldFolders folders;
  for (int i = 0; i < n; ++i) {
    rt::ZipEntry entry;
    Target t;
    if (archive.describe(i, entry) != rt::kZipOk || rt::is_refused_stored_name(entry.stored_name) ||
        !targets.of(entry, t)) {
      outcome.damaged = true;
      outcome.failed = 1;
      return outcome;
    }
    if (entry.is_directory()) continue;
    DWORD attributes = 0;
    auto at = folders.place(t.path);
    if (at && at->folder.look(at->name, &attributes) == rt::win::FileStatus::kOk &&
        !(attributes & FILE_ATTRIBUTE_DIRECTORY))
      replaced.push_back(t.path);
  }
  folders = HeldFolders();
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
    // A file made outside the installation folder is listed with its mark:
    // the uninstaller removes only that very file there.
    std::string mark;
    if (!entry.is_directory() && !path_is_inside(rt::Text(rt::cp936_from_wide(t.path)), install_directory))
      mark = mark_of(t.path);
    format::append_listed(list, rt::cp936_from_wide(t.listed), mark);
  }
  archive.close();
  outcome.all_extracted = outcome.failed == 0 && !outcome.cancelled;

  if (outcome.all_extracted) {
    installed_files = rt::Text(installed_files.str() + list);
    // One list for both installations: uninstalling removes every file
    // either wrote. Without an uninstaller it is not kept; the outcome says
    // so. An uninstaller that could not take it fails the step: committing
    // would leave neither installation uninstallable.
    rt::Text merged =
        earlier_files.empty() ? installed_files : format::merge_installed_lists(installed_files, earlier_files);
    outcome.list_recorded = record_list(uninstaller_path, merged, &outcome.unwritable_file);
    if (!outcome.unwritable_file.empty()) ++outcome.failed;
  }
  return outcome;
}

PackageOutcome unpack_package(const rt::Text& package_path, const rt::Text& install_directory,
                              const rt::Text& uninstaller_path, rt::Text& installed_files, PackageStepHost& host) {
  PackageOutcome outcome =
      unpack_package(rt::zip_fs::open_input(package_path), install_directory, uninstaller_path,
                     read_installed_list(uninstaller_path), installed_files, host);
  std::u16string folder, name;
  if (rt::win::split_plain_parent(rt::wide_from_cp936(package_path.view()), &folder, &name))
    if (rt::win::Folder held = rt::win::Folder::open(folder)) held.remove(name);
  return outcome;
}

}  // namespace installer
