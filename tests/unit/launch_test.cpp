#include "installer/platform/launch.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using installer::extension_of;
using installer::file_name_of;

std::string utf16_bytes(std::u16string s) {
  std::string out;
  for (char16_t u : s) {
    out.push_back(static_cast<char>(u & 0xFF));
    out.push_back(static_cast<char>(u >> 8));
  }
  return out;
}

TEST(Utf16Test, EmptyTextGivesEmptyBytesNotALoneNul) {
  EXPECT_TRUE(installer::to_utf16("").empty());
  EXPECT_TRUE(installer::to_utf16(rt::Text()).empty());
  EXPECT_EQ(installer::from_utf16(rt::Bytes()), "");
}

TEST(Utf16Test, ChineseRoundTripsWithTheTerminatingUnit) {
  rt::Bytes wide = installer::to_utf16("安装A");
  EXPECT_EQ(wide.view(), utf16_bytes(u"安装A") + std::string(2, '\0'));
  EXPECT_EQ(installer::from_utf16(wide), "安装A");
}

TEST(Utf16Test, FromUtf16StopsAtTheFirstNulAndAcceptsUnterminatedInput) {
  rt::Bytes unterminated(utf16_bytes(u"软件"));
  EXPECT_EQ(installer::from_utf16(unterminated), "软件");
  rt::Bytes two(utf16_bytes(u"ab") + std::string(2, '\0') + utf16_bytes(u"cd"));
  EXPECT_EQ(installer::from_utf16(two), "ab");
  EXPECT_EQ(installer::from_utf16(rt::Bytes(std::string(2, '\0'))), "");
}

TEST(FileNameTest, NamePartsOfPathsAndAddresses) {
  EXPECT_EQ(file_name_of("C:\\Apps\\Foo.exe", false), "Foo");
  EXPECT_EQ(file_name_of("C:\\Apps\\Foo.exe", true), "Foo.exe");
  EXPECT_EQ(file_name_of("C:\\Apps\\", true), "");
  EXPECT_EQ(file_name_of("C:\\Apps\\", false), "");
  EXPECT_EQ(file_name_of("http://127.0.0.1/dl/NDP48-x86-x64-AllOS-ENU.exe", true), "NDP48-x86-x64-AllOS-ENU.exe");
  EXPECT_EQ(file_name_of("archive.tar.gz", false), "archive.tar");
  EXPECT_EQ(file_name_of("C:Foo.txt", true), "Foo.txt");
  EXPECT_EQ(file_name_of("C:\\My.Dir\\readme", false), "readme");
  EXPECT_EQ(file_name_of("", true), "");
}

TEST(FileNameTest, TrailByteBackslashIsPartOfTheCharacter) {
  // 乗 is 81 5C in code page 936: its second byte is a backslash.
  ASSERT_EQ(std::string("乗"), "\x81\x5C");
  EXPECT_EQ(file_name_of("C:\\乗\\软件乗.exe", true), "软件乗.exe");
  EXPECT_EQ(file_name_of("C:\\Apps\\乗", true), "乗");
  EXPECT_EQ(file_name_of("C:\\Apps\\乗.dat", false), "乗");
  EXPECT_EQ(file_name_of("乗乗", true), "乗乗");
}

TEST(ExtensionTest, LastDotOfTheLastComponent) {
  EXPECT_EQ(extension_of("C:\\Apps\\Foo.exe"), ".exe");
  EXPECT_EQ(extension_of("C:\\a.b\\Foo"), "");
  EXPECT_EQ(extension_of("Foo.tar.gz"), ".gz");
  EXPECT_EQ(extension_of("Foo. exe"), "");
  EXPECT_EQ(extension_of("C:\\乗.乗"), ".乗");
  EXPECT_EQ(extension_of(""), "");
}

}  // namespace
