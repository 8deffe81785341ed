#include "installer/steps/dotnet.h"

#include <string>

#include "installer/format/sha256.h"
#include "runtime/services/convert_services.h"

namespace installer {

#if !defined(DOTNET_OFFLINE_URL) || !defined(DOTNET_481_URL) || !defined(DOTNET_TRUSTED_ROOTS) || \
    !defined(DOTNET_SIGNER) || !defined(DOTNET_PINNED_SHA256)
#error "the build defines DOTNET_OFFLINE_URL, DOTNET_481_URL, DOTNET_TRUSTED_ROOTS, DOTNET_SIGNER and DOTNET_PINNED_SHA256"
#endif

namespace {
// One text, so that the builder finds in the program what it will download
// and how it proves it, and tests can point a copy at their own.
const char kBuiltInPins[] __attribute__((used)) =
    "tarnel-dotnet-pins:url48=" DOTNET_OFFLINE_URL "\nurl481=" DOTNET_481_URL "\nroots=" DOTNET_TRUSTED_ROOTS
    "\nsigner=" DOTNET_SIGNER "\nsha256=" DOTNET_PINNED_SHA256;
}  // namespace

format::DotnetPins built_in_dotnet_pins() {
  // Read through a pointer the optimiser cannot see through: the text is
  // rewritten in the program's bytes by tests, never folded into code.
  const char* volatile text = kBuiltInPins;
  format::DotnetPins pins;
  // A text that does not read proves nothing: every download is refused.
  if (!format::parse_dotnet_pins(text, &pins)) return format::DotnetPins();
  return pins;
}

rt::Text dotnet_url_for(float required, const format::DotnetPins& pins) {
  return rt::Text(required > 4.8f ? pins.url481 : pins.url48);
}

bool windows_runs_dotnet(float required, const WindowsRelease& w) {
  if (required > 4.8f) return w.major >= 10 && w.build >= 19044;
  if (w.major != 6 || w.minor != 1) return w.major > 6 || (w.major == 6 && w.minor > 1);
  return w.service_pack >= 1 || w.build >= 7601;
}

bool signature_proves(const format::DotnetPins& pins, const SignatureFacts& facts) {
  if (!facts.verified || !chain_whole(facts.chain_errors) || !pins.signature_pinned() || facts.signer != pins.signer)
    return false;
  for (const std::string& root : pins.roots)
    if (facts.root_sha1 == root) return true;
  return false;
}

bool names_dotnet_installer(const VersionStrings& version) {
  // Microsoft signs thousands of programs: the signature says who made the
  // file, the file's own version information that it is this one.
  auto fold = [](std::u16string_view s) {
    std::u16string out(s);
    for (char16_t& c : out)
      if (c >= u'A' && c <= u'Z') c = char16_t(c - u'A' + u'a');
    return out;
  };
  return version.company == u"Microsoft Corporation" && fold(version.product).find(u".net framework") != std::u16string::npos;
}

bool digest_proves(const format::DotnetPins& pins, std::string_view sha256_hex) {
  if (sha256_hex.empty()) return false;
  for (const std::string& digest : pins.digests)
    if (sha256_matches(sha256_hex, digest)) return true;  // pinned digests are lower-case
  return false;
}

DotnetEnd dotnet_end_of(unsigned long exit_code) {
  if (exit_code == 0) return DotnetEnd::kInstalled;
  // ERROR_SUCCESS_REBOOT_REQUIRED, ERROR_SUCCESS_REBOOT_INITIATED.
  if (exit_code == 3010 || exit_code == 1641) return DotnetEnd::kRestartNeeded;
  return DotnetEnd::kFailed;
}

rt::Text dotnet_windows_message(float required) {
  if (required > 4.8f)
    return "此程序需要 .NET Framework 4.8.1，它只能安装在 Windows 10（21H2 版）、Windows 11 或更新的 Windows 上。"
           "请先升级 Windows 后再运行本安装程序。";
  return "此程序需要 .NET Framework 4.8，它只能安装在 Windows 7 SP1 或更新的 Windows 上。"
         "请先安装 Windows 的更新后再运行本安装程序。";
}

rt::Text dotnet_administrator_message(float required) {
  return rt::text_concat({"此程序需要 .NET Framework ", required > 4.8f ? "4.8.1" : "4.8",
                          "，安装它需要管理员权限。请以管理员身份运行本安装程序。"});
}

rt::Text dotnet_exit_message(unsigned long exit_code) {
  if (exit_code == 1602)
    return "已取消 .NET Framework 的安装。此程序需要它才能运行，请点击重新安装并完成 .NET Framework 的安装。";
  if (exit_code == 5100)
    return "这台计算机不满足 .NET Framework 的安装要求（代码 5100），它没有安装。"
           "请按它提示的要求安装 Windows 更新或腾出磁盘空间后点击重新安装。";
  return rt::text_concat({".NET Framework 安装程序以代码 ", std::to_string(exit_code),
                          " 结束，没有完成安装。请点击重新安装重试，或从微软网站下载并安装 .NET Framework 后再运行本安装程序。"});
}

rt::Text dotnet_restart_note(const rt::Text& software_name) {
  return rt::text_concat({"安装已完成。.NET Framework 需要重新启动计算机后才能使用，请重启后再运行“", software_name.view(), "”。"});
}

float dotnet_version_for(bool v4_full_key, std::int32_t release, bool v35_key) {
  // Release numbers of each version's first build, newest first.
  static const struct {
    std::int32_t release;
    float version;
  } kReleases[] = {
      {533320, 4.81f}, {528040, 4.8f}, {461808, 4.72f}, {461308, 4.71f}, {460798, 4.7f}, {394802, 4.62f},
      {394254, 4.61f}, {393295, 4.6f}, {379893, 4.52f}, {378675, 4.51f}, {378389, 4.5f},
  };
  if (v4_full_key) {
    for (const auto& row : kReleases)
      if (release >= row.release) return row.version;
    return 4.0f;
  }
  return v35_key ? 3.5f : 0.0f;
}

float required_framework_version(const rt::Text& framework) { return rt::to_float(rt::Value(framework)); }

}  // namespace installer
