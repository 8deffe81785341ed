// The controller: decides when an installation may start, runs the install
// sequence on a worker thread and reports its progress, failure and end to
// the installer window. Only the controller talks to the window; the steps
// talk to it through the views they declare.
#pragma once

#include "installer/steps/host.h"
#include "installer/steps/sequence.h"
#include "runtime/value/value.h"

namespace installer {

// Everything the controller and the steps need of the installer window.
// Calls may come from the worker thread; an implementation carries each to
// the window thread, in the order made.
class ControllerView : public InstallView {
 public:
  virtual bool agreement_ticked() = 0;         // 许可协议
  virtual bool desktop_shortcut_ticked() = 0;  // 快捷方式
  virtual rt::Text install_directory() = 0;    // 安装目录, as it shows now
  virtual void show_header(bool visible) = 0;  // 图片框1
  // Shows the prompt window modally (window thread only) and gives its
  // answer: "ok" only when 确定 was pressed.
  virtual rt::Text ask_user(const rt::Text& text, const rt::Text& mode) = 0;
  virtual int current_page() = 0;  // 选择夹1's page
  virtual void destroy_window() = 0;
  // Asks the window to close (any thread); its close handler decides.
  virtual void post_close() = 0;
};

class SetupSession;

// Connects the controller to its window (null disconnects), the session it
// installs for, and its steps (default_install_steps() until a test
// replaces them).
void set_controller_view(ControllerView* view);
void set_controller_session(SetupSession* session);
SetupSession* controller_session();
void set_install_steps(InstallSteps steps);

// Handlers of the installer window.
void on_install_now();    // 立即安装, 立即安装2, 重新安装
void start_install();
void on_progress_tick();  // 时钟1
void on_finish();         // 安装完成
// The installer window's close request (关闭, Alt+F4, a close from outside):
// asks the question that fits the page; true lets the window close. While the
// worker runs, "确定" asks it to stop (or, on the finish page, lets it make
// the shortcuts and the entry) and the window closes once it has ended.
// A damaged installer asks nothing: it says why it cannot install, then closes.
bool on_close_requested();
// The close question for a page, and whether the worker still runs.
rt::Text close_question(int page, bool worker_running);
// setup.exe's exit code (SetupExit): the session's.
int setup_exit_code();
// Whether an installation worker runs now.
bool worker_running_now();
// The body of the worker thread: the sequence of the plan start_install made.
unsigned long __stdcall install_sequence(void* unused);

}  // namespace installer
