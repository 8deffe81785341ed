// Special folders, the directory test, the program's own resources and
// starting files, under Wine against the real file system.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "installer/platform/folder_access.h"
#include "installer/platform/launch.h"
#include "installer/platform/protected_folder.h"
#include "installer/platform/resources.h"
#include "runtime/value/codepage.h"
#include "tests/support/paths.h"
#include "tests/support/windows_win.h"

namespace {

using installer::special_folder;

std::string wide_folder(int csidl) {
  wchar_t buf[MAX_PATH] = {};
  if (!SHGetSpecialFolderPathW(nullptr, buf, csidl, FALSE)) return "";
  std::string s = rt::cp936_from_wchar(buf);
  if (s.empty() || s.back() != '\\') s += '\\';
  return s;
}

TEST(SpecialFolderTest, KindsMapToTheirFoldersWithATrailingBackslash) {
  EXPECT_EQ(special_folder(installer::kFolderPersonal).str(), wide_folder(CSIDL_PERSONAL));
  EXPECT_EQ(special_folder(installer::kFolderPrograms).str(), wide_folder(CSIDL_PROGRAMS));
  EXPECT_EQ(special_folder(installer::kFolderAppData).str(), wide_folder(CSIDL_APPDATA));
  EXPECT_EQ(special_folder(installer::kFolderSystem).str(), wide_folder(CSIDL_SYSTEM));
  EXPECT_EQ(special_folder(installer::kFolderCommonAppData).str(), wide_folder(CSIDL_COMMON_APPDATA));
  EXPECT_EQ(special_folder(0, CSIDL_WINDOWS, true).str(), wide_folder(CSIDL_WINDOWS));
  std::string desktop = wide_folder(CSIDL_DESKTOPDIRECTORY);
  ASSERT_FALSE(desktop.empty());
  for (int kind : {0, 14, -1, 3}) EXPECT_EQ(special_folder(kind).str(), desktop) << kind;
}

TEST(SpecialFolderTest, TemporaryDirectoryEndsWithExactlyOneBackslash) {
  rt::Text temp = installer::temp_directory();
  ASSERT_GE(temp.size(), 3u);
  std::string s = temp.str();
  EXPECT_EQ(s.back(), '\\');
  EXPECT_NE(s[s.size() - 2], '\\');
  EXPECT_EQ(special_folder(installer::kFolderTemp), temp);
  EXPECT_TRUE(installer::directory_exists(temp));
}

TEST(DirectoryExistsTest, TellsFoldersFromFilesAndChinesePathsWork) {
  std::string dir = testsupport::scratch_dir("launch") + "\\安装目录";
  EXPECT_FALSE(installer::directory_exists(dir));
  ASSERT_TRUE(CreateDirectoryW(rt::wide_path(dir).c_str(), nullptr));
  EXPECT_TRUE(installer::directory_exists(dir));
  EXPECT_TRUE(installer::directory_exists(dir + "\\"));
  std::string file = dir + "\\说明.txt";
  HANDLE h = CreateFileW(rt::wide_path(file).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  EXPECT_FALSE(installer::directory_exists(file));
  EXPECT_FALSE(installer::directory_exists(""));
}

TEST(LaunchFileTest, MissingFileIsFalse) {
  std::string dir = testsupport::scratch_dir("launch");
  EXPECT_FALSE(installer::launch_file(dir + "\\不存在.exe", "", 0));
  EXPECT_FALSE(installer::launch_file(dir + "\\nowhere\\missing.exe", "/q", 1));
}

TEST(LaunchFileTest, ExistingFileWithoutAssociatedProgramIsTrue) {
  std::string file = testsupport::scratch_dir("launch") + "\\data.tarnelnoassoc";
  ASSERT_TRUE(testsupport::write_file(file, "no program opens this"));
  EXPECT_TRUE(installer::launch_file(file, "", 0));
}

TEST(LaunchFileTest, StartsAProgramWithItsParameters) {
  std::string made = testsupport::scratch_dir("launch") + "\\已启动";
  std::string cmd = special_folder(installer::kFolderSystem).str() + "cmd.exe";
  ASSERT_TRUE(installer::launch_file(cmd, "/c mkdir \"" + made + "\"", 1));
  for (int i = 0; i < 600 && !installer::directory_exists(made); ++i) Sleep(50);
  EXPECT_TRUE(installer::directory_exists(made));
}

// The finish button and the links start programs as the person: an elevated
// installer asks the desktop shell, which starts them with its own rights,
// and starts nothing itself when no shell answers; a person's own installer
// starts them directly. Wine has no integrity levels, so what this can show
// is the road taken (the person's road in a copy of this test started with
// the limited token).
const char kPersonChild[] = "TARNEL_PERSON_CHILD";

TEST(StartAsPersonChild, APersonsProgramStartsItDirectlyWhenNoShellAnswers) {
  wchar_t wide[MAX_PATH] = {};
  if (!GetEnvironmentVariableW(rt::wide_path(kPersonChild).c_str(), wide, MAX_PATH))
    GTEST_SKIP() << "runs only in the unelevated copy";
  const std::string made = rt::cp936_from_wchar(wide);
  ASSERT_FALSE(installer::running_elevated());
  auto shell_no = [](const std::wstring&, const std::wstring&, const std::wstring&) { return false; };
  std::string cmd = special_folder(installer::kFolderSystem).str() + "cmd.exe";
  EXPECT_EQ(installer::start_as_person(cmd, "/c mkdir \"" + made + "\"", shell_no), installer::PersonStart::kDirect);
  EXPECT_EQ(installer::start_as_person(made + "\\missing.exe", "", shell_no), installer::PersonStart::kFailed);
}

TEST(StartAsPersonTest, TheShellStartsItAndAnElevatedProgramNeverStartsItItself) {
  static std::wstring asked;
  std::string made = testsupport::scratch_dir("person") + "\\已启动";
  std::string cmd = special_folder(installer::kFolderSystem).str() + "cmd.exe";
  auto shell_yes = [](const std::wstring& file, const std::wstring& parameters, const std::wstring&) {
    asked = file + L" " + parameters;
    return true;
  };
  auto shell_no = [](const std::wstring&, const std::wstring&, const std::wstring&) { return false; };
  ASSERT_TRUE(installer::running_elevated()) << "Wine's programs are elevated";
  EXPECT_EQ(installer::start_as_person(cmd, "/c mkdir \"" + made + "\"", shell_yes),
            installer::PersonStart::kThroughShell);
  EXPECT_NE(asked.find(L"cmd.exe /c mkdir"), std::wstring::npos);
  EXPECT_EQ(installer::start_as_person(cmd, "/c mkdir \"" + made + "\"", shell_no), installer::PersonStart::kFailed);
  Sleep(500);
  EXPECT_FALSE(installer::directory_exists(made)) << "an elevated program started it itself";

  SetEnvironmentVariableW(rt::wide_path(kPersonChild).c_str(), rt::wide_path(made).c_str());
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  EXPECT_EQ(testsupport::run_unelevated(L"\"" + std::wstring(self) + L"\" --gtest_filter=StartAsPersonChild.*"), 0);
  SetEnvironmentVariableW(rt::wide_path(kPersonChild).c_str(), nullptr);
  for (int i = 0; i < 600 && !installer::directory_exists(made); ++i) Sleep(50);
  EXPECT_TRUE(installer::directory_exists(made)) << "the person's program did not start it";
}

bool under_wine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

// An elevated run's folders: made with their own, protected access list. On
// Windows it reads back as written; Wine keeps no access lists (it shows one
// made from the Unix mode), so there what is judged from it is checked: the
// working folders keep everyone untrusted out, a plain folder does not.
TEST(ProtectedFolderTest, AccessListsReadBackAsWrittenAndKeepOthersOut) {
  std::string dir = testsupport::scratch_dir("protected");
  rt::win::Folder parent = rt::win::Folder::open(rt::wide_from_cp936(dir));
  ASSERT_TRUE(parent);
  const std::vector<std::string> trusted = installer::trusted_owners();
  for (auto access : {installer::FolderAccess::kInstalled, installer::FolderAccess::kPrivate,
                      installer::FolderAccess::kPersonal}) {
    std::u16string name = access == installer::FolderAccess::kInstalled ? u"程序" : access == installer::FolderAccess::kPrivate ? u"private" : u"personal";
    rt::win::FileStatus status = rt::win::FileStatus::kOk;
    rt::win::Folder made = installer::make_protected_folder(parent, name, access, &status);
    ASSERT_TRUE(made);
    EXPECT_FALSE(installer::make_protected_folder(parent, name, access, &status));
    EXPECT_EQ(status, rt::win::FileStatus::kExists);
    if (!under_wine()) {
      PSECURITY_DESCRIPTOR sd = nullptr;
      PACL dacl = nullptr;
      ASSERT_EQ(GetSecurityInfo(made.handle(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                                nullptr, &sd),
                DWORD(ERROR_SUCCESS));
      LPWSTR text = nullptr;
      ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(sd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                                       &text, nullptr));
      EXPECT_EQ(std::wstring(text), installer::folder_access_sddl(access));
      LocalFree(text);
      LocalFree(sd);
    }
    installer::FolderSecurity security;
    ASSERT_TRUE(installer::read_security(made.handle(), &security));
    EXPECT_TRUE(installer::untrusted_writers(security, trusted).empty());
    if (access != installer::FolderAccess::kInstalled) EXPECT_TRUE(installer::kept_for(security, trusted));
  }
  ASSERT_TRUE(CreateDirectoryW(rt::wide_path(dir + "\plain").c_str(), nullptr));
  installer::FolderSecurity plain;
  ASSERT_TRUE(installer::read_security(parent.open_folder(u"plain").handle(), &plain));
  EXPECT_FALSE(installer::kept_for(plain, trusted)) << "everyone may read a plain folder";
}

// Resources: a copy of this program gets a "SYSTEM" resource named "101" and
// runs the child test below, which reads it back with load_resource_bytes.
const char kChildVariable[] = "TARNEL_RESOURCE_CHILD";

TEST(LoadResourceChild, ReadsTheResourceItWasGiven) {
  if (!std::getenv(kChildVariable)) GTEST_SKIP() << "runs only in the patched copy";
  rt::Bytes bytes = installer::load_resource_bytes("system", "101");
  EXPECT_EQ(bytes.view(), std::string("logo\0data\xFF", 10));
  EXPECT_TRUE(installer::load_resource_bytes("system", "102").empty());
  EXPECT_TRUE(installer::load_resource_bytes("other", "101").empty());
}

TEST(LoadResourceTest, StringNamedResourceOfTheOwnFile) {
  wchar_t self[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
  std::string copy = testsupport::scratch_dir("resource") + "\\child.exe";
  std::wstring wide_copy = rt::wide_path(copy);
  ASSERT_TRUE(CopyFileW(self, wide_copy.c_str(), FALSE));
  HANDLE update = BeginUpdateResourceW(wide_copy.c_str(), FALSE);
  ASSERT_NE(update, nullptr);
  static const char data[] = "logo\0data\xFF";
  ASSERT_TRUE(UpdateResourceW(update, L"SYSTEM", L"101", MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                              const_cast<char*>(data), 10));
  ASSERT_TRUE(EndUpdateResourceW(update, FALSE));

  // Outside the patched copy there is no such resource.
  EXPECT_TRUE(installer::load_resource_bytes("system", "101").empty());

  SetEnvironmentVariableA(kChildVariable, "1");
  std::wstring command = L"\"" + wide_copy + L"\" --gtest_filter=LoadResourceChild.*";
  long code = testsupport::run_program(command);
  SetEnvironmentVariableA(kChildVariable, nullptr);
  EXPECT_EQ(code, 0);
}

}  // namespace
