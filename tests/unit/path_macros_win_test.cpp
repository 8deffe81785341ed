// Named folders and macros against the real environment, registry and
// temporary directory of the test prefix.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "installer/platform/launch.h"
#include "installer/steps/path_macros.h"
#include "runtime/value/codepage.h"

namespace {

const wchar_t kShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// Sets a "Shell Folders" value for the test and removes it again.
struct ShellFolderValue {
  HKEY root;
  std::wstring name;
  ShellFolderValue(HKEY r, const wchar_t* n, DWORD type, const std::string& value_cp936) : root(r), name(n) {
    std::wstring v = rt::wide_path(value_cp936);
    RegSetKeyValueW(root, kShellFolders, n, type, v.c_str(), DWORD((v.size() + 1) * sizeof(wchar_t)));
  }
  ~ShellFolderValue() { RegDeleteKeyValueW(root, kShellFolders, name.c_str()); }
};

TEST(NamedFolderWinTest, ResolvesThroughEnvironmentComSpecAndShellFolders) {
  std::wstring chinese = rt::wide_path("C:\\用户\\漫游");
  SetEnvironmentVariableW(L"AppData", chinese.c_str());
  EXPECT_EQ(installer::named_folder(1), "C:\\用户\\漫游");
  EXPECT_EQ(installer::named_folder(0), "C:\\用户\\漫游");
  SetEnvironmentVariableW(L"ComSpec", L"C:\\Windows\\system32\\cmd.exe");
  EXPECT_EQ(installer::named_folder(37), "C:\\Windows\\system32");
  wchar_t pf[MAX_PATH];
  GetEnvironmentVariableW(L"ProgramFiles", pf, MAX_PATH);
  EXPECT_EQ(installer::named_folder(40).str(), rt::cp936_from_wchar(pf));
  // "CD Burning" (3) from HKEY_CURRENT_USER, expanded; "Common Templates" (31)
  // from HKEY_LOCAL_MACHINE; a value of another type reads as nothing.
  SetEnvironmentVariableW(L"ZIPTEST_ROOT", rt::wide_path("D:\\根").c_str());
  ShellFolderValue burn(HKEY_CURRENT_USER, L"CD Burning", REG_EXPAND_SZ, "%ZIPTEST_ROOT%\\刻录");
  ShellFolderValue templates(HKEY_LOCAL_MACHINE, L"Common Templates", REG_SZ, "C:\\模板");
  ShellFolderValue wrong_root(HKEY_CURRENT_USER, L"Common Templates", REG_SZ, "C:\\wrong");
  EXPECT_EQ(installer::named_folder(3), "D:\\根\\刻录");
  EXPECT_EQ(installer::named_folder(31), "C:\\模板");
  DWORD number = 7;
  RegSetKeyValueW(HKEY_CURRENT_USER, kShellFolders, L"Recent", REG_DWORD, &number, sizeof number);
  EXPECT_EQ(installer::named_folder(18), "");
  RegDeleteKeyValueW(HKEY_CURRENT_USER, kShellFolders, L"Recent");
}

TEST(NamedFolderWinTest, TheInstallerFolderIsTheProgramsOwn) {
  wchar_t exe[MAX_PATH];
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring dir(exe);
  dir.resize(dir.find_last_of(L'\\'));
  EXPECT_EQ(installer::named_folder(43).str(), rt::cp936_from_wchar(dir.c_str()));
}

TEST(PathMacroWinTest, TmpIsTheTemporaryDirectory) {
  rt::Text temp = installer::temp_directory();
  ASSERT_FALSE(temp.empty());
  EXPECT_EQ(installer::expand_path_macros("{tmp}/setup.tmp", "C:\\A"), rt::text_concat({temp.view(), "setup.tmp"}));
  EXPECT_EQ(installer::expand_path_macros("{app}/数据/a.txt", "C:\\安装"), "C:\\安装\\数据/a.txt");
}

}  // namespace
