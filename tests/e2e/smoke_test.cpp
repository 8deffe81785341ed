// setup.exe as shipped (default resources: no configuration record) starts,
// shows its window, says it is damaged (it has nothing to install), and ends
// when that is acknowledged, with the exit code of a damaged installer.
#include <gtest/gtest.h>

#include "installer/steps/host.h"
#include "installer/setup/command_line.h"
#include "tests/e2e/support/installer_fixture.h"

namespace {

TEST(SmokeTest, StartsShowsItsWindowAndEndsWhenItsMessageIsAcknowledged) {
  e2e::Installer setup(e2e::setup_exe());
  ASSERT_TRUE(setup.ok()) << "no installer window";
  EXPECT_TRUE(setup.shot("smoke.png"));

  EXPECT_EQ(setup.answer_message_box(), installer::kDamagedInstallerMessage);
  DWORD code = 0;
  ASSERT_TRUE(setup.wait_exit(20000, &code)) << "setup.exe did not end after its message";
  EXPECT_EQ(code, DWORD(installer::kSetupDamaged));
}

}  // namespace
