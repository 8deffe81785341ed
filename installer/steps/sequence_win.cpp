// The install sequence on the worker thread: prerequisite, folder, package,
// digest, package step, shortcuts, uninstall entry.
#include "installer/steps/sequence.h"

#include <windows.h>

#include <optional>
#include <utility>

#include "installer/format/format.h"
#include "installer/format/installed_list.h"
#include "installer/format/sha256.h"
#include "installer/platform/launch.h"
#include "installer/platform/paths.h"
#include "installer/platform/protected_folder.h"
#include "installer/platform/resources.h"
#include "installer/platform/run_journal.h"
#include "installer/platform/run_log.h"
#include "installer/steps/download.h"
#include "installer/steps/extract.h"
#include "installer/steps/install_folder.h"
#include "installer/steps/progress.h"
#include "installer/steps/package_digest.h"
#include "installer/steps/run_file.h"
#include "installer/steps/shortcuts.h"
#include "installer/steps/uninstall_entry.h"

namespace installer {

namespace {

// The package step's progress on the bar and in the status text.
class PackageProgress final : public PackageStepHost {
 public:
  explicit PackageProgress(InstallView& view) : view_(view) {}
  void set_progress(int percent) override {
    view_.set_progress_bar(percent);
    view_.set_status(installing_status_text(percent));
  }

