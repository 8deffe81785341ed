// The journal of an install run: what the run is about to create and which
// earlier files it moved aside, written before each change into the run's
// folder inside the installation folder. A run that ends takes itself back or
// commits; a run that was killed leaves its journal, and the next run (or the
// uninstaller) puts it right before anything else: the earlier installation
// whole, or, once the run had committed, the new one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/value/value.h"

namespace installer {

// The run's folder in the installation folder: the journal and the backups.
inline constexpr char16_t kRunFolderName[] = u"~setup-run";
inline constexpr char16_t kJournalFileName[] = u"journal";

struct JournalEntry {
  enum class Kind : char {
    kFolder = 'F',    // a folder the run is about to make
    kFile = 'N',      // a file the run is about to make (a temporary one too)
    kSetAside = 'B',  // an earlier file about to be moved to `backup`
    kCommit = 'C',    // the new installation is whole: nothing is taken back any more
  };
  Kind kind = Kind::kFile;
  std::u16string path;
  std::u16string backup;
};

// One line of the journal: the kind, the paths in UTF-8 after a tab each, a
// line feed (no file name holds a tab or a line feed).
std::string journal_line(const JournalEntry& entry);
// The entries of a journal's bytes in order; a line that is torn (the run was
// killed while writing it) or malformed ends the reading.
std::vector<JournalEntry> read_journal(std::string_view bytes);

// What putting a journal right does, in order.
struct RecoveryAction {
  enum class Op {
    kRemoveFile,     // a file the run made
    kRemoveFolder,   // a folder the run made, when empty
    kRestore,        // the earlier file from `backup` back to `path`
    kDiscardBackup,  // a committed run's backup
  };
  Op op = Op::kRemoveFile;
  std::u16string path;
  std::u16string backup;
};
// A committed journal discards its backups; any other is taken back newest
// first, so that a file made and then replaced by the same run ends removed.
std::vector<RecoveryAction> recovery_actions(const std::vector<JournalEntry>& journal);

// ---- Windows ----------------------------------------------------------------

// How an interrupted run was put right.
enum class Recovery {
  kNone,       // no journal in that folder
  kTakenBack,  // the earlier installation is whole again
  kCompleted,  // the run had committed: its backups went
  kFailed,     // something could not be put back (the journal stays)
};

// The journal of the running run. The installation folder is held open from
// begin() to the end, so that it cannot be replaced by a link meanwhile, and
// every path it acts on must lie inside it, reached through no link.
class RunJournal {
 public:
  RunJournal();
  ~RunJournal();
  RunJournal(const RunJournal&) = delete;
  RunJournal& operator=(const RunJournal&) = delete;

  // Starts the journal of a run into `install_folder` (an existing plain
  // folder) in a new run folder; `made_folders` are the levels of it the run
  // has just made. False when it cannot (then nothing of it is left).
  bool begin(const std::u16string& install_folder, const std::vector<std::u16string>& made_folders);
  bool active() const;
  // Whether `path` lies inside the installation folder (and so is journaled).
  bool covers(const std::u16string& path) const;
  // Notes a folder or file before the run makes it.
  bool creating(const std::u16string& path, bool folder);
  // Moves the earlier file at `path` into the backups, noted (and made
  // durable) first. False: nothing changed.
  bool set_aside(const std::u16string& path);
  // The new installation is whole: noted, then the backups, the journal and
  // the run folder go.
  bool commit();
  // Takes the run back, newest first, then the journal and the run folder go.
  // The run's own process may hold a file it restores over (a running
  // uninstaller): that file is moved into `displaced` instead of deleted.
  Recovery roll_back();
  // Lets go of the folder without taking anything back (tests of a kill).
  void abandon();

  struct State;

 private:
  std::unique_ptr<State> state_;
};

// Puts right an interrupted run left in `install_folder`, if any. Files that
// could not be deleted because they are running (the uninstaller itself) are
// moved aside and named in `displaced`.
Recovery recover_interrupted_run(const rt::Text& install_folder, std::vector<rt::Text>* displaced = nullptr);
// The same through a hold the caller keeps on the installation folder (a
// Root of removal.h, Windows). The folders a run taken back had made (the
// installation folder, and those above it on its way) are left to the
// caller, deepest first in `made`, to remove when empty once its holds end.
class Root;
Recovery recover_interrupted_run(Root& install_root, const rt::Text& install_folder, std::vector<rt::Text>* displaced,
                                 std::vector<std::u16string>* made);

}  // namespace installer
