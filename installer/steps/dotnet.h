// The .NET Framework prerequisite: which version the machine has, and, when
// it is less than the application needs, Microsoft's offline installer
// downloaded, checked against the digest built in beside its address, started
// and waited for. Runs on the install worker thread.
#pragma once

#include <cstdint>

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

// The offline installer's address and SHA-256 (the build's DOTNET_OFFLINE_URL
// and DOTNET_OFFLINE_SHA256).
rt::Text dotnet_offline_url();
rt::Text dotnet_offline_sha256();

// The message when the framework is still missing after its installer ran.
inline constexpr const char* kDotnetMissingMessage = ".NET Framework 未能安装完成，请完成它的安装后点击重新安装。";

enum class PrerequisiteOutcome {
  kContinue,           // present, or installed now
  kStopAfterMessage,   // a failure; its message and page 4 were shown
  kStopSilently,       // cancelled at the window's request: nothing shown
};

// Checks the installed version against `framework`; when it is less,
// downloads `url` into a folder of this run under the URL's file name with
// the progress display running, checks its SHA-256 against `sha256`, starts
// it from the still-open file with the run's folder as its working folder,
// waits for it to end and checks the version again. Tests pass a 127.0.0.1
// address and their stand-in's digest.
PrerequisiteOutcome ensure_dotnet(const rt::Text& framework, InstallView& view,
                                  const rt::Text& url = dotnet_offline_url(),
                                  const rt::Text& sha256 = dotnet_offline_sha256());

}  // namespace installer
