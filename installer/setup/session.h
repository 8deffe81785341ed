// One run of setup.exe, with its window or without one: the record opened
// and checked, the one-run lock, the folder proposed, the plan of each
// installation and the exit code. The installer window and the unattended
// run (/S) are two faces over it; neither keeps state of its own about what
// is installed.
#pragma once

#include <optional>

#include "installer/format/record.h"
#include "installer/platform/single_run.h"
#include "installer/setup/command_line.h"
#include "installer/steps/sequence.h"
#include "runtime/value/value.h"

namespace installer {

// The folder proposed for a record before anyone chooses: one person's
// programs live in their local (never roaming) data; every user's in Program
// Files (the 32-bit one on 64-bit Windows); the unscoped layout in the
// roaming data from Windows 8 on, Program Files before. The software's name
// is the last level.
rt::Text default_install_folder(const format::Record& record);

// The exit code after a run ended so.
int exit_code_of(SequenceEnd end);

class SetupSession {
 public:
  enum class Opened { kReady, kDamaged, kBusy };

  // This program's record: read, checked and locked (open_record, then the lock).
  Opened open();
  // A record read elsewhere (none: it could not be read): checked, and the
  // folder proposed; no lock is taken.
  Opened open_record(std::optional<format::Record> record);
  // One installation or uninstallation of the software at a time: false
  // when another holds it (or, for every user's, without administrator rights).
  bool lock_software();

  const format::Record& record() const { return record_; }
  bool damaged() const { return opened_ == Opened::kDamaged; }
  bool refused() const { return opened_ == Opened::kBusy; }
  const rt::Text& default_folder() const { return default_folder_; }
  // The version of the same software installed in this scope now (empty:
  // none), and whether this installer's is older.
  const rt::Text& installed_version() const { return installed_version_; }
  bool downgrade() const;
  // The question the window asks before a downgrade.
  rt::Text downgrade_question() const;

  // The plan of one installation into `folder`.
  InstallPlan plan(const rt::Text& folder, bool desktop_shortcut) const;
  // A run ended: its end decides the exit code from now on.
  void run_ended(SequenceEnd end);
  bool completed() const { return exit_code_ == kSetupInstalled || exit_code_ == kSetupRestartNeeded; }
  int exit_code() const { return exit_code_; }
  void set_exit_code(int code) { exit_code_ = code; }

 private:
  format::Record record_;
  Opened opened_ = Opened::kDamaged;
  rt::Text default_folder_;
  rt::Text installed_version_;
  SoftwareRunLock lock_;
  // Nothing ran yet: a window closed now was cancelled.
  int exit_code_ = kSetupCancelled;
};

// The unattended run (setup.exe /S): no window and no message box; every
// step and failure goes to the log when one is open. Returns the exit code.
int run_unattended(SetupSession& session, const SetupArguments& arguments);

}  // namespace installer
