// The main job, as a person would do it: the demo installer that the
// publisher's tools made (examples/demo/make-installer.sh: mkinstaller pack,
// then mkinstaller build) run under Wine, clicked through page by page, the
// installed application started; then uninstalled with its uninst.exe, and
// nothing of it left. Prints what it did and where the screenshots are.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "installer/platform/launch.h"
#include "installer/platform/registry.h"
#include "installer/steps/uninstall_entry.h"
#include "runtime/value/codepage.h"
#include "tests/e2e/support/installer_fixture.h"
#include "tests/support/paths.h"

namespace {

using e2e::Installer;

constexpr DWORD kWait = 60000;

void say(const std::string& cp936) {
  std::string utf8 = rt::utf8_from_cp936(cp936);
  std::printf("demo: %s\n", utf8.c_str());
  std::fflush(stdout);
}

// Every file below a folder (code page 936 paths), folders first.
void list_files(const std::string& dir, std::vector<std::string>* out) {
  WIN32_FIND_DATAW found;
  HANDLE h = FindFirstFileW((rt::wide_path(dir) + L"\\*").c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return;
  std::vector<std::string> folders;
  do {
    std::string name = rt::cp936_from_wchar(found.cFileName);
    if (name == "." || name == "..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      folders.push_back(dir + "\\" + name);
    else
      out->push_back(dir + "\\" + name);
  } while (FindNextFileW(h, &found));
  FindClose(h);
  for (const std::string& f : folders) list_files(f, out);
}

// Removes a folder and everything in it.
void remove_tree(const std::string& dir) {
  std::wstring from = rt::wide_path(dir) + L'\0';  // a list of names, ended by an empty one
  SHFILEOPSTRUCTW op{};
  op.wFunc = FO_DELETE;
  op.pFrom = from.c_str();
  op.fFlags = FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI;
  SHFileOperationW(&op);
}

TEST(DemoTest, InstallsTheDemoApplicationClickingThroughThenUninstallsIt) {
  const std::string name = "演示程序";
  const std::string exe = testsupport::native_path(DEMO_INSTALLER_PATH);
  ASSERT_TRUE(e2e::path_exists(exe)) << "no " << DEMO_INSTALLER_PATH
                                     << ": the demo_installer test makes it (examples/demo/make-installer.sh)";
  const std::string desktop_link = installer::special_folder(installer::kFolderDesktop).str() + name + ".lnk";
  const std::string programs_link = installer::special_folder(installer::kFolderPrograms).str() + name + ".lnk";
  const rt::Text entry = installer::uninstall_key_path(installer::is_64bit_windows(), rt::Text(name));
  auto entry_exists = [&] { return installer::registry_key_exists(installer::kLocalMachine, entry); };

  say("running " + exe);
  Installer setup(exe);
  ASSERT_TRUE(setup.ok()) << "the installer window did not show";
  EXPECT_EQ(e2e::window_text(setup.window()), name);
  setup.shot("demo-1-home.png");
  setup.press("自定义安装");
  ASSERT_TRUE(setup.wait_page(1, 5000));
  setup.release("自定义安装");
  const std::string target = setup.text("安装目录");
  if (e2e::path_exists(target) || entry_exists()) {
    // What an earlier run that failed left in the prefix would be kept as
    // not this installation's own.
    say("removing what an earlier run left: " + target);
    remove_tree(target);
    DeleteFileW(rt::wide_path(desktop_link).c_str());
    DeleteFileW(rt::wide_path(programs_link).c_str());
    installer::registry_delete_tree(installer::kLocalMachine, entry);
  }
  EXPECT_TRUE(setup.checked("快捷方式")) << "the desktop shortcut is ticked by default";
  setup.shot("demo-2-custom.png");
  say("installing into " + target);
  setup.click("立即安装2");
  ASSERT_TRUE(setup.wait_page(3, kWait)) << "no finish page; page " << setup.page();
  setup.shot("demo-3-finished.png");

  std::vector<std::string> files;
  list_files(target, &files);
  for (const std::string& f : files) say("installed " + f);
  EXPECT_TRUE(e2e::path_exists(target + "\\" + name + ".exe"));
  EXPECT_TRUE(e2e::path_exists(target + "\\uninst.exe")) << "mkinstaller pack adds the uninstaller";
  // Shortcuts and the uninstall entry follow the finish page.
  EXPECT_TRUE(e2e::wait_until(
      [&] { return e2e::path_exists(desktop_link) && e2e::path_exists(programs_link) && entry_exists(); }, 20000));
  say("shortcuts " + desktop_link + ", " + programs_link);
  say("uninstall entry HKLM\\" + entry.str());

  // The finish button starts the application; the installer ends.
  setup.click("安装完成");
  EXPECT_TRUE(setup.wait_exit(20000));
  HWND app = nullptr;
  std::wstring caption = rt::wide_path(name + " 版本 1.0.0");
  e2e::wait_until([&] { return (app = FindWindowW(L"TarnelDemoApp", caption.c_str())) != nullptr; }, 20000);
  ASSERT_NE(app, nullptr) << "the installed application did not start";
  Sleep(500);
  e2e::screenshot(app, e2e::screenshot_dir() + "\\demo-4-application.png");
  say("the installed application runs: " + e2e::window_text(app));
  PostMessageW(app, WM_CLOSE, 0, 0);
  e2e::wait_until([&] { return !IsWindow(app); }, 20000);

  // Uninstalled as Windows' list of programs starts it: uninst.exe, asked once.
  e2e::Process uninstall = e2e::Process::start(target + "\\uninst.exe", "", target);
  ASSERT_TRUE(uninstall.started());
  std::string question = e2e::answer_prompt(uninstall, true, "demo-5-uninstall");
  EXPECT_NE(question.find("确定要卸载“" + name + "”"), std::string::npos) << rt::utf8_from_cp936(question);
  std::string result = e2e::answer_prompt(uninstall, true, "demo-6-uninstalled");
  say("uninstaller: " + result);
  DWORD code = 99;
  EXPECT_TRUE(uninstall.wait(kWait, &code));
  EXPECT_EQ(code, 0u);

  // Nothing left: the folder goes once the uninstaller has ended.
  EXPECT_TRUE(e2e::wait_until([&] { return !e2e::path_exists(target); }, kWait)) << target << " is still there";
  EXPECT_FALSE(e2e::path_exists(desktop_link));
  EXPECT_FALSE(e2e::path_exists(programs_link));
  EXPECT_FALSE(entry_exists());
  int left = 0;
  for (const std::string& f : files) left += e2e::path_exists(f);
  say(std::string(e2e::path_exists(target) ? "left: " : "gone: ") + target + " (" + std::to_string(files.size()) +
      " files, " + std::to_string(left) + " left)");
  say(std::string(e2e::path_exists(desktop_link) || e2e::path_exists(programs_link) ? "left: " : "gone: ") +
      "both shortcuts");
  say(std::string(entry_exists() ? "left: " : "gone: ") + "the uninstall entry");
}

}  // namespace
