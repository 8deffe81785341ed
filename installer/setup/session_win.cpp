#include "installer/setup/session.h"

#include <windows.h>

#include <utility>

#include "installer/format/format.h"
#include "installer/platform/launch.h"
#include "installer/platform/protected_folder.h"
#include "installer/platform/resources.h"
#include "installer/platform/run_log.h"
#include "installer/platform/windows_version.h"
#include "installer/steps/path_macros.h"
#include "installer/steps/uninstall_entry.h"
#include "runtime/value/codepage.h"

namespace installer {

rt::Text default_install_folder(const format::Record& record) {
  rt::Text folder;
  if (record.scope == format::Scope::kUser) {
    folder = rt::text_concat({special_folder(0, kCsidlLocalAppData, true).view(), "Programs"});
  } else if (record.scope == format::Scope::kMachine || windows_version_code() <= 9) {
    folder = named_folder(kNamedFolderProgramFiles);
  } else {
    folder = named_folder(kNamedFolderAppData);
  }
  return rt::text_concat({folder.view(), "\\", record.software_name.view()});
}

int exit_code_of(SequenceEnd end) {
  switch (end) {
    case SequenceEnd::kCompleted: return kSetupInstalled;
    case SequenceEnd::kCompletedRestartNeeded: return kSetupRestartNeeded;
    case SequenceEnd::kFolderFailed: return kSetupFolderUnusable;
    case SequenceEnd::kFileInUse: return kSetupFileInUse;
    case SequenceEnd::kNeedsAdministrator: return kSetupNeedsAdministrator;
    case SequenceEnd::kDamaged: return kSetupDamaged;
    case SequenceEnd::kCancelled: return kSetupCancelled;
    case SequenceEnd::kFailed: break;
  }
  return kSetupFailed;
}

SetupSession::Opened SetupSession::open() {
  return open_record(format::open_record(load_resource_bytes(format::kResourceType, format::kRecordResource)));
}

SetupSession::Opened SetupSession::open_record(std::optional<format::Record> record) {
  // One that cannot be read, names no known install type or scope, or would
  // download a package without its digest, is a damaged installer.
  if (!record || !record_installable(*record)) {
    record_ = format::Record();
    opened_ = Opened::kDamaged;
    exit_code_ = kSetupDamaged;
    log_failure(kDamagedInstallerMessage, 0);
    return opened_;
  }
  record_ = std::move(*record);
  opened_ = Opened::kReady;
  default_folder_ = default_install_folder(record_);
  installed_version_ = installer::installed_version(record_.software_name, record_.scope == format::Scope::kUser);
  log_line({"installer of ", record_.software_name.view(), " ", record_.software_version.view(), ": install type ",
            format::install_type_text(record_.install_type), ", scope ",
            record_.scope == format::Scope::kDefault ? "unscoped" : format::scope_text(record_.scope)});
  return opened_;
}

bool SetupSession::lock_software() {
  const LockScope scope = record_.scope == format::Scope::kUser ? LockScope::kUser : LockScope::kMachine;
  if (lock_.acquire(record_.software_name, scope)) return true;
  opened_ = Opened::kBusy;
  exit_code_ = kSetupBusy;
  log_failure(another_run_message(record_.software_name).view(), 0);
  return false;
}

bool SetupSession::downgrade() const {
  return !installed_version_.empty() && !record_.software_version.empty() &&
         compare_versions(record_.software_version.view(), installed_version_.view()) < 0;
}

rt::Text SetupSession::downgrade_question() const {
  return rt::text_concat({"已安装“", record_.software_name.view(), "”的较新版本 ", installed_version_.view(),
                          "，确定要换成较旧的版本 ", record_.software_version.view(), " 吗？"});
}

InstallPlan SetupSession::plan(const rt::Text& folder, bool desktop_shortcut) const {
  return make_install_plan(record_, folder, desktop_shortcut);
}

void SetupSession::run_ended(SequenceEnd end) {
  exit_code_ = exit_code_of(end);
}

namespace {

// Nobody to show anything to: every step and failure is in the log already.
class UnattendedView final : public InstallView {
 public:
  void set_progress_timer(int) override {}
  void set_progress_bar(int) override {}
  void set_status(const rt::Text&) override {}
  void show_network_message() override {}
  void show_failure_message(const rt::Text&) override {}
  void show_page(int) override {}
  void show_finish_note(const rt::Text& text) override { log_line({text.view()}); }
};

}  // namespace

int run_unattended(SetupSession& session, const SetupArguments& arguments) {
  log_line({"unattended installation (/S)"});
  if (session.open() == SetupSession::Opened::kDamaged) return session.exit_code();
  const format::Record& record = session.record();
  // An installation for every user without the rights it needs would fail
  // half-way, or wait for a consent nobody gives.
  if (record.scope == format::Scope::kMachine && !running_elevated()) {
    log_failure("an installation for every user needs administrator rights", 740 /* ERROR_ELEVATION_REQUIRED */);
    session.set_exit_code(kSetupNeedsAdministrator);
    return session.exit_code();
  }
  if (!session.lock_software()) return session.exit_code();
  // Nobody is there to say a newer version should go.
  if (session.downgrade()) {
    log_line({"failed: version ", session.installed_version().view(), " is installed, newer than this installer's ",
              record.software_version.view()});
    session.set_exit_code(kSetupDowngrade);
    return session.exit_code();
  }

  // The folder asked for; else where the software is installed now (an
  // upgrade stays in place), read from its own scope's list; else the default.
  rt::Text folder;
  if (!arguments.folder.empty()) {
    if (!rt::cp936_can_hold(arguments.folder)) {
      log_failure("the folder's name holds characters this installer cannot write", 0);
      session.set_exit_code(kSetupFolderUnusable);
      return session.exit_code();
    }
    folder = rt::Text(rt::cp936_from_wide(arguments.folder));
  } else {
    folder = installed_location(record.software_name, record.scope == format::Scope::kUser);
    if (folder.empty()) folder = session.default_folder();
  }
  log_line({"folder chosen: ", folder.view()});

  begin_install_run();
  UnattendedView view;
  session.run_ended(run_install_sequence(session.plan(folder, true), default_install_steps(true), view));
  return session.exit_code();
}

}  // namespace installer
