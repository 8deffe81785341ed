#include "installer/platform/resources.h"
#include "installer/setup/controller.h"

#include <windows.h>

#include <mutex>
#include <string>
#include <utility>

#include "installer/format/cipher.h"
#include "installer/steps/download.h"
#include "installer/steps/extract.h"
#include "installer/steps/install_folder.h"
#include "installer/steps/run_file.h"
#include "installer/platform/launch.h"
#include "installer/steps/progress.h"
#include "installer/format/format.h"
#include "installer/format/sha256.h"
#include "installer/steps/shortcuts.h"
#include "installer/setup/state.h"
#include "installer/steps/uninstall_entry.h"
#include "runtime/services/file_services.h"
#include "runtime/win/lock_win.h"
#include "runtime/services/system_services.h"

namespace installer {

namespace {

ControllerView* g_view = nullptr;
InstallSteps g_steps;
// Orders the storing of the worker's handle (start_install) before its
// closing (the worker's end), however fast the worker runs, and guards the
// window's wish to end once the worker has ended.
rt::Lock g_worker_lock;

// What the window does when the worker ends: nothing, close, or the finish
// button's start of the main file and close.
enum class PendingEnd { kNone, kClose, kFinish };
PendingEnd g_pending_end = PendingEnd::kNone;

// The digest of the package as the shipped download step wrote it into the
// run's file, which nobody else can write: checking it then needs no second
// pass over the file. Empty after any other download step. Worker only.
std::string g_downloaded_digest;

// The package step's view: the folder taken when the installation started,
// and its progress shown on the bar and in the status text.
class PackageHost final : public PackageStepHost {
 public:
  explicit PackageHost(ControllerView& view) : view_(view) {}
  rt::Text install_directory() override { return installer_state().install_directory; }
  void set_progress(int percent) override {
    view_.set_progress_bar(percent);
    view_.set_status(progress_status_text(percent));
  }
  void package_step_ended(const PackageOutcome& outcome) override { view_.package_step_ended(outcome); }

