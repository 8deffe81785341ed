// The uninstall entry in the prefix's registry. ctest runs this program twice:
// in the 32-bit test prefix, and in a 64-bit one (tests/wine64/run.sh sets
// TARNEL_EXPECT_WIN64=1), where the entry must land under WOW6432Node.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "installer/format/installed_list.h"
#include "installer/format/format.h"
#include "installer/platform/pe_image.h"
#include "installer/platform/resources.h"
#include "runtime/zip/zip_fs.h"
#include "installer/steps/uninstall_entry.h"
#include "runtime/value/codepage.h"
#include "tests/support/paths.h"

namespace {

const wchar_t kUninstall[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const wchar_t kUninstallWow[] = L"SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

bool expect_win64() {
  const char* v = std::getenv("TARNEL_EXPECT_WIN64");
  return v && std::string(v) == "1";
}

struct Value {
  DWORD type = 0;
  std::wstring text;  // REG_SZ contents up to the first NUL
  std::string raw;
};

// Opens a key of the machine's native view (the 64-bit one on 64-bit Windows).
HKEY open_native(const std::wstring& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
    return nullptr;
  return key;
}

bool native_key_exists(const std::wstring& path) {
  HKEY key = open_native(path);
  if (key) RegCloseKey(key);
  return key != nullptr;
}

std::vector<std::wstring> value_names(HKEY key) {
  std::vector<std::wstring> names;
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD length = 256;
    if (RegEnumValueW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name, length);
  }
  return names;
}

Value read_value(HKEY key, const wchar_t* name) {
  Value v;
  BYTE data[4096] = {};
  DWORD size = sizeof data - 2;
  if (RegQueryValueExW(key, name, nullptr, &v.type, data, &size) != ERROR_SUCCESS) return v;
  v.raw.assign(reinterpret_cast<char*>(data), size);
  v.text = reinterpret_cast<wchar_t*>(data);
  return v;
}

std::wstring wide(const std::string& cp936) { return rt::wide_path(cp936); }

class UninstallEntryTest : public testing::Test {
 protected:
  void SetUp() override {
    win64 = expect_win64();
    base = win64 ? kUninstallWow : kUninstall;
  }
  void TearDown() override {
    for (const std::wstring& k : made) {
      RegDeleteKeyExW(HKEY_LOCAL_MACHINE, k.c_str(), KEY_WOW64_64KEY, 0);
    }
  }
  std::wstring key_of(const std::string& name) {
    std::wstring k = base + L"\\Tarnel" + wide(name);
    made.push_back(k);
    return k;
  }

