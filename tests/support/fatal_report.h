// Death tests of the fatal runtime report: the exit status it ends the
// process with, and a sink that writes the report where EXPECT_EXIT reads it.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace testsupport {

inline testing::ExitedWithCode fatal_exit() {
#ifdef _WIN32
  return testing::ExitedWithCode(-1);
#else
  return testing::ExitedWithCode(255);
#endif
}

inline void report_to_stderr(const std::string& report) {
  std::fwrite(report.data(), 1, report.size(), stderr);
  std::fflush(stderr);
}

}  // namespace testsupport
