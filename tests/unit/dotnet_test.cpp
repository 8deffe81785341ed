// The .NET Framework version table and the reading of the required version.
#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "installer/steps/dotnet.h"
#include "installer/platform/launch.h"

namespace {

using installer::dotnet_version_for;
using installer::required_framework_version;

TEST(DotnetVersionTest, ReleaseNumbersMapToTheFirstThresholdTheyReach) {
  struct Row {
    int release;
    float version;
  } rows[] = {{533320, 4.81f}, {999999, 4.81f}, {533319, 4.8f}, {528040, 4.8f}, {528039, 4.72f},
              {461808, 4.72f}, {461308, 4.71f}, {460798, 4.7f},  {394802, 4.62f}, {394254, 4.61f},
              {393295, 4.6f},  {379893, 4.52f}, {378675, 4.51f}, {378389, 4.5f},  {378388, 4.0f},
              {0, 4.0f},       {-5, 4.0f}};
  for (const Row& r : rows) EXPECT_EQ(dotnet_version_for(true, r.release, false), r.version) << r.release;
}

TEST(DotnetVersionTest, WithoutTheV4KeyOnlyTheV35KeyCounts) {
  EXPECT_EQ(dotnet_version_for(false, 528040, true), 3.5f);  // a stray Release without its key is not read
  EXPECT_EQ(dotnet_version_for(false, 0, true), 3.5f);
  EXPECT_EQ(dotnet_version_for(false, 0, false), 0.0f);
  EXPECT_EQ(dotnet_version_for(true, 0, true), 4.0f);
}

TEST(DotnetVersionTest, RequiredVersionReadsALeadingNumberAndComparesAsTheTableDoes) {
  EXPECT_EQ(required_framework_version("4.72"), 4.72f);
  EXPECT_EQ(required_framework_version("4.8"), dotnet_version_for(true, 528040, false));
  EXPECT_EQ(required_framework_version("4.7.2"), 4.7f);
  EXPECT_GE(dotnet_version_for(true, 461308, false), required_framework_version("4.7.2"));  // 4.71 passes
  EXPECT_EQ(required_framework_version("  4.5"), 4.5f);
  EXPECT_EQ(required_framework_version("4"), 4.0f);
  EXPECT_EQ(required_framework_version(""), 0.0f);
  EXPECT_EQ(required_framework_version("v4.8"), 0.0f);
  EXPECT_EQ(required_framework_version("abc"), 0.0f);
  // Whatever the machine has passes a requirement of 0.
  EXPECT_GE(dotnet_version_for(false, 0, false), required_framework_version(""));
}

TEST(DotnetVersionTest, OfflineInstallerKeepsItsFileNameWhenDownloaded) {
  // File names compare without regard to case on Windows.
  std::string name = installer::file_name_of(installer::dotnet_offline_url(), true).str();
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(name, "ndp48-x86-x64-allos-enu.exe");
  EXPECT_EQ(installer::dotnet_offline_url().view().substr(0, 8), "https://");
}

}  // namespace
