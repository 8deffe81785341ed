// The installer's registry operations against the Wine prefix's registry.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "installer/platform/registry.h"
#include "runtime/value/codepage.h"

namespace {

using namespace installer;

// Each test works below a key of its own, removed again at the end.
class RegistryTest : public testing::Test {
 protected:
  void SetUp() override {
    base_ = "Software\\TarnelTest-" + std::to_string(GetCurrentProcessId()) + "-" +
            testing::UnitTest::GetInstance()->current_test_info()->name();
    RegDeleteTreeW(HKEY_CURRENT_USER, rt::wide_path(base_).c_str());
    ASSERT_TRUE(registry_create_key(kCurrentUser, base_));
  }
  void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, rt::wide_path(base_).c_str()); }

  std::string path(const std::string& sub) const { return base_ + "\\" + sub; }

  // Reads a value with the wide function, as Windows' own tools see it.
  std::wstring wide_value(const std::string& key, const std::string& name, DWORD* type) const {
    wchar_t buf[256] = {};
    DWORD size = sizeof buf - sizeof(wchar_t);
    HKEY k = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, rt::wide_path(key).c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS)
      return L"<no key>";
    LONG rc = RegQueryValueExW(k, rt::wide_path(name).c_str(), nullptr, type, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(k);
    if (rc != ERROR_SUCCESS) return L"<unreadable>";
    return std::wstring(buf, size / sizeof(wchar_t));
  }

  std::string base_;
};

TEST_F(RegistryTest, CreateKeyIsFalseForAnExistingKey) {
  EXPECT_TRUE(registry_key_exists(kCurrentUser, base_));
  EXPECT_FALSE(registry_create_key(kCurrentUser, base_));
  EXPECT_FALSE(registry_key_exists(kCurrentUser, path("a")));
  EXPECT_TRUE(registry_create_key(kCurrentUser, path("a\\b")));
  EXPECT_TRUE(registry_key_exists(kCurrentUser, path("a")));
  EXPECT_TRUE(registry_key_exists(kCurrentUser, path("a\\b\\")));
}

TEST_F(RegistryTest, TextWrittenWithoutNulReadsBackByteForByte) {
  rt::Text text("测试软件 1.0");
  ASSERT_TRUE(registry_write_value(kCurrentUser, base_, "DisplayName", REG_SZ, rt::Bytes(text.view())));
  RegistryValue value = registry_read_value(kCurrentUser, base_, "DisplayName");
  EXPECT_EQ(value.type, REG_SZ);
  EXPECT_EQ(value.data.view(), text.view());
  // Windows' own tools see the same characters, not code page 936 bytes.
  DWORD type = 0;
  EXPECT_EQ(wide_value(base_, "DisplayName", &type), std::wstring(L"\u6D4B\u8BD5\u8F6F\u4EF6 1.0"));
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
}

