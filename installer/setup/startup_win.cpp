#include "installer/setup/startup.h"

#include <windows.h>

#include <cstdlib>

#include "installer/platform/launch.h"
#include "installer/platform/protected_folder.h"
#include "installer/setup/controller.h"
#include "installer/setup/installer_window.h"
#include "installer/setup/state.h"
#include "runtime/value/codepage.h"
#include "runtime/services/system_services.h"
#include "runtime/units/units.h"
#include "ui/image_services.h"

namespace installer {

namespace {

// The exit routine: frees the process-wide records.
void free_process_state() {
  // A worker still running may be reading the state: leave it to the
  // process's end. (The window waits for the worker before it ends; this is
  // for an end the window did not choose.)
  if (installer_state().worker_thread) return;
  reset_installer_state();
}

// Links open as the person at the desktop: an elevated installer would
// otherwise start the browser with administrator rights. Without a desktop
// shell to ask, the address is shown for the person to open.
bool open_link_as_person(const rt::Text& target) {
  if (start_as_person(target, "") != PersonStart::kFailed) return true;
  show_installer_box(rt::text_concat({"无法以您的身份打开浏览器，请在浏览器中打开以下地址：\r\n", target.view()}), 0x40);
  return false;
}

}  // namespace

WindowThreadOle::WindowThreadOle() : result_(OleInitialize(nullptr)) {}
WindowThreadOle::~WindowThreadOle() {
  if (SUCCEEDED(result_)) OleUninitialize();
}

int run_setup() {
  // 1. Runtime and process-wide state, with the exit routine that frees it.
  //    Entry names without a folder land in the installer's own folder: the
  //    current directory is made that folder.
  std::wstring own_folder = rt::wide_path(rt::run_directory().view());
  SetCurrentDirectoryW(own_folder.c_str());
  std::atexit(free_process_state);
  //    Module start-up: GDI+, the frame dimension and the loading dialog class;
  //    without them no PNG image is drawn.
  ui::StartImageServices();
  //    The window thread is an OLE apartment before any window exists: the
  //    folder dialog's new style and the shell calls need one on Windows.
  WindowThreadOle ole;
  if (running_elevated()) rt::set_link_opener(open_link_as_person);

  // 2. The installer window, non-modal and top-level; its creation handler
  //    reads the configuration.
  if (!load_installer_window()) return 1;

  // 3. The message loop; the program ends when the window is destroyed,
  //    which waits for a running worker. 0 only when the installation
  //    completed.
  rt::run_message_loop();
  return setup_exit_code();
}

}  // namespace installer
