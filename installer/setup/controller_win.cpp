#include "installer/platform/resources.h"
#include "installer/setup/controller.h"

#include <windows.h>

#include <mutex>
#include <utility>

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
// closing (the worker's end), however fast the worker runs.
rt::Lock g_worker_lock;

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

// The worker closes its own handle however the sequence ends; nothing waits on it.
void close_worker_handle() {
  std::lock_guard<rt::Lock> lock(g_worker_lock);
  InstallerState& st = installer_state();
  if (st.worker_thread) {
    rt::close_thread_handle(st.worker_thread);
    st.worker_thread = nullptr;
  }
}

// Runs the sequence; returns when it ends, on any path. A cancelled run
// takes back what it made and ends quietly: the window is closing.
void run_sequence(ControllerView& view) {
  InstallerState& st = installer_state();
  // Read once, before anything is written: the window may be gone later.
  rt::Text directory = view.install_directory();
  bool desktop = view.desktop_shortcut_ticked();
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
  if (prerequisite != PrerequisiteOutcome::kContinue) {
    undo_this_run();
    return;
  }
  if (cancelled()) return;

  // 2. The installation folder, each level made noted; never one reached
  //    through a link.
  if (prepare_install_folder(directory) != FolderCheck::kReady) return fail_with(view, folder_message(directory));

  // 3. The package: downloaded into a file of this run that nobody else can
  //    write, or read where it lies in the loaded image.
  RunFile download;
  std::unique_ptr<rt::ZipInput> package;
  if (st.install_type == "net") {
    view.set_progress_timer(1000);
    reset_download_progress();
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

  // The publisher's digest, when the record has one, read through the very
  // input that is unpacked next: a package that is not the one published is
  // never unpacked.
  if (!st.package_sha256.empty() && !sha256_matches(st.package_sha256.view(), sha256_hex_of(*package)))
    return fail_with(view, kDamagedPackageMessage);

  // 4. Where the uninstaller lands, and the package step.
  st.uninstaller_path = rt::text_concat({directory.view(), "\\uninst.exe"});
  PackageOutcome unpacked = steps().unpack_package(std::move(package), directory, view);
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

  // 5. Shortcuts and 6. the uninstall entry: best effort, a missing shortcut
  //    or entry does not undo an installation that is on disk.
  steps().make_shortcuts(desktop);
  steps().register_uninstall();
}

}  // namespace

void set_controller_view(ControllerView* view) { g_view = view; }
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
  InstallerState& st = installer_state();
  // The worker makes the installation folder itself and notes each level it
  // made, so that a cancelled or failed run can take them back.
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
  InstallerState& st = installer_state();
  rt::Text target = rt::text_concat({g_view->install_directory().view(), "\\", st.main_file.view()});
  steps().launch_file(target, "", 0);  // its result does not keep the window open
  g_view->destroy_window();
}

InstallSteps default_install_steps() {
  InstallSteps s;
  s.ensure_dotnet = [](const rt::Text& framework, InstallView& view) { return ensure_dotnet(framework, view); };
  s.download_package = [](const rt::Text& url, void* file, std::uint64_t* received) {
    return download_to(url, file, on_download_progress, received);
  };
  s.package_resource = [] { return package_resource_input(); };
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
    request.install_directory = g_view ? g_view->install_directory() : rt::Text();
    make_shortcuts(request);
  };
  s.register_uninstall = [] {
    InstallerState& st = installer_state();
    UninstallInfo info;
    info.software_name = st.software_name;
    info.software_version = st.software_version;
    info.install_directory = g_view ? g_view->install_directory() : rt::Text();
    info.company_name = st.company_name;
    info.company_url = st.company_url;
    register_uninstall(info);  // its result is not looked at: the files are in place
  };
  s.launch_file = [](const rt::Text& path, const rt::Text& parameters, int show_mode) {
    return launch_file(path, parameters, show_mode);
  };
  return s;
}

}  // namespace installer
