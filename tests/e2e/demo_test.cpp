// The main job, as a person would do it: a configured installer with an
// embedded configuration and package (the demo application and the
// uninstaller), run under Wine, clicked through page by page, the installed
// application started; then uninstalled. Prints what it did and where the
// screenshots are.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "installer/cipher.h"
#include "runtime/codepage.h"
#include "tests/e2e/support/installer_fixture.h"
#include "tests/support/paths.h"
#include "tests/support/zip_writer.h"

namespace {

using e2e::Installer;

void say(const std::string& cp936) {
  std::string utf8 = rt::utf8_from_cp936(cp936);
  std::printf("demo: %s\n", utf8.c_str());
  std::fflush(stdout);
}

std::string read_program(const char* unix_path) { return e2e::read_all(testsupport::native_path(unix_path)); }

TEST(DemoTest, InstallsTheDemoApplicationClickingThroughThenUninstallsIt) {
  const std::string name = "演示程序";
  std::string dir = testsupport::binary_dir() + "\\demo";
  CreateDirectoryA(dir.c_str(), nullptr);

  // The package: what a publisher ships.
  std::vector<testsupport::ZipEntrySpec> entries;
  entries.push_back({.name = reinterpret_cast<const char*>(u8"{app}/演示程序.exe"),
                     .data = read_program(DEMOAPP_EXE_PATH),
                     .deflate = true,
                     .utf8 = true});
#ifdef UNINST_EXE_PATH
  entries.push_back({.name = "{app}/uninst.exe", .data = read_program(UNINST_EXE_PATH), .deflate = true});
#endif
  entries.push_back({.name = reinterpret_cast<const char*>(u8"{app}/说明.txt"),
                     .data = "演示程序 1.0.0\r\n",
                     .deflate = true,
                     .utf8 = true});
  std::string package = testsupport::make_zip(entries);
  e2e::Config config = {{"softname", name},          {"softversion", "1.0.0"},
                        {"urlremote", ""},           {"urlfull", ""},
                        {"framework", ""},           {"mainfile", name + ".exe"},
                        {"installtype", "disk"},     {"companyname", "Tarnel 示例"},
                        {"companyurl", "http://127.0.0.1/"}, {"protocol", "http://127.0.0.1/agreement"}};
  std::string exe = e2e::make_installer(dir, e2e::config_json(config), &package);
  ASSERT_FALSE(exe.empty());
  say("installer made: " + exe);

  Installer setup(exe);
  ASSERT_TRUE(setup.ok());
  setup.shot("demo-1-home.png");
  setup.press("自定义安装");
  ASSERT_TRUE(setup.wait_page(1, 5000));
  setup.release("自定义安装");
  std::string target = setup.text("安装目录");
  setup.shot("demo-2-custom.png");
  say("installing into " + target);
  setup.click("立即安装2");
  ASSERT_TRUE(setup.wait_page(3, 60000));
  setup.shot("demo-3-finished.png");

  std::string main_file = target + "\\" + name + ".exe";
  EXPECT_TRUE(e2e::path_exists(main_file));
  say("installed: " + main_file);
  say("installed: " + target + "\\说明.txt");
  // Shortcuts and the uninstall entry follow the finish page.
  e2e::wait_until(
      [&] {
        wchar_t programs[MAX_PATH] = {};
        SHGetSpecialFolderPathW(nullptr, programs, CSIDL_PROGRAMS, FALSE);
        return e2e::path_exists(rt::cp936_from_wchar(programs) + "\\" + name + ".lnk");
      },
      20000);
  Sleep(1000);

  // The finish button starts the application; the installer ends.
  setup.click("安装完成");
  EXPECT_TRUE(setup.wait_exit(20000));
  HWND app = nullptr;
  e2e::wait_until(
      [&] {
        std::wstring caption = rt::wide_path(name + " 版本 1.0.0");
        app = FindWindowW(L"TarnelDemoApp", caption.c_str());
        return app != nullptr;
      },
      20000);
  ASSERT_NE(app, nullptr) << "the installed application did not start";
  Sleep(500);
  e2e::screenshot(app, e2e::screenshot_dir() + "\\demo-4-application.png");
  say("the installed application runs: " + e2e::window_text(app));
  PostMessageW(app, WM_CLOSE, 0, 0);
  Sleep(500);

#ifdef UNINST_EXE_PATH
  // Uninstall without questions, as a script would.
  e2e::Process uninstall = e2e::Process::start(target + "\\uninst.exe", "/S");
  DWORD code = 1;
  EXPECT_TRUE(uninstall.wait(60000, &code));
  EXPECT_EQ(code, 0u);
  EXPECT_TRUE(e2e::wait_until([&] { return !e2e::path_exists(target); }, 30000)) << target << " is still there";
  say(e2e::path_exists(target) ? "uninstall left " + target : "uninstalled: nothing left in " + target);
#endif
  say("screenshots: " + e2e::screenshot_dir());
}

}  // namespace
