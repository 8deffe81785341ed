// The .NET Framework prerequisite: which version the machine has, and, when
// it is less than the application needs, Microsoft's offline installer
// downloaded and started (not waited for). Runs on the install worker thread.
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

// The offline installer's address (the build's DOTNET_OFFLINE_URL).
rt::Text dotnet_offline_url();

enum class PrerequisiteOutcome {
  kContinue,           // present, or its installer was started
  kStopAfterMessage,   // the download failed; the message and page 4 were shown
  kStopSilently,       // the downloaded installer could not be found to start
};

// Checks the installed version against `framework`; when it is less,
// downloads `url` into the temporary directory under the URL's file name with
// the progress display running, and starts it without waiting. Tests pass a
// 127.0.0.1 address as `url`.
PrerequisiteOutcome ensure_dotnet(const rt::Text& framework, InstallView& view,
                                  const rt::Text& url = dotnet_offline_url());

}  // namespace installer
