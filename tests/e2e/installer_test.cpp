// The installer as a person uses it: configured installers made from
// setup.exe, run under Wine, clicked through, and what they leave checked.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>

#include "installer/format/cipher.h"
#include "installer/steps/host.h"
#include "installer/platform/windows_version.h"
#include "installer/setup/command_line.h"
#include "runtime/value/codepage.h"
#include "tests/e2e/support/installer_fixture.h"
#include "tests/support/paths.h"
#include "tests/support/zip_writer.h"

namespace {

using e2e::Installer;
using testsupport::ZipEntrySpec;

using e2e::kNetworkMessage;

std::string special(int csidl) {
  wchar_t buf[MAX_PATH] = {};
  SHGetSpecialFolderPathW(nullptr, buf, csidl, FALSE);
  return rt::cp936_from_wchar(buf);
}

// Where the installer proposes to install: the roaming application data from
// Windows 8 on, the program files before.
std::string default_folder() {
  return installer::windows_version_code() > 9 ? special(CSIDL_APPDATA) : special(CSIDL_PROGRAM_FILES);
}

std::string marker_program() { return e2e::read_all(testsupport::native_path(MARKER_EXE_PATH)); }

// A package as publishers make it: the main program, the uninstaller, a
// folder, a file with a Chinese name (UTF-8 flagged, as Linux tools write it).
std::string demo_package() {
  std::string marker = marker_program();
  std::vector<ZipEntrySpec> entries;
  entries.push_back({.name = "{app}/Demo.exe", .data = marker, .deflate = true});
  entries.push_back({.name = "{app}/uninst.exe", .data = marker, .deflate = true});
  entries.push_back({.name = "{app}/data/", .data = "", .external_attributes = 0x10});
  entries.push_back({.name = "{app}/data/readme.txt", .data = "hello\r\n", .deflate = true});
  entries.push_back({.name = reinterpret_cast<const char*>(u8"{app}/文档/说明.txt"), .data = "说明", .utf8 = true});
  return testsupport::make_zip(entries);
}

e2e::Config disk_config(const std::string& name) {
  return {{"softname", name},       {"softversion", "1.2.3"}, {"urlremote", ""},
          {"urlfull", ""},          {"framework", ""},        {"mainfile", "Demo.exe"},
          {"installtype", "disk"},  {"companyname", "示例公司"}, {"companyurl", "http://127.0.0.1/"},
          {"protocol", "http://127.0.0.1/agreement"}};
}

// The finish page; a message box shown on the way (its text) is the failure.
testing::AssertionResult reaches_finish_page(Installer& setup) {
  std::string message;
  if (e2e::wait_until(
          [&] {
            if (message.empty()) message = setup.answer_message_box(100);
            return setup.visible("安装完成");
          },
          60000))
    return testing::AssertionSuccess();
  return testing::AssertionFailure() << "no finish page: " << rt::utf8_from_cp936(message);
}

class InstallerTest : public testing::Test {
 protected:
  void SetUp() override { dir_ = testsupport::scratch_dir("e2e-installer"); }
  std::string dir_;
};

TEST_F(InstallerTest, DiskInstallWithDefaultSettingsInstallsRegistersAndStartsTheApplication) {
  // Not the demo's name: both install into the same default folder of the prefix.
  const std::string name = "安装测试";
  std::string package = demo_package();
  std::string exe = e2e::make_installer(dir_, e2e::config_json(disk_config(name)), &package);
  ASSERT_FALSE(exe.empty());

  Installer setup(exe);
  ASSERT_TRUE(setup.ok()) << "the installer window did not show";
  EXPECT_EQ(e2e::window_text(setup.window()), name);
  EXPECT_EQ(setup.text("标签_软件名称"), name);
  EXPECT_EQ(setup.page(), 0);
  EXPECT_TRUE(setup.visible("图片框1"));
  std::string target = setup.text("安装目录");
  EXPECT_EQ(target, default_folder() + "\\" + name);
  setup.shot("page0-home.png");

  setup.click("立即安装");
  ASSERT_TRUE(setup.wait_page(3, 60000)) << "no finish page; page " << setup.page();
  setup.shot("page3-finished.png");

  EXPECT_EQ(e2e::read_all(target + "\\data\\readme.txt"), "hello\r\n");
  EXPECT_EQ(e2e::read_all(target + "\\文档\\说明.txt"), "说明");
  EXPECT_FALSE(e2e::path_exists(dir_ + "\\app.zip")) << "the package was not deleted";

  // The installed-file list, decrypted from the uninstaller's resource.
  std::wstring uninst = rt::wide_path(target + "\\uninst.exe");
  HMODULE module = LoadLibraryExW(uninst.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);
  HRSRC res = FindResourceW(module, L"LIST", L"INSTALL");
  ASSERT_NE(res, nullptr);
  rt::Bytes data(LockResource(LoadResource(module, res)), SizeofResource(module, res));
  FreeLibrary(module);
  std::string list = installer::decrypt_record(data, "Tarnel", true).str();
  // The installation's name and scope (none: the older layout) come first:
  // the uninstaller knows its own installation from them.
  EXPECT_EQ(list, "|name=" + name + "\r\n|scope=\r\n" + target + "\\Demo.exe\r\n" + target + "\\uninst.exe\r\n" + target +
                      "\\data\\\r\n" + target + "\\data\\readme.txt\r\n" + target + "\\文档\\说明.txt\r\n");

  // Shortcuts and the uninstall entry come after the finish page shows.
  std::string desktop_link = special(CSIDL_DESKTOPDIRECTORY) + "\\" + name + ".lnk";
  std::string menu_link = special(CSIDL_PROGRAMS) + "\\" + name + ".lnk";
  EXPECT_TRUE(e2e::wait_until([&] { return e2e::path_exists(desktop_link) && e2e::path_exists(menu_link); }, 20000));
  std::wstring key = rt::wide_path("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarnel" + name);
  bool registered = e2e::wait_until(
      [&] {
        HKEY k;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
        RegCloseKey(k);
        return true;
      },
      20000);
  EXPECT_TRUE(registered);

  // The finish button starts the application and ends the installer.
  setup.click("安装完成");
  DWORD code = 1;
  EXPECT_TRUE(setup.wait_exit(20000, &code));
  EXPECT_TRUE(e2e::wait_until([&] { return e2e::path_exists(target + "\\Demo.exe.ran"); }, 20000))
      << "the main file was not started";
}

TEST_F(InstallerTest, CustomPageInstallsIntoTheTypedFolderWithoutDesktopShortcut) {
  const std::string name = "自定义测试";
  std::string package = demo_package();
  std::string exe = e2e::make_installer(dir_, e2e::config_json(disk_config(name)), &package);
  Installer setup(exe);
  ASSERT_TRUE(setup.ok());

  // The custom page opens on the press, not the release.
  setup.press("自定义安装");
  ASSERT_TRUE(setup.wait_page(1, 5000));
  EXPECT_FALSE(setup.visible("图片框1"));
  setup.release("自定义安装");
  setup.shot("page1-custom.png");

  // Back and forth: the back link acts on release.
  setup.press("返回首页");
  Sleep(200);
  EXPECT_EQ(setup.page(), 1);
  setup.release("返回首页");
  ASSERT_TRUE(setup.wait_page(0, 5000));
  EXPECT_TRUE(setup.visible("图片框1"));
  setup.press("自定义安装");
  ASSERT_TRUE(setup.wait_page(1, 5000));
  setup.release("自定义安装");

  // 浏览: the folder chosen gets the software's own folder inside it, unless
  // it already is that folder (tests/unit/controller_win_test.cpp has the
  // rule's cases). The dialog opens on the box's folder; Wine's sometimes
  // settles on one of its parents, so only the appended name is checked.
  ASSERT_TRUE(CreateDirectoryW(rt::wide_path(dir_ + "\\" + name).c_str(), nullptr));
  auto ends_with = [](const std::string& s, const std::string& end) {
    return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
  };
  for (const std::string& start : {dir_, dir_ + "\\" + name}) {
    setup.set_text("安装目录", start);
    setup.click("浏览");
    HWND dialog = e2e::wait_message_box(setup.process().pid(), 20000);
    ASSERT_NE(dialog, nullptr) << "no folder dialog";
    Sleep(500);
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(e2e::wait_until([&] { return !IsWindow(dialog); }, 10000));
    EXPECT_TRUE(e2e::wait_until([&] { return setup.text("安装目录") != start || start != dir_; }, 5000));
    std::string box = setup.text("安装目录");
    EXPECT_TRUE(ends_with(box, "\\" + name)) << box;
    EXPECT_FALSE(ends_with(box, "\\" + name + "\\" + name)) << box;
  }

  std::string chosen = dir_ + "\\安装到这里";
  setup.set_text("安装目录", chosen);
  setup.click("快捷方式");
  EXPECT_FALSE(setup.checked("快捷方式"));
  setup.click("立即安装2");
  ASSERT_TRUE(setup.wait_page(3, 60000));
  EXPECT_EQ(e2e::read_all(chosen + "\\data\\readme.txt"), "hello\r\n");
  EXPECT_TRUE(e2e::wait_until([&] { return e2e::path_exists(special(CSIDL_PROGRAMS) + "\\" + name + ".lnk"); }, 20000));
  Sleep(500);
  EXPECT_FALSE(e2e::path_exists(special(CSIDL_DESKTOPDIRECTORY) + "\\" + name + ".lnk"));
  setup.process().kill();
}

TEST_F(InstallerTest, ClearedAgreementAsksAndReturnsHomeWithoutInstalling) {
  std::string package = demo_package();
  std::string exe = e2e::make_installer(dir_, e2e::config_json(disk_config("协议测试")), &package);
  Installer setup(exe);
  ASSERT_TRUE(setup.ok());
  std::string target = setup.text("安装目录");
  setup.click("许可协议");
  EXPECT_FALSE(setup.checked("许可协议"));
  setup.click("立即安装");
  HWND prompt = setup.prompt(10000);
  ASSERT_NE(prompt, nullptr);
  EXPECT_EQ(e2e::window_text(e2e::wait_unit(prompt, "信息标签", 5000)), "请阅读并选中用户使用协议！");
  e2e::screenshot(prompt, e2e::screenshot_dir() + "\\prompt.png");
  setup.answer_prompt(true);
  EXPECT_TRUE(setup.wait_page(0, 5000));
  EXPECT_TRUE(setup.visible("图片框1"));
  Sleep(500);
  EXPECT_FALSE(e2e::path_exists(target));
  EXPECT_TRUE(e2e::path_exists(dir_ + "\\setup.exe"));
  EXPECT_FALSE(e2e::path_exists(dir_ + "\\app.zip"));
  setup.process().kill();
}

TEST_F(InstallerTest, CloseButtonAsksAndClosesOnlyOnOk) {
  std::string exe = e2e::make_installer(dir_, e2e::config_json(disk_config("关闭测试")), nullptr);
  Installer setup(exe);
  ASSERT_TRUE(setup.ok());
  setup.click("关闭");
  HWND prompt = setup.prompt(10000);
  ASSERT_NE(prompt, nullptr);
  EXPECT_EQ(e2e::window_text(e2e::wait_unit(prompt, "信息标签", 5000)),
            "安装尚未开始，点击确定后取消安装，点击取消后继续安装。");
  setup.answer_prompt(false);
  Sleep(500);
  EXPECT_FALSE(setup.wait_exit(0));
  EXPECT_TRUE(IsWindow(setup.window()));

  setup.click("关闭");
  setup.answer_prompt(true);
  DWORD code = 1;
  EXPECT_TRUE(setup.wait_exit(20000, &code));
}

TEST_F(InstallerTest, PackageThatIsNoZipArchiveEndsOnTheFailurePageAndReinstallStartsAgain) {
  std::string not_zip(5000, 'x');
  std::string exe = e2e::make_installer(dir_, e2e::config_json(disk_config("坏包测试")), &not_zip);
  Installer setup(exe);
  ASSERT_TRUE(setup.ok());
  std::string target = dir_ + "\\坏包目标";  // fresh: the prefix outlives test runs
  setup.set_text("安装目录", target);
  setup.click("立即安装");
  EXPECT_EQ(setup.answer_message_box(60000), installer::kDamagedPackageMessage);
  ASSERT_TRUE(setup.wait_page(4, 20000));
  setup.shot("page4-failure.png");
  EXPECT_FALSE(e2e::path_exists(target + "\\uninst.exe"));
  EXPECT_FALSE(e2e::path_exists(target)) << "the folder this run made is taken back";

  // The reinstall button runs a whole new sequence, which fails the same way.
  setup.click("重新安装");
  EXPECT_EQ(setup.answer_message_box(60000), installer::kDamagedPackageMessage);
  EXPECT_TRUE(setup.wait_page(4, 20000));
  setup.process().kill();
}

TEST_F(InstallerTest, EmptyArchiveIsAValidPackageAndEndsOnTheFinishPage) {
  std::string empty = testsupport::empty_zip();
  ASSERT_EQ(empty.size(), 22u);
  std::string exe = e2e::make_installer(dir_, e2e::config_json(disk_config("空包测试")), &empty);
  Installer setup(exe);
  ASSERT_TRUE(setup.ok());
  std::string target = setup.text("安装目录");
  setup.click("立即安装");
  EXPECT_TRUE(setup.wait_page(3, 60000)) << "page " << setup.page();
  EXPECT_TRUE(e2e::path_exists(target));  // made by the install button
  EXPECT_FALSE(e2e::path_exists(dir_ + "\\app.zip"));
  setup.process().kill();
}

// A record that cannot be read is a damaged installer. Its window shows
// only its name, "安装程序已损坏", and a message box it owns says the whole
// message, fitting its box; meanwhile the window takes no input, its install
// controls are not shown, and a click that reaches them anyway starts
// nothing. 确定 ends the installer, which read, unpacked and deleted nothing
// (not an app.zip that happens to lie beside it).
TEST_F(InstallerTest, UnreadableRecordSaysTheInstallerIsDamagedOffersNothingAndCloses) {
  std::string exe =
      e2e::make_installer(dir_, e2e::config_json(disk_config("另一个口令")), nullptr, "setup.exe", nullptr, "Other");
  std::string beside = testsupport::empty_zip();
  testsupport::write_file(dir_ + "\\app.zip", beside);
  Installer setup(exe);
  ASSERT_TRUE(setup.ok());
  HWND box = e2e::wait_message_box(setup.process().pid(), 20000);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(e2e::message_box_text(box), installer::kDamagedInstallerMessage);
  EXPECT_EQ(GetWindow(box, GW_OWNER), setup.window());
  EXPECT_TRUE(e2e::text_fits(GetDlgItem(box, 0xFFFF), e2e::message_box_font()));
  setup.shot("damaged-installer.png");
  EXPECT_EQ(e2e::window_text(setup.window()), "安装程序已损坏");
  EXPECT_EQ(setup.text("标签_软件名称"), "安装程序已损坏");
  LOGFONTW name_font{.lfHeight = -29, .lfWeight = FW_NORMAL, .lfCharSet = DEFAULT_CHARSET};
  lstrcpyW(name_font.lfFaceName, rt::wide_path("微软雅黑").c_str());
  EXPECT_TRUE(e2e::text_fits(setup.unit("标签_软件名称"), name_font));

  EXPECT_FALSE(IsWindowEnabled(setup.window()));
  for (const char* unit : {"立即安装", "自定义安装", "许可协议"}) EXPECT_FALSE(setup.visible(unit)) << unit;
  setup.click("立即安装");
  setup.press("自定义安装");
  Sleep(1000);
  EXPECT_EQ(setup.page(), -1) << "a page with an action showed";
  int boxes = 0;
  for (HWND h : e2e::top_windows(setup.process().pid())) boxes += GetWindow(h, GW_OWNER) == setup.window();
  EXPECT_EQ(boxes, 1) << "something else showed";

  PostMessageW(box, WM_COMMAND, IDOK, 0);
  DWORD code = 0;
  EXPECT_TRUE(setup.wait_exit(20000, &code));
  EXPECT_EQ(code, DWORD(installer::kSetupDamaged));
  EXPECT_EQ(e2e::read_all(dir_ + "\\app.zip"), beside);
}

// The prompts a person may dismiss instead of answering: the close question
// closed with Alt+F4 after an earlier "确定" (on the agreement prompt) is no
// answer; two close requests at once (a double click on 关闭, a close from
// outside) show one question, and its answer is the only one taken.
TEST_F(InstallerTest, OnlyOkAnswersAndTwoClosesAskOnce) {
  std::string exe = e2e::make_installer(dir_, e2e::config_json(disk_config("提问测试")), nullptr);
  Installer setup(exe);
  ASSERT_TRUE(setup.ok());
  auto prompts = [&] {
    int n = 0;
    for (HWND h : e2e::top_windows(setup.process().pid())) n += e2e::find_unit(h, "信息标签") != nullptr;
    return n;
  };
  setup.click("许可协议");
  setup.click("立即安装");
  setup.answer_prompt(true);
  ASSERT_TRUE(setup.wait_page(0, 5000));

  PostMessageW(setup.window(), WM_CLOSE, 0, 0);
  HWND prompt = setup.prompt(10000);
  ASSERT_NE(prompt, nullptr);
  EXPECT_EQ(e2e::window_text(e2e::wait_unit(prompt, "信息标签", 5000)),
            "安装尚未开始，点击确定后取消安装，点击取消后继续安装。");
  PostMessageW(prompt, WM_SYSCOMMAND, SC_CLOSE, 0);  // what Alt+F4 and the window menu send
  EXPECT_TRUE(e2e::wait_until([&] { return !IsWindow(prompt); }, 10000));
  EXPECT_FALSE(setup.wait_exit(1000)) << "a dismissed question ended the installer";

  for (bool ok : {false, true}) {
    PostMessageW(setup.window(), WM_CLOSE, 0, 0);
    PostMessageW(setup.window(), WM_CLOSE, 0, 0);
    ASSERT_NE(setup.prompt(10000), nullptr);
    Sleep(1000);
    EXPECT_EQ(prompts(), 1);
    EXPECT_FALSE(setup.wait_exit(0)) << "ended without an answer";
    setup.answer_prompt(ok);
    Sleep(1000);
    EXPECT_EQ(prompts(), 0) << "the second request asked again";
  }
  DWORD code = 0;
  EXPECT_TRUE(setup.wait_exit(20000, &code));
  EXPECT_EQ(code, DWORD(installer::kSetupCancelled)) << "nothing was installed";
}

std::wstring entry_text(const std::string& name, const wchar_t* value) {
  std::wstring key = rt::wide_path("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarnel" + name);
  wchar_t data[1024] = {};
  DWORD size = sizeof data - 2;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), value, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
    return L"(none)";
  return data;
}

