// The run journal on disk and its replay. Every path is acted on through the
// confined file layer: below the held installation folder, level by level
// through held handles, never through a link; the backups only as plain
// names directly in the held run folder.
#include <windows.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "installer/platform/paths.h"
#include "installer/platform/removal.h"
#include "installer/platform/run_journal.h"
#include "runtime/value/codepage.h"
#include "runtime/win/confined.h"
#include "runtime/win/handles.h"

namespace installer {

namespace {

using rt::win::FileStatus;
using rt::win::Folder;

// A journal larger than this is no journal of ours.
constexpr DWORD kMaxJournal = 64u << 20;

rt::Text text(const std::u16string& s) { return rt::Text(rt::cp936_from_wide(s)); }
std::u16string number(unsigned n) { return rt::wide_from_cp936(std::to_string(n)); }

std::u16string trimmed(std::u16string folder) {
  while (folder.size() > 3 && (folder.back() == u'\\' || folder.back() == u'/')) folder.pop_back();
  return folder;
}

// The run folder's name for a backup path: it must be a plain name directly
// in the run folder (as the run writes it), else it is no backup of ours.
bool backup_name(const std::u16string& run_folder, const std::u16string& backup, std::u16string* name) {
  std::u16string folder;
  return rt::win::split_plain_parent(backup, &folder, name) && same_path(text(trimmed(folder)), text(run_folder));
}

// A folder the installation folder lies in (one a run made on its way there).
bool above_folder(const std::u16string& folder, const std::u16string& install_folder) {
  return rt::win::plain_path(folder) && path_is_inside(text(install_folder), text(trimmed(folder))) &&
         !same_path(text(trimmed(folder)), text(install_folder));
}

// Whether every line names only what a run of ours in this folder could
// have named: plain paths below the installation folder, reached through no
// link (or the folders it made on its way there), backups directly in the
// run folder. A journal that names anything
// else is forged (the folder may be one a person can write) and nothing of
// it is done.
bool journal_plausible(const std::vector<JournalEntry>& entries, Root& root, const std::u16string& install_folder,
                       const std::u16string& run_folder) {
  for (const JournalEntry& e : entries) {
    FileStatus status = FileStatus::kOk;
    if (e.kind != JournalEntry::Kind::kCommit && root.covers(e.path) && !root.place(e.path, &status) &&
        status != FileStatus::kMissing)
      return false;
    std::u16string name;
    switch (e.kind) {
      case JournalEntry::Kind::kCommit: break;
      case JournalEntry::Kind::kFolder:
        if (!root.covers(e.path) && !(rt::win::plain_path(e.path) && same_path(text(trimmed(e.path)), text(install_folder))) &&
            !above_folder(e.path, install_folder))
          return false;
        break;
      case JournalEntry::Kind::kFile:
        if (!root.covers(e.path)) return false;
        break;
      case JournalEntry::Kind::kSetAside:
        if (!root.covers(e.path) || !backup_name(run_folder, e.backup, &name)) return false;
        break;
    }
  }
  return true;
}

// Replays `actions` below the installation folder, in the held run folder.
struct Replay {
  std::u16string install_folder, run_folder;
  Root& root;
  const Folder& run;
  std::vector<rt::Text>* displaced = nullptr;
  unsigned next_displaced = 0;
  // The installation folder and those above it that the run made, deepest
  // first: they go once nothing holds them, and only when empty.
  std::vector<std::u16string> made;

  // A file that cannot go because a program runs from it (the uninstaller
  // restoring its own file) moves into the run folder instead.
  bool remove_or_displace(const std::u16string& path) {
    Removal r = remove_inside(path, root);
    if (r == Removal::kGone) return true;
    if (r != Removal::kInUse) return false;
    root.let_go(path);
    auto at = root.place(path);
    std::u16string name = u"displaced-" + number(next_displaced++);
    if (!at || at->folder.rename(at->name, run, name, false) != FileStatus::kOk) return false;
    if (displaced) displaced->push_back(text(run_folder + u"\\" + name));
    return true;
  }

