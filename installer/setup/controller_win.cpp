#include "installer/platform/resources.h"
#include "installer/setup/controller.h"

#include <windows.h>

#include <mutex>
#include <utility>

#include "installer/steps/download.h"
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

// The network message and the failure page: every failed download, and a
// package that could not be unpacked.
void fail_with_network_message(ControllerView& view) {
  view.show_network_message();
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

// Runs the sequence; returns when it ends, on any path.
void run_sequence(ControllerView& view) {
  InstallerState& st = installer_state();

  // 1. The .NET Framework prerequisite.
  PrerequisiteOutcome prerequisite = steps().ensure_dotnet(st.required_framework, view);
  if (prerequisite != PrerequisiteOutcome::kContinue) return;

  // 2. The package, by install type (compared exactly).
  if (st.install_type == "net") {
    view.set_progress_timer(1000);
    reset_download_progress();
    int result = steps().download_package(st.package_url, st.package_path);
    if (result == -1 || download_progress().received.load() < kMinimumDownload) {
      // The timer keeps running with its last figures; a partial file stays.
      fail_with_network_message(view);
      return;
    }
    view.set_progress_timer(0);
  } else if (st.install_type == "disk") {
    // An empty or missing resource writes an empty file; the write's result
    // is not looked at: the package step finds out.
    rt::Bytes package = steps().package_resource();
    rt::write_file(st.package_path, {&package});
  }

  // The publisher's digest, when the record has one: a package that is not
  // the one published is never unpacked.
  if (!st.package_sha256.empty() &&
      !sha256_matches(st.package_sha256.view(), sha256_file_hex(st.package_path.view()))) {
    rt::delete_file(st.package_path);
    fail_with_network_message(view);
    return;
  }

  // 3. Where the uninstaller lands.
  st.uninstaller_path = rt::text_concat({view.install_directory().view(), "\\uninst.exe"});

  // 4. The package step. A package that could not be opened, or an entry that
  //    did not extract, is a failed installation, not a finished one.
  PackageOutcome unpacked = steps().unpack_package(view);
  if (!unpacked.succeeded()) {
    fail_with_network_message(view);
    return;
  }
  view.show_page(kFinishPage);

  // 5. Shortcuts and 6. the uninstall entry: best effort, a missing shortcut
  //    or entry does not undo an installation that is on disk.
  steps().make_shortcuts(view.desktop_shortcut_ticked());
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
  s.download_package = [](const rt::Text& url, const rt::Text& path) {
    return download_file(url, path, on_download_progress, 0, false);
  };
  s.package_resource = [] { return load_resource_bytes(format::kResourceType, format::kPackageResource); };
  s.unpack_package = [](PackageStepHost& host) {
    InstallerState& st = installer_state();
    return unpack_package(st.package_path, st.uninstaller_path, st.installed_files, host);
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