// The finish button pressed the instant the finish page shows, twenty times
// over the same folder (each a reinstall over the last): the main file
// starts, the installer ends with 0, and the entry and both shortcuts are
// always there and right.
TEST_F(InstallerTest, FinishPressedTheInstantItShowsNeverLosesShortcutsOrEntry) {
  const std::string name = "完成测试";
  std::string package = demo_package();
  std::string exe = e2e::make_installer(dir_, e2e::config_json(disk_config(name)), &package);
  std::string target = default_folder() + "\\" + name;
  std::string links[] = {special(CSIDL_DESKTOPDIRECTORY) + "\\" + name + ".lnk",
                         special(CSIDL_PROGRAMS) + "\\" + name + ".lnk"};
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    DeleteFileW(rt::wide_path(target + "\\Demo.exe.ran").c_str());
    Installer setup(exe);
    ASSERT_TRUE(setup.ok());
    setup.click("立即安装");
    ASSERT_TRUE(reaches_finish_page(setup));
    setup.click("安装完成");
    DWORD code = 99;
    ASSERT_TRUE(setup.wait_exit(30000, &code));
    EXPECT_EQ(code, 0u);
    for (const std::string& link : links) EXPECT_TRUE(e2e::path_exists(link)) << link;
    EXPECT_EQ(entry_text(name, L"UninstallString"), rt::wide_path("\"" + target + "\\uninst.exe\""));
    EXPECT_EQ(entry_text(name, L"InstallLocation"), rt::wide_path(target));
    EXPECT_EQ(entry_text(name, L"DisplayIcon"), rt::wide_path("\"" + target + "\\Demo.exe\""));
    EXPECT_TRUE(e2e::wait_until([&] { return e2e::path_exists(target + "\\Demo.exe.ran"); }, 20000));
    if (HasFatalFailure() || HasFailure()) break;
  }
}