 private:
  ControllerView& view_;
};

InstallSteps& steps() {
  if (!g_steps.unpack_package) g_steps = default_install_steps();
  return g_steps;
}

// A failure: its message, what the run made taken back, the failure page
// (whose "重新安装" tries again). An empty text is the network message.
void fail_with(ControllerView& view, const rt::Text& message) {
  if (message.empty()) view.show_network_message();
  else view.show_failure_message(message);
  undo_this_run();
  view.show_page(kFailurePage);
}

// The worker closes its own handle however the sequence ends; nothing waits
// on it. A window that was asked to end while it ran is told to close now.
void close_worker_handle() {
  bool close_window = false;
  {
    std::lock_guard<rt::Lock> lock(g_worker_lock);
    InstallerState& st = installer_state();
    if (st.worker_thread) {
      rt::close_thread_handle(st.worker_thread);
      st.worker_thread = nullptr;
    }
    close_window = g_pending_end != PendingEnd::kNone;
  }
  if (close_window && g_view) g_view->post_close();
}

bool worker_running() {
  std::lock_guard<rt::Lock> lock(g_worker_lock);
  return installer_state().worker_thread != nullptr;
}

// Starts the main file and ends the installer.
void finish_now(ControllerView& view) {
  InstallerState& st = installer_state();
  rt::Text target = rt::text_concat({st.install_directory.view(), "\\", st.main_file.view()});
  steps().launch_file(target, "", 0);  // its result does not keep the window open
  view.destroy_window();
}

// Runs the sequence; returns when it ends, on any path. A cancelled run
// takes back what it made and ends quietly: the window is closing.
void run_sequence(ControllerView& view) {
  InstallerState& st = installer_state();
  // Taken once when the installation started: the window may be gone later.
  rt::Text directory = st.install_directory;
  auto cancelled = [] {
    if (!install_cancel_requested()) return false;
    undo_this_run();
    return true;
  };

  // A configuration that could not be read installs nothing at all.
  if (st.install_type != "net" && st.install_type != "disk") {
    view.show_failure_message(kDamagedInstallerMessage);
    view.show_page(kFailurePage);
    return;
  }

  // 1. The .NET Framework prerequisite.
  PrerequisiteOutcome prerequisite = steps().ensure_dotnet(st.required_framework, view);
  if (prerequisite != PrerequisiteOutcome::kContinue && prerequisite != PrerequisiteOutcome::kContinueRestartNeeded) {
    undo_this_run();
    return;
  }
  if (cancelled()) return;

  // 2. The installation folder, each level made noted; never one reached
  //    through a link.
  if (prepare_install_folder(directory) != FolderCheck::kReady) return fail_with(view, folder_message(directory));

  // 3. The package: downloaded into a file of this run that nobody else can
  //    write, or read where it lies in the installer's own file.
  RunFile download;
  std::unique_ptr<rt::ZipInput> package;
  if (st.install_type == "net") {
    view.set_progress_timer(1000);
    reset_download_progress();
    g_downloaded_digest.clear();
    if (!download.create("app.zip")) return fail_with(view, folder_message(rt::Text(temp_directory())));
    std::uint64_t received = 0;
    std::int32_t result = steps().download_package(st.package_url, download.handle(), &received);
    if (result == kDownloadCancelled || cancelled()) {
      download.remove();
      undo_this_run();
      return;
    }
    // The timer keeps running with its last figures behind the failure page.
    if (result != kDownloadOk || received < std::uint64_t(kMinimumDownload)) return fail_with(view, rt::Text());
    view.set_progress_timer(0);
    package = download.reader();
  } else {
    package = steps().package_resource();
  }
  if (!package) return fail_with(view, kDamagedPackageMessage);

  // The publisher's digest, when the record has one, of the very bytes that
  // are unpacked next (taken as they were written into the run's file, or
  // read through the input): a package that is not the one published is
  // never unpacked.
  if (!st.package_sha256.empty()) {
    bool fold = st.install_type == "net" && !g_downloaded_digest.empty();
    std::string digest = fold ? g_downloaded_digest : sha256_hex_of(*package);
    g_downloaded_digest.clear();
    if (!sha256_matches(st.package_sha256.view(), digest)) return fail_with(view, kDamagedPackageMessage);
  }

  // 4. Where the uninstaller lands, and the package step.
  st.uninstaller_path = rt::text_concat({directory.view(), "\\uninst.exe"});
  PackageHost package_host(view);
  PackageOutcome unpacked = steps().unpack_package(std::move(package), directory, package_host);
  download.remove();
  if (unpacked.cancelled || cancelled()) {
    undo_this_run();
    return;
  }
  if (!unpacked.succeeded()) {
    if (!unpacked.opened || unpacked.damaged) return fail_with(view, kDamagedPackageMessage);
    if (!unpacked.unwritable_file.empty()) return fail_with(view, file_message(unpacked.unwritable_file));
    return fail_with(view, folder_message(directory));
  }
  this_run().clear();  // installed: nothing of it is taken back any more
  view.show_page(kFinishPage);
  // The framework installed by this run loads only after Windows restarts.
  if (prerequisite == PrerequisiteOutcome::kContinueRestartNeeded)
    view.show_finish_note(dotnet_restart_note(st.software_name));

  // 5. Shortcuts and 6. the uninstall entry: best effort, a missing shortcut
  //    or entry does not undo an installation that is on disk.
  steps().make_shortcuts(st.desktop_shortcut);
  steps().register_uninstall();
  st.completed = true;
}

}  // namespace

void set_controller_view(ControllerView* view) {
  g_view = view;
  std::lock_guard<rt::Lock> lock(g_worker_lock);
  g_pending_end = PendingEnd::kNone;  // a new window has not asked to end
}
void set_install_steps(InstallSteps s) { g_steps = std::move(s); }

rt::Text progress_status_text(int percent) {
  return rt::text_concat({"正在安装中 ", std::to_string(percent), "%，请稍侯..."});
}

void on_install_now() {
  if (!g_view) return;
  if (g_view->agreement_ticked()) {
    start_install();
    return;
  }
  g_view->ask_user("请阅读并选中用户使用协议！", "0");
  g_view->show_header(true);
  g_view->show_page(kHomePage);
}

void start_install() {
  if (!g_view) return;
  // One installation at a time (a reinstall pressed while a clean-up runs).
  if (worker_running()) return;
  InstallerState& st = installer_state();
  rt::Text directory = g_view->install_directory();
  st.install_directory = directory;
  st.desktop_shortcut = g_view->desktop_shortcut_ticked();
  st.earlier_files = installed_list_of(rt::text_concat({directory.view(), "\\uninst.exe"}));
  st.completed = false;
  // The flag down and an empty record of what the run made: the worker makes
  // the installation folder itself and notes each level it made, so that a
  // cancelled or failed run can take them back.
  begin_install_run();
  g_view->show_header(true);
  g_view->show_page(kInstallingPage);
  std::lock_guard<rt::Lock> lock(g_worker_lock);
  void* handle = nullptr;
  if (rt::start_thread(install_sequence, 0, &handle)) st.worker_thread = handle;
}

unsigned long __stdcall install_sequence(void*) {
  if (g_view) run_sequence(*g_view);
  close_worker_handle();
  return 0;
}

void on_progress_tick() {
  if (!g_view) return;
  int percent = download_progress().percent.load();
  g_view->set_progress_bar(percent);
  g_view->set_status(progress_status_text(percent));
}

void on_finish() {
  if (!g_view) return;
  {
    // The finish page shows while the worker still makes the shortcuts and
    // the entry: the main file starts once it has ended.
    std::lock_guard<rt::Lock> lock(g_worker_lock);
    if (installer_state().worker_thread) {
      g_pending_end = PendingEnd::kFinish;
      return;
    }
  }
  finish_now(*g_view);
}

rt::Text close_question(int page, bool running) {
  if (page == kFinishPage) return "安装已完成，点击确定后退出安装程序，点击取消后返回。";
  if (running) return "正在安装中，点击确定后将取消安装，点击取消后继续安装。";
  if (page == kHomePage || page == kCustomPage) return "安装尚未开始，点击确定后取消安装，点击取消后继续安装。";
  return "安装未完成，点击确定后退出安装程序，点击取消后返回。";
}

bool on_close_requested() {
  ControllerView* view = g_view;
  if (!view) return true;
  PendingEnd pending;
  {
    std::lock_guard<rt::Lock> lock(g_worker_lock);
    pending = g_pending_end;
    // Already answered: the worker's end closes the window; until then
    // nothing more is asked.
    if (pending != PendingEnd::kNone && installer_state().worker_thread) return false;
  }
  if (pending == PendingEnd::kFinish) {
    finish_now(*view);
    return false;  // finish_now destroyed the window
  }
  if (pending == PendingEnd::kClose) return true;

  if (view->ask_user(close_question(view->current_page(), worker_running()), "0") != "ok") return false;
  // The page may have moved on while the question was open.
  const int page = view->current_page();
  {
    std::lock_guard<rt::Lock> lock(g_worker_lock);
    if (!installer_state().worker_thread) return true;
    g_pending_end = PendingEnd::kClose;
    // On the finish page the files are in place: the shortcuts and the entry
    // are made, not undone.
    if (page != kFinishPage) cancel_requested() = true;
  }
  if (page == kInstallingPage) view->set_status("正在取消安装，请稍侯...");
  return false;
}

int setup_exit_code() { return installer_state().completed ? 0 : 1; }

InstallSteps default_install_steps() {
  InstallSteps s;
  s.ensure_dotnet = [](const rt::Text& framework, InstallView& view) { return ensure_dotnet(framework, view); };
  s.download_package = [](const rt::Text& url, void* file, std::uint64_t* received) {
    Sha256 digest;
    std::int32_t result = download_to(url, file, on_download_progress, received, &digest);
    if (result == kDownloadOk) g_downloaded_digest = digest.hex_digest();
    return result;
  };
  s.package_resource = [] { return package_resource_input(!installer_state().package_sha256.empty()); };
  s.unpack_package = [](std::unique_ptr<rt::ZipInput> package, const rt::Text& directory, PackageStepHost& host) {
    InstallerState& st = installer_state();
    return unpack_package(std::move(package), directory, st.uninstaller_path, st.installed_files, host);
  };
  s.make_shortcuts = [](bool desktop) {
    InstallerState& st = installer_state();
    ShortcutRequest request;
    request.software_name = st.software_name;
    request.main_file = st.main_file;
    request.desktop = desktop;
    request.install_directory = st.install_directory;
    make_shortcuts(request);
  };
  s.register_uninstall = [] {
    InstallerState& st = installer_state();
    // An earlier installation's files stay in the list: uninstalling removes
    // both versions.
    if (!st.earlier_files.empty()) {
      st.installed_files = merge_installed_lists(st.installed_files, st.earlier_files);
      write_resource(st.uninstaller_path, format::kListResourceType, format::kListResourceName, 0,
                     encrypt_text(st.installed_files, format::kRecordPassPhrase, true));
    }
    UninstallInfo info;
    info.software_name = st.software_name;
    info.software_version = st.software_version;
    info.install_directory = st.install_directory;
    info.company_name = st.company_name;
    info.company_url = st.company_url;
    info.main_file = st.main_file;
    info.estimated_size_kib = installed_size_kib(st.installed_files);
    info.install_date = today_yyyymmdd();
    register_uninstall(info);  // its result is not looked at: the files are in place
  };
  s.launch_file = [](const rt::Text& path, const rt::Text& parameters, int show_mode) {
    return launch_file(path, parameters, show_mode);
  };
  return s;
}

}  // namespace installer
