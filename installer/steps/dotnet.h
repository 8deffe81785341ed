// The .NET Framework prerequisite: which version the machine has, and, when
// it is less than the application needs, Microsoft's offline installer for
// that version downloaded, proven genuine (its Microsoft signature, or a
// published digest), started, waited for and its end read. Runs on the
// install worker thread.
#pragma once

#include <cstdint>
#include <string_view>

#include "installer/format/dotnet_pins.h"
#include "installer/platform/authenticode.h"
#include "installer/platform/pe_image.h"
#include "installer/steps/download.h"
#include "installer/steps/host.h"
#include "runtime/value/value.h"

namespace installer {

// A download that brought fewer bytes than this has failed.
inline constexpr std::int32_t kMinimumDownload = 1024;

// Version of the installed .NET Framework as the Release table gives it,
// from the registry's 32-bit view: 4.81 down to 4.5, then 4.0, 3.5 or 0.
float detect_dotnet_version();
// The table: the v4 "Full" key with its "Release" number (0 when absent),
// else the v3.5 key.
float dotnet_version_for(bool v4_full_key, std::int32_t release, bool v35_key);
// The configuration's "framework" text as a number: a leading decimal
// number, 0 for an empty or non-numeric text ("4.7.2" reads as 4.7).
float required_framework_version(const rt::Text& framework);

// The addresses and proofs this program was built with (CMake's
// DOTNET_OFFLINE_URL, DOTNET_481_URL, DOTNET_TRUSTED_ROOTS, DOTNET_SIGNER,
// DOTNET_PINNED_SHA256), read from the one text the program carries.
format::DotnetPins built_in_dotnet_pins();
// The offline installer for `required`: 4.8.1's above 4.8, else 4.8's
// (which installs every version up to it).
rt::Text dotnet_url_for(float required, const format::DotnetPins& pins);

// Windows as the framework's installers judge it.
struct WindowsRelease {
  unsigned major = 0, minor = 0, build = 0, service_pack = 0;
};
WindowsRelease running_windows();  // Windows only
// 4.8 and earlier need Windows 7 SP1 or later; 4.8.1 Windows 10 21H2
// (build 19044), Windows 11 or later.
bool windows_runs_dotnet(float required, const WindowsRelease& windows);

// A downloaded installer may be started only when one of these holds.
// Its signature verified and it was made by the pinned signer under a pinned root,
bool signature_proves(const format::DotnetPins& pins, const SignatureFacts& facts);
// ... and its own version information names the .NET Framework's installer
// (made by Microsoft Corporation, a product named ".NET Framework"):
bool names_dotnet_installer(const VersionStrings& version);
// Or its SHA-256 (hexadecimal, either case) is a pinned digest:
bool digest_proves(const format::DotnetPins& pins, std::string_view sha256_hex);

// How the framework's installer ended, by its exit code.
enum class DotnetEnd {
  kInstalled,      // 0
  kRestartNeeded,  // 3010, 1641: installed, Windows must restart before it is used
  kFailed,         // 1602 (cancelled), 5100 (requirements not met), anything else
};
DotnetEnd dotnet_end_of(unsigned long exit_code);

// Messages, with the caption and style of host.h's messages; page 4 follows.
// Neither the signature nor a digest proves the download.
inline constexpr const char* kDotnetUnverifiedMessage =
    "下载的 .NET Framework 安装程序无法验证（不是微软发布的原版安装程序），已被删除且没有运行。"
    "请检查网络（代理或安全软件可能改动了下载的文件）后点击重新安装，"
    "或从微软网站下载并安装 .NET Framework 后再运行本安装程序。";
// The framework is still missing after its installer reported success.
inline constexpr const char* kDotnetMissingMessage = ".NET Framework 未能安装完成，请完成它的安装后点击重新安装。";
// This Windows cannot run the required version: nothing is downloaded.
rt::Text dotnet_windows_message(float required);
// The installer ended with `exit_code` (anything kFailed).
rt::Text dotnet_exit_message(unsigned long exit_code);
// The finish page's note after kRestartNeeded.
rt::Text dotnet_restart_note(const rt::Text& software_name);

enum class PrerequisiteOutcome {
  kContinue,                // present, or installed now
  kContinueRestartNeeded,   // installed now; Windows must restart before the program runs
  kStopAfterMessage,        // a failure; its message and page 4 were shown
  kStopSilently,            // cancelled at the window's request: nothing shown
  kStopNeedsAdministrator,  // unattended without administrator rights: its message was shown
};

// Checks the installed version against `framework`; when it is less and
// `windows` can run it, downloads the installer for it into a folder of this
// run under the address's file name with the progress display running,
// keeps the file from writers, proves it through that handle, starts it
// with the run's folder as its working folder, waits for it and reads its
// exit code. Tests pass pins with 127.0.0.1 addresses and their own root or
// digest, and a shorter patience to the download. `unattended`: the
// framework's installer runs quietly ("/q /norestart"); without
// administrator rights, which nobody could grant then, nothing is downloaded.
PrerequisiteOutcome ensure_dotnet(const rt::Text& framework, InstallView& view,
                                  const format::DotnetPins& pins = built_in_dotnet_pins(),
                                  const WindowsRelease& windows = running_windows(),
                                  const DownloadPatience& patience = shipped_download_patience(),
                                  bool unattended = false);
// The message of an unattended run that would need them.
rt::Text dotnet_administrator_message(float required);

}  // namespace installer
