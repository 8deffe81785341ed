// setup.exe as an administrator deploys it: /S with a folder and a log, an
// upgrade and the uninstaller's /S after it, a refusing server, arguments
// nobody can use, and the window's own road with /LOG= and /D=. An
// unattended run never shows a window, and its exit code says how it ended.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "installer/setup/command_line.h"
#include "installer/uninstaller/uninstall.h"
#include "runtime/value/codepage.h"
#include "tests/e2e/support/installer_fixture.h"
#include "tests/support/dotnet_url.h"
#include "tests/support/http_servers.h"
#include "tests/support/paths.h"
#include "tests/support/windows_win.h"
#include "tests/support/zip_writer.h"

namespace {

using e2e::Installer;
using testsupport::ZipEntrySpec;

constexpr DWORD kWait = 90000;

std::string package(const std::string& version) {
  return testsupport::make_zip({
      {.name = "{app}/Demo.exe", .data = e2e::read_all(testsupport::native_path(MARKER_EXE_PATH))},
      {.name = "{app}/uninst.exe", .data = e2e::read_all(testsupport::native_path(UNINST_EXE_PATH))},
      {.name = "{app}/ver.txt", .data = version},
      {.name = "{app}/数据/说明.txt", .data = std::string(30000, 'q'), .deflate = true},
  });
}

e2e::Config config(const std::string& name, const std::string& version, const std::string& scope) {
  e2e::Config c = {{"softname", name},      {"softversion", version}, {"urlremote", ""},
                   {"urlfull", ""},         {"framework", ""},        {"mainfile", "Demo.exe"},
                   {"installtype", "disk"}, {"companyname", "示例"},   {"companyurl", ""},
                   {"protocol", "http://127.0.0.1/agreement"}};
  if (!scope.empty()) c.push_back({"scope", scope});
  return c;
}

std::string entry_value(const std::string& name, const char* value) {
  std::wstring key = rt::wide_path("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarnel" + name);
  wchar_t data[1024] = {};
  DWORD size = sizeof data - sizeof(wchar_t);
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
    if (RegGetValueW(root, key.c_str(), rt::wide_path(value).c_str(), RRF_RT_REG_SZ, nullptr, data, &size) ==
        ERROR_SUCCESS)
      return rt::cp936_from_wchar(data);
  return "(none)";
}

// Runs a program to its end; *windows counts the visible windows it showed.
DWORD run(const std::string& exe, const std::string& args, int* windows) {
  e2e::Process p = e2e::Process::start(exe, args);
  EXPECT_TRUE(p.started()) << exe;
  DWORD code = 999;
  bool ended = e2e::wait_until(
      [&] {
        *windows += int(e2e::top_windows(p.pid()).size());
        return p.wait(0, &code);
      },
      kWait);
  EXPECT_TRUE(ended) << args;
  return code;
}

// The log as text, code page 936 (it is written in UTF-8).
std::string read_log(const std::string& path) { return rt::cp936_from_utf8(e2e::read_all(path)); }

class UnattendedTest : public testing::Test {
 protected:
  void SetUp() override { dir_ = testsupport::scratch_dir("e2e-unattended"); }
  std::string dir_;
};

// A first installation into a folder with spaces, an upgrade that stays in
// that folder, and the uninstaller: all without a window, each logged.
TEST_F(UnattendedTest, InstallUpgradeAndUninstallWithAFolderAndALogAndNoWindow) {
  const std::string name = "静默 安装";
  std::string v1 = package("1.0"), v2 = package("2.0");
  std::string setup1 = e2e::make_installer(dir_, e2e::config_json(config(name, "1.0", "machine")), &v1, "setup1.exe");
  std::string setup2 = e2e::make_installer(dir_, e2e::config_json(config(name, "2.0", "machine")), &v2, "setup2.exe");
  // In Program Files: an installation for every user is refused below a
  // folder others may change, which the build tree may lie in (/tmp).
  wchar_t program_files[MAX_PATH] = {};
  GetEnvironmentVariableW(L"ProgramFiles", program_files, MAX_PATH);
  const std::string target = rt::cp936_from_wchar(program_files) + "\\装 到 这里\\Quill Notes";
  const std::string log1 = dir_ + "\\安装 1.log", log2 = dir_ + "\\install2.log", log3 = dir_ + "\\uninstall.log";
  int windows = 0;

  EXPECT_EQ(run(setup1, "/S \"/LOG=" + log1 + "\" /D=" + target, &windows), DWORD(installer::kSetupInstalled));
  EXPECT_EQ(e2e::read_all(target + "\\ver.txt"), "1.0");
  EXPECT_EQ(e2e::read_all(target + "\\数据\\说明.txt").size(), 30000u);
  EXPECT_EQ(entry_value(name, "DisplayVersion"), "1.0");
  EXPECT_EQ(entry_value(name, "InstallLocation"), target);
  std::string log = read_log(log1);
  for (const std::string& line : std::vector<std::string>{
           "Tarnel Setup log", "unattended installation (/S)", "installer of 静默 安装 1.0: install type disk, scope machine",
        ".NET Framework: required none", "folder chosen: " + target, "folder ready: " + target,
        "package carried in the installer, SHA-256 not checked", "package step: entries 4, failed 0, list recorded in " +
        target + "\\uninst.exe", "shortcuts: Start menu and desktop", "uninstall entry: 静默 安装", "end: exit code 0"})
    EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
  // Each line with its time: "2026-12-08 19:30:01.123 ...".
  EXPECT_EQ(log.substr(4, 1) + log.substr(13, 1) + log.substr(19, 1), "-:.") << log;

  // Version 2 without a folder: where version 1 is.
  EXPECT_EQ(run(setup2, "/s /log=" + log2, &windows), DWORD(installer::kSetupInstalled));
  EXPECT_EQ(e2e::read_all(target + "\\ver.txt"), "2.0");
  EXPECT_EQ(entry_value(name, "DisplayVersion"), "2.0");
  EXPECT_NE(read_log(log2).find("folder chosen: " + target), std::string::npos) << read_log(log2);

  EXPECT_EQ(run(target + "\\uninst.exe", "/S /LOG=" + log3, &windows), DWORD(installer::kUninstallDone));
  EXPECT_TRUE(e2e::wait_until([&] { return !e2e::path_exists(target); }, kWait)) << "the folder stays";
  EXPECT_EQ(entry_value(name, "DisplayVersion"), "(none)");
  log = read_log(log3);
  for (const char* line : {"uninstaller of 静默 安装", "installed-file list: files", "removing (/S)", "end: exit code 0"})
    EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
  EXPECT_EQ(windows, 0) << "an unattended run showed a window";
}

// The window's road is the person's, with a log and a folder asked for.
TEST_F(UnattendedTest, TheWindowTakesTheFolderAndWritesTheLogToo) {
  const std::string name = "窗口日志";
  std::string pkg = package("1.0");
  std::string exe = e2e::make_installer(dir_, e2e::config_json(config(name, "1.0", "")), &pkg);
  const std::string target = dir_ + "\\窗口 目录", log = dir_ + "\\window.txt";
  {
    Installer setup(exe, "\"/LOG=" + log + "\" /D=" + target);
    ASSERT_TRUE(setup.ok());
    EXPECT_EQ(setup.text("安装目录"), target);
    setup.click("立即安装");
    ASSERT_TRUE(setup.wait_page(3, kWait));
    setup.click("关闭");
    setup.answer_prompt(true);
    DWORD code = 99;
    ASSERT_TRUE(setup.wait_exit(kWait, &code));
    EXPECT_EQ(code, DWORD(installer::kSetupInstalled));
  }
  std::string text = read_log(log);
  for (const std::string& line : std::vector<std::string>{"folder chosen: " + target, "uninstall entry: " + name,
                                                         "end: exit code 0"})
    EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
  int windows = 0;
  EXPECT_EQ(run(target + "\\uninst.exe", "/S", &windows), DWORD(installer::kUninstallDone));
}

// Every road that installs nothing ends with its own code, nothing shown and
// nothing changed; with the window, a usage error is a box with the usage.
TEST_F(UnattendedTest, EveryRoadThatInstallsNothingHasItsOwnCodeAndLine) {
  std::optional<testsupport::HttpServers> servers = testsupport::http_servers();
  ASSERT_TRUE(servers);
  const std::string name = "无法安装";
  std::string pkg = package("1.0");
  std::string disk = e2e::make_installer(dir_, e2e::config_json(config(name, "1.0", "")), &pkg, "disk.exe");
  e2e::Config net = config(name, "1.0", "");
  net[2].second = "http://127.0.0.1:" + std::to_string(servers->refused_port) + "/app.zip";
  net[6].second = "net";
  net.push_back({"sha256", std::string(64, 'a')});
  // Its download gives up after pauses of milliseconds, not the shipped minute.
  std::string impatient = e2e::read_all(e2e::setup_exe());
  ASSERT_TRUE(testsupport::set_download_patience(impatient, {1000, {50, 100}, 2}));
  ASSERT_TRUE(e2e::write_all(dir_ + "\\impatient.exe", impatient));
  std::string refused = e2e::make_installer(dir_, e2e::config_json(net), nullptr, "net.exe", nullptr, "Tarnel",
                                            dir_ + "\\impatient.exe");
  std::string damaged = e2e::make_installer(dir_, "not a record", nullptr, "damaged.exe");
  const std::string target = dir_ + "\\目标";
  const std::string log = dir_ + "\\road.log";
  const struct {
    std::string exe, args;
    int code;
    std::string line;
  } roads[] = {
      {refused, "/S /D=" + target, installer::kSetupFailed, "failed: 检测到网络异常"},
      {damaged, "/S /D=" + target, installer::kSetupDamaged, "failed: 安装程序已损坏"},
      {disk, "/S /X /D=" + target, installer::kSetupUsage, "unknown or malformed argument: /X"},
      {disk, "/S /D=relative\\folder", installer::kSetupUsage, "unknown or malformed argument: /D=relative\\folder"},
  };
  int windows = 0;
  for (const auto& road : roads) {
    SCOPED_TRACE(road.args);
    EXPECT_EQ(run(road.exe, "/LOG=" + log + " " + road.args, &windows), DWORD(road.code));
    const std::string text = read_log(log);
    EXPECT_NE(text.find(road.line), std::string::npos) << text;
    EXPECT_NE(text.find("end: exit code " + std::to_string(road.code)), std::string::npos) << text;
    EXPECT_FALSE(e2e::path_exists(target));
    EXPECT_EQ(entry_value(name, "DisplayVersion"), "(none)");
  }
  // A log that would replace a program, a file that is no log of ours, and
  // a link planted under the log's name (to a log of ours, elsewhere).
  ASSERT_TRUE(e2e::write_all(dir_ + "\\notes.txt", "the person's own"));
  CreateDirectoryW(rt::wide_path(dir_ + "\\elsewhere").c_str(), nullptr);
  const std::string victim = dir_ + "\\elsewhere\\victim.log";
  ASSERT_TRUE(e2e::write_all(victim, "2026-12-08 19:30:01.123 Tarnel Setup log\r\n"));
  ASSERT_TRUE(e2e::make_link(dir_ + "\\planted.log", victim));
  for (const std::string& bad : {dir_ + "\\planted.dll", dir_ + "\\notes.txt", dir_ + "\\planted.log"}) {
    EXPECT_EQ(run(disk, "/S /LOG=" + bad + " /D=" + target, &windows), DWORD(installer::kSetupUsage)) << bad;
    EXPECT_FALSE(e2e::path_exists(target));
  }
  EXPECT_FALSE(e2e::path_exists(dir_ + "\\planted.dll"));
  EXPECT_EQ(e2e::read_all(dir_ + "\\notes.txt"), "the person's own");
  EXPECT_EQ(e2e::read_all(victim), "2026-12-08 19:30:01.123 Tarnel Setup log\r\n");
  EXPECT_EQ(windows, 0) << "an unattended run showed a window";

  // Another run of the software holds it: a second one, silent, says so in its code.
  {
    Installer first(disk);
    ASSERT_TRUE(first.ok());
    EXPECT_EQ(run(disk, "/S /LOG=" + log + " /D=" + target, &windows), DWORD(installer::kSetupBusy));
    EXPECT_NE(read_log(log).find("的安装或卸载程序正在运行"), std::string::npos) << read_log(log);
    first.click("关闭");
    first.answer_prompt(true);
    DWORD code = 99;
    ASSERT_TRUE(first.wait_exit(kWait, &code));
    EXPECT_EQ(code, DWORD(installer::kSetupCancelled));
  }
  // With the window: the usage in a box (an error's exit code; /? is no error).
  for (const char* args : {"/bogus", "/?"}) {
    e2e::Process p = e2e::Process::start(disk, args);
    HWND box = e2e::wait_message_box(p.pid(), 20000);
    ASSERT_NE(box, nullptr) << args;
    std::string text = e2e::message_box_text(box);
    EXPECT_NE(text.find("/D="), std::string::npos) << text;
    EXPECT_NE(text.find("3010"), std::string::npos) << text;
    EXPECT_EQ(text.find("/bogus") != std::string::npos, std::string(args) == "/bogus") << text;
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    DWORD code = 99;
    ASSERT_TRUE(p.wait(kWait, &code));
    EXPECT_EQ(code, DWORD(std::string(args) == "/?" ? installer::kSetupInstalled : installer::kSetupUsage));
  }
  EXPECT_FALSE(e2e::path_exists(target));
}

// Without administrator rights (the person's own token): an installer for
// one person installs and uninstalls unattended; one for every user ends at
// once with its code and a line, changing nothing.
TEST_F(UnattendedTest, WithoutAdministratorRightsOnePersonsInstallsAndEveryUsersSaysSo) {
  std::string pkg = package("1.0");
  std::string own = e2e::make_installer(dir_, e2e::config_json(config("个人静默", "1.0", "user")), &pkg, "own.exe");
  std::string all = e2e::make_installer(dir_, e2e::config_json(config("全机静默", "1.0", "machine")), &pkg, "all.exe");
  const std::string target = dir_ + "\\不提权", log = dir_ + "\\unelevated.log";
  auto unelevated = [](const std::string& command) { return testsupport::run_unelevated(rt::wide_path(command)); };

  EXPECT_EQ(unelevated("\"" + all + "\" /S /LOG=" + log + " /D=" + target), installer::kSetupNeedsAdministrator);
  EXPECT_NE(read_log(log).find("failed: an installation for every user needs administrator rights (Windows error 740)"),
            std::string::npos)
      << read_log(log);
  EXPECT_FALSE(e2e::path_exists(target));
  EXPECT_EQ(entry_value("全机静默", "DisplayVersion"), "(none)");

  EXPECT_EQ(unelevated("\"" + own + "\" /S /LOG=" + log + " /D=" + target), installer::kSetupInstalled) << read_log(log);
  EXPECT_EQ(e2e::read_all(target + "\\ver.txt"), "1.0");
  EXPECT_EQ(unelevated("\"" + target + "\\uninst.exe\" /S"), installer::kUninstallDone);
  EXPECT_TRUE(e2e::wait_until([&] { return !e2e::path_exists(target); }, kWait));
}

}  // namespace
