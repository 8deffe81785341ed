#include "installer/steps/dotnet.h"

#include "runtime/services/convert_services.h"

namespace installer {

#ifndef DOTNET_OFFLINE_URL
#error "the build defines DOTNET_OFFLINE_URL, the .NET Framework offline installer's address"
#endif

#ifndef DOTNET_OFFLINE_SHA256
#error "the build defines DOTNET_OFFLINE_SHA256, the SHA-256 of the installer at DOTNET_OFFLINE_URL"
#endif

rt::Text dotnet_offline_url() { return rt::Text(DOTNET_OFFLINE_URL); }
rt::Text dotnet_offline_sha256() { return rt::Text(DOTNET_OFFLINE_SHA256); }

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
