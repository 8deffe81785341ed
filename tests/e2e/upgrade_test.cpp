// Version 2 over version 1, as a person meets it: a real installation of
// version 1 (with our uninst.exe and its list), then an upgrade that fails,
// is cancelled, is killed at points spread over its package step, finds a
// file held by the running program, or meets a second installer. Each road
// ends with version 1 whole or version 2 whole, and the uninstaller then
// leaves nothing.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "installer/format/sha256.h"
#include "installer/platform/resources.h"
#include "runtime/value/codepage.h"
#include "tests/e2e/support/installer_fixture.h"
#include "tests/support/http_servers.h"
#include "tests/support/paths.h"
#include "tests/support/zip_writer.h"

namespace {

using e2e::Installer;
using testsupport::ZipEntrySpec;

const std::string kName = "升级事务";
constexpr DWORD kWait = 60000;

std::string uninst() { return e2e::read_all(testsupport::native_path(UNINST_EXE_PATH)); }

// Version 1: 40 files under share\, one of its own, a read-only file in a
// subfolder. Version 2: 300 files under share\ (the first 40 replace version
// 1's), one of its own, the read-only file again; `damaged`: its last entry
// fails its CRC, after everything else has been written.
std::string package(int version, bool damaged = false, int files = 300, const std::string& main = "") {
  std::vector<ZipEntrySpec> entries = {
      {.name = "{app}/Demo.exe", .data = main.empty() ? e2e::read_all(testsupport::native_path(MARKER_EXE_PATH)) : main},
      {.name = "{app}/uninst.exe", .data = uninst(), .deflate = true},
      {.name = "{app}/data/ro.txt", .data = "ro " + std::to_string(version), .external_attributes = FILE_ATTRIBUTE_READONLY},
      {.name = "{app}/only" + std::to_string(version) + ".txt", .data = "only"}};
  int count = version == 1 ? 40 : files;
  for (int i = 0; i < count; ++i) {
    std::string body = std::to_string(version) + "-" + std::to_string(i) + ":" +
                       testsupport::pattern_bytes(i, version == 1 ? 512 : 24 * 1024);
    entries.push_back({.name = "{app}/share/f" + std::to_string(i) + ".dat", .data = body, .deflate = true});
  }
  if (damaged) entries.back().claimed_crc = 0x12345678;
  return testsupport::make_zip(entries);
}

e2e::Config config(const std::string& version, const std::string& type = "disk", const std::string& url = "",
                   const std::string& digest = "") {
  e2e::Config c = {{"softname", kName},   {"softversion", version}, {"urlremote", url},
                   {"urlfull", ""},       {"framework", ""},        {"mainfile", "Demo.exe"},
                   {"installtype", type}, {"companyname", "示例公司"}, {"companyurl", ""},
                   {"protocol", "http://127.0.0.1/agreement"}};
  if (!digest.empty()) c.push_back({"sha256", digest});
  return c;
}

// Every file below a folder: its relative name, bytes and read-only bit.
std::map<std::string, std::string> snapshot(const std::string& folder, const std::string& prefix = "") {
  std::map<std::string, std::string> files;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(rt::wide_path(folder + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return files;
  do {
    std::string name = rt::cp936_from_wchar(found.cFileName);
    if (name == "." || name == "..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      files[prefix + name + "\\"] = "";
      for (auto& [k, v] : snapshot(folder + "\\" + name, prefix + name + "\\")) files[k] = v;
    } else {
      files[prefix + name] = ((found.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? "RO:" : "") +
                             e2e::read_all(folder + "\\" + name);
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return files;
}

std::wstring entry_version() {
  std::wstring key = rt::wide_path("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarnel" + kName);
  wchar_t data[256] = {};
  DWORD size = sizeof data - 2;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"DisplayVersion", RRF_RT_REG_SZ, nullptr, data, &size) !=
      ERROR_SUCCESS)
    return L"(none)";
  return data;
}

std::string programs_link() {
  wchar_t buf[MAX_PATH] = {};
  SHGetSpecialFolderPathW(nullptr, buf, CSIDL_PROGRAMS, FALSE);
  return rt::cp936_from_wchar(buf) + "\\" + kName + ".lnk";
}

// Run-folder leftovers under the temporary folder (a killed run's).
// An elevated run (Wine's always is) works in the Windows temporary folder.
int stale_run_folders() {
  wchar_t windows[MAX_PATH] = {};
  GetSystemWindowsDirectoryW(windows, MAX_PATH);
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((std::wstring(windows) + L"\\Temp\\setup-*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  int n = 0;
  do n += (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  while (FindNextFileW(search, &found));
  FindClose(search);
  return n;
}

class UpgradeTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = testsupport::scratch_dir("e2e-upgrade");
    folder_ = dir_ + "\\程序\\" + kName;
    std::string v1 = package(1);
    v1_exe_ = e2e::make_installer(dir_, e2e::config_json(config("1.0")), &v1, "setup1.exe");
    std::string v2 = package(2);
    v2_exe_ = e2e::make_installer(dir_, e2e::config_json(config("2.0")), &v2, "setup2.exe");
  }

  // Installs to the finish page and closes the installer there (the main
  // file is not started: what it writes would be the person's, not ours).
  void install(const std::string& exe, const std::string& version) {
    Installer setup(exe);
    std::string message;
    ASSERT_EQ(e2e::install_from_custom_page(setup, folder_, &message), 3) << rt::utf8_from_cp936(message);
    close_finished(setup);
    EXPECT_EQ(entry_version(), rt::wide_path(version));
  }
  void close_finished(Installer& setup) {
    setup.click("关闭");
    setup.answer_prompt(true);
    DWORD code = 99;
    ASSERT_TRUE(setup.wait_exit(kWait, &code));
    EXPECT_EQ(code, 0u);
  }
  // Version 2 whole: every file of it, the earlier version's own file too
  // (its list merged), the entry saying 2.0.
  void expect_version_two() {
    auto files = snapshot(folder_);
    EXPECT_EQ(files["data\\ro.txt"], "RO:ro 2");
    EXPECT_EQ(files["only1.txt"], "only");
    EXPECT_EQ(files["only2.txt"], "only");
    for (int i = 0; i < 300; ++i)
      ASSERT_EQ(files["share\\f" + std::to_string(i) + ".dat"].substr(0, 2), "2-") << i;
    EXPECT_EQ(files.count("~setup-run\\"), 0u);
    EXPECT_EQ(entry_version(), L"2.0");
  }
  // The uninstaller then leaves nothing: no file, folder, entry or shortcut.
  void uninstall_leaves_nothing() {
    e2e::Process uninstaller = e2e::Process::start(folder_ + "\\uninst.exe", "/S");
    DWORD code = 99;
    ASSERT_TRUE(uninstaller.wait(kWait, &code));
    EXPECT_EQ(code, 0u);
    EXPECT_TRUE(e2e::wait_until([&] { return !e2e::path_exists(folder_); }, kWait))
        << snapshot(folder_).size() << " items left";
    EXPECT_EQ(entry_version(), L"(none)");
    EXPECT_FALSE(e2e::path_exists(programs_link()));
  }
  // Starts version 2 from the custom page; returns once it installs.
  void start_upgrade(Installer& setup) { ASSERT_TRUE(e2e::start_from_custom_page(setup, folder_)); }

  std::string dir_, folder_, v1_exe_, v2_exe_;
};

// A package damaged after everything else was written, and a run cancelled
// half-way: version 1 byte for byte, its list and its entry.
TEST_F(UpgradeTest, AFailedOrCancelledUpgradeLeavesVersionOneWholeAndUninstallable) {
  std::string damaged = package(2, true);
  std::string damaged_exe = e2e::make_installer(dir_, e2e::config_json(config("2.0")), &damaged, "damaged.exe");
  for (bool cancel : {false, true}) {
    SCOPED_TRACE(cancel ? "cancelled" : "failed");
    ASSERT_NO_FATAL_FAILURE(install(v1_exe_, "1.0"));
    const auto v1 = snapshot(folder_);
    const rt::Text v1_list = installer::read_installed_list(rt::Text(folder_ + "\\uninst.exe"));
    ASSERT_FALSE(v1_list.empty());
    Installer setup(cancel ? v2_exe_ : damaged_exe);
    ASSERT_NO_FATAL_FAILURE(start_upgrade(setup));
    if (cancel) {
      ASSERT_TRUE(e2e::wait_until([&] { return setup.progress("进度条") >= 20; }, kWait));
      setup.click("关闭");
      setup.answer_prompt(true);
      ASSERT_TRUE(setup.wait_exit(kWait));
    } else {
      std::string message = setup.answer_message_box(kWait);
      EXPECT_NE(message.find("安装包已损坏"), std::string::npos) << rt::utf8_from_cp936(message);
      EXPECT_TRUE(setup.wait_page(4, 10000));
      setup.click("关闭");
      setup.answer_prompt(true);
      ASSERT_TRUE(setup.wait_exit(kWait));
    }
    EXPECT_EQ(snapshot(folder_), v1);
    EXPECT_EQ(installer::read_installed_list(rt::Text(folder_ + "\\uninst.exe")), v1_list);
    EXPECT_EQ(entry_version(), L"1.0");
    ASSERT_NO_FATAL_FAILURE(uninstall_leaves_nothing());
  }
}

// Killed outright (TerminateProcess) at points spread over the package step
// of an upgrade, and once on the finish page while it makes the shortcuts and
// the entry: the next run completes the upgrade, and the uninstaller then
// leaves nothing. `make test` kills at two points; UPGRADE_SWEEP=full (see
// tools/kill_sweep.sh) at every fifth percent, 21 points.
TEST_F(UpgradeTest, AKilledUpgradeIsCompletedByTheNextRun) {
  std::vector<int> points = {40, 101};
  if (const char* sweep = std::getenv("UPGRADE_SWEEP"); sweep && std::string(sweep) == "full") {
    points.clear();
    for (int p = 0; p <= 95; p += 5) points.push_back(p);
    points.push_back(101);  // the finish page
  }
  int killed = 0;
  for (int point : points) {
    SCOPED_TRACE(point);
    ASSERT_NO_FATAL_FAILURE(install(v1_exe_, "1.0"));
    {
      Installer setup(v2_exe_);
      ASSERT_NO_FATAL_FAILURE(start_upgrade(setup));
      ASSERT_TRUE(e2e::wait_until(
          [&] { return point > 100 ? setup.visible("安装完成") : setup.progress("进度条") >= point; }, kWait));
      setup.process().kill();
      ++killed;
    }
    ASSERT_NO_FATAL_FAILURE(install(v2_exe_, "2.0"));
    ASSERT_NO_FATAL_FAILURE(expect_version_two());
    ASSERT_NO_FATAL_FAILURE(uninstall_leaves_nothing());
  }
  std::printf("kill sweep: %d kill points, every one completed and uninstalled to nothing\n", killed);
}

// A "net" upgrade killed while it downloads: its run folder under the
// temporary folder is left behind, and the next run removes it.
TEST_F(UpgradeTest, AnUpgradeKilledDuringItsDownloadIsCompletedAndItsLeftoversGo) {
  auto servers = testsupport::http_servers();
  ASSERT_TRUE(servers);
  std::string v2 = package(2);
  std::string name = "upgrade-" + std::to_string(GetCurrentProcessId()) + ".zip";
  ASSERT_TRUE(testsupport::write_file(servers->nginx_root + "/" + name, v2));
  std::string net_exe = e2e::make_installer(
      dir_, e2e::config_json(config("2.0", "net", servers->nginx_url("/slow/" + name), installer::sha256_hex(v2))),
      nullptr, "net.exe");
  ASSERT_NO_FATAL_FAILURE(install(v1_exe_, "1.0"));
  const int before = stale_run_folders();
  {
    Installer setup(net_exe);
    ASSERT_NO_FATAL_FAILURE(start_upgrade(setup));
    ASSERT_TRUE(e2e::wait_until([&] { return stale_run_folders() > before; }, kWait));
    Sleep(1500);  // well into the download
    setup.process().kill();
  }
  EXPECT_GT(stale_run_folders(), before);
  ASSERT_NO_FATAL_FAILURE(install(net_exe, "2.0"));
  EXPECT_EQ(stale_run_folders(), before);
  ASSERT_NO_FATAL_FAILURE(expect_version_two());
  ASSERT_NO_FATAL_FAILURE(uninstall_leaves_nothing());
}

// The running version 1 holds its program: nothing changes, the message names
// it, and once it is closed the upgrade goes through. A second installer of
// the same software started meanwhile says so and ends without changing
// anything.
TEST_F(UpgradeTest, AHeldFileOrASecondInstallerChangesNothing) {
  std::string app = e2e::read_all(testsupport::native_path(DEMOAPP_EXE_PATH));
  std::string v1 = package(1, false, 40, app);
  std::string v1_exe = e2e::make_installer(dir_, e2e::config_json(config("1.0")), &v1, "held1.exe");
  ASSERT_NO_FATAL_FAILURE(install(v1_exe, "1.0"));
  const auto before = snapshot(folder_);
  {
    e2e::Process running = e2e::Process::start(folder_ + "\\Demo.exe");
    ASSERT_NE(e2e::wait_window(running.pid(), 20000), nullptr);
    Installer setup(v2_exe_);
    ASSERT_NO_FATAL_FAILURE(start_upgrade(setup));
    // Owned by the installer window, which it keeps from taking clicks.
    HWND held = e2e::wait_message_box(setup.process().pid(), kWait);
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(GetWindow(held, GW_OWNER), setup.window());
    EXPECT_FALSE(IsWindowEnabled(setup.window()));
    EXPECT_EQ(setup.answer_message_box(kWait), "请先关闭“Demo.exe”后点击重新安装。");
    EXPECT_TRUE(setup.wait_page(4, 10000));
    EXPECT_EQ(snapshot(folder_), before);

    // Another installer of the same software while this one is open.
    e2e::Process second = e2e::Process::start(v2_exe_);
    HWND box = e2e::wait_message_box(second.pid(), kWait);
    ASSERT_NE(box, nullptr);
    EXPECT_NE(e2e::message_box_text(box).find("正在运行"), std::string::npos);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    DWORD code = 99;
    ASSERT_TRUE(second.wait(kWait, &code));
    EXPECT_EQ(code, 1u);
    EXPECT_EQ(snapshot(folder_), before);

    running.kill();
    running.wait(kWait);
    setup.click("重新安装");
    ASSERT_TRUE(e2e::wait_until([&] { return setup.visible("安装完成"); }, kWait));
    close_finished(setup);
  }
  ASSERT_NO_FATAL_FAILURE(expect_version_two());
  ASSERT_NO_FATAL_FAILURE(uninstall_leaves_nothing());
}

// A folder that cannot be used: the message belongs to the installer window,
// and "重新安装" leads back to the custom page to choose another.
TEST_F(UpgradeTest, AFolderFailureLeadsBackToTheCustomPage) {
  std::string file = dir_ + "\\a-file";
  ASSERT_TRUE(e2e::write_all(file, "x"));
  Installer setup(v2_exe_);
  std::string message;
  EXPECT_EQ(e2e::install_from_custom_page(setup, file + "\\sub", &message), 4);
  EXPECT_NE(message.find("无法使用安装目录"), std::string::npos) << rt::utf8_from_cp936(message);
  setup.click("重新安装");
  EXPECT_TRUE(setup.wait_page(1, 10000));
  EXPECT_FALSE(setup.visible("图片框1"));
  EXPECT_TRUE(setup.visible("安装目录"));
}

}  // namespace
