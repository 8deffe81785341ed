// Special folders, the directory test, the program's own resources and
// starting files, under Wine against the real file system.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

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
// installer asks the desktop shell, which starts them with its own rights.
// Wine has no integrity levels and no shell window to ask, so what this can
// show is the road taken: the shell first whenever one answers, the direct
// start only when none does (and then the program does run).
TEST(StartAsPersonTest, TheShellStartsItAndTheDirectStartIsOnlyTheFallback) {
  static std::wstring asked;
  std::string made = testsupport::scratch_dir("person") + "\\已启动";
  std::string cmd = special_folder(installer::kFolderSystem).str() + "cmd.exe";
  auto shell_yes = [](const std::wstring& file, const std::wstring& parameters, const std::wstring&) {
    asked = file + L" " + parameters;
    return true;
  };
  auto shell_no = [](const std::wstring&, const std::wstring&, const std::wstring&) { return false; };
  EXPECT_EQ(installer::start_as_person(cmd, "/c mkdir \"" + made + "\"", shell_yes),
            installer::PersonStart::kThroughShell);
  EXPECT_NE(asked.find(L"cmd.exe /c mkdir"), std::wstring::npos);
  Sleep(500);
  EXPECT_FALSE(installer::directory_exists(made)) << "started directly although the shell had";
  EXPECT_EQ(installer::start_as_person(cmd, "/c mkdir \"" + made + "\"", shell_no), installer::PersonStart::kDirect);
  for (int i = 0; i < 600 && !installer::directory_exists(made); ++i) Sleep(50);
  EXPECT_TRUE(installer::directory_exists(made));
  EXPECT_EQ(installer::start_as_person(made + "\\missing.exe", "", shell_no), installer::PersonStart::kFailed);
}

bool under_wine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

// An elevated run's folders: made with their own, protected access list. On
// Windows it reads back as written; Wine keeps no access lists (it shows one
// made from the Unix mode), so there the list is checked as it is given.
TEST(ProtectedFolderTest, AccessListsReadBackAsWritten) {
  std::string dir = testsupport::scratch_dir("protected");
  for (auto access : {installer::FolderAccess::kInstalled, installer::FolderAccess::kPrivate}) {
    std::wstring folder = rt::wide_path(dir + (access == installer::FolderAccess::kPrivate ? "\\private" : "\\程序"));
    ASSERT_TRUE(installer::create_protected_folder(std::u16string(folder.begin(), folder.end()), access));
    EXPECT_FALSE(installer::create_protected_folder(std::u16string(folder.begin(), folder.end()), access));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (under_wine()) {
      ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(installer::folder_access_sddl(access),
                                                                       SDDL_REVISION_1, &sd, nullptr));
    } else {
      PACL dacl = nullptr;
      ASSERT_EQ(GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                      &dacl, nullptr, &sd),
                DWORD(ERROR_SUCCESS));
    }
    LPWSTR text = nullptr;
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(sd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                                     &text, nullptr));
    EXPECT_EQ(std::wstring(text), installer::folder_access_sddl(access));
    LocalFree(text);
    LocalFree(sd);
  }
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