  bool win64 = false;
  std::wstring base;
  std::vector<std::wstring> made;
};

TEST_F(UninstallEntryTest, DetectsTheWindowsOfThePrefix) { EXPECT_EQ(installer::is_64bit_windows(), win64); }

TEST_F(UninstallEntryTest, WritesTheValuesUnderTheViewsUninstallListTextsWithTheirTerminatingZero) {
  std::string name = "Foo" + std::to_string(GetCurrentProcessId());
  ASSERT_TRUE(installer::register_uninstall(
      {name, "1.0", "C:\\Program Files\\Foo", "Foo Ltd", "", "Foo.exe", 1234, installer::today_yyyymmdd()}));
  HKEY key = open_native(key_of(name));
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(value_names(key),
            (std::vector<std::wstring>{L"DisplayIcon", L"DisplayName", L"DisplayVersion", L"EstimatedSize",
                                       L"InstallDate", L"InstallLocation", L"NoModify", L"NoRepair", L"Publisher",
                                       L"QuietUninstallString", L"UninstallString", L"URLInfoAbout"}));
  // Read back as stored: every text's stored length counts its terminating zero.
  const struct {
    const wchar_t* name;
    std::wstring text;
  } texts[] = {
      {L"DisplayIcon", L"\"C:\\Program Files\\Foo\\Foo.exe\""},
      {L"DisplayName", wide(name)},
      {L"DisplayVersion", L"1.0"},
      {L"InstallLocation", L"C:\\Program Files\\Foo"},
      {L"Publisher", L"Foo Ltd"},
      {L"QuietUninstallString", L"\"C:\\Program Files\\Foo\\uninst.exe\" /S"},
      {L"UninstallString", L"\"C:\\Program Files\\Foo\\uninst.exe\""},
      {L"URLInfoAbout", L""},
  };
  for (const auto& t : texts) {
    SCOPED_TRACE(rt::cp936_from_wchar(t.name));
    Value v = read_value(key, t.name);
    EXPECT_EQ(v.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(v.raw, std::string(reinterpret_cast<const char*>(t.text.c_str()), (t.text.size() + 1) * 2));
  }
  Value date = read_value(key, L"InstallDate");
  EXPECT_EQ(date.text.size(), 8u);
  EXPECT_EQ(date.text.find_first_not_of(L"0123456789"), std::wstring::npos);
  EXPECT_EQ(date.text.substr(0, 2), L"20");
  Value size = read_value(key, L"EstimatedSize");
  EXPECT_EQ(size.type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(size.raw, std::string("\xD2\x04\x00\x00", 4));
  Value no_modify = read_value(key, L"NoModify");
  EXPECT_EQ(no_modify.type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(no_modify.raw, std::string("\x01\x00\x00\x00", 4));
  EXPECT_EQ(read_value(key, L"NoRepair").raw, std::string("\x01\x00\x00\x00", 4));
  RegCloseKey(key);

  // On 64-bit Windows the entry is in the 32-bit view, WOW6432Node, and only there.
  std::wstring tail = L"\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarnel" + wide(name);
  EXPECT_EQ(native_key_exists(L"SOFTWARE" + tail), !win64);
  EXPECT_EQ(native_key_exists(L"SOFTWARE\\WOW6432Node" + tail), win64);
  EXPECT_FALSE(native_key_exists(L"SOFTWARE\\WOW6432Node\\WOW6432Node" + tail));
}

TEST_F(UninstallEntryTest, InstallingTwiceLeavesOneEntryWithTheSecondRunsValues) {
  std::string name = "Twice" + std::to_string(GetCurrentProcessId());
  ASSERT_TRUE(installer::register_uninstall(
      {name, "1.0", "C:\\Old", "Old Ltd", "http://old.example", "Old.exe", 1, "20250101"}));
  // A value an older version wrote, and a subkey of its own.
  std::wstring k = key_of(name);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, k.c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &key), ERROR_SUCCESS);
  RegSetValueExW(key, L"Stale", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"x"), 4);
  HKEY sub = nullptr;
  RegCreateKeyExW(key, L"Extra", 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &sub, nullptr);
  RegCloseKey(sub);
  RegCloseKey(key);

  ASSERT_TRUE(
      installer::register_uninstall({name, "2.0", "D:\\New", "New Ltd", "", "New.exe", 2, "20260101"}));
  key = open_native(k);
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(value_names(key).size(), 12u);
  EXPECT_EQ(read_value(key, L"Stale").type, 0u);
  EXPECT_EQ(RegOpenKeyExW(key, L"Extra", 0, KEY_READ | KEY_WOW64_64KEY, &sub), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(read_value(key, L"DisplayVersion").text, L"2.0");
  EXPECT_EQ(read_value(key, L"InstallLocation").text, L"D:\\New");
  EXPECT_EQ(read_value(key, L"Publisher").text, L"New Ltd");
  EXPECT_EQ(read_value(key, L"URLInfoAbout").raw, std::string(2, '\0'));
  RegCloseKey(key);

  // One entry of that name in the list.
  HKEY list = open_native(base);
  ASSERT_NE(list, nullptr);
  int found = 0;
  for (DWORD i = 0;; ++i) {
    wchar_t sub_name[256];
    DWORD length = 256;
    if (RegEnumKeyExW(list, i, sub_name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    if (std::wstring(sub_name).find(L"Tarnel" + wide(name)) == 0) ++found;
  }
  RegCloseKey(list);
  EXPECT_EQ(found, 1);
}

TEST_F(UninstallEntryTest, ChineseTextsAreStoredAsUnicodeThatWindowsShows) {
  std::string name = "测试软件" + std::to_string(GetCurrentProcessId());
  ASSERT_TRUE(
      installer::register_uninstall({name, "版本 1", "C:\\程序\\测试", "公司", "http://例子.example", "测试.exe", 0, ""}));
  HKEY key = open_native(key_of(name));
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(read_value(key, L"DisplayName").text, wide(name));
  EXPECT_EQ(read_value(key, L"DisplayVersion").text, wide("版本 1"));
  EXPECT_EQ(read_value(key, L"Publisher").text, wide("公司"));
  EXPECT_EQ(read_value(key, L"DisplayIcon").text, wide("\"C:\\程序\\测试\\测试.exe\""));
  // UTF-16 with its terminating zero: two characters and the zero.
  EXPECT_EQ(read_value(key, L"Publisher").raw, std::string("\x6c\x51\xf8\x53\0\0", 6));
  RegCloseKey(key);
}

// What a reinstall reads from the earlier uninstaller, and what the entry's
// size counts: each listed file rounded up to whole KiB, folders and missing
// files nothing.
TEST(InstalledFilesTest, EarlierListIsReadBackAndSizesAreCountedInKiB) {
  std::string dir = testsupport::scratch_dir("installed-files");
  ASSERT_TRUE(testsupport::write_file(dir + "\\one.txt", "x"));
  ASSERT_TRUE(testsupport::write_file(dir + "\\more.bin", std::string(1025, 'y')));
  std::string list = dir + "\\one.txt\r\n" + dir + "\\more.bin\r\n" + dir + "\\\r\n" + dir + "\\gone.txt\r\n";
  EXPECT_EQ(installer::installed_size_kib(rt::Text(list)), 3u);

  std::string uninstaller = dir + "\\uninst.exe";
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  ASSERT_TRUE(CopyFileW(self, wide(uninstaller).c_str(), FALSE));
  EXPECT_EQ(installer::read_installed_list(rt::Text(uninstaller)), rt::Text());  // none recorded yet
  ASSERT_TRUE(installer::write_installed_list(rt::Text(uninstaller), rt::Text(list)));
  EXPECT_EQ(installer::read_installed_list(rt::Text(uninstaller)).str(), list);
  // Sealed as the builder and the uninstaller read it.
  auto input = rt::zip_fs::open_input(rt::Text(uninstaller));
  ASSERT_TRUE(input);
  auto sealed = installer::read_pe_resource(*input, installer::PeResourceId::of(u"INSTALL"),
                                            installer::PeResourceId::of(u"List"), 1 << 20);
  ASSERT_TRUE(sealed);
  EXPECT_EQ(installer::format::open_installed_list(rt::Bytes(*sealed)).str(), list);
  EXPECT_EQ(installer::read_installed_list(rt::Text(dir + "\\missing.exe")), rt::Text());
}

}  // namespace