  bool apply(const std::vector<RecoveryAction>& actions) {
    using Op = RecoveryAction::Op;
    bool ok = true;
    for (const RecoveryAction& a : actions) {
      std::u16string backup;
      switch (a.op) {
        case Op::kRemoveFile:
          if (!remove_or_displace(a.path)) ok = false;
          break;
        case Op::kRemoveFolder:
          // The installation folder itself and those above it go last, once
          // nothing holds them.
          if (!root.covers(a.path)) {
            made.push_back(trimmed(a.path));
          } else if (remove_inside(a.path, root) == Removal::kRefused) {
            ok = false;  // one that still holds something a person put there stays
          }
          break;
        case Op::kRestore:
          backup_name(run_folder, a.backup, &backup);
          // A backup that is not there was never moved: the earlier file is in place.
          if (run.look(backup, nullptr) == FileStatus::kMissing) break;
          if (!remove_or_displace(a.path)) {
            ok = false;
          } else if (auto at = root.place(a.path); !at || run.rename(backup, at->folder, at->name, false) != FileStatus::kOk) {
            ok = false;
          }
          break;
        case Op::kDiscardBackup:
          backup_name(run_folder, a.backup, &backup);
          if (removal_of(run.remove(backup)) != Removal::kGone) ok = false;
          break;
      }
    }
    return ok;
  }
};

// The journal, then the run folder, go through their own handles; the
// folders the run made (the installation folder, those above it) once every
// hold has ended, each through a hold on its parent, and only when empty.
void remove_run_folder(rt::win::File& journal, Folder& run) {
  if (journal) rt::win::delete_through(journal.get());
  journal.reset();
  run.remove_self();
  run = Folder();
}

void remove_empty_folders(const std::vector<std::u16string>& folders) {
  for (const std::u16string& path : folders) {
    std::u16string parent, name;
    if (!rt::win::split_plain_parent(path, &parent, &name)) return;
    Folder above = Folder::open(parent);
    Folder emptied = above ? above.open_folder(name, nullptr, true) : Folder();
    if (!emptied || emptied.remove_self() != FileStatus::kOk) return;  // what holds something stays, and so do those above
  }
}

}  // namespace

struct RunJournal::State {
  std::u16string install_folder;  // as the run names it, no trailing separator
  std::u16string run_folder;
  Root root;  // the installation folder and every folder on its way
  Folder run;
  rt::win::File journal;
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

