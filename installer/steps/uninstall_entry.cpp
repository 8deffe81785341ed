#include "installer/steps/uninstall_entry.h"

#include <algorithm>
#include <string>

#include "installer/format/format.h"
#include "runtime/value/codepage.h"

namespace installer {

rt::Text uninstall_key_path(bool windows_64bit, const rt::Text& software_name) {
  const char* base = windows_64bit ? format::kUninstallKey32On64 : format::kUninstallKey;
  return rt::text_concat({base, format::kUninstallKeyPrefix, software_name.view(), "\\"});
}

namespace {

// `dir` + "\\" + `name`, with one backslash between them even when the
// folder was typed with a final one ("D:\\" or "D:\\Apps\\"); a trail byte
// 0x5C of a two-byte character is not a backslash.
std::string path_in(std::string_view dir, std::string_view name) {
  std::size_t end = 0;  // the length without final backslashes
  for (std::size_t i = 0; i < dir.size();) {
    const std::size_t step = rt::is_lead_byte(static_cast<unsigned char>(dir[i])) && i + 1 < dir.size() ? 2 : 1;
    i += step;
    if (!(step == 1 && dir[i - 1] == '\\')) end = i;
  }
  return rt::text_concat({dir.substr(0, end), "\\", name}).str();
}

}  // namespace

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
  const std::string uninstaller = "\"" + path_in(dir, format::kUninstallerFile) + "\"";
  return {
      text("DisplayIcon", "\"" + path_in(dir, info.main_file.view()) + "\""),
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

int compare_versions(std::string_view a, std::string_view b) {
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  // A part's leading number, without its leading zeros ("0" when none), and what follows it.
  auto split = [&](std::string_view part, std::string_view* rest) {
    std::size_t n = 0;
    while (n < part.size() && digit(part[n])) ++n;
    *rest = part.substr(n);
    std::string_view number = part.substr(0, n);
    while (number.size() > 1 && number[0] == '0') number.remove_prefix(1);
    return number.empty() ? std::string_view("0") : number;
  };
  while (!a.empty() || !b.empty()) {
    std::string_view pa = a.substr(0, a.find('.')), pb = b.substr(0, b.find('.'));
    a.remove_prefix(std::min(a.size(), pa.size() + 1));
    b.remove_prefix(std::min(b.size(), pb.size() + 1));
    std::string_view ra, rb;
    std::string_view na = split(pa, &ra), nb = split(pb, &rb);
    if (na.size() != nb.size()) return na.size() < nb.size() ? -1 : 1;
    if (int c = na.compare(nb)) return c < 0 ? -1 : 1;
    // The same number: a pre-release ("-beta", "~rc1") comes before the
    // release, any other suffix ("a") after it.
    if (ra.empty() != rb.empty()) {
      std::string_view suffix = ra.empty() ? rb : ra;
      const bool pre = suffix[0] == '-' || suffix[0] == '~';
      return (ra.empty() == pre) ? 1 : -1;
    }
    if (int c = ra.compare(rb)) return c < 0 ? -1 : 1;
  }
  return 0;
}

}  // namespace installer
