// The run journal on disk and its replay. Every path is acted on through the
// removal engine: below the held installation folder, through no link.
#include <windows.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "installer/platform/paths.h"
#include "installer/platform/removal.h"
#include "installer/platform/run_journal.h"
#include "runtime/value/codepage.h"
#include "runtime/win/handles.h"
#include "runtime/zip/zip_fs.h"

namespace installer {

namespace {

// A journal larger than this is no journal of ours.
constexpr DWORD kMaxJournal = 64u << 20;

const wchar_t* w(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }
rt::Text text(const std::u16string& s) { return rt::Text(rt::cp936_from_wide(s)); }
std::u16string number(unsigned n) { return rt::wide_from_cp936(std::to_string(n)); }

// A folder held open as itself (no delete sharing: it cannot be renamed
// away, nor a link put in its place) once checked to be a plain folder; null
// for anything else.
using Held = std::unique_ptr<rt::zip_fs::HeldFolder>;
Held hold_plain_folder(const std::u16string& path) { return rt::zip_fs::hold_folder(path); }

bool exists(const std::u16string& path) { return GetFileAttributesW(w(path)) != INVALID_FILE_ATTRIBUTES; }

// Replays `actions` below `install_folder`; paths outside it, and backups
// outside the run folder, are never touched (a journal in a folder a person
// can write may be forged).
struct Replay {
  std::u16string install_folder, run_folder;
  Root root;
  std::vector<rt::Text>* displaced = nullptr;
  unsigned next_displaced = 0;
  bool remove_install_folder = false;

  bool inside_install(const std::u16string& p) const { return path_is_inside(text(p), text(install_folder)); }
  bool inside_run(const std::u16string& p) const { return path_is_inside(text(p), text(run_folder)); }

  // A file that cannot go because a program runs from it (the uninstaller
  // restoring its own file) moves into the run folder instead.
  bool remove_or_displace(const std::u16string& path) {
    Removal r = remove_inside(text(path), root);
    if (r == Removal::kGone) return true;
    if (r != Removal::kInUse) return false;
    std::u16string to = run_folder + u"\\displaced-" + number(next_displaced++);
    if (move_inside(text(path), text(to), root) != Removal::kGone) return false;
    if (displaced) displaced->push_back(text(to));
    return true;
  }

  bool apply(const std::vector<RecoveryAction>& actions) {
    using Op = RecoveryAction::Op;
    bool ok = true;
    for (const RecoveryAction& a : actions) {
      switch (a.op) {
        case Op::kRemoveFile:
          if (!inside_install(a.path) || !remove_or_displace(a.path)) ok = false;
          break;
        case Op::kRemoveFolder:
          // The installation folder itself goes last, once nothing holds it.
          if (same_path(text(a.path), text(install_folder))) {
            remove_install_folder = true;
          } else if (!inside_install(a.path)) {
            ok = false;
          } else if (remove_inside(text(a.path), root) == Removal::kRefused) {
            ok = false;  // one that still holds something a person put there stays
          }
          break;
        case Op::kRestore:
          if (!inside_install(a.path) || !inside_run(a.backup)) {
            ok = false;
          } else if (exists(a.backup)) {  // else it was never moved: the earlier file is in place
            if (!remove_or_displace(a.path) || move_inside(text(a.backup), text(a.path), root) != Removal::kGone)
              ok = false;
          }
          break;
        case Op::kDiscardBackup:
          if (!inside_run(a.backup) || remove_inside(text(a.backup), root) != Removal::kGone) ok = false;
          break;
      }
    }
    return ok;
  }
};

}  // namespace

struct RunJournal::State {
  std::u16string install_folder;  // as the run names it, no trailing separator
  std::u16string run_folder;
  std::vector<Held> held;  // the installation folder and every folder on its way
  Held run;
  rt::win::File journal;
  Root root;
  std::vector<JournalEntry> entries;
  unsigned next_backup = 0;

  bool write(JournalEntry entry, bool durable) {
    std::string line = journal_line(entry);
    DWORD written = 0;
    if (!WriteFile(journal.get(), line.data(), DWORD(line.size()), &written, nullptr) || written != line.size())
      return false;
    // A set-aside moves an earlier file: its line must be on the disk before
    // the move is. A made file's line only avoids an orphan.
    if (durable) FlushFileBuffers(journal.get());
    entries.push_back(std::move(entry));
    return true;
  }

