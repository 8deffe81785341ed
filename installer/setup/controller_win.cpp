#include "installer/setup/controller.h"
#include "installer/platform/protected_folder.h"

#include <windows.h>

#include <atomic>
#include <mutex>
#include <utility>

#include "installer/platform/run_log.h"
#include "installer/setup/session.h"
#include "installer/steps/progress.h"
#include "runtime/services/system_services.h"
#include "runtime/win/lock_win.h"

namespace installer {

namespace {

ControllerView* g_view = nullptr;
SetupSession* g_session = nullptr;
InstallSteps g_steps;
// The running worker's handle; closed by the worker itself.
void* g_worker = nullptr;
// Orders the storing of the worker's handle (start_install) before its
// closing (the worker's end), however fast the worker runs, and guards the
// window's wish to end once the worker has ended.
rt::Lock g_worker_lock;

// What the window does when the worker ends: nothing, close, or the finish
// button's start of the main file and close.
enum class PendingEnd { kNone, kClose, kFinish };
PendingEnd g_pending_end = PendingEnd::kNone;

// The plan of the run that starts next or runs now: made on the window
// thread by start_install before the worker exists, only read by it.
InstallPlan g_plan;
// The last run could not use its folder: "重新安装" goes back to the custom
// page, where another can be chosen. Written by the worker before it ends.
std::atomic<bool> g_folder_failed{false};

InstallSteps& steps() {
  if (!g_steps.unpack_package) g_steps = default_install_steps();
  return g_steps;
}

// The worker closes its own handle however the sequence ends; nothing waits
// on it. A window that was asked to end while it ran is told to close now.
void close_worker_handle() {
  bool close_window = false;
  {
    std::lock_guard<rt::Lock> lock(g_worker_lock);
    if (g_worker) {
      rt::close_thread_handle(g_worker);
      g_worker = nullptr;
    }
    close_window = g_pending_end != PendingEnd::kNone;
  }
  if (close_window && g_view) g_view->post_close();
}

bool worker_running() {
  std::lock_guard<rt::Lock> lock(g_worker_lock);
  return g_worker != nullptr;
}

// A damaged installer's close (asked for as soon as its window shows) says
// why in a message box the installer window owns, which takes the window's
// input while it shows, then lets the window close. Another close request
// while the box shows is left to the box.
bool g_telling_damage = false;
bool tell_damaged(ControllerView& view) {
  if (g_telling_damage) return false;
  g_telling_damage = true;
  view.show_failure_message(kDamagedInstallerMessage);
  g_telling_damage = false;
  return true;
}

// The person agreed to replace a newer version with this one.
bool g_downgrade_agreed = false;

// Set once the program could not be started as the person: the finish
// page says where to start it, and the next press ends the installer.
std::atomic<bool> g_start_refused{false};

// Starts the main file and ends the installer. Whether the file was there
// does not keep the window open; an elevated installer whose desktop shell
// did not answer starts nothing with its administrator rights, and says so.
void finish_now(ControllerView& view) {
  if (!g_start_refused) {
    rt::Text target = rt::text_concat({g_plan.install_directory.view(), "\\", g_plan.record.main_file.view()});
    if (!steps().launch_file(target, "", 0) && running_elevated()) {
      g_start_refused = true;
      view.show_finish_note(rt::text_concat({"无法以您的身份启动“", g_plan.record.software_name.view(), "”，请从开始菜单启动它。"}));
      return;
    }
  }
  view.destroy_window();
}

}  // namespace

void set_controller_view(ControllerView* view) {
  g_view = view;
  g_start_refused = false;
  g_downgrade_agreed = false;
  std::lock_guard<rt::Lock> lock(g_worker_lock);
  g_pending_end = PendingEnd::kNone;  // a new window has not asked to end
}
void set_controller_session(SetupSession* session) { g_session = session; }
SetupSession* controller_session() { return g_session; }
void set_install_steps(InstallSteps s) { g_steps = std::move(s); }

void on_install_now() {
  // A damaged installer has nothing it could install.
  if (!g_view || !g_session || g_session->damaged()) return;
  if (g_folder_failed && g_view->current_page() == kFailurePage && !worker_running()) {
    g_folder_failed = false;
    g_view->show_header(false);
    g_view->show_page(kCustomPage);
    return;
  }
  if (g_view->agreement_ticked()) {
    // A newer version is installed: replaced only when the person says so,
    // asked once (a reinstall after a failure asks no more).
    if (g_session->downgrade() && !g_downgrade_agreed) {
      if (g_view->ask_user(g_session->downgrade_question(), "0") != "ok") {
        g_view->show_header(true);
        g_view->show_page(kHomePage);
        return;
      }
      g_downgrade_agreed = true;
    }
    start_install();
    return;
  }
  g_view->ask_user("请阅读并选中用户使用协议！", "0");
  g_view->show_header(true);
  g_view->show_page(kHomePage);
}

void start_install() {
  if (!g_view || !g_session) return;
  // One installation at a time (a reinstall pressed while a clean-up runs).
  if (worker_running()) return;
  // Taken once, here: the worker never reads a window, which may be gone.
  g_plan = g_session->plan(g_view->install_directory(), g_view->desktop_shortcut_ticked());
  log_line({"folder chosen: ", g_plan.install_directory.view()});
  // The flag down and an empty record of what the run made: the worker makes
  // the installation folder itself and notes each level it made, so that a
  // cancelled or failed run can take them back.
  begin_install_run();
  g_view->show_header(true);
  g_view->show_page(kInstallingPage);
  std::lock_guard<rt::Lock> lock(g_worker_lock);
  void* handle = nullptr;
  if (rt::start_thread(install_sequence, 0, &handle)) g_worker = handle;
}

unsigned long __stdcall install_sequence(void*) {
  SequenceEnd end = g_view ? run_install_sequence(g_plan, steps(), *g_view) : SequenceEnd::kCancelled;
  if (g_session) g_session->run_ended(end);
  g_folder_failed = end == SequenceEnd::kFolderFailed;
  close_worker_handle();
  return 0;
}

void on_progress_tick() {
  if (!g_view) return;
  int percent = download_progress().percent.load();
  g_view->set_progress_bar(percent);
  g_view->set_status(installing_status_text(percent));
}

void on_finish() {
  if (!g_view) return;
  {
    // The finish page shows while the worker still makes the shortcuts and
    // the entry: the main file starts once it has ended.
    std::lock_guard<rt::Lock> lock(g_worker_lock);
    if (g_worker) {
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
  if (!view || !g_session || g_session->refused()) return true;
  if (g_session->damaged()) return tell_damaged(*view);
  PendingEnd pending;
  {
    std::lock_guard<rt::Lock> lock(g_worker_lock);
    pending = g_pending_end;
    // Already answered: the worker's end closes the window; until then
    // nothing more is asked.
    if (pending != PendingEnd::kNone && g_worker) return false;
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
    if (!g_worker) return true;
    g_pending_end = PendingEnd::kClose;
    // On the finish page the files are in place: the shortcuts and the entry
    // are made, not undone.
    if (page != kFinishPage) cancel_requested() = true;
  }
  if (page == kInstallingPage) view->set_status(kCancellingStatus);
  return false;
}

int setup_exit_code() { return g_session ? g_session->exit_code() : kSetupFailed; }
bool worker_running_now() { return worker_running(); }

}  // namespace installer
