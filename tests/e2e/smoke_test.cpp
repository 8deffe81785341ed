// setup.exe as shipped (default resources: no configuration) starts, shows its
// window, asks before closing, and ends when the close is confirmed, with the
// exit code of an installation that did not complete.
#include <gtest/gtest.h>

#include "tests/e2e/support/installer_fixture.h"

namespace {

TEST(SmokeTest, StartsShowsItsWindowAndEndsWhenCloseIsConfirmed) {
  e2e::Installer setup(e2e::setup_exe());
  ASSERT_TRUE(setup.ok()) << "no installer window";
  EXPECT_TRUE(setup.shot("smoke.png"));
  EXPECT_EQ(setup.page(), 0);

  PostMessageW(setup.window(), WM_CLOSE, 0, 0);
  setup.answer_prompt(true);
  DWORD code = 0;
  ASSERT_TRUE(setup.wait_exit(20000, &code)) << "setup.exe did not end after the close was confirmed";
  EXPECT_EQ(code, 1u) << "0 is kept for a completed installation";
}

}  // namespace