  // The journal and the run folder go, then the holds.
  void end(bool remove_install_folder) {
    journal.reset();
    remove_inside(text(run_folder + u"\\" + kJournalFileName), root);
    run.reset();
    RemoveDirectoryW(w(run_folder));
    held.clear();
    if (remove_install_folder) RemoveDirectoryW(w(install_folder));
  }
};

RunJournal::RunJournal() = default;
RunJournal::~RunJournal() = default;

bool RunJournal::active() const { return state_ && state_->journal; }

bool RunJournal::covers(const std::u16string& path) const {
  return active() && path_is_inside(text(path), text(state_->install_folder));
}

bool RunJournal::begin(const std::u16string& install_folder, const std::vector<std::u16string>& made_folders) {
  state_.reset();
  auto s = std::make_unique<State>();
  s->install_folder = install_folder;
  while (s->install_folder.size() > 3 && s->install_folder.back() == u'\\') s->install_folder.pop_back();
  // Every level from the drive down, held as itself: none can be swapped for
  // a link while the run writes below it or takes itself back.
  for (std::size_t i = 3; i <= s->install_folder.size(); ++i) {
    if (i < s->install_folder.size() && s->install_folder[i] != u'\\') continue;
    Held level = hold_plain_folder(s->install_folder.substr(0, i));
    if (!level) return false;
    s->held.push_back(std::move(level));
  }
  s->root = make_root(text(s->install_folder));
  s->run_folder = s->install_folder + u"\\" + kRunFolderName;
  // A new folder: one that exists is an interrupted run's, put right first.
  if (!CreateDirectoryW(w(s->run_folder), nullptr)) return false;
  s->run = hold_plain_folder(s->run_folder);
  if (s->run)
    s->journal.reset(CreateFileW(w(s->run_folder + u"\\" + kJournalFileName), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                 CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!s->journal) {
    s->end(false);
    return false;
  }
  for (const std::u16string& made : made_folders) {
    rt::Text m = text(made);
    if (same_path(m, text(s->install_folder)) || path_is_inside(m, text(s->install_folder)))
      s->write({JournalEntry::Kind::kFolder, made, {}}, false);
  }
  state_ = std::move(s);
  return true;
}

bool RunJournal::creating(const std::u16string& path, bool folder) {
  if (!covers(path)) return true;
  return state_->write({folder ? JournalEntry::Kind::kFolder : JournalEntry::Kind::kFile, path, {}}, false);
}

bool RunJournal::set_aside(const std::u16string& path) {
  if (!covers(path)) return false;
  std::u16string backup = state_->run_folder + u"\\" + number(state_->next_backup++);
  if (!state_->write({JournalEntry::Kind::kSetAside, path, backup}, true)) return false;
  return move_inside(text(path), text(backup), state_->root) == Removal::kGone;
}

bool RunJournal::commit() {
  if (!active()) return false;
  if (!state_->write({JournalEntry::Kind::kCommit, {}, {}}, true)) return false;
  Replay replay{state_->install_folder, state_->run_folder, state_->root};
  bool ok = replay.apply(recovery_actions(state_->entries));
  state_->end(false);
  state_.reset();
  return ok;
}

Recovery RunJournal::roll_back() {
  if (!active()) return Recovery::kNone;
  Replay replay{state_->install_folder, state_->run_folder, state_->root};
  bool ok = replay.apply(recovery_actions(state_->entries));
  // A journal whose replay failed stays for the next run to try again.
  if (ok) state_->end(replay.remove_install_folder);
  state_.reset();
  return ok ? Recovery::kTakenBack : Recovery::kFailed;
}

void RunJournal::abandon() { state_.reset(); }

Recovery recover_interrupted_run(const rt::Text& install_folder, std::vector<rt::Text>* displaced) {
  std::u16string folder = rt::wide_from_cp936(install_folder.view());
  while (folder.size() > 3 && folder.back() == u'\\') folder.pop_back();
  const std::u16string run_folder = folder + u"\\" + kRunFolderName;
  if (folder.empty() || !exists(run_folder)) return Recovery::kNone;
  Held held = hold_plain_folder(folder);
  Held run = hold_plain_folder(run_folder);
  if (!held || !run) return Recovery::kFailed;  // a link in its place is never followed

  std::string bytes;
  {
    rt::win::File journal(CreateFileW(w(run_folder + u"\\" + kJournalFileName), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    LARGE_INTEGER size{};
    if (journal) {
      BY_HANDLE_FILE_INFORMATION info;
      if (!GetFileInformationByHandle(journal.get(), &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
          !GetFileSizeEx(journal.get(), &size) || size.QuadPart > kMaxJournal)
        return Recovery::kFailed;
      bytes.resize(std::size_t(size.QuadPart));
      DWORD got = 0;
      if (!bytes.empty() && (!ReadFile(journal.get(), bytes.data(), DWORD(bytes.size()), &got, nullptr) ||
                             got != bytes.size()))
        return Recovery::kFailed;
    }
    // No journal: the run ended before writing one; its folder is all there is.
  }
  std::vector<JournalEntry> entries = read_journal(bytes);
  bool committed = false;
  for (const JournalEntry& e : entries) committed = committed || e.kind == JournalEntry::Kind::kCommit;

  Replay replay{folder, run_folder, make_root(text(folder)), displaced};
  if (!replay.apply(recovery_actions(entries))) return Recovery::kFailed;
  remove_inside(text(run_folder + u"\\" + kJournalFileName), replay.root);
  run.reset();
  RemoveDirectoryW(w(run_folder));
  held.reset();
  if (replay.remove_install_folder) RemoveDirectoryW(w(folder));
  return committed ? Recovery::kCompleted : Recovery::kTakenBack;
}

}  // namespace installer
