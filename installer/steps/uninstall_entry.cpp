#include "installer/steps/uninstall_entry.h"

#include "installer/format/format.h"

namespace installer {

rt::Text uninstall_key_path(bool windows_64bit, const rt::Text& software_name) {
  const char* base = windows_64bit ? format::kUninstallKey32On64 : format::kUninstallKey;
  return rt::text_concat({base, format::kUninstallKeyPrefix, software_name.view(), "\\"});
}

std::vector<UninstallValue> uninstall_values(const UninstallInfo& info) {
  auto text = [](const char* name, std::string_view value) {
    return UninstallValue{name, 1, rt::Bytes(value)};
  };
  // "NoModify" and "NoRepair" are four-byte binary values, not REG_DWORD.
  const rt::Bytes one = {1, 0, 0, 0};
  const std::string_view dir = info.install_directory.view();
  return {
      text("DisplayIcon", rt::text_concat({dir, "\\", info.software_name.view(), ".exe"}).view()),
      text("DisplayName", info.software_name.view()),
      text("DisplayVersion", info.software_version.view()),
      text("InstallLocation", dir),
      UninstallValue{"NoModify", 3, one},
      UninstallValue{"NoRepair", 3, one},
      text("Publisher", info.company_name.view()),
      text("UninstallString", rt::text_concat({dir, "\\uninst.exe"}).view()),
      text("URLInfoAbout", info.company_url.view()),
  };
}

}  // namespace installer
