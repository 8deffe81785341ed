// Who an installation is for, as a person meets it: a "user" installer
// (the person's local programs folder, their own list of programs) and a
// "machine" one (Program Files, every user's shortcuts, the machine's list),
// each installed and uninstalled to nothing; and, for an elevated run into a
// folder a person can write, the folder swapped for a link while it installs
// or while its failure message waits.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/value/codepage.h"
#include "tests/e2e/support/installer_fixture.h"
#include "tests/support/paths.h"
#include "tests/support/zip_writer.h"

namespace {

using e2e::Installer;
using testsupport::ZipEntrySpec;

constexpr DWORD kWait = 60000;

std::string special(int csidl) {
  wchar_t buf[MAX_PATH] = {};
  SHGetSpecialFolderPathW(nullptr, buf, csidl, FALSE);
  return rt::cp936_from_wchar(buf);
}

std::string package(int files = 3, bool damaged_last = false) {
  std::vector<ZipEntrySpec> entries = {
      {.name = "{app}/Demo.exe", .data = e2e::read_all(testsupport::native_path(MARKER_EXE_PATH))},
      {.name = "{app}/uninst.exe", .data = e2e::read_all(testsupport::native_path(UNINST_EXE_PATH))}};
  for (int i = 0; i < files; ++i)
    entries.push_back({.name = "{app}/data/f" + std::to_string(i) + ".txt", .data = std::string(20000, char('a' + i % 26)),
                       .deflate = true});
  if (damaged_last) entries.back().claimed_crc = 0x1234;
  return testsupport::make_zip(entries);
}

e2e::Config config(const std::string& name, const std::string& scope) {
  e2e::Config c = {{"softname", name},      {"softversion", "1.0"}, {"urlremote", ""},
                   {"urlfull", ""},         {"framework", ""},      {"mainfile", "Demo.exe"},
                   {"installtype", "disk"}, {"companyname", "示例"}, {"companyurl", ""},
                   {"protocol", "http://127.0.0.1/agreement"}};
  if (!scope.empty()) c.push_back({"scope", scope});
  return c;
}

bool entry_in(HKEY root, const std::string& name) {
  // The machine's list as this 32-bit program sees it; the person's has no 32-bit view.
  std::wstring key = rt::wide_path("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarnel" + name);
  HKEY k;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
  RegCloseKey(k);
  return true;
}

class ScopeTest : public testing::Test {
 protected:
  void SetUp() override { dir_ = testsupport::scratch_dir("e2e-scope"); }

  // The home page's one click, to the finish page; then closed there.
  std::string install_default(const std::string& exe) {
    Installer setup(exe);
    EXPECT_TRUE(setup.ok());
    std::string target = setup.text("安装目录");
    setup.click("立即安装");
    EXPECT_TRUE(setup.wait_page(3, kWait));
    // Shortcuts and entry come after the finish page shows.
    setup.click("关闭");
    setup.answer_prompt(true);
    EXPECT_TRUE(setup.wait_exit(kWait));
    return target;
  }
  void uninstall(const std::string& target) {
    e2e::Process uninstaller = e2e::Process::start(target + "\\uninst.exe", "/S");
    DWORD code = 99;
    ASSERT_TRUE(uninstaller.wait(kWait, &code));
    EXPECT_EQ(code, 0u);
    EXPECT_TRUE(e2e::wait_until([&] { return !e2e::path_exists(target); }, kWait)) << target;
  }

