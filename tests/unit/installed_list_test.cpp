// The installed-file list codec: its lines, its seal and the one key by which
// listed paths are compared.
#include "installer/format/installed_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using installer::format::ListedPath;
using installer::format::ListLines;
using installer::format::listed_path_key;

std::vector<std::pair<std::string, bool>> lines_of(std::string_view list) {
  std::vector<std::pair<std::string, bool>> out;
  for (const ListedPath& line : ListLines(list)) out.emplace_back(std::string(line.path), line.folder);
  return out;
}

TEST(InstalledListTest, LinesAreSplitWithTheirFolderMark) {
  using Lines = std::vector<std::pair<std::string, bool>>;
  EXPECT_EQ(lines_of("C:\\A\\Foo.exe\r\nC:\\A\\data\\\r\n\r\nC:\\A\\data\\a.txt\nC:\\A\\b/\r\n"),
            (Lines{{"C:\\A\\Foo.exe", false}, {"C:\\A\\data\\", true}, {"C:\\A\\data\\a.txt", false}, {"C:\\A\\b/", true}}));
  EXPECT_TRUE(lines_of("").empty());
  EXPECT_TRUE(lines_of("\r\n\n").empty());
  // "\" (5C) can be the second byte of a character (DA 5C): a name ending in
  // such a character names no folder.
  EXPECT_EQ(lines_of("C:\\\xDA\x5C\r\n"), (Lines{{"C:\\\xDA\x5C", false}}));
  EXPECT_EQ(lines_of("C:\\\xDA\x5C\\\r\n"), (Lines{{"C:\\\xDA\x5C\\", true}}));
}

TEST(InstalledListTest, SealedListOpensToTheSameTextAndAppendWritesBackslashes) {
  std::string list;
  installer::format::append_listed(list, "C:\\应用/表/运行.exe");
  installer::format::append_listed(list, "C:\\应用/表/");
  EXPECT_EQ(list, "C:\\应用\\表\\运行.exe\r\nC:\\应用\\表\\\r\n");
  rt::Bytes sealed = installer::format::seal_installed_list(rt::Text(list));
  EXPECT_EQ(sealed.size(), list.size());
  EXPECT_NE(sealed.view(), list);
  EXPECT_EQ(installer::format::open_installed_list(sealed).str(), list);
  EXPECT_TRUE(installer::format::open_installed_list(rt::Bytes()).empty());
}

// A target as the package names it and the line an earlier run wrote for it
// are the same path.
TEST(InstalledListTest, OneKeyForSeparatorsCaseAndDots) {
  const struct {
    const char* a;
    const char* b;
    bool same;
  } cases[] = {
      {"C:\\App\\data\\ro.txt", "C:\\App\\data/ro.txt", true},
      {"C:\\App\\data\\ro.txt", "c:\\APP\\DATA\\RO.TXT", true},
      {"C:\\App\\.\\data\\\\ro.txt", "C:\\App\\data\\ro.txt", true},
      {"C:\\App\\data\\", "C:\\App\\data", true},
      {"C:\\", "c:", true},
      {"\\\\srv\\share\\a", "//SRV/share/a", true},
      {"\\\\srv\\share\\a", "\\srv\\share\\a", false},
      {"C:\\App\\..\\x", "C:\\x", false},  // ".." is never resolved here
      {"C:\\App\\ro.txt", "C:\\App\\ro.txt.", false},
      // Only ASCII letters fold; a double-byte character is never touched.
      {"C:\\数据", "c:\\数据", true},
      {"C:\\\xC1\x41", "C:\\\xC1\x61", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " | " + c.b);
    EXPECT_EQ(listed_path_key(c.a) == listed_path_key(c.b), c.same);
  }
  EXPECT_EQ(listed_path_key("C:\\App\\Data\\"), "c:\\app\\data");
}

// A reinstall or an upgrade keeps every file either installation wrote.
TEST(InstalledListTest, MergedListKeepsEveryPathOnce) {
  const struct {
    const char* current;
    const char* earlier;
    const char* merged;
  } cases[] = {
      {"C:\\A\\new.exe\r\nC:\\A\\both.dll\r\n", "C:\\A\\old.exe\r\nc:/a/BOTH.dll\r\nC:\\A\\old.exe\n",
       "C:\\A\\new.exe\r\nC:\\A\\both.dll\r\nC:\\A\\old.exe\r\n"},
      {"", "C:\\A\\old\\\r\n\r\n", "C:\\A\\old\\\r\n"},
      {"C:\\A\\x\r\n", "", "C:\\A\\x\r\n"},
      {"C:\\A\\data\\ro.txt\r\n", "C:\\A\\data/ro.txt\r\nC:\\A\\.\\data\\ro.txt\r\n", "C:\\A\\data\\ro.txt\r\n"},
      // Case is folded for ASCII letters only, never inside a Chinese name.
      {"C:\\数据\r\n", "c:\\数据\r\nC:\\数据A\r\n", "C:\\数据\r\nC:\\数据A\r\n"},
      // This run's properties and every mark stay; the earlier properties go.
      {"|scope=machine\r\nC:\\T\\a.tmp\tid=1:2\r\n", "|scope=user\r\n|name=Old\r\nC:\\T\\b.tmp\tid=3:4\r\n",
       "|scope=machine\r\nC:\\T\\a.tmp\tid=1:2\r\nC:\\T\\b.tmp\tid=3:4\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.earlier);
    EXPECT_EQ(installer::format::merge_installed_lists(c.current, c.earlier).str(), c.merged);
  }
}

TEST(InstalledListTest, PropertiesAndMarksAreNoPaths) {
  using namespace installer::format;
  std::string list = with_list_property("C:\\A\\x.exe\r\nC:\\T\\t.tmp\tid=9:8\r\n", kListScope, "user");
  list = with_list_property(with_list_property(list, kListName, "Quill Notes"), kListScope, "machine");
  EXPECT_EQ(list_property(list, kListScope), "machine");
  EXPECT_EQ(list_property(list, kListName), "Quill Notes");
  EXPECT_EQ(list_property("C:\\|x=y\r\n", "x"), "");
  std::vector<std::string> seen;
  for (const ListedPath& line : ListLines(list)) seen.push_back(std::string(line.path) + "#" + std::string(line.mark));
  EXPECT_EQ(seen, (std::vector<std::string>{"C:\\A\\x.exe#", "C:\\T\\t.tmp#id=9:8"}));
}

}  // namespace
