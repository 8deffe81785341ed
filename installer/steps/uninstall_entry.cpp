#include "installer/steps/uninstall_entry.h"

#include <string>

#include "installer/format/format.h"

namespace installer {

rt::Text uninstall_key_path(bool windows_64bit, const rt::Text& software_name) {
  const char* base = windows_64bit ? format::kUninstallKey32On64 : format::kUninstallKey;
  return rt::text_concat({base, format::kUninstallKeyPrefix, software_name.view(), "\\"});
}

std::vector<UninstallValue> uninstall_values(const UninstallInfo& info) {
  auto text = [](const char* name, std::string_view value) {
    std::string data(value);
    data.push_back('\0');
    return UninstallValue{name, 1, rt::Bytes(data)};
  };
  auto dword = [](const char* name, std::uint32_t n) {
    const unsigned char le[4] = {static_cast<unsigned char>(n), static_cast<unsigned char>(n >> 8),
                                 static_cast<unsigned char>(n >> 16), static_cast<unsigned char>(n >> 24)};
    return UninstallValue{name, 4, rt::Bytes(le, 4)};
  };
  // "NoModify" and "NoRepair" are four-byte binary values, not REG_DWORD.
  const rt::Bytes one = {1, 0, 0, 0};
  const std::string_view dir = info.install_directory.view();
  const std::string uninstaller = rt::text_concat({"\"", dir, "\\uninst.exe\""}).str();
  return {
      text("DisplayIcon", rt::text_concat({"\"", dir, "\\", info.main_file.view(), "\""}).view()),
      text("DisplayName", info.software_name.view()),
      text("DisplayVersion", info.software_version.view()),
      dword("EstimatedSize", info.estimated_size_kib),
      text("InstallDate", info.install_date.view()),
      text("InstallLocation", dir),
      UninstallValue{"NoModify", 3, one},
      UninstallValue{"NoRepair", 3, one},
      text("Publisher", info.company_name.view()),
      text("QuietUninstallString", uninstaller + " /S"),
      text("UninstallString", uninstaller),
      text("URLInfoAbout", info.company_url.view()),
  };
}

}  // namespace installer
