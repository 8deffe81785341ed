// The uninstall entry's key and values, as they are written.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <string_view>

#include "installer/steps/uninstall_entry.h"

namespace {

using installer::uninstall_values;

TEST(UninstallEntryTest, KeyLiesUnderTheUninstallListOfTheRightRegistryView) {
  EXPECT_EQ(installer::uninstall_key_path(false, "Foo").str(),
            "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TarnelFoo\\");
  EXPECT_EQ(installer::uninstall_key_path(true, "Foo").str(),
            "SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TarnelFoo\\");
}

// Texts carry their terminating NUL; program paths are quoted.
TEST(UninstallEntryTest, TwelveValuesInOrderWithTheirTypes) {
  installer::UninstallInfo info{"Foo", "1.2.3", "C:\\Program Files\\Foo Bar", "Foo Ltd", "http://foo.example",
                                "bin\\Run.exe", 0x01020304, "20260102"};
  auto values = uninstall_values(info);
  struct Row {
    const char* name;
    int type;
    std::string_view data;
  };
  using namespace std::string_view_literals;
  const Row rows[] = {
      {"DisplayIcon", 1, "\"C:\\Program Files\\Foo Bar\\bin\\Run.exe\"\0"sv},
      {"DisplayName", 1, "Foo\0"sv},
      {"DisplayVersion", 1, "1.2.3\0"sv},
      {"EstimatedSize", 4, "\x04\x03\x02\x01"sv},
      {"InstallDate", 1, "20260102\0"sv},
      {"InstallLocation", 1, "C:\\Program Files\\Foo Bar\0"sv},
      {"NoModify", 3, "\x01\0\0\0"sv},
      {"NoRepair", 3, "\x01\0\0\0"sv},
      {"Publisher", 1, "Foo Ltd\0"sv},
      {"QuietUninstallString", 1, "\"C:\\Program Files\\Foo Bar\\uninst.exe\" /S\0"sv},
      {"UninstallString", 1, "\"C:\\Program Files\\Foo Bar\\uninst.exe\"\0"sv},
      {"URLInfoAbout", 1, "http://foo.example\0"sv},
  };
  ASSERT_EQ(values.size(), std::size(rows));
  for (std::size_t i = 0; i < values.size(); ++i) {
    SCOPED_TRACE(rows[i].name);
    EXPECT_EQ(values[i].name, rt::Text(rows[i].name));
    EXPECT_EQ(values[i].type, rows[i].type);
    EXPECT_EQ(values[i].data.view(), rows[i].data);
  }
}

// A folder typed with a final backslash is kept as typed in
// InstallLocation, but the paths made from it have one backslash, not two.
TEST(UninstallEntryTest, EmptyTextsAreWrittenAndAFinalBackslashIsNotDoubled) {
  auto values = uninstall_values({"软件", "", "D:\\程序\\", "", "", "软件.exe", 0, ""});
  ASSERT_EQ(values.size(), 12u);
  auto z = [](std::string s) { return s + '\0'; };
  EXPECT_EQ(values[0].data.view(), z("\"D:\\程序\\软件.exe\""));
  EXPECT_EQ(values[5].data.view(), z("D:\\程序\\"));
  EXPECT_EQ(values[9].data.view(), z("\"D:\\程序\\uninst.exe\" /S"));
  EXPECT_EQ(values[10].data.view(), z("\"D:\\程序\\uninst.exe\""));
  EXPECT_EQ(uninstall_values({"A", "", "D:\\", "", "", "a.exe", 0, ""})[10].data.view(), z("\"D:\\uninst.exe\""));
  // 0x5C as the second byte of a two-byte character (GBK 0x815C) is no separator.
  EXPECT_EQ(uninstall_values({"A", "", "D:\\\x81\\", "", "", "a.exe", 0, ""})[10].data.view(),
            z("\"D:\\\x81\\\\uninst.exe\""));
  for (std::size_t i : {2u, 4u, 8u, 11u}) {
    EXPECT_EQ(values[i].data.view(), z(""));
    EXPECT_EQ(values[i].type, 1);
  }
}

// Versions as people write them: the older, the same, the newer.
TEST(CompareVersionsTest, NumbersByTheirValueOtherPartsAsTextAMissingPartAsZero) {
  const struct {
    const char* a;
    const char* b;
    int order;
  } rows[] = {
      {"1.0", "2.0", -1},      {"2.0", "1.0", 1},       {"1.9", "1.10", -1},   {"1.10", "1.9", 1},
      {"2", "2.0", 0},         {"2.0.0", "2", 0},       {"2.01", "2.1", 0},    {"2.0.1", "2.0", 1},
      {"10.0", "9.9.9", 1},    {"1.0-beta", "1.0", -1}, {"1.0", "1.0~rc1", 1}, {"1.0-rc1", "1.0-rc2", -1},
      {"1.0", "1.0a", -1},     {"1.0a", "1.0b", -1},    {"", "", 0},           {"", "1", -1},
      {"3.0.4000", "3.0.399", 1}, {"2.0 (build 7)", "2.0", 1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.a) + " vs " + row.b);
    EXPECT_EQ(installer::compare_versions(row.a, row.b), row.order);
  }
}

}  // namespace
