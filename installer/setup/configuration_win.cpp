// load_configuration: the installer window's creation handler. Reads the
// embedded logo and encrypted configuration record and fills the installer's
// state and window from them.
#include <windows.h>

#include <optional>

#include "installer/format/format.h"
#include "installer/format/record.h"
#include "installer/platform/resources.h"
#include "installer/platform/single_run.h"
#include "installer/setup/installer_window.h"
#include "installer/platform/launch.h"
#include "installer/steps/host.h"
#include "installer/steps/path_macros.h"
#include "installer/steps/sequence.h"
#include "installer/setup/state.h"
#include "installer/platform/windows_version.h"
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
  InstallerState& st = installer_state();
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

  // The record. One that cannot be read, names no known install type or
  // scope, or would download a package without its digest, is a damaged
  // installer: the window offers nothing to install, and asks to close as
  // soon as it shows; its close says why (on_close_requested) and ends it.
  // The sequence refuses such a record too.
  std::optional<format::Record> record =
      format::open_record(load_resource_bytes(format::kResourceType, format::kRecordResource));
  if (!record || !record_installable(*record)) {
    st.record = format::Record();
    st.damaged = true;
    rt::unit_set(kInstallerWindow, "", rt::kPropCaption, kDamagedCaption);
    rt::unit_set(kInstallerWindow, "标签_软件名称", rt::kPropCaption, kDamagedCaption);
    rt::unit_set(kInstallerWindow, "安装目录", rt::kPropCaption, "");
    for (const char* unit : {"立即安装", "许可协议", "超级链接框1", "自定义安装"})
      rt::unit_set(kInstallerWindow, unit, rt::kPropVisible, false);
    rt::unit_set(kInstallerWindow, "", rt::kPropHeight, kOpenHeight);
    PostMessageW(rt::form_handle(kInstallerWindow), WM_CLOSE, 0, 0);
    return;
  }
  st.record = *record;
  // One installation of the software at a time: a second installer (or an
  // uninstaller running) says so and closes without changing anything.
  static SoftwareRunLock run_lock;
  const LockScope scope = st.record.scope == format::Scope::kUser ? LockScope::kUser : LockScope::kMachine;
  if (!run_lock.acquire(st.record.software_name, scope)) {
    st.refused = true;
    rt::unit_set(kInstallerWindow, "", rt::kPropHeight, kOpenHeight);
    rt::message_box(another_run_message(st.record.software_name), kFailureMessageStyle, st.record.software_name,
                    rt::form_handle(kInstallerWindow));
    PostMessageW(rt::form_handle(kInstallerWindow), WM_CLOSE, 0, 0);
    return;
  }
  rt::unit_set(kInstallerWindow, "离线网址", rt::kPropTarget, st.record.offline_url);
  rt::unit_set(kInstallerWindow, "超级链接框1", rt::kPropTarget, st.record.agreement_url);

  // The default folder by scope: one person's programs live in their local
  // (never roaming) data; every user's in Program Files (the 32-bit one on
  // 64-bit Windows); the unscoped layout in the roaming data from Windows 8
  // on, Program Files before.
  rt::Text folder;
  if (st.record.scope == format::Scope::kUser) {
    folder = rt::text_concat({special_folder(0, kCsidlLocalAppData, true).view(), "Programs"});
  } else if (st.record.scope == format::Scope::kMachine || windows_version_code() <= 9) {
    folder = named_folder(kNamedFolderProgramFiles);
  } else {
    folder = named_folder(kNamedFolderAppData);
  }
  const rt::Text& name = st.record.software_name;
  rt::unit_set(kInstallerWindow, "安装目录", rt::kPropCaption, rt::text_concat({folder.view(), "\\", name.view()}));

  rt::unit_set(kInstallerWindow, "", rt::kPropCaption, name);
  rt::unit_set(kInstallerWindow, "标签_软件名称", rt::kPropCaption, name);
  rt::unit_set(kInstallerWindow, "", rt::kPropHeight, kOpenHeight);
}

}  // namespace installer
