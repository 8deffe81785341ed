// setup.exe starts, shows its window, and ends when the window is closed.
#include <gtest/gtest.h>

#include "tests/e2e/support/harness.h"
#include "tests/support/paths.h"

namespace {

TEST(SmokeTest, StartsShowsItsWindowAndEndsWhenClosed) {
  e2e::Process setup = e2e::Process::start(e2e::setup_exe());
  ASSERT_TRUE(setup.started());
  HWND window = e2e::wait_window(setup.pid(), 30000);
  ASSERT_NE(window, nullptr) << "no visible top-level window";
  Sleep(500);  // let it paint
  std::string shot = testsupport::binary_dir() + "\\screenshots";
  CreateDirectoryA(shot.c_str(), nullptr);
  EXPECT_TRUE(e2e::screenshot(window, shot + "\\smoke.png"));

  PostMessageW(window, WM_CLOSE, 0, 0);
  // A close confirmation may be asked for: answer it with the first button.
  DWORD code = 0;
  if (!setup.wait(5000, &code)) {
    if (HWND box = e2e::wait_message_box(setup.pid(), 5000)) PostMessageW(box, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(setup.wait(20000, &code)) << "setup.exe did not end after its window was closed";
  }
  EXPECT_EQ(code, 0u);
}

}  // namespace
