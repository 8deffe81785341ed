#include <windows.h>

#include <gtest/gtest.h>

#include "installer/platform/windows_version.h"

namespace {

TEST(WindowsVersionWinTest, FollowsTheVersionTheSystemReports) {
  // The test programs carry no manifest, so Windows 8.1 and later report 6.2.
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  GetVersionExW(&info);
  EXPECT_EQ(installer::windows_version_code(), installer::version_code_for(info.dwMajorVersion, info.dwMinorVersion));
  EXPECT_GE(installer::windows_version_code(), 9);  // the bench runs Windows 7 or later
}

}  // namespace