  void end(const std::vector<std::u16string>& made) {
    remove_run_folder(journal, run);
    root = Root();
    remove_empty_folders(made);
  }
};

RunJournal::RunJournal() = default;
RunJournal::~RunJournal() = default;

bool RunJournal::active() const { return state_ && state_->journal; }

bool RunJournal::covers(const std::u16string& path) const { return active() && state_->root.covers(path); }

bool RunJournal::begin(const std::u16string& install_folder, const std::vector<std::u16string>& made_folders) {
  state_.reset();
  auto s = std::make_unique<State>();
  s->install_folder = trimmed(install_folder);
  // Every level from the drive down, held as itself: none can be swapped for
  // a link while the run writes below it or takes itself back.
  s->root = Root::hold(s->install_folder);
  if (!s->root.held()) return false;
  s->run_folder = s->install_folder + u"\\" + kRunFolderName;
  // A new folder: one that exists is an interrupted run's, put right first.
  s->run = s->root.folder().make_folder(kRunFolderName, nullptr, nullptr, true);
  if (!s->run) return false;
  s->journal = s->run.create_file(kJournalFileName, GENERIC_WRITE | DELETE, FILE_SHARE_READ);
  if (!s->journal) {
    s->end({});
    return false;
  }
  for (const std::u16string& made : made_folders) {
    if (same_path(text(trimmed(made)), text(s->install_folder)) || s->root.covers(made) ||
        above_folder(made, s->install_folder))
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
  std::u16string name = number(state_->next_backup++);
  if (!state_->write({JournalEntry::Kind::kSetAside, path, state_->run_folder + u"\\" + name}, true)) return false;
  state_->root.let_go(path);
  auto at = state_->root.place(path);
  return at && at->folder.rename(at->name, state_->run, name, false) == FileStatus::kOk;
}

bool RunJournal::commit() {
  if (!active()) return false;
  if (!state_->write({JournalEntry::Kind::kCommit, {}, {}}, true)) return false;
  Replay replay{state_->install_folder, state_->run_folder, state_->root, state_->run};
  bool ok = replay.apply(recovery_actions(state_->entries));
  state_->end({});
  state_.reset();
  return ok;
}

Recovery RunJournal::roll_back() {
  if (!active()) return Recovery::kNone;
  Replay replay{state_->install_folder, state_->run_folder, state_->root, state_->run};
  bool ok = replay.apply(recovery_actions(state_->entries));
  // A journal whose replay failed stays for the next run to try again.
  if (ok) state_->end(replay.made);
  state_.reset();
  return ok ? Recovery::kTakenBack : Recovery::kFailed;
}

void RunJournal::abandon() { state_.reset(); }

Recovery recover_interrupted_run(const rt::Text& install_folder, std::vector<rt::Text>* displaced) {
  const std::u16string folder = trimmed(rt::wide_from_cp936(install_folder.view()));
  if (!rt::win::plain_path(folder)) return folder.empty() ? Recovery::kNone : Recovery::kFailed;
  Root root = Root::hold(folder);
  if (!root.held()) return path_exists(install_folder) ? Recovery::kFailed : Recovery::kNone;
  std::vector<std::u16string> made;
  Recovery recovery = recover_interrupted_run(root, install_folder, displaced, &made);
  // The folders the interrupted run made go once nothing holds them.
  root = Root();
  remove_empty_folders(made);
  return recovery;
}

Recovery recover_interrupted_run(Root& root, const rt::Text& install_folder, std::vector<rt::Text>* displaced,
                                 std::vector<std::u16string>* made) {
  const std::u16string folder = trimmed(rt::wide_from_cp936(install_folder.view()));
  const std::u16string run_folder = folder + u"\\" + kRunFolderName;
  if (!root.held()) return Recovery::kFailed;
  FileStatus status = FileStatus::kOk;
  Folder run = root.folder().open_folder(kRunFolderName, &status, true);
  if (status == FileStatus::kMissing) return Recovery::kNone;
  if (!run) return Recovery::kFailed;  // a link in its place is never followed

  std::string bytes;
  rt::win::File journal = run.open_file(kJournalFileName, GENERIC_READ | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                        &status);
  if (journal) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(journal.get(), &size) || size.QuadPart > kMaxJournal) return Recovery::kFailed;
    bytes.resize(std::size_t(size.QuadPart));
    DWORD got = 0;
    if (!bytes.empty() &&
        (!ReadFile(journal.get(), bytes.data(), DWORD(bytes.size()), &got, nullptr) || got != bytes.size()))
      return Recovery::kFailed;
  } else if (status != FileStatus::kMissing) {
    return Recovery::kFailed;
  }
  // No journal: the run ended before writing one; its folder is all there is.
  std::vector<JournalEntry> entries = read_journal(bytes);
  if (!journal_plausible(entries, root, folder, run_folder)) return Recovery::kFailed;
  bool committed = false;
  for (const JournalEntry& e : entries) committed = committed || e.kind == JournalEntry::Kind::kCommit;

  Replay replay{folder, run_folder, root, run, displaced};
  if (!replay.apply(recovery_actions(entries))) return Recovery::kFailed;
  // A run folder that still holds this program's own moved-aside file goes
  // with it, after its end.
  remove_run_folder(journal, run);
  if (made) *made = std::move(replay.made);
  return committed ? Recovery::kCompleted : Recovery::kTakenBack;
}

}  // namespace installer
