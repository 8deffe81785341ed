// load_configuration: the installer window's creation handler. Shows the
// embedded logo, and fills the window from the record the session opened.
#include <windows.h>

#include "installer/platform/resources.h"
#include "installer/format/format.h"
#include "installer/setup/controller.h"
#include "installer/setup/installer_window.h"
#include "installer/setup/session.h"
#include "installer/steps/host.h"
#include "runtime/services/system_services.h"
#include "ui/png_control.h"
#include "ui/window_frame.h"

namespace installer {

namespace {
// The window opens this high; its design height (470) only matters at design time.
constexpr int kOpenHeight = 400;
// A damaged installer's caption and name: the whole message is too long for
// the name's 29-pixel line, and goes into a message box instead.
constexpr char kDamagedCaption[] = "安装程序已损坏";
}  // namespace

void load_configuration() {
  ui::PngControl logo_control;

  ui::WindowFrameOptions options{};  // all zero for the whole run
  ui::EnableWindowFrame(kInstallerWindow, options);

  // The logo: given to the picture box, and drawn stretched, with its alpha,
  // by a PNG control lying over the picture box.
  rt::Bytes logo = load_resource_bytes(format::kResourceType, format::kLogoResource);
  rt::unit_set(kInstallerWindow, "logo", rt::kPropImage, logo);
  if (!logo_control.Exists()) {
    HWND header = rt::unit_window_handle(kInstallerWindow, "图片框1");
    logo_control.Create(header, rt::unit_get(kInstallerWindow, "logo", rt::kPropImage).bytes(),
                        rt::unit_get(kInstallerWindow, "logo", rt::kPropLeft).as_int(),
                        rt::unit_get(kInstallerWindow, "logo", rt::kPropTop).as_int(),
                        rt::unit_get(kInstallerWindow, "logo", rt::kPropWidth).as_int(),
                        rt::unit_get(kInstallerWindow, "logo", rt::kPropHeight).as_int());
    logo_control.SetBackType(ui::kBackStretch);
  }

  // A damaged installer (the session could not use its record): the window
  // offers nothing to install, and asks to close as soon as it shows; its
  // close says why (on_close_requested) and ends it.
  const SetupSession* session = controller_session();
  if (!session || session->damaged()) {
    rt::unit_set(kInstallerWindow, "", rt::kPropCaption, kDamagedCaption);
    rt::unit_set(kInstallerWindow, "标签_软件名称", rt::kPropCaption, kDamagedCaption);
    rt::unit_set(kInstallerWindow, "安装目录", rt::kPropCaption, "");
    for (const char* unit : {"立即安装", "许可协议", "超级链接框1", "自定义安装"})
      rt::unit_set(kInstallerWindow, unit, rt::kPropVisible, false);
    rt::unit_set(kInstallerWindow, "", rt::kPropHeight, kOpenHeight);
    PostMessageW(rt::form_handle(kInstallerWindow), WM_CLOSE, 0, 0);
    return;
  }
  const format::Record& record = session->record();
  rt::unit_set(kInstallerWindow, "离线网址", rt::kPropTarget, record.offline_url);
  rt::unit_set(kInstallerWindow, "超级链接框1", rt::kPropTarget, record.agreement_url);
  rt::unit_set(kInstallerWindow, "安装目录", rt::kPropCaption, session->default_folder());
  const rt::Text& name = record.software_name;
  rt::unit_set(kInstallerWindow, "", rt::kPropCaption, name);
  rt::unit_set(kInstallerWindow, "标签_软件名称", rt::kPropCaption, name);
  rt::unit_set(kInstallerWindow, "", rt::kPropHeight, kOpenHeight);
}

}  // namespace installer