  std::string dir_;
};

TEST_F(ScopeTest, ForOnePersonTheirFolderTheirShortcutsTheirListAndNothingLeft) {
  const std::string name = "个人范围";
  std::string pkg = package();
  std::string exe = e2e::make_installer(dir_, e2e::config_json(config(name, "user")), &pkg);
  std::string target = install_default(exe);
  EXPECT_EQ(target, special(CSIDL_LOCAL_APPDATA) + "\\Programs\\" + name);
  EXPECT_TRUE(e2e::path_exists(target + "\\data\\f2.txt"));
  EXPECT_TRUE(entry_in(HKEY_CURRENT_USER, name));
  EXPECT_FALSE(entry_in(HKEY_LOCAL_MACHINE, name));
  EXPECT_TRUE(e2e::path_exists(special(CSIDL_PROGRAMS) + "\\" + name + ".lnk"));
  ASSERT_NO_FATAL_FAILURE(uninstall(target));
  EXPECT_FALSE(entry_in(HKEY_CURRENT_USER, name));
  EXPECT_FALSE(e2e::path_exists(special(CSIDL_PROGRAMS) + "\\" + name + ".lnk"));
  EXPECT_FALSE(e2e::path_exists(special(CSIDL_DESKTOPDIRECTORY) + "\\" + name + ".lnk"));
}

TEST_F(ScopeTest, ForEveryUserProgramFilesEveryUsersShortcutsTheMachinesListAndNothingLeft) {
  const std::string name = "全机范围";
  std::string pkg = package();
  std::string exe = e2e::make_installer(dir_, e2e::config_json(config(name, "machine")), &pkg);
  std::string target = install_default(exe);
  wchar_t program_files[MAX_PATH] = {};
  GetEnvironmentVariableW(L"ProgramFiles", program_files, MAX_PATH);
  EXPECT_EQ(target, rt::cp936_from_wchar(program_files) + "\\" + name);
  EXPECT_TRUE(entry_in(HKEY_LOCAL_MACHINE, name));
  EXPECT_FALSE(entry_in(HKEY_CURRENT_USER, name));
  std::string common_programs = special(CSIDL_COMMON_PROGRAMS) + "\\" + name + ".lnk";
  std::string common_desktop = special(CSIDL_COMMON_DESKTOPDIRECTORY) + "\\" + name + ".lnk";
  EXPECT_TRUE(e2e::path_exists(common_programs));
  EXPECT_TRUE(e2e::path_exists(common_desktop));
  ASSERT_NO_FATAL_FAILURE(uninstall(target));
  EXPECT_FALSE(entry_in(HKEY_LOCAL_MACHINE, name));
  EXPECT_FALSE(e2e::path_exists(common_programs));
  EXPECT_FALSE(e2e::path_exists(common_desktop));
}

// The unscoped layout runs elevated and writes into a folder the person can
// change. The folder and every level on its way are held from the check to
// the end of the run: while it installs, and while its failure message
// waits (before the run is taken back), none can be renamed away to put a
// link to another folder in its place; that folder is never written to or
// deleted from.
TEST_F(ScopeTest, AFolderCannotBeSwappedForALinkWhileTheRunWritesOrTakesItselfBack) {
  std::string victim = dir_ + "\\victim";
  CreateDirectoryW(rt::wide_path(victim).c_str(), nullptr);
  ASSERT_TRUE(e2e::write_all(victim + "\\Demo.exe", "the victim's"));
  CreateDirectoryW(rt::wide_path(victim + "\\data").c_str(), nullptr);
  ASSERT_TRUE(e2e::write_all(victim + "\\data\\f0.txt", "the victim's"));
  for (bool fail : {false, true}) {
    SCOPED_TRACE(fail ? "failure message" : "installing");
    std::string parent = dir_ + (fail ? "\\failing" : "\\writing");
    std::string folder = parent + "\\程序";
    std::string pkg = package(fail ? 40 : 400, fail);
    std::string exe = e2e::make_installer(dir_, e2e::config_json(config(fail ? "链接失败" : "链接写入", "")), &pkg,
                                          fail ? "fail.exe" : "write.exe");
    Installer setup(exe);
    ASSERT_TRUE(e2e::start_from_custom_page(setup, folder));
    HWND box = nullptr;
    ASSERT_TRUE(e2e::wait_until(
        [&] {
          if (fail) return (box = e2e::wait_message_box(setup.process().pid(), 50)) != nullptr;
          return setup.progress("进度条") >= 5;
        },
        kWait));
    // The swap an attacker needs: rename the folder (or a level above it)
    // away, then put a link in its place.
    for (const std::string& level : {folder, parent}) {
      EXPECT_FALSE(MoveFileW(rt::wide_path(level).c_str(), rt::wide_path(level + "-away").c_str())) << level;
      if (e2e::path_exists(level + "-away")) {
        MoveFileW(rt::wide_path(level + "-away").c_str(), rt::wide_path(level).c_str());
      } else if (!e2e::path_exists(folder)) {
        e2e::make_link(folder, victim);
      }
    }
    if (fail) {
      setup.answer_message_box(kWait);
      ASSERT_TRUE(setup.wait_page(4, kWait));
      EXPECT_FALSE(e2e::path_exists(folder)) << "the run made it, and took it back";
    } else {
      ASSERT_TRUE(e2e::wait_until([&] { return setup.visible("安装完成"); }, kWait));
      EXPECT_TRUE(e2e::path_exists(folder + "\\data\\f399.txt"));
    }
    EXPECT_EQ(e2e::read_all(victim + "\\Demo.exe"), "the victim's");
    EXPECT_EQ(e2e::read_all(victim + "\\data\\f0.txt"), "the victim's");
    EXPECT_FALSE(e2e::path_exists(victim + "\\data\\f1.txt"));
    setup.process().kill();
  }
}

// An elevated installer for every user puts right an interrupted run only
// in the folder it installs into and in the one the machine's own list
// names: a folder named by an entry of the person's own list (which the
// person writes), holding a journal whose lines name a file of the person's
// and, climbing out as text, a library to be "restored" elsewhere, is never
// replayed.
TEST_F(ScopeTest, AMachineInstallerNeverReplaysAFolderThePersonsOwnListNames) {
  const std::string name = "个人条目";
  std::string person = dir_ + "\\person", victim = dir_ + "\\victim", run = person + "\\~setup-run";
  for (const std::string& folder : {person, victim, run}) CreateDirectoryW(rt::wide_path(folder).c_str(), nullptr);
  ASSERT_TRUE(e2e::write_all(person + "\\mine.txt", "the person's"));
  ASSERT_TRUE(e2e::write_all(run + "\\0", "the attacker's library"));
  ASSERT_TRUE(e2e::write_all(run + "\\journal", "N\t" + rt::utf8_from_cp936(person + "\\mine.txt") + "\nB\t" +
                                                    rt::utf8_from_cp936(person + "\\..\\victim\\evil.dll") + "\t" +
                                                    rt::utf8_from_cp936(run + "\\0") + "\n"));
  const std::wstring key = rt::wide_path("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarnel" + name);
  HKEY entry = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &entry, nullptr),
            ERROR_SUCCESS);
  const std::wstring location = rt::wide_path(person);
  RegSetValueExW(entry, L"InstallLocation", 0, REG_SZ, reinterpret_cast<const BYTE*>(location.c_str()),
                 DWORD((location.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(entry);

  std::string pkg = package();
  std::string exe = e2e::make_installer(dir_, e2e::config_json(config(name, "machine")), &pkg);
  std::string target = install_default(exe);
  EXPECT_EQ(e2e::read_all(person + "\\mine.txt"), "the person's");
  EXPECT_FALSE(e2e::path_exists(victim + "\\evil.dll"));
  EXPECT_TRUE(e2e::path_exists(run + "\\journal")) << "the person's folder was replayed";
  RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
  RegDeleteKeyW(HKEY_CURRENT_USER, key.c_str());
  ASSERT_NO_FATAL_FAILURE(uninstall(target));
}

}  // namespace
