// Version 2 over version 1, as a person meets it: a real installation of
// version 1 (with our uninst.exe and its list), then an upgrade that fails,
// is cancelled, is killed at points spread over its package step, finds a
// file held by the running program, or meets a second installer. Each road
// ends with version 1 whole or version 2 whole, and the uninstaller then
// leaves nothing.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "installer/format/sha256.h"
#include "installer/platform/resources.h"
#include "installer/setup/command_line.h"
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
    EXPECT_TRUE(e2e::wait_until([&] { return !e2e::path_exists(folder_); }, kWait));
    gone_above();
    expect_nothing();
  }
  // The self-removal copy takes the folder made above the installation
  // folder a moment after the installation folder itself.
  void gone_above() { e2e::wait_until([&] { return !e2e::path_exists(dir_ + "\\程序"); }, 5000); }
  // No file, folder (the one made above the installation folder too), entry
  // or shortcut.
  void expect_nothing() {
    EXPECT_FALSE(e2e::path_exists(folder_)) << snapshot(folder_).size() << " items left";
    EXPECT_FALSE(e2e::path_exists(dir_ + "\\程序")) << "the folder made above the installation folder";
    EXPECT_EQ(entry_version(), L"(none)");
    EXPECT_FALSE(e2e::path_exists(programs_link()));
  }
  // Starts version 2 from the custom page; returns once it installs.
  void start_upgrade(Installer& setup) { ASSERT_TRUE(e2e::start_from_custom_page(setup, folder_)); }

  std::string dir_, folder_, v1_exe_, v2_exe_;
};

// A package damaged after everything else was written, a run cancelled
// half-way, and one whose list its uninstaller cannot take (the package's
// uninst.exe is no program; a full disk or a scanner holding the file does
// the same): version 1 byte for byte, its list and its entry.
TEST_F(UpgradeTest, AFailedOrCancelledUpgradeLeavesVersionOneWholeAndUninstallable) {
  std::string damaged = package(2, true);
  std::string damaged_exe = e2e::make_installer(dir_, e2e::config_json(config("2.0")), &damaged, "damaged.exe");
  std::vector<ZipEntrySpec> no_program = {{.name = "{app}/uninst.exe", .data = "MZ, but no program"},
                                          {.name = "{app}/only2.txt", .data = "only"}};
  std::string unlisted = testsupport::make_zip(no_program);
  std::string unlisted_exe = e2e::make_installer(dir_, e2e::config_json(config("2.0")), &unlisted, "unlisted.exe");
  enum Road { kDamaged, kCancelled, kUnrecordedList };
  for (Road road : {kDamaged, kCancelled, kUnrecordedList}) {
    SCOPED_TRACE(road);
    ASSERT_NO_FATAL_FAILURE(install(v1_exe_, "1.0"));
    const auto v1 = snapshot(folder_);
    const rt::Text v1_list = installer::read_installed_list(rt::Text(folder_ + "\\uninst.exe"));
    ASSERT_FALSE(v1_list.empty());
    Installer setup(road == kCancelled ? v2_exe_ : road == kDamaged ? damaged_exe : unlisted_exe);
    ASSERT_NO_FATAL_FAILURE(start_upgrade(setup));
    if (road == kCancelled) {
      ASSERT_TRUE(e2e::wait_until([&] { return setup.progress("进度条") >= 20; }, kWait));
    } else {
      std::string message = e2e::unbroken(setup.answer_message_box(kWait));
      const std::string expected = road == kDamaged ? "安装包已损坏" : "无法写入文件“" + folder_ + "\\uninst.exe”";
      EXPECT_NE(message.find(expected), std::string::npos) << rt::utf8_from_cp936(message);
      EXPECT_TRUE(setup.wait_page(4, 10000));
    }
    setup.click("关闭");
    setup.answer_prompt(true);
    ASSERT_TRUE(setup.wait_exit(kWait));
    EXPECT_EQ(snapshot(folder_), v1);
    EXPECT_EQ(installer::read_installed_list(rt::Text(folder_ + "\\uninst.exe")), v1_list);
    EXPECT_EQ(entry_version(), L"1.0");
    ASSERT_NO_FATAL_FAILURE(uninstall_leaves_nothing());
  }
}

