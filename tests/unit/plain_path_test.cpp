// The only path form the confined file layer takes from disk or the registry.
#include "runtime/win/plain_path.h"

#include <gtest/gtest.h>

namespace {

struct Case {
  const char16_t* text;
  bool plain;
};

TEST(PlainPathTest, OnlyADriveAndPlainNamesPass) {
  const Case cases[] = {
      {u"C:\\", true},
      {u"C:\\Program Files\\羽毛 软件\\Quill Notes", true},
      {u"c:/apps//foo\\", true},  // runs of separators are one; a trailing one is allowed
      {u"C:\\apps\\..\\windows\\system32\\evil.dll", false},
      {u"C:\\apps\\.\\a.txt", false},
      {u"C:\\apps\\a.txt:stream", false},
      {u"C:\\apps\\a.txt.", false},  // Windows would drop the dot: another file
      {u"C:\\apps\\a.txt ", false},
      {u"C:\\apps\\CON", false},
      {u"C:\\apps\\lpt\u00B9.log", false},
      {u"C:\\apps\\nul.txt", false},
      {u"C:\\apps\\a*.txt", false},
      {u"C:\\apps\\a\tb", false},
      {u"C:apps\\a.txt", false},  // relative to the drive's current folder
      {u"C:\\apps\\D:\\a.txt", false},
      {u"\\\\server\\share\\a.txt", false},
      {u"\\\\?\\C:\\a.txt", false},
      {u"\\\\.\\C:\\a.txt", false},
      {u"\\apps\\a.txt", false},
      {u"apps\\a.txt", false},
      {u"1:\\a", false},
      {u"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(rt::win::plain_path(c.text), c.plain) << testing::PrintToString(std::u16string(c.text));
}

TEST(PlainPathTest, TheNamesComeInOrder) {
  std::vector<std::u16string_view> names;
  ASSERT_TRUE(rt::win::split_plain_path(u"D:\\a\\\\b/c\\", &names));
  ASSERT_EQ(names.size(), 3u);
  EXPECT_EQ(names[0], u"a");
  EXPECT_EQ(names[2], u"c");
  EXPECT_FALSE(rt::win::plain_name(u"a\\b"));
  EXPECT_FALSE(rt::win::plain_name(u".."));
  EXPECT_TRUE(rt::win::plain_name(u"..a"));
  EXPECT_TRUE(rt::win::plain_name(u"console.txt"));
}

}  // namespace
