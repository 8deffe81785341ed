// The uninstall entry's key and values, as they are written.
#include <gtest/gtest.h>

#include <cstring>

#include "installer/steps/uninstall_entry.h"

namespace {

using installer::uninstall_values;

TEST(UninstallEntryTest, KeyLiesUnderTheUninstallListOfTheRightRegistryView) {
  EXPECT_EQ(installer::uninstall_key_path(false, "Foo").str(),
            "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TarnelFoo\\");
  EXPECT_EQ(installer::uninstall_key_path(true, "Foo").str(),
            "SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TarnelFoo\\");
}

TEST(UninstallEntryTest, NineValuesInOrderWithTheirTypes) {
  auto values = uninstall_values({"Foo", "1.2.3", "C:\\Apps\\Foo", "Foo Ltd", "http://foo.example"});
  ASSERT_EQ(values.size(), 9u);
  const char* names[] = {"DisplayIcon", "DisplayName",     "DisplayVersion", "InstallLocation", "NoModify",
                         "NoRepair",    "Publisher",       "UninstallString", "URLInfoAbout"};
  const char* data[] = {"C:\\Apps\\Foo\\Foo.exe", "Foo", "1.2.3", "C:\\Apps\\Foo", "\x01\x00\x00\x00",
                        "\x01\x00\x00\x00", "Foo Ltd", "C:\\Apps\\Foo\\uninst.exe", "http://foo.example"};
  for (std::size_t i = 0; i < 9; ++i) {
    SCOPED_TRACE(names[i]);
    EXPECT_EQ(values[i].name, rt::Text(names[i]));
    bool binary = i == 4 || i == 5;
    EXPECT_EQ(values[i].type, binary ? 3 : 1);
    EXPECT_EQ(values[i].data.view(), std::string_view(data[i], binary ? 4 : std::strlen(data[i])));
  }
}

TEST(UninstallEntryTest, EmptyTextsAreWrittenAndTheDirectoryIsUsedUnchanged) {
  auto values = uninstall_values({"软件", "", "D:\\程序\\", "", ""});
  ASSERT_EQ(values.size(), 9u);
  EXPECT_EQ(values[0].data.view(), "D:\\程序\\\\软件.exe");  // the folder dialog's trailing backslash stays
  EXPECT_EQ(values[3].data.view(), "D:\\程序\\");
  EXPECT_EQ(values[7].data.view(), "D:\\程序\\\\uninst.exe");
  for (std::size_t i : {2u, 6u, 8u}) {
    EXPECT_TRUE(values[i].data.empty());
    EXPECT_EQ(values[i].type, 1);
  }
}

}  // namespace