// An upgrade records the earlier version's files too: uninstalling after
// version 2 over version 1 leaves nothing of either. Both carry a read-only
// file in a subfolder, which the second run replaces because the first
// run's list names it (written "data\ro.txt", named "data/ro.txt").
TEST_F(InstallerTest, VersionTwoOverVersionOneThenUninstallLeavesNothing) {
  const std::string name = "升级测试";
  std::string marker = marker_program();
  std::string uninst = e2e::read_all(testsupport::native_path(UNINST_EXE_PATH));
  std::string target = default_folder() + "\\" + name;
  const std::vector<std::vector<std::string>> versions = {{"old.dll", "v1\\a.txt", "both.txt"},
                                                          {"new.dll", "both.txt"}};
  for (const auto& files : versions) {
    std::vector<ZipEntrySpec> entries = {
        {.name = "{app}/Demo.exe", .data = marker},
        {.name = "{app}/uninst.exe", .data = uninst},
        {.name = "{app}/data/ro.txt", .data = files[0], .external_attributes = FILE_ATTRIBUTE_READONLY}};
    for (std::string f : files) {
      for (char& c : f)
        if (c == '\\') c = '/';
      entries.push_back({.name = "{app}/" + f, .data = f});
    }
    std::string package = testsupport::make_zip(entries);
    std::string exe = e2e::make_installer(dir_, e2e::config_json(disk_config(name)), &package);
    Installer setup(exe);
    ASSERT_TRUE(setup.ok());
    setup.click("立即安装");
    ASSERT_TRUE(reaches_finish_page(setup));
    setup.click("安装完成");
    DWORD code = 99;
    ASSERT_TRUE(setup.wait_exit(30000, &code));
    EXPECT_EQ(code, 0u);
    // What the started program wrote is its own, not the installation's.
    EXPECT_TRUE(e2e::remove_mark(target + "\\Demo.exe.ran"));
  }
  for (const char* f : {"old.dll", "v1\\a.txt", "new.dll"}) EXPECT_TRUE(e2e::path_exists(target + "\\" + f)) << f;
  EXPECT_EQ(e2e::read_all(target + "\\data\\ro.txt"), "new.dll");
  e2e::Process uninstaller = e2e::Process::start(target + "\\uninst.exe", "/S");
  DWORD code = 99;
  ASSERT_TRUE(uninstaller.wait(60000, &code));
  EXPECT_EQ(code, 0u);
  EXPECT_TRUE(e2e::wait_until([&] { return !e2e::path_exists(target); }, 60000)) << "something of a version is left";
  EXPECT_EQ(entry_text(name, L"UninstallString"), L"(none)");
  EXPECT_FALSE(e2e::path_exists(special(CSIDL_PROGRAMS) + "\\" + name + ".lnk"));
}

}  // namespace
