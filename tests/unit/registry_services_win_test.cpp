// The runtime's registry reads against the Wine prefix's registry.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "runtime/value/codepage.h"
#include "runtime/services/registry_services.h"

namespace {

class RegistryServicesTest : public testing::Test {
 protected:
  void SetUp() override {
    key_ = "Software\\TarnelRt-" + std::to_string(GetCurrentProcessId());
    ASSERT_EQ(RegCreateKeyW(HKEY_CURRENT_USER, rt::wide_path(key_).c_str(), &hkey_), ERROR_SUCCESS);
  }
  void TearDown() override {
    RegCloseKey(hkey_);
    RegDeleteTreeW(HKEY_CURRENT_USER, rt::wide_path(key_).c_str());
  }
  void set(const std::wstring& name, DWORD type, const std::wstring& text) {
    ASSERT_EQ(RegSetValueExW(hkey_, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
  }
  void set_dword(const std::wstring& name, DWORD v) {
    ASSERT_EQ(RegSetValueExW(hkey_, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4), ERROR_SUCCESS);
  }
  std::string key_;
  HKEY hkey_ = nullptr;
};

TEST_F(RegistryServicesTest, ReadsTextsInCodePage936) {
  set(L"Desktop", REG_SZ, L"C:\\\u7528\u6237\\\u684C\u9762");
  EXPECT_EQ(rt::read_registry_text(3, key_ + "\\Desktop"), "C:\\用户\\桌面");
  // Codes outside 1-5 read HKEY_CURRENT_USER.
  EXPECT_EQ(rt::read_registry_text(9, key_ + "\\Desktop"), "C:\\用户\\桌面");
  EXPECT_EQ(rt::read_registry_text(4, key_ + "\\Desktop", rt::Text("dflt")), "dflt");
}

TEST_F(RegistryServicesTest, ExpandsEnvironmentVariables) {
  SetEnvironmentVariableW(L"TARNEL_HOME_DIR", L"D:\\\u5BB6");
  set(L"Home", REG_EXPAND_SZ, L"%TARNEL_HOME_DIR%\\docs");
  EXPECT_EQ(rt::read_registry_text(3, key_ + "\\Home"), "D:\\家\\docs");
}

TEST_F(RegistryServicesTest, OtherTypesAndFailuresGiveTheDefault) {
  set_dword(L"Number", 7);
  EXPECT_EQ(rt::read_registry_text(3, key_ + "\\Number"), "");
  EXPECT_EQ(rt::read_registry_text(3, key_ + "\\Number", rt::Text("d")), "d");
  EXPECT_EQ(rt::read_registry_text(3, key_ + "\\Missing", rt::Text("d")), "d");
  EXPECT_EQ(rt::read_registry_text(3, key_ + "\\none\\Missing"), "");
  EXPECT_EQ(rt::read_registry_number(3, key_ + "\\Number"), 7);
  set(L"Text", REG_SZ, L"12");
  EXPECT_EQ(rt::read_registry_number(3, key_ + "\\Text"), 0);
  EXPECT_EQ(rt::read_registry_number(3, key_ + "\\Text", -5), -5);
  EXPECT_EQ(rt::read_registry_number(3, key_ + "\\Missing", 42), 42);
  set_dword(L"AppsUseLightTheme", 0xFFFFFFFF);
  EXPECT_EQ(rt::read_registry_number(3, key_ + "\\AppsUseLightTheme", 1), -1);
}

TEST_F(RegistryServicesTest, PathSplitsAtTheLastRealBackslash) {
  // 乗 ends in byte 0x5C: the value name below is "值乗", not "".
  set(L"\u503C\u4E57", REG_SZ, L"dbcs");
  EXPECT_EQ(rt::read_registry_text(3, key_ + "\\值乗"), "dbcs");
  // Without a backslash the key is the root and the whole path the value name;
  // the root's default value is unset.
  EXPECT_EQ(rt::read_registry_text(3, "NoSuchValueAtTheRoot", rt::Text("d")), "d");
  set(L"", REG_SZ, L"default value");
  EXPECT_EQ(rt::read_registry_text(3, key_ + "\\"), "default value");
}

}  // namespace