// Killed three times at different points of its package step, each time
// run again, then run to its end: version 2 whole, and the uninstaller then
// leaves nothing.
TEST_F(UpgradeTest, AnUpgradeKilledThreeTimesThenRunToItsEndUninstallsToNothing) {
  ASSERT_NO_FATAL_FAILURE(install(v1_exe_, "1.0"));
  for (int point : {30, 60, 90}) {
    SCOPED_TRACE(point);
    Installer setup(v2_exe_);
    ASSERT_NO_FATAL_FAILURE(start_upgrade(setup));
    ASSERT_TRUE(e2e::wait_until([&] { return setup.progress("进度条") >= point; }, kWait));
    setup.process().kill();
    setup.process().wait(kWait);
  }
  ASSERT_NO_FATAL_FAILURE(install(v2_exe_, "2.0"));
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
    EXPECT_EQ(code, DWORD(installer::kSetupBusy));
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

// A newer version installed: the window asks before replacing it with an
// older one (取消 changes nothing), an unattended run refuses with its own
// code, and 确定 installs the older version as any upgrade.
TEST_F(UpgradeTest, ADowngradeIsAskedInTheWindowAndRefusedUnattended) {
  ASSERT_NO_FATAL_FAILURE(install(v2_exe_, "2.0"));
  const auto before = snapshot(folder_);
  const std::string question = "已安装“" + kName + "”的较新版本 2.0，确定要换成较旧的版本 1.0 吗？";
  for (bool ok : {false, true}) {
    SCOPED_TRACE(ok);
    Installer setup(v1_exe_);
    ASSERT_TRUE(e2e::start_from_custom_page(setup, folder_));
    EXPECT_EQ(e2e::answer_prompt(setup.process(), ok), question);
    if (ok) {
      ASSERT_TRUE(setup.wait_page(3, kWait));
      ASSERT_NO_FATAL_FAILURE(close_finished(setup));
      break;
    }
    EXPECT_TRUE(setup.wait_page(0, kWait));
    EXPECT_EQ(snapshot(folder_), before);
    setup.process().kill();
    // Unattended, nobody is asked: the newer version stays.
    e2e::Process silent = e2e::Process::start(v1_exe_, "/S /D=" + folder_);
    DWORD code = 99;
    ASSERT_TRUE(silent.wait(kWait, &code));
    EXPECT_EQ(code, DWORD(installer::kSetupDowngrade));
    EXPECT_EQ(snapshot(folder_), before);
    EXPECT_EQ(entry_version(), L"2.0");
  }
  EXPECT_EQ(entry_version(), L"1.0");
  EXPECT_EQ(snapshot(folder_)["data\\ro.txt"], "RO:ro 1");
  ASSERT_NO_FATAL_FAILURE(uninstall_leaves_nothing());
}

// A folder that cannot be used: the message belongs to the installer window
// (captioned with the software's name, centred on the window, and of an
// ordinary width however long the folder), and "重新安装" leads back to the
// custom page to choose another.
TEST_F(UpgradeTest, AFolderFailureLeadsBackToTheCustomPage) {
  std::string file = dir_ + "\\a-file";
  ASSERT_TRUE(e2e::write_all(file, "x"));
  Installer setup(v2_exe_);
  const std::string folder = file + "\\" + std::string(120, 'L') + "\\sub";
  ASSERT_TRUE(e2e::start_from_custom_page(setup, folder));
  HWND box = e2e::wait_message_box(setup.process().pid(), kWait);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(e2e::window_text(box), kName);
  RECT shown{}, window{};
  GetWindowRect(box, &shown);
  GetWindowRect(setup.window(), &window);
  EXPECT_LT(shown.right - shown.left, 640) << "a box as wide as its longest line";
  EXPECT_NEAR((shown.left + shown.right) / 2, (window.left + window.right) / 2, 2);
  EXPECT_NEAR((shown.top + shown.bottom) / 2, (window.top + window.bottom) / 2, 2);
  std::string message = e2e::message_box_text(box);
  EXPECT_EQ(message.rfind("无法使用安装目录", 0), 0u) << rt::utf8_from_cp936(message);
  EXPECT_NE(e2e::unbroken(message).find(folder), std::string::npos) << "the folder, whole once the line breaks go";
  Sleep(300);  // let it paint
  e2e::screenshot(GetDesktopWindow(), e2e::screenshot_dir() + "\\folder-failure-box.png");
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  EXPECT_TRUE(setup.wait_page(4, 10000));
  setup.click("重新安装");
  EXPECT_TRUE(setup.wait_page(1, 10000));
  EXPECT_FALSE(setup.visible("图片框1"));
  EXPECT_TRUE(setup.visible("安装目录"));
}

// ---- Killed anywhere, then any next step ---------------------------------
// An install killed outright (TerminateProcess) at a point of its run, as a
// fresh install or over version 1, then one step a person may take next:
// the installed uninstaller alone, quiet or with its window (where the kill
// left none, the installer again), the same installer again, or version 1's
// installer again. Every cell ends with one version whole or nothing, says
// so in its exit code, and leaves no run folder, moved-aside copy, part
// file or working folder behind; what remains then uninstalls to nothing.

enum class From { kNothing, kVersionOne };
enum class Next { kUninstallQuiet, kUninstallWindow, kSameInstaller, kEarlierInstaller };
enum class When { kRunFolder, kJournal, kBar, kFinishPage, kEntry };
struct KillPoint {
  const char* name;
  bool net;  // the "net" installer: the point lies in its download
  When when;
  int percent;  // kBar: the bar at or past it
  DWORD after_ms;
};
constexpr KillPoint kKillPoints[] = {
    {"download begun", true, When::kRunFolder, 0, 200},
    {"download under way", true, When::kRunFolder, 0, 1500},
    {"journal begun", false, When::kJournal, 0, 0},
    {"package 5%", false, When::kBar, 5, 0},
    {"package 25%", false, When::kBar, 25, 0},
    {"package 50%", false, When::kBar, 50, 0},
    {"package 75%", false, When::kBar, 75, 0},
    {"package 95%", false, When::kBar, 95, 0},
    {"list and commit", false, When::kBar, 100, 0},
    {"finish page", false, When::kFinishPage, 0, 0},
    {"entry written", false, When::kEntry, 0, 0},
    {"finish page, idle", false, When::kFinishPage, 0, 1500},
};
struct Cell {
  From from;
  int point;
  Next next;
};
// The whole matrix with KILL_SWEEP=full (tools/kill_sweep.sh); otherwise a
// spread of it: every fifth cell, which meets every kind of point and every
// next step.
std::vector<Cell> cells() {
  std::vector<Cell> all;
  for (From from : {From::kNothing, From::kVersionOne})
    for (int point = 0; point < int(std::size(kKillPoints)); ++point)
      for (Next next : {Next::kUninstallQuiet, Next::kUninstallWindow, Next::kSameInstaller, Next::kEarlierInstaller})
        if (from == From::kVersionOne || next != Next::kEarlierInstaller) all.push_back({from, point, next});
  const char* sweep = std::getenv("KILL_SWEEP");
  if (sweep && std::string(sweep) == "full") return all;
  std::vector<Cell> spread;
  for (std::size_t i = 0; i < all.size(); i += 5) spread.push_back(all[i]);
  return spread;
}
std::string cell_name(const testing::TestParamInfo<Cell>& info) {
  static const char* const kNext[] = {"UninstallQuiet", "UninstallWindow", "SameInstaller", "EarlierInstaller"};
  std::string point;
  for (const char* c = kKillPoints[info.param.point].name; *c; ++c)
    if (std::isalnum(static_cast<unsigned char>(*c))) point += *c;
  return std::string(info.param.from == From::kNothing ? "Fresh" : "Upgrade") + "_" + point + "_" +
         kNext[int(info.param.next)];
}

class KillMatrix : public UpgradeTest, public testing::WithParamInterface<Cell> {
 protected:
  // Nothing of an earlier cell: the entry and link a failed one left.
  void SetUp() override {
    UpgradeTest::SetUp();
    RegDeleteTreeW(HKEY_LOCAL_MACHINE,
                   rt::wide_path("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarnel" + kName).c_str());
    DeleteFileW(rt::wide_path(programs_link()).c_str());
  }

  bool reached(const KillPoint& at, Installer& setup, int runs_before) {
    switch (at.when) {
      case When::kRunFolder: return stale_run_folders() > runs_before;
      case When::kJournal: return e2e::path_exists(folder_ + "\\~setup-run\\journal");
      case When::kBar: return setup.progress("进度条") >= at.percent;
      case When::kFinishPage: return setup.visible("安装完成");
      case When::kEntry: return entry_version() == L"2.0";
    }
    return false;
  }

  // What a kill may leave and no next step may keep.
  void expect_no_leftovers(int runs_before) {
    for (const auto& [name, bytes] : snapshot(folder_)) {
      EXPECT_EQ(name.find("~setup-run"), std::string::npos) << name;
      EXPECT_EQ(name.find("displaced-"), std::string::npos) << name;
      EXPECT_EQ(name.find(".part"), std::string::npos) << name;
    }
    EXPECT_EQ(stale_run_folders(), runs_before);
  }

  // The uninstaller, answered as a person would when it has a window.
  DWORD uninstall(bool window) {
    e2e::Process uninstaller = e2e::Process::start(folder_ + "\\uninst.exe", window ? "" : "/S");
    DWORD code = 99;
    while (!uninstaller.wait(window ? 200 : kWait, &code)) {
      if (!window) return 99;
      e2e::answer_prompt(uninstaller, true, "", 2000);
    }
    return code;
  }

  void expect_version_one() {
    auto files = snapshot(folder_);
    EXPECT_EQ(files["data\\ro.txt"], "RO:ro 1");
    EXPECT_EQ(files["only1.txt"], "only");
    for (int i = 0; i < 40; ++i) ASSERT_EQ(files["share\\f" + std::to_string(i) + ".dat"].substr(0, 2), "1-") << i;
    EXPECT_EQ(entry_version(), L"1.0");
  }
};

TEST_P(KillMatrix, EndsWithOneVersionWholeOrNothing) {
  const Cell cell = GetParam();
  const KillPoint& at = kKillPoints[cell.point];
  std::string net_exe;
  std::optional<testsupport::HttpServers> servers;
  if (at.net) {
    servers = testsupport::http_servers();
    ASSERT_TRUE(servers);
    std::string v2 = package(2);
    std::string name = "kill-" + std::to_string(GetCurrentProcessId()) + ".zip";
    ASSERT_TRUE(testsupport::write_file(servers->nginx_root + "/" + name, v2));
    net_exe = e2e::make_installer(
        dir_, e2e::config_json(config("2.0", "net", servers->nginx_url("/slow/" + name), installer::sha256_hex(v2))),
        nullptr, "net.exe");
  }
  const std::string& killed_exe = at.net ? net_exe : v2_exe_;
  if (cell.from == From::kVersionOne) ASSERT_NO_FATAL_FAILURE(install(v1_exe_, "1.0"));
  const int runs_before = stale_run_folders();
  {
    Installer setup(killed_exe);
    ASSERT_NO_FATAL_FAILURE(start_upgrade(setup));
    ASSERT_TRUE(e2e::wait_until([&] { return reached(at, setup, runs_before); }, kWait)) << at.name;
    Sleep(at.after_ms);
    setup.process().kill();
    setup.process().wait(kWait);
  }

  Next next = cell.next;
  const bool uninstalling = next == Next::kUninstallQuiet || next == Next::kUninstallWindow;
  if (uninstalling && !e2e::path_exists(folder_ + "\\uninst.exe")) next = Next::kSameInstaller;
  switch (next) {
    case Next::kUninstallQuiet:
    case Next::kUninstallWindow:
      EXPECT_EQ(uninstall(next == Next::kUninstallWindow), 0u);
      ASSERT_TRUE(e2e::wait_until([&] { return !e2e::path_exists(folder_); }, kWait));
      gone_above();
      expect_no_leftovers(runs_before);
      expect_nothing();
      return;
    case Next::kSameInstaller:
      ASSERT_NO_FATAL_FAILURE(install(killed_exe, "2.0"));
      expect_no_leftovers(runs_before);
      ASSERT_NO_FATAL_FAILURE(cell.from == From::kVersionOne ? expect_version_two() : (void)0);
      EXPECT_TRUE(e2e::path_exists(programs_link()));
      break;
    case Next::kEarlierInstaller:
      ASSERT_NO_FATAL_FAILURE(install(v1_exe_, "1.0"));
      expect_no_leftovers(runs_before);
      ASSERT_NO_FATAL_FAILURE(expect_version_one());
      break;
  }
  ASSERT_NO_FATAL_FAILURE(uninstall_leaves_nothing());
}

INSTANTIATE_TEST_SUITE_P(Cells, KillMatrix, testing::ValuesIn(cells()), cell_name);

}  // namespace