 private:
  InstallView& view_;
};

// A failure: its message (and the log's line, with the Windows error that
// went with it), what the run made taken back, the failure page (whose
// "重新安装" tries again). An empty text is the network message.
SequenceEnd fail_with(InstallView& view, const rt::Text& message, unsigned long windows_error = 0) {
  log_failure(message.empty() ? std::string_view(kNetworkMessage) : message.view(), windows_error);
  if (message.empty()) view.show_network_message();
  else view.show_failure_message(message);
  undo_this_run();
  view.show_page(kFailurePage);
  return SequenceEnd::kFailed;
}

SequenceEnd folder_failure(InstallView& view, const rt::Text& directory, unsigned long windows_error = 0) {
  fail_with(view, folder_message(directory), windows_error);
  return SequenceEnd::kFolderFailed;
}

// A run of this software that was killed (power cut, Task Manager) is put
// right before anything else: in the folder chosen now and in the one the
// installed software's entry names, read only from the list of this
// installation's scope (an elevated run never replays a folder named by the
// person's own list). Its leftovers among the working folders go.
bool recover_interrupted_runs(const InstallPlan& plan) {
  remove_stale_working_folders();
  bool ok = recover_interrupted_run(plan.install_directory) != Recovery::kFailed;
  rt::Text installed = installed_location(plan.record.software_name, plan.record.scope == format::Scope::kUser);
  if (!installed.empty() && !same_path(installed, plan.install_directory))
    ok = recover_interrupted_run(installed) != Recovery::kFailed && ok;
  return ok;
}

bool one_line(const rt::Text& text) {
  for (char c : text.view())
    if (static_cast<unsigned char>(c) < 0x20) return false;
  return true;
}

// What the installation stores with its list: the software's name (when a
// line of the list can hold it) and whom it was made for, which the
// uninstaller takes from there, never from whatever entry names it; and the
// outermost folder made above the installation folder, by this run or the
// installation's first.
rt::Text list_properties(const format::Record& record, const rt::Text& made_above) {
  std::string list = format::with_list_property("", format::kListScope, format::scope_text(record.scope));
  if (!record.software_name.empty() && one_line(record.software_name))
    list = format::with_list_property(list, format::kListName, record.software_name.view());
  if (!made_above.empty() && one_line(made_above))
    list = format::with_list_property(list, format::kListMadeAbove, made_above.view());
  return rt::Text(list);
}

SequenceEnd cancelled_run() {
  log_line({"cancelled: the run was taken back"});
  undo_this_run();
  return SequenceEnd::kCancelled;
}

// The package's file of a "net" run, kept after a network failure in its
// run's protected folder, held, for "重新安装" of this same process to
// continue, bound to the address and the validator its bytes came with.
// Any other end of a run removes it.
struct KeptDownload {
  RunFile file;
  PartialDownload partial;
};
KeptDownload& kept_download() {
  // Never destroyed: a folder left at exit goes with the next run's sweep.
  static KeptDownload& kept = *new KeptDownload;
  return kept;
}
// Gives up the kept file (any end but the network message).
[[gnu::noinline]] void forget_download() {
  kept_download().file.remove();
  kept_download().partial = PartialDownload();
}

}  // namespace

bool record_installable(const format::Record& record) {
  if (record.install_type == format::InstallType::kUnknown || record.scope == format::Scope::kUnknown) return false;
  return record.install_type != format::InstallType::kNet || !record.package_sha256.empty();
}

InstallPlan make_install_plan(const format::Record& record, const rt::Text& install_directory, bool desktop_shortcut) {
  InstallPlan plan;
  plan.record = record;
  // The folder Windows would use for the text typed: every path of the run
  // below it is then plain. A text that names none stays, and is refused
  // when the folder is prepared.
  std::optional<rt::Text> full = full_install_folder(install_directory);
  plan.install_directory = full ? *full : install_directory;
  plan.desktop_shortcut = desktop_shortcut;
  plan.uninstaller_path = rt::text_concat({plan.install_directory.view(), "\\", format::kUninstallerFile});
  return plan;
}

SequenceEnd run_install_sequence(const InstallPlan& plan, const InstallSteps& steps, InstallView& view) {
  const format::Record& record = plan.record;
  const rt::Text& directory = plan.install_directory;

  // A configuration that could not be read installs nothing at all; nor
  // does one that would download a package it cannot check.
  if (!record_installable(record)) {
    log_failure(kDamagedInstallerMessage, 0);
    view.show_failure_message(kDamagedInstallerMessage);
    view.show_page(kFailurePage);
    return SequenceEnd::kDamaged;
  }

  if (!recover_interrupted_runs(plan)) return folder_failure(view, directory, GetLastError());

  // 1. The .NET Framework prerequisite; it shows its own failures.
  PrerequisiteOutcome prerequisite = steps.ensure_dotnet(record.framework, view);
  if (prerequisite == PrerequisiteOutcome::kStopAfterMessage ||
      prerequisite == PrerequisiteOutcome::kStopNeedsAdministrator) {
    undo_this_run();
    return prerequisite == PrerequisiteOutcome::kStopAfterMessage ? SequenceEnd::kFailed
                                                                   : SequenceEnd::kNeedsAdministrator;
  }
  const bool restart_needed = prerequisite == PrerequisiteOutcome::kContinueRestartNeeded;
  if ((prerequisite != PrerequisiteOutcome::kContinue && !restart_needed) || install_cancel_requested())
    return cancelled_run();

  // 2. The installation folder, each level made noted; never one reached
  //    through a link.
  rt::Text made_above;
  if (prepare_install_folder(directory, record.scope == format::Scope::kMachine, &made_above) != FolderCheck::kReady)
    return folder_failure(view, directory, GetLastError());
  log_line({"folder ready: ", directory.view()});

  // 3. The package: downloaded into a file of this run that nobody else can
  //    write, or read where it lies in the installer's own file.
  RunFile& download = kept_download().file;
  PartialDownload& partial = kept_download().partial;
  std::unique_ptr<rt::ZipInput> package;
  std::string digest;  // of the downloaded bytes, taken as they were written
  const bool checked = !record.package_sha256.empty();
  if (record.install_type == format::InstallType::kNet) {
    view.set_progress_timer(1000);
    reset_download_progress();
    if (!download.handle() || partial.received == 0) {
      forget_download();
      if (!download.create("app.zip"))
        return fail_with(view, folder_message(rt::Text(temp_directory())), GetLastError());
    }
    DownloadOutcome fetched = steps.download_package(format::package_urls(record), download.handle(), partial);
    const unsigned long download_error = GetLastError();
    if (fetched.result == kDownloadCancelled || install_cancel_requested()) {
      forget_download();
      return cancelled_run();
    }
    log_line({"download ", record.package_url.view(), fetched.result == kDownloadOk ? ": complete" : ": failed", ", bytes ",
              log_number(fetched.received), ", SHA-256 ", fetched.sha256.empty() ? "none" : fetched.sha256});
    // The timer keeps running with its last figures behind the failure page;
    // what arrived stays for "重新安装" to continue.
    if (fetched.result != kDownloadOk || fetched.received < std::uint64_t(kMinimumDownload))
      return fail_with(view, rt::Text(), fetched.result == kDownloadOk ? 0 : download_error);
    view.set_progress_timer(0);
    digest = std::move(fetched.sha256);
    package = download.reader();
  } else {
    package = steps.package_resource(checked);
    if (package && checked) digest = sha256_hex_of(*package);
    log_line({"package carried in the installer, SHA-256 ", digest.empty() ? "not checked" : digest});
  }
  // The publisher's digest, when the record has one, of the very bytes that
  // are unpacked next (of the whole file, however many tries brought it): a
  // package that is not the one published is never unpacked.
  if (!package || (checked && !sha256_matches(record.package_sha256.view(), digest))) {
    forget_download();
    return fail_with(view, kDamagedPackageMessage);
  }

  // 4. The package step, merging the list the installation there recorded.
  PackageProgress progress(view);
  const rt::Text earlier_files = read_installed_list(plan.uninstaller_path);
  if (made_above.empty()) made_above = rt::Text(format::list_property(earlier_files.view(), format::kListMadeAbove));
  rt::Text installed_files = list_properties(record, made_above);
  PackageOutcome unpacked = steps.unpack_package(std::move(package), plan, earlier_files, progress, installed_files);
  const unsigned long package_error = unpacked.succeeded() ? 0 : GetLastError();
  forget_download();
  log_line({"package step: entries ", log_number(unsigned(unpacked.entries)), ", failed ",
            log_number(unsigned(unpacked.failed)), unpacked.list_recorded ? ", list recorded in " : ", no list recorded",
            unpacked.list_recorded ? plan.uninstaller_path.view() : ""});
  if (unpacked.cancelled || install_cancel_requested()) return cancelled_run();
  if (!unpacked.succeeded()) {
    if (!unpacked.opened || unpacked.damaged) return fail_with(view, kDamagedPackageMessage);
    if (!unpacked.held_by.empty()) {
      fail_with(view, unpacked.held_by);
      return SequenceEnd::kFileInUse;
    }
    if (!unpacked.unwritable_file.empty()) {
      fail_with(view, file_message(unpacked.unwritable_file), package_error);
      return SequenceEnd::kFileInUse;
    }
    return folder_failure(view, directory, package_error);
  }
  // The new installation is whole: its backups go, nothing of it is taken
  // back any more.
  this_run().journal().commit();
  this_run().clear();
  view.show_page(kFinishPage);
  // The framework installed but waits for a restart: the person is told
  // before starting the program.
  if (restart_needed) view.show_finish_note(dotnet_restart_note(record.software_name));

  // 5. Shortcuts and 6. the uninstall entry: best effort, a missing shortcut
  //    or entry does not undo an installation that is on disk.
  steps.make_shortcuts(plan);
  steps.register_uninstall(plan, earlier_files.empty() ? installed_files
                                                      : format::merge_installed_lists(installed_files, earlier_files));
  return restart_needed ? SequenceEnd::kCompletedRestartNeeded : SequenceEnd::kCompleted;
}

InstallSteps default_install_steps(bool unattended) {
  InstallSteps s;
  s.ensure_dotnet = [unattended](const rt::Text& framework, InstallView& view) {
    return ensure_dotnet(framework, view, built_in_dotnet_pins(), running_windows(), shipped_download_patience(),
                         unattended);
  };
  s.download_package = [](const std::vector<rt::Text>& urls, void* file, PartialDownload& partial) {
    DownloadOutcome outcome;
    outcome.result = download_resuming(urls, file, on_download_progress, partial);
    outcome.received = partial.received;
    if (outcome.result == kDownloadOk) outcome.sha256 = Sha256(partial.digest).hex_digest();
    return outcome;
  };
  s.package_resource = [](bool digest_checked) { return package_resource_input(digest_checked); };
  s.unpack_package = [](std::unique_ptr<rt::ZipInput> package, const InstallPlan& plan,
                        const rt::Text& earlier_files, PackageStepHost& host, rt::Text& installed_files) {
    return unpack_package(std::move(package), plan.install_directory, plan.uninstaller_path, earlier_files,
                          installed_files, host);
  };
  s.make_shortcuts = [](const InstallPlan& plan) {
    ShortcutRequest request;
    request.software_name = plan.record.software_name;
    request.main_file = plan.record.main_file;
    request.desktop = plan.desktop_shortcut;
    request.install_directory = plan.install_directory;
    request.all_users = plan.record.scope == format::Scope::kMachine;
    make_shortcuts(request);
    log_line({plan.desktop_shortcut ? "shortcuts: Start menu and desktop" : "shortcuts: Start menu"});
  };
  s.register_uninstall = [](const InstallPlan& plan, const rt::Text& installed_files) {
    UninstallInfo info;
    info.software_name = plan.record.software_name;
    info.software_version = plan.record.software_version;
    info.install_directory = plan.install_directory;
    info.company_name = plan.record.company_name;
    info.company_url = plan.record.company_url;
    info.main_file = plan.record.main_file;
    info.estimated_size_kib = installed_size_kib(installed_files);
    info.install_date = today_yyyymmdd();
    info.per_user = plan.record.scope == format::Scope::kUser;
    // Its result changes nothing: the files are in place.
    if (register_uninstall(info)) log_line({"uninstall entry: ", info.software_name.view()});
    else log_failure("the uninstall entry could not be written", GetLastError());
  };
  // The finish button's start: as the person at the desktop, never with the
  // installer's administrator rights.
  s.launch_file = [](const rt::Text& path, const rt::Text& parameters, int) {
    return start_as_person(path, parameters) != PersonStart::kFailed;
  };
  return s;
}

}  // namespace installer
