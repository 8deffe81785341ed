#include "installer/setup/startup.h"

#include <windows.h>

#include "installer/platform/launch.h"
#include "installer/platform/protected_folder.h"
#include "installer/setup/controller.h"
#include "installer/setup/installer_window.h"
#include "installer/platform/run_log.h"
#include "installer/platform/single_run.h"
#include "installer/setup/command_line.h"
#include "installer/setup/session.h"
#include "installer/steps/host.h"
#include "runtime/value/codepage.h"
#include "runtime/services/system_services.h"
#include "runtime/units/units.h"
#include "ui/image_services.h"

namespace installer {

namespace {

// Links open as the person at the desktop: an elevated installer would
// otherwise start the browser with administrator rights. Without a desktop
// shell to ask, the address is shown for the person to open.
bool open_link_as_person(const rt::Text& target) {
  if (start_as_person(target, "") != PersonStart::kFailed) return true;
  show_installer_box(rt::text_concat({"无法以您的身份打开浏览器，请在浏览器中打开以下地址：\r\n", target.view()}), 0x40);
  return false;
}

// An argument that could not be used, or /?: the usage text, in a box
// unless nobody is to see one (/S). Nothing else is done.
int answer_usage(const SetupArguments& args) {
  rt::Text text = setup_usage_text();
  if (args.usage_error()) {
    std::string wrong = rt::cp936_from_wide(args.wrong);
    log_line({"failed: unknown or malformed argument: ", wrong});
    text = rt::text_concat({"无法使用的参数 / Unknown or malformed argument: ", wrong, "\r\n\r\n", text.view()});
  }
  if (!args.silent) rt::message_box(text, args.usage_error() ? kFailureMessageStyle : kNetworkMessageStyle, "setup.exe");
  const int code = args.usage_error() ? kSetupUsage : kSetupInstalled;
  log_end(code);
  return code;
}

}  // namespace

WindowThreadOle::WindowThreadOle() : result_(OleInitialize(nullptr)) {}
WindowThreadOle::~WindowThreadOle() {
  if (SUCCEEDED(result_)) OleUninitialize();
}

int run_setup() {
  // 0. What an administrator asked for; nothing at all for a person, whose
  //    road is the window's alone. A log is opened first, so that even a
  //    usage error is in it.
  SetupArguments args = parse_setup_arguments(reinterpret_cast<const char16_t*>(GetCommandLineW()));
  if (!args.log.empty() && !open_run_log(args.log) && args.wrong.empty()) args.wrong = u"/LOG=" + args.log;
  if (args.usage_error() || args.help) return answer_usage(args);

  // 1. Runtime. Entry names without a folder land in the installer's own
  //    folder: the current directory is made that folder.
  std::wstring own_folder = rt::wide_path(rt::run_directory().view());
  SetCurrentDirectoryW(own_folder.c_str());
  SetupSession session;
  if (args.silent) {
    const int code = run_unattended(session, args);
    log_end(code);
    return code;
  }

  //    Module start-up: GDI+, the frame dimension and the loading dialog class;
  //    without them no PNG image is drawn.
  ui::StartImageServices();
  //    The window thread is an OLE apartment before any window exists: the
  //    folder dialog's new style and the shell calls need one on Windows.
  WindowThreadOle ole;
  if (running_elevated()) rt::set_link_opener(open_link_as_person);

  // 2. The record, checked, and the one-run lock: a second installer (or an
  //    uninstaller running) says so and ends without changing anything.
  if (session.open() == SetupSession::Opened::kReady && !session.lock_software()) {
    rt::message_box(another_run_message(session.record().software_name), kFailureMessageStyle,
                    session.record().software_name);
    log_end(session.exit_code());
    return session.exit_code();
  }

  // 3. The installer window, non-modal and top-level; its creation handler
  //    fills it from the session's record. A folder asked for replaces the
  //    proposed one.
  set_controller_session(&session);
  if (!load_installer_window()) return kSetupFailed;
  if (!args.folder.empty() && !session.damaged())
    rt::unit_set(kInstallerWindow, "安装目录", rt::kPropCaption, rt::Text(rt::cp936_from_wide(args.folder)));

  // 4. The message loop; the program ends when the window is destroyed,
  //    which waits for a running worker.
  rt::run_message_loop();
  set_controller_session(nullptr);
  log_end(session.exit_code());
  return session.exit_code();
}

}  // namespace installer
