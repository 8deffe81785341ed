// load_configuration: the installer window's creation handler. Reads the
// embedded logo and encrypted configuration record and fills the installer's
// state and window from them.
#include <windows.h>

#include "installer/format/cipher.h"
#include "installer/platform/resources.h"
#include "installer/setup/installer_window.h"
#include "installer/platform/launch.h"
#include "installer/steps/path_macros.h"
#include "installer/setup/state.h"
#include "installer/platform/windows_version.h"
#include "json/document.h"
#include "runtime/services/system_services.h"
#include "ui/png_control.h"
#include "ui/window_frame.h"

namespace installer {

namespace {
// The window opens this high; its design height (470) only matters at design time.
constexpr int kOpenHeight = 400;
}  // namespace

void load_configuration() {
  InstallerState& st = installer_state();
  ui::PngControl logo_control;
  json::JsonDocument document;

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

  // The record. A failed parse is not examined: every key then reads empty.
  rt::Text record = decrypt_record(load_resource_bytes(format::kResourceType, format::kRecordResource), format::kRecordPassPhrase, true);
  document.parse(record.view());

  st.software_name = document.get_text(format::kKeySoftName);
  st.software_version = document.get_text(format::kKeySoftVersion);
  st.package_url = document.get_text(format::kKeyPackageUrl);
  rt::Text offline_url = document.get_text(format::kKeyOfflineUrl);
  st.required_framework = document.get_text(format::kKeyFramework);
  st.main_file = document.get_text(format::kKeyMainFile);
  st.install_type = document.get_text(format::kKeyInstallType);
  st.company_name = document.get_text(format::kKeyCompanyName);
  st.company_url = document.get_text(format::kKeyCompanyUrl);
  st.agreement_url = document.get_text(format::kKeyAgreementUrl);
  st.package_sha256 = document.get_text(format::kKeySha256);
  rt::unit_set(kInstallerWindow, "离线网址", rt::kPropTarget, offline_url);
  rt::unit_set(kInstallerWindow, "超级链接框1", rt::kPropTarget, st.agreement_url);

  // Windows 8 and later: the roaming application data; before: Program Files.
  rt::Text folder = named_folder(windows_version_code() > 9 ? kNamedFolderAppData : kNamedFolderProgramFiles);
  rt::unit_set(kInstallerWindow, "安装目录", rt::kPropCaption,
               rt::text_concat({folder.view(), "\\", st.software_name.view()}));

  rt::unit_set(kInstallerWindow, "", rt::kPropCaption, st.software_name);
  rt::unit_set(kInstallerWindow, "标签_软件名称", rt::kPropCaption, st.software_name);
  rt::unit_set(kInstallerWindow, "", rt::kPropHeight, kOpenHeight);

  st.package_path = rt::text_concat({rt::run_directory().view(), "\\app.zip"});
}

}  // namespace installer
