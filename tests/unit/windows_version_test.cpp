#include "installer/platform/windows_version.h"

#include <gtest/gtest.h>

using namespace installer;

namespace {

TEST(WindowsVersionTest, MapsRecordedVersionsThroughTheTable) {
  struct Case { unsigned major, minor; int code; };
  for (Case c : {Case{3, 51, 4}, Case{4, 0, 4}, Case{5, 0, 5}, Case{5, 1, 6}, Case{5, 2, 7}, Case{5, 3, 12},
                 Case{6, 0, 8}, Case{6, 1, 9}, Case{6, 2, 10}, Case{6, 3, 11}, Case{6, 4, 12}, Case{6, 5, 0},
                 Case{6, 9, 0}, Case{7, 0, 12}, Case{10, 0, 12}})
    EXPECT_EQ(version_code_for(c.major, c.minor), c.code) << c.major << "." << c.minor;
}

}  // namespace