TEST_F(RegistryTest, BinaryAndNumbersAreStoredAsGiven) {
  rt::Bytes raw{0x00, 0xFF, 0x81, 0x5C, 0x00};
  ASSERT_TRUE(registry_write_value(kCurrentUser, base_, "raw", REG_BINARY, raw));
  RegistryValue value = registry_read_value(kCurrentUser, base_, "raw");
  EXPECT_EQ(value.type, REG_BINARY);
  EXPECT_EQ(value.data, raw);

  ASSERT_TRUE(registry_write_value(kCurrentUser, base_, "Release", REG_DWORD, rt::Bytes{0x10, 0x27, 0x08, 0x00}));
  EXPECT_EQ(registry_read_int(kCurrentUser, base_, "Release"), 0x082710);
  ASSERT_TRUE(registry_write_value(kCurrentUser, base_, "neg", REG_DWORD, rt::Bytes{0xFE, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(registry_read_int(kCurrentUser, base_, "neg"), -2);
  ASSERT_TRUE(registry_write_value(kCurrentUser, base_, "short", REG_BINARY, rt::Bytes{0x01, 0x02}));
  EXPECT_EQ(registry_read_int(kCurrentUser, base_, "short"), 0x0201);

  ASSERT_TRUE(registry_write_value(kCurrentUser, base_, "empty", REG_BINARY, rt::Bytes()));
  value = registry_read_value(kCurrentUser, base_, "empty");
  EXPECT_EQ(value.type, REG_BINARY);
  EXPECT_TRUE(value.data.empty());
}

TEST_F(RegistryTest, MissingKeysAndValuesReadAsNothing) {
  RegistryValue value = registry_read_value(kCurrentUser, path("none"), "x");
  EXPECT_EQ(value.type, -1);
  EXPECT_TRUE(value.data.empty());
  EXPECT_EQ(registry_read_value(kCurrentUser, base_, "none").type, -1);
  EXPECT_EQ(registry_read_int(kCurrentUser, path("none"), "x"), 0);
  EXPECT_EQ(registry_read_int(kCurrentUser, base_, "none"), 0);
  EXPECT_FALSE(registry_write_value(kCurrentUser, path("none"), "x", REG_SZ, rt::Bytes(std::string_view("v"))));
  EXPECT_FALSE(registry_key_exists(kCurrentUser, path("none")));
}

TEST_F(RegistryTest, ChineseKeyNamesAreRealCharacters) {
  ASSERT_TRUE(registry_create_key(kCurrentUser, path("软件乗")));
  HKEY key = nullptr;
  std::wstring wide = rt::wide_path(base_) + L"\\\u8F6F\u4EF6\u4E57";
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, wide.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
  RegCloseKey(key);
  rt::Array<rt::Text> names;
  EXPECT_EQ(registry_list_subkeys(kCurrentUser, base_, names), 1);
  EXPECT_EQ(names[1], "软件乗");
}

TEST_F(RegistryTest, ListEmptiesTheArrayFirst) {
  rt::Array<rt::Text> names{"stale", "stale"};
  EXPECT_EQ(registry_list_subkeys(kCurrentUser, path("none"), names), 0);
  EXPECT_TRUE(names.empty());
  registry_create_key(kCurrentUser, path("x"));
  registry_create_key(kCurrentUser, path("y"));
  EXPECT_EQ(registry_list_subkeys(kCurrentUser, base_, names), 2);
  EXPECT_EQ(names.count(), 2u);
}

TEST_F(RegistryTest, DeleteTreeRemovesTwoLevelsAndTheKey) {
  for (const char* sub : {"app\\a\\a1", "app\\a\\a2", "app\\b\\b1", "app\\c"})
    ASSERT_TRUE(registry_create_key(kCurrentUser, path(sub)));
  registry_write_value(kCurrentUser, path("app\\a\\a1"), "v", REG_SZ, rt::Bytes(std::string_view("1")));
  EXPECT_TRUE(registry_delete_tree(kCurrentUser, path("app")));
  EXPECT_FALSE(registry_key_exists(kCurrentUser, path("app")));
  EXPECT_TRUE(registry_key_exists(kCurrentUser, base_));
  EXPECT_FALSE(registry_delete_tree(kCurrentUser, path("app")));
}

TEST_F(RegistryTest, DeleteTreeWithATrailingBackslash) {
  ASSERT_TRUE(registry_create_key(kCurrentUser, path("app\\a\\a1")));
  EXPECT_TRUE(registry_delete_tree(kCurrentUser, path("app\\")));
  EXPECT_FALSE(registry_key_exists(kCurrentUser, path("app")));
}

TEST_F(RegistryTest, DeleteTreeRefusesRootsAndEmptyPaths) {
  for (const char* bad : {"", "\\", "\\\\\\"}) {
    EXPECT_FALSE(registry_delete_tree(kCurrentUser, bad)) << bad;
    EXPECT_FALSE(registry_delete_tree(kLocalMachine, bad)) << bad;
  }
  EXPECT_TRUE(registry_key_exists(kCurrentUser, "Software"));
  EXPECT_TRUE(registry_key_exists(kCurrentUser, base_));
}

TEST_F(RegistryTest, UnknownRootCodesTouchNothing) {
  for (int root : {0, 6, -1}) {
    EXPECT_FALSE(registry_key_exists(root, "Software"));
    EXPECT_FALSE(registry_create_key(root, path("r")));
    EXPECT_EQ(registry_read_value(root, "Software", "").type, -1);
    EXPECT_EQ(registry_read_int(root, "Software", ""), 0);
    EXPECT_FALSE(registry_write_value(root, base_, "v", REG_SZ, rt::Bytes(std::string_view("1"))));
    rt::Array<rt::Text> names{"x"};
    EXPECT_EQ(registry_list_subkeys(root, "Software", names), 0);
    EXPECT_FALSE(registry_delete_tree(root, base_));
  }
  // Root 6 is not HKEY_CURRENT_USER by accident.
  EXPECT_FALSE(registry_key_exists(kCurrentUser, path("r")));
  EXPECT_TRUE(registry_key_exists(kCurrentUser, base_));
  EXPECT_EQ(registry_read_value(kCurrentUser, base_, "v").type, -1);
}

TEST_F(RegistryTest, RootTableMatchesTheRootKeys) {
  EXPECT_TRUE(registry_key_exists(kLocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion"));
  EXPECT_FALSE(registry_key_exists(kCurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\None"));
  EXPECT_TRUE(registry_key_exists(kClassesRoot, "CLSID"));
  EXPECT_TRUE(registry_key_exists(kUsers, ".DEFAULT"));
  EXPECT_TRUE(registry_key_exists(kCurrentConfig, ""));
  EXPECT_FALSE(registry_key_exists(kLocalMachine, base_));
}

}  // namespace
