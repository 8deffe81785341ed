#include "runtime/value/codepage.h"

#include <gtest/gtest.h>

#include <string>

using namespace rt;

namespace {

TEST(CodepageTest, RoundTripsChineseThroughUtf16) {
  std::string gbk = "安装目录\\软件";
  std::u16string w = wide_from_cp936(gbk);
  EXPECT_EQ(w, u"安装目录\\软件");
  EXPECT_EQ(cp936_from_wide(w), gbk);
  EXPECT_EQ(utf8_from_wide(w), std::string(reinterpret_cast<const char*>(u8"安装目录\\软件")));
  EXPECT_EQ(wide_from_utf8(reinterpret_cast<const char*>(u8"安装")), u"安装");
}

TEST(CodepageTest, ReportsCharactersTheCodePageLacks) {
  EXPECT_TRUE(cp936_can_hold(u"中文 abc"));
  EXPECT_FALSE(cp936_can_hold(u"\u0E01"));  // Thai
  EXPECT_EQ(cp936_from_wide(u"a\u0E01b"), "a?b");
}

TEST(CodepageTest, InvalidUtf8BecomesReplacementCharacters) {
  EXPECT_EQ(wide_from_utf8("a\xC3"), u"a\uFFFD");
  EXPECT_EQ(wide_from_utf8("\xED\xA0\x80"), u"\uFFFD");  // encoded surrogate
  EXPECT_EQ(utf8_from_wide(u"\U0001F600"), "\xF0\x9F\x98\x80");
}

}  // namespace
