// uninst.exe removes an installation laid out as the installer leaves it:
// files and folders, the two shortcuts, the uninstall entry, an uninst.exe
// carrying the encrypted installed-file list. It leaves alone what is not its
// own and reports what it could not remove.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "installer/format/cipher.h"
#include "installer/platform/resources.h"
#include "installer/steps/extract.h"
#include "installer/platform/launch.h"
#include "installer/platform/paths.h"
#include "installer/platform/registry.h"
#include "installer/platform/removal.h"
#include "installer/steps/shortcuts.h"
#include "installer/steps/uninstall_entry.h"
#include "runtime/value/codepage.h"
#include "tests/e2e/support/installer_fixture.h"
#include "tests/support/paths.h"
#include "tests/support/zip_maker.h"

namespace {

constexpr DWORD kWait = 60000;

std::wstring wide(const std::string& cp936) { return rt::wide_path(cp936); }

bool exists(const std::string& path) { return GetFileAttributesW(wide(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

bool write(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileW(wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
  CloseHandle(file);
  return ok;
}

std::string uninst_exe() { return testsupport::binary_dir() + "\\app\\uninst.exe"; }

// The entry as the installer's last step writes it, and its key.
void write_entry(const std::string& name, const std::string& dir) {
  ASSERT_TRUE(installer::register_uninstall({name, "1.0", dir, "测试公司", "", name + ".exe", 0, ""}));
}
rt::Text entry_key(const std::string& name) {
  return installer::uninstall_key_path(installer::is_64bit_windows(), rt::Text(name));
}
bool entry_exists(const std::string& name) {
  return installer::registry_key_exists(installer::kLocalMachine, entry_key(name));
}

std::string desktop_link(const std::string& name) { return installer::special_folder(3).str() + name + ".lnk"; }
std::string programs_link(const std::string& name) { return installer::special_folder(6).str() + name + ".lnk"; }

// The installer's window, as far as the package step asks it.
class PackageHost : public installer::PackageStepHost {
 public:
  void set_progress(int) override {}
};

// An installation as the installer leaves it, in a fresh folder.
struct Installation {
  std::string name;
  std::string dir;
  std::vector<std::string> files;    // relative to dir
  std::vector<std::string> folders;  // relative to dir, listed with a trailing "\"
  std::vector<std::string> extra_list_lines;

  std::string path(const std::string& relative) const { return dir + "\\" + relative; }
  std::string uninstaller() const { return path("uninst.exe"); }

  // Installs a package of these files and folders (and our uninst.exe as
  // {app}/uninst.exe) through the installer's package step, which records
  // the list in the uninstaller; extra list lines are added to that list.
  void lay_out() {
    dir = testsupport::scratch_dir("uninstall") + "\\" + name;
    ASSERT_TRUE(CreateDirectoryW(wide(dir).c_str(), nullptr));
    auto entry_name = [](std::string relative) {
      for (char& c : relative)
        if (c == '\\') c = '/';  // these test names hold no double-byte "\\"
      return "{app}/" + relative;
    };
    std::vector<testsupport::ZipMakerEntry> entries;
    for (const std::string& folder : folders) entries.emplace_back(entry_name(folder) + "/", "", 0);
    for (const std::string& file : files) entries.emplace_back(entry_name(file), "contents of " + file);
    entries.emplace_back("{app}/uninst.exe", testsupport::read_file(uninst_exe()));
    std::string package = testsupport::scratch_dir("package") + "\\package.zip";
    ASSERT_TRUE(testsupport::write_file(package, testsupport::make_zip(entries)));

    PackageHost host;
    rt::Text list;
    installer::PackageOutcome outcome =
        installer::unpack_package(rt::Text(package), rt::Text(dir), rt::Text(uninstaller()), list, host);
    ASSERT_TRUE(outcome.succeeded());
    ASSERT_TRUE(outcome.list_recorded);
    // The run is over: what it made stays, and the folders it made files
    // in are let go.
    installer::this_run().clear();
    if (!extra_list_lines.empty()) {
      std::string more = list.str();
      for (const std::string& line : extra_list_lines) more += line + "\r\n";
      write_list(more);
    }
  }

  // As the package step records it.
  void write_list(const std::string& list) {
    ASSERT_TRUE(installer::write_installed_list(rt::Text(uninstaller()), rt::Text(list)));
  }

  // The installer's shortcut step, desktop box ticked.
  void make_shortcuts() {
    installer::make_shortcuts({name, dir, name + ".exe", true});
    ASSERT_TRUE(exists(desktop_link(name)));
    ASSERT_TRUE(exists(programs_link(name)));
  }
};

class UninstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    // Where the installer puts its shortcuts must exist in a fresh prefix.
    wchar_t folder[MAX_PATH];
    SHGetSpecialFolderPathW(nullptr, folder, CSIDL_DESKTOPDIRECTORY, TRUE);
    SHGetSpecialFolderPathW(nullptr, folder, CSIDL_PROGRAMS, TRUE);
  }
  void TearDown() override { CoUninitialize(); }
};

TEST_F(UninstallTest, AsksOnceThenRemovesEverythingOfTheInstallationAndItself) {
  Installation inst;
  inst.name = "测试软件";
  inst.folders = {"数据", "数据\\子目录", "空目录"};
  inst.files = {"测试软件.exe", "说明.txt", "数据\\a.dat", "数据\\子目录\\b.dat", "bin\\lib\\core.dll"};
  ASSERT_NO_FATAL_FAILURE(inst.lay_out());
  // The package gave one file read-only attributes.
  SetFileAttributesW(wide(inst.path("说明.txt")).c_str(), FILE_ATTRIBUTE_READONLY);
  ASSERT_NO_FATAL_FAILURE(inst.make_shortcuts());
  ASSERT_NO_FATAL_FAILURE(write_entry(inst.name, inst.dir));
  // Another product of this installer, elsewhere: not ours to remove.
  Installation other;
  other.name = "其他软件";
  other.files = {"其他软件.exe"};
  ASSERT_NO_FATAL_FAILURE(other.lay_out());
  ASSERT_NO_FATAL_FAILURE(write_entry(other.name, other.dir));

  e2e::Process uninstaller = e2e::Process::start(inst.uninstaller(), "", inst.dir);
  ASSERT_TRUE(uninstaller.started());
  std::string question = e2e::answer_prompt(uninstaller, true, "uninstall-confirm");
  EXPECT_NE(question.find("确定要卸载“测试软件”"), std::string::npos) << rt::utf8_from_cp936(question);
  std::string result = e2e::answer_prompt(uninstaller, true, "uninstall-done");
  EXPECT_NE(result.find("已从您的计算机中卸载"), std::string::npos) << rt::utf8_from_cp936(result);
  DWORD code = 99;
  ASSERT_TRUE(uninstaller.wait(kWait, &code));
  EXPECT_EQ(code, 0u);

  // The folder goes once the uninstaller has ended.
  EXPECT_TRUE(e2e::wait_until([&] { return !exists(inst.dir); }, kWait)) << "installation folder still there";
  EXPECT_FALSE(exists(desktop_link(inst.name)));
  EXPECT_FALSE(exists(programs_link(inst.name)));
  EXPECT_FALSE(entry_exists(inst.name));
  EXPECT_TRUE(entry_exists(other.name));
  EXPECT_TRUE(exists(other.uninstaller()));
  installer::registry_delete_tree(installer::kLocalMachine, entry_key(other.name));
}

TEST_F(UninstallTest, KeepsWhatIsNotItsOwnAndReportsIt) {
  Installation inst;
  inst.name = "Foo Tool";
  inst.folders = {"data"};
  inst.files = {"Foo Tool.exe", "data\\a.txt", "logs\\run.log"};
  // A path outside the installation that does not exist (any more).
  inst.extra_list_lines = {"C:\\nowhere-tarnel\\gone.txt"};
  ASSERT_NO_FATAL_FAILURE(inst.lay_out());
  ASSERT_NO_FATAL_FAILURE(write_entry(inst.name, inst.dir + "\\"));  // a folder chosen with its backslash
  // The person's own desktop shortcut of the same name starts something else.
  std::string elsewhere = testsupport::scratch_dir("elsewhere") + "\\Foo Tool.exe";
  ASSERT_TRUE(write(elsewhere, "x"));
  rt::Text own_name = inst.name;
  ASSERT_TRUE(installer::create_desktop_shortcut(own_name, elsewhere));
  ASSERT_TRUE(installer::create_shell_link(programs_link(inst.name), inst.path("Foo Tool.exe")));
  // Data the person added later.
  ASSERT_TRUE(write(inst.path("data\\mine.txt"), "keep me"));

  e2e::Process uninstaller = e2e::Process::start(inst.uninstaller());
  ASSERT_TRUE(uninstaller.started());
  e2e::answer_prompt(uninstaller, true);
  std::string result = e2e::answer_prompt(uninstaller, true, "uninstall-kept");
  EXPECT_NE(result.find(inst.path("data")), std::string::npos) << "the kept folder is named";
  EXPECT_EQ(result.find("gone.txt"), std::string::npos) << "a file already gone is no failure";
  DWORD code = 99;
  ASSERT_TRUE(uninstaller.wait(kWait, &code));
  EXPECT_EQ(code, 0u);

  EXPECT_TRUE(exists(inst.path("data\\mine.txt")));
  EXPECT_FALSE(exists(inst.path("data\\a.txt")));
  EXPECT_FALSE(exists(inst.path("Foo Tool.exe")));
  EXPECT_FALSE(exists(inst.path("logs")));
  EXPECT_TRUE(e2e::wait_until([&] { return !exists(inst.uninstaller()); }, kWait)) << "uninst.exe still there";
  EXPECT_TRUE(exists(inst.dir));
  EXPECT_TRUE(exists(desktop_link(inst.name)));
  EXPECT_FALSE(exists(programs_link(inst.name)));
  EXPECT_FALSE(entry_exists(inst.name));
  DeleteFileW(wide(desktop_link(inst.name)).c_str());
}

TEST_F(UninstallTest, SayingNoRemovesNothingAndSilentModeAsksNothing) {
  Installation inst;
  inst.name = "Bar";
  inst.files = {"Bar.exe"};
  ASSERT_NO_FATAL_FAILURE(inst.lay_out());
  ASSERT_NO_FATAL_FAILURE(write_entry(inst.name, inst.dir));

  e2e::Process uninstaller = e2e::Process::start(inst.uninstaller());
  e2e::answer_prompt(uninstaller, false);
  DWORD code = 99;
  ASSERT_TRUE(uninstaller.wait(kWait, &code));
  EXPECT_EQ(code, 2u);
  EXPECT_TRUE(exists(inst.path("Bar.exe")));
  EXPECT_TRUE(exists(inst.uninstaller()));
  EXPECT_TRUE(entry_exists(inst.name));

  e2e::Process silent = e2e::Process::start(inst.uninstaller(), "/s");
  ASSERT_TRUE(silent.wait(kWait, &code)) << "a silent run must not wait for anyone";
  EXPECT_EQ(code, 0u);
  EXPECT_FALSE(exists(inst.path("Bar.exe")));
  EXPECT_FALSE(entry_exists(inst.name));
  EXPECT_TRUE(e2e::wait_until([&] { return !exists(inst.dir); }, kWait)) << "installation folder still there";
}

TEST_F(UninstallTest, WithoutListOrEntryItTouchesNothingNotEvenItself) {
  std::string dir = testsupport::scratch_dir("bare");
  std::string copy = dir + "\\uninst.exe";
  ASSERT_TRUE(CopyFileW(wide(uninst_exe()).c_str(), wide(copy).c_str(), FALSE));
  ASSERT_TRUE(write(dir + "\\other.txt", "x"));

  e2e::Process uninstaller = e2e::Process::start(copy, "/S");
  DWORD code = 99;
  ASSERT_TRUE(uninstaller.wait(kWait, &code));
  EXPECT_EQ(code, 3u);
  Sleep(1000);  // a wrongly started clean-up would have had time to act
  EXPECT_TRUE(exists(copy));
  EXPECT_TRUE(exists(dir + "\\other.txt"));
}

// An entry names it but its list is missing or damaged (an earlier version's
// uninstaller replaced by a run that never finished): it cannot know what to
// remove, so it says so, removes nothing and keeps its entry and itself.
TEST_F(UninstallTest, WithAnEntryButNoUsableListItClaimsNothingAndKeepsEverything) {
  for (const char* list : {"", "C:\\elsewhere\\other.dll\r\n"}) {
    SCOPED_TRACE(list);
    Installation inst;
    inst.name = "无清单";
    inst.files = {"无清单.exe"};
    inst.lay_out();
    write_entry(inst.name, inst.dir);
    if (*list) inst.write_list(list);
    else ASSERT_TRUE(installer::write_resource(rt::Text(inst.uninstaller()), "install", "list", 0, rt::Bytes()));
    e2e::Process uninstaller = e2e::Process::start(inst.uninstaller(), "");
    std::string message = e2e::answer_prompt(uninstaller, true);
    EXPECT_NE(message.find("安装文件列表丢失或已损坏"), std::string::npos) << message;
    DWORD code = 99;
    ASSERT_TRUE(uninstaller.wait(kWait, &code));
    EXPECT_EQ(code, 5u);
    Sleep(1000);
    EXPECT_TRUE(exists(inst.uninstaller()));
    EXPECT_TRUE(exists(inst.path("无清单.exe")));
    EXPECT_TRUE(entry_exists(inst.name));
    installer::registry_delete_tree(installer::kLocalMachine, entry_key(inst.name));
  }
}

// The running application holds its files: the uninstaller removes nothing,
// keeps its entry and itself, names the program to close and exits non-zero;
// once the program is closed it removes everything. A file merely held open
// by another program counts the same.
TEST_F(UninstallTest, FilesInUseKeepEverythingUntilTheProgramIsClosed) {
  Installation inst;
  inst.name = "运行中";
  inst.files = {"data\\a.txt", "busy.dll"};
  ASSERT_NO_FATAL_FAILURE(inst.lay_out());
  ASSERT_TRUE(CopyFileW(wide(testsupport::native_path(DEMOAPP_EXE_PATH)).c_str(), wide(inst.path("App.exe")).c_str(),
                        FALSE));
  std::string list = "";
  for (const char* f : {"App.exe", "data\\a.txt", "busy.dll", "uninst.exe"}) list += inst.path(f) + "\r\n";
  ASSERT_NO_FATAL_FAILURE(inst.write_list(list));
  ASSERT_NO_FATAL_FAILURE(inst.make_shortcuts());
  ASSERT_NO_FATAL_FAILURE(write_entry(inst.name, inst.dir));
  auto everything_kept = [&] {
    for (const char* f : {"App.exe", "data\\a.txt", "busy.dll", "uninst.exe"})
      if (!exists(inst.path(f))) return ::testing::AssertionFailure() << f << " was removed";
    if (!entry_exists(inst.name)) return ::testing::AssertionFailure() << "the entry was removed";
    if (!exists(desktop_link(inst.name))) return ::testing::AssertionFailure() << "the shortcut was removed";
    return ::testing::AssertionSuccess();
  };
  DWORD code = 99;

  HANDLE held = CreateFileW(wide(inst.path("busy.dll")).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  e2e::Process silent = e2e::Process::start(inst.uninstaller(), "/S");
  ASSERT_TRUE(silent.wait(kWait, &code));
  EXPECT_EQ(code, 4u);
  EXPECT_TRUE(everything_kept());
  CloseHandle(held);

  e2e::Process app = e2e::Process::start(inst.path("App.exe"));
  ASSERT_TRUE(app.started());
  ASSERT_NE(e2e::wait_window(app.pid(), 20000), nullptr);
  e2e::Process uninstaller = e2e::Process::start(inst.uninstaller());
  e2e::answer_prompt(uninstaller, true);
  std::string message = e2e::answer_prompt(uninstaller, true, "uninstall-in-use");
  EXPECT_NE(message.find("请先关闭“App.exe”"), std::string::npos) << rt::utf8_from_cp936(message);
  EXPECT_NE(message.find(inst.path("App.exe")), std::string::npos) << rt::utf8_from_cp936(message);
  ASSERT_TRUE(uninstaller.wait(kWait, &code));
  EXPECT_EQ(code, 4u);
  Sleep(1000);  // a wrongly started clean-up would have had time to act
  EXPECT_TRUE(everything_kept());

  app.kill();
  app.wait(kWait);
  e2e::Process again = e2e::Process::start(inst.uninstaller(), "/S");
  ASSERT_TRUE(again.wait(kWait, &code));
  EXPECT_EQ(code, 0u);
  EXPECT_FALSE(entry_exists(inst.name));
  EXPECT_TRUE(e2e::wait_until([&] { return !exists(inst.dir); }, kWait)) << "installation folder still there";
}

// Attacks on the elevated uninstaller through what the person can write: a
// forged list naming files outside the installation, a folder of the
// installation replaced by a link to another folder, a listed file replaced
// by a link to another file. Nothing outside is deleted; the installation's
// own temporary entries are the one exception, and only inside the
// temporary folder.
TEST_F(UninstallTest, DeletesOnlyInsideTheInstallationNeverThroughALink) {
  std::string outside = testsupport::scratch_dir("victim");
  for (const char* f : {"forged.txt", "linked\\victim.txt", "target.txt"}) {
    CreateDirectoryW(wide(outside + "\\linked").c_str(), nullptr);
    ASSERT_TRUE(write(outside + "\\" + f, "not the installer's"));
  }
  // In the temporary folder: a file the installation made (its mark in the
  // list), one it did not make (no mark), and another's listed with the
  // first one's mark.
  std::string temp = installer::temp_directory().str() + "tarnel-uninstall-test-" + std::to_string(GetCurrentProcessId());
  const std::string own_temp = temp + ".tmp", unmarked = temp + "-unmarked.tmp", other = temp + "-other.tmp";
  for (const std::string& f : {own_temp, unmarked, other}) ASSERT_TRUE(write(f, "in the temporary folder"));
  HANDLE made = CreateFileW(wide(own_temp).c_str(), FILE_READ_ATTRIBUTES, 7, nullptr, OPEN_EXISTING, 0, nullptr);
  const std::string mark = installer::file_mark(made);
  CloseHandle(made);

  Installation inst;
  inst.name = "Forged";
  inst.files = {"Forged.exe"};
  ASSERT_NO_FATAL_FAILURE(inst.lay_out());
  ASSERT_TRUE(e2e::make_link(inst.path("sub"), outside + "\\linked"));
  ASSERT_TRUE(e2e::make_link(inst.path("file.txt"), outside + "\\target.txt"));
  std::string list;
  for (const std::string& line :
       {inst.path("Forged.exe"), inst.uninstaller(), outside + "\\forged.txt", inst.path("sub\\victim.txt"),
        inst.path("sub\\"), inst.path("file.txt"), inst.path(".\\sub\\.\\victim.txt"), own_temp + "\t" + mark,
        unmarked, other + "\t" + mark})
    list += line + "\r\n";
  ASSERT_NO_FATAL_FAILURE(inst.write_list(list));
  ASSERT_NO_FATAL_FAILURE(write_entry(inst.name, inst.dir));

  e2e::Process uninstaller = e2e::Process::start(inst.uninstaller());
  e2e::answer_prompt(uninstaller, true);
  std::string result = e2e::answer_prompt(uninstaller, true, "uninstall-refused");
  EXPECT_NE(result.find("不在安装文件夹中"), std::string::npos) << rt::utf8_from_cp936(result);
  EXPECT_NE(result.find(unmarked), std::string::npos) << "an unmarked temporary file is named, not removed";
  DWORD code = 99;
  ASSERT_TRUE(uninstaller.wait(kWait, &code));
  for (const char* f : {"forged.txt", "linked\\victim.txt", "target.txt"})
    EXPECT_EQ(testsupport::read_file(outside + "\\" + f), "not the installer's") << f;
  EXPECT_FALSE(exists(own_temp));
  EXPECT_TRUE(exists(unmarked));
  EXPECT_TRUE(exists(other)) << "a file with another's mark was removed";
  EXPECT_FALSE(exists(inst.path("Forged.exe")));
  // The listed file that is a link: on Windows the link itself goes; Wine
  // reports the handle at the link's target, so there it is refused and
  // stays. Either way its target stays (checked above).
  EXPECT_FALSE(entry_exists(inst.name));
  installer::registry_delete_tree(installer::kLocalMachine, entry_key(inst.name));
  for (const std::string& f : {unmarked, other}) DeleteFileW(wide(f).c_str());
}

// An installation for the machine knows itself from its own list: an entry
// the person writes in their own list (HKEY_CURRENT_USER), naming this
// uninstaller and a "DisplayName" that climbs out of the shortcut folders,
// takes nothing over; and a journal forged in its folder, whose restore
// target climbs out as text, is never replayed.
TEST_F(UninstallTest, ThePersonsOwnEntryOrJournalNeverSteersAnInstallationForTheMachine) {
  Installation inst;
  inst.name = "机器安装";
  inst.files = {"机器安装.exe"};
  ASSERT_NO_FATAL_FAILURE(inst.lay_out());
  std::string list = "|scope=machine\r\n|name=" + inst.name + "\r\n" + inst.path("机器安装.exe") + "\r\n" +
                     inst.uninstaller() + "\r\n";
  ASSERT_NO_FATAL_FAILURE(inst.write_list(list));
  ASSERT_NO_FATAL_FAILURE(write_entry(inst.name, inst.dir));
  // The person's forged entry, and the shortcut its name would reach.
  const std::wstring forged = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TarnelForged";
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, forged.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const std::wstring command = L"\"" + wide(inst.uninstaller()) + L"\"", name = L"..\\victim";
  RegSetValueExW(key, L"UninstallString", 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                 DWORD((command.size() + 1) * sizeof(wchar_t)));
  RegSetValueExW(key, L"DisplayName", 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                 DWORD((name.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  // "<desktop>\\..\\victim.lnk", as Windows resolves it.
  const std::string victim_link =
      installer::parent_folder(installer::special_folder(3)).str() + "\\victim.lnk";
  ASSERT_TRUE(installer::create_shell_link(victim_link, inst.path("机器安装.exe")));
  // The journal of a run that never was: its line names a library of the
  // attacker's, to be "restored" beside the victim's shortcut.
  std::string victim = testsupport::scratch_dir("journal-victim");
  std::string run = inst.path("~setup-run");
  CreateDirectoryW(wide(run).c_str(), nullptr);
  ASSERT_TRUE(write(run + "\\0", "the attacker's library"));
  ASSERT_TRUE(write(run + "\\journal", "B\t" + rt::utf8_from_cp936(inst.dir + "\\..\\..\\" +
                                                                     victim.substr(victim.rfind('\\') + 1) + "\\evil.dll") +
                                         "\t" + rt::utf8_from_cp936(run + "\\0") + "\n"));

  e2e::Process refused = e2e::Process::start(inst.uninstaller(), "/S");
  DWORD code = 99;
  ASSERT_TRUE(refused.wait(kWait, &code));
  EXPECT_EQ(code, 1u) << "an interrupted run that cannot be put right";
  EXPECT_FALSE(exists(victim + "\\evil.dll"));
  EXPECT_TRUE(entry_exists(inst.name));

  ASSERT_TRUE(DeleteFileW(wide(run + "\\journal").c_str()));
  ASSERT_TRUE(DeleteFileW(wide(run + "\\0").c_str()));
  ASSERT_TRUE(RemoveDirectoryW(wide(run).c_str()));
  e2e::Process uninstaller = e2e::Process::start(inst.uninstaller(), "/S");
  ASSERT_TRUE(uninstaller.wait(kWait, &code));
  EXPECT_EQ(code, 0u);
  EXPECT_FALSE(entry_exists(inst.name)) << "the machine's entry was left";
  EXPECT_TRUE(exists(victim_link)) << "a shortcut outside the shortcut folders was removed";
  HKEY still = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, forged.c_str(), 0, KEY_READ, &still), ERROR_SUCCESS)
      << "the person's own entry is not the installation's";
  if (still) RegCloseKey(still);
  RegDeleteTreeW(HKEY_CURRENT_USER, forged.c_str());
  RegDeleteKeyW(HKEY_CURRENT_USER, forged.c_str());
  DeleteFileW(wide(victim_link).c_str());
  EXPECT_TRUE(e2e::wait_until([&] { return !exists(inst.dir); }, kWait)) << "installation folder still there";
}

// What removes the uninstaller after it has ended runs elevated: today's
// attack rewrote its script in the shared temporary folder before it ran.
// A watcher rewrites every script that appears in either temporary folder
// (the user's and the system's) the instant it sees it: none may appear.
TEST_F(UninstallTest, SelfRemovalLeavesNoScriptOrProgramAnyoneCouldRewrite) {
  Installation inst;
  inst.name = "Planted";
  inst.files = {"Planted.exe"};
  ASSERT_NO_FATAL_FAILURE(inst.lay_out());
  ASSERT_NO_FATAL_FAILURE(write_entry(inst.name, inst.dir));
  wchar_t windows[MAX_PATH];
  GetSystemWindowsDirectoryW(windows, MAX_PATH);
  const std::string folders[] = {installer::temp_directory().str(), rt::cp936_from_wchar(windows) + "\\Temp\\"};
  std::string marker = testsupport::scratch_dir("planted") + "\\payload-ran";
  // The attacker's program: the marker program, which leaves "<its path>.ran".
  const std::wstring payload = wide(testsupport::native_path(MARKER_EXE_PATH));
  std::atomic<bool> stop{false};
  std::vector<std::string> seen;
  std::set<std::string> replaced, earlier;
  // Copies other uninstallations left behind are not this one's.
  for (const std::string& folder : folders) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(wide(folder + "uninst-*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) continue;
    do earlier.insert(folder + rt::cp936_from_wchar(found.cFileName) + "\\cleanup.exe");
    while (FindNextFileW(search, &found));
    FindClose(search);
  }
  std::thread watcher([&] {
    while (!stop) {
      for (const std::string& folder : folders) {
        for (const char* pattern : {"*.cmd", "*.bat"}) {
          WIN32_FIND_DATAW found;
          HANDLE search = FindFirstFileW(wide(folder + pattern).c_str(), &found);
          if (search == INVALID_HANDLE_VALUE) continue;
          do {
            std::string script = folder + rt::cp936_from_wchar(found.cFileName);
            write(script, "@echo off\r\necho ran > \"" + marker + "\"\r\n");
            seen.push_back(script);
          } while (FindNextFileW(search, &found));
          FindClose(search);
        }
        // The copy that removes the uninstaller, replaced the instant it
        // appears. Only an existing copy: its folder lets only administrators
        // create files, which Wine does not enforce.
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW(wide(folder + "uninst-*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) continue;
        do {
          std::string copy = folder + rt::cp936_from_wchar(found.cFileName) + "\\cleanup.exe";
          if (!earlier.count(copy) && GetFileAttributesW(wide(copy).c_str()) != INVALID_FILE_ATTRIBUTES &&
              CopyFileW(payload.c_str(), wide(copy).c_str(), FALSE))
            replaced.insert(copy);
        } while (FindNextFileW(search, &found));
        FindClose(search);
      }
      Sleep(1);
    }
  });
  e2e::Process uninstaller = e2e::Process::start(inst.uninstaller(), "/S");
  DWORD code = 99;
  bool ended = uninstaller.wait(kWait, &code);
  bool gone = e2e::wait_until([&] { return !exists(inst.dir); }, kWait);
  stop = true;
  watcher.join();
  ASSERT_TRUE(ended);
  EXPECT_EQ(code, 0u);
  EXPECT_TRUE(gone) << "installation folder still there";
  EXPECT_TRUE(seen.empty()) << "a script appeared: " << seen.front();
  EXPECT_FALSE(exists(marker)) << "the planted payload ran";
  for (const std::string& copy : replaced) EXPECT_FALSE(exists(copy + ".ran")) << "the attacker's program ran: " << copy;
}

// The copy that removes the uninstaller once it has ended works through
// handles held since the uninstallation began: a folder above the
// installation, swapped for a link to a victim's folder while the last
// message waits, leads it nowhere (the swap itself fails: the folders are
// held).
TEST_F(UninstallTest, AFolderAboveSwappedForALinkNeverLeadsTheSelfRemovalElsewhere) {
  Installation inst;
  inst.name = "上层";
  inst.files = {"a.txt"};
  ASSERT_NO_FATAL_FAILURE(inst.lay_out());
  ASSERT_NO_FATAL_FAILURE(write_entry(inst.name, inst.dir));
  // The victim has an installation folder of the same shape, uninst.exe and all.
  std::string above = inst.dir.substr(0, inst.dir.rfind('\\'));
  std::string victim = testsupport::scratch_dir("above-victim");
  std::string victim_inst = victim + inst.dir.substr(above.size());
  CreateDirectoryW(wide(victim_inst).c_str(), nullptr);
  ASSERT_TRUE(write(victim_inst + "\\uninst.exe", "the victim's"));

  e2e::Process uninstaller = e2e::Process::start(inst.uninstaller());
  e2e::answer_prompt(uninstaller, true);
  ASSERT_TRUE(e2e::wait_until(
      [&] {
        for (HWND top : e2e::top_windows(uninstaller.pid())) {
          HWND label = e2e::find_unit(top, "信息标签");
          if (label && !e2e::window_text(label).empty()) return true;
        }
        return false;
      },
      kWait));
  // The last message waits: the swap an attacker needs.
  bool swapped = MoveFileW(wide(above).c_str(), wide(above + "-away").c_str());
  if (swapped) ASSERT_TRUE(e2e::make_link(above, victim));
  e2e::answer_prompt(uninstaller, true);
  DWORD code = 99;
  ASSERT_TRUE(uninstaller.wait(kWait, &code));
  Sleep(3000);  // the copy has done its work by now
  EXPECT_FALSE(swapped) << "a folder above the installation was renamed while it was held";
  EXPECT_EQ(e2e::read_all(victim_inst + "\\uninst.exe"), "the victim's");
  if (swapped) {
    DeleteFileW(wide(above).c_str());
    MoveFileW(wide(above + "-away").c_str(), wide(above).c_str());
  }
}

// The removal of itself reads no path as a command: an installation folder
// named with "%i" ("百分%i") once made a command interpreter's loop expand it
// to "百分1", "百分2", ... and delete the uninstallers of those folders.
TEST_F(UninstallTest, AFolderNameIsNeverACommand) {
  Installation inst;
  inst.name = "百分%i%TEMP%";
  inst.files = {"a.txt"};
  ASSERT_NO_FATAL_FAILURE(inst.lay_out());
  ASSERT_NO_FATAL_FAILURE(write_entry(inst.name, inst.dir));
  std::string parent = inst.dir.substr(0, inst.dir.rfind('\\'));
  std::vector<std::string> decoys;
  for (const char* expanded : {"百分1%TEMP%", "百分2%TEMP%", "百分3%TEMP%"}) {
    std::string folder = parent + "\\" + expanded;
    ASSERT_TRUE(CreateDirectoryW(wide(folder).c_str(), nullptr));
    decoys.push_back(folder + "\\uninst.exe");
    ASSERT_TRUE(write(decoys.back(), "a decoy"));
  }
  e2e::Process uninstaller = e2e::Process::start(inst.uninstaller(), "/S");
  DWORD code = 99;
  ASSERT_TRUE(uninstaller.wait(kWait, &code));
  EXPECT_EQ(code, 0u);
  EXPECT_TRUE(e2e::wait_until([&] { return !exists(inst.dir); }, kWait)) << "installation folder still there";
  Sleep(2000);  // a loop over the name would have reached the decoys by now
  for (const std::string& decoy : decoys) EXPECT_TRUE(exists(decoy)) << decoy;
}

}  // namespace
