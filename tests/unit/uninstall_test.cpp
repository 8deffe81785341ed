// The uninstaller's reading of its installed-file list and its path rules.
#include "installer/uninstaller/uninstall.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "installer/format/installed_list.h"

namespace {

using installer::folders_to_remove;
using installer::normalize_path;
using installer::parse_installed_files;
using installer::path_is_inside;

std::vector<std::string> strings(const rt::Array<rt::Text>& texts) {
  std::vector<std::string> out;
  for (const rt::Text& t : texts) out.push_back(t.str());
  return out;
}

using List = std::vector<std::string>;

TEST(UninstallListTest, SplitsFilesAndFoldersAsThePackageStepWritesThem) {
  auto list = parse_installed_files(
      "C:\\Apps\\Foo\\Foo.exe\r\nC:\\Apps\\Foo\\data\\\r\nC:\\Apps\\Foo\\data\\a.txt\r\n");
  EXPECT_EQ(strings(list.files), (List{"C:\\Apps\\Foo\\Foo.exe", "C:\\Apps\\Foo\\data\\a.txt"}));
  EXPECT_EQ(strings(list.folders), (List{"C:\\Apps\\Foo\\data"}));
  EXPECT_TRUE(list.unusable.empty());
}

TEST(UninstallListTest, ReadsTheListBackThroughTheRecordCipher) {
  rt::Text list = "C:\\应用\\表\\运行.exe\r\nC:\\应用\\表\\\r\n";
  auto parsed = parse_installed_files(installer::format::open_installed_list(installer::format::seal_installed_list(list)));
  EXPECT_EQ(strings(parsed.files), (List{"C:\\应用\\表\\运行.exe"}));
  EXPECT_EQ(strings(parsed.folders), (List{"C:\\应用\\表"}));
}

TEST(UninstallListTest, OnlyPlainDrivePathsAreEverRemoved) {
  auto list = parse_installed_files(
      "readme.txt\r\n\\rooted.txt\r\nC:drive-relative.txt\r\nC:\\Apps\\Foo\\..\\..\\Windows\\win.ini\r\n"
      "C:\\Apps\\Foo\\.\\dot.txt\r\nC:\\Apps\\Foo\\NUL\r\nC:\\Apps\\Foo\\a.txt:s\r\n\\\\?\\C:\\x.txt\r\n"
      "\r\nC:\\Apps\\Foo\\ok.txt\n");
  EXPECT_EQ(strings(list.files), (List{"C:\\Apps\\Foo\\ok.txt"}));
  EXPECT_EQ(strings(list.unusable),
            (List{"readme.txt", "\\rooted.txt", "C:drive-relative.txt", "C:\\Apps\\Foo\\..\\..\\Windows\\win.ini",
                  "C:\\Apps\\Foo\\.\\dot.txt", "C:\\Apps\\Foo\\NUL", "C:\\Apps\\Foo\\a.txt:s", "\\\\?\\C:\\x.txt"}));
}

// What the installation stored with its list: its name, its scope, and the
// mark of each file it made outside its folder.
TEST(UninstallListTest, TheListSaysWhoseItIsAndWhichTemporaryFilesAreItsOwn) {
  auto list = parse_installed_files("|scope=machine\r\n|name=Quill Notes\r\nC:\\P\\Q\\q.exe\r\n"
                                    "C:\\T\\q.tmp\tid=1:2:3\r\n");
  EXPECT_EQ(list.scope, "machine");
  EXPECT_EQ(list.software_name.str(), "Quill Notes");
  EXPECT_EQ(strings(list.files), (List{"C:\\P\\Q\\q.exe", "C:\\T\\q.tmp"}));
  EXPECT_EQ(list.marks.size(), 1u);
  EXPECT_EQ(list.marks.at(installer::format::listed_path_key("c:\\t\\Q.TMP")), "id=1:2:3");
}

TEST(UninstallListTest, EmptyListGivesNothing) {
  auto list = parse_installed_files("");
  EXPECT_TRUE(list.files.empty());
  EXPECT_TRUE(list.folders.empty());
  EXPECT_TRUE(list.unusable.empty());
}

TEST(UninstallPathTest, NormalizesSeparatorsDoubledBackslashesAndTrailingOnes) {
  EXPECT_EQ(normalize_path("C:\\Apps\\Foo\\\\uninst.exe").str(), "C:\\Apps\\Foo\\uninst.exe");
  EXPECT_EQ(normalize_path("C:/Apps/Foo/").str(), "C:\\Apps\\Foo");
  EXPECT_EQ(normalize_path("C:\\").str(), "C:\\");
  EXPECT_EQ(normalize_path("\\\\server\\share\\\\x").str(), "\\\\server\\share\\x");
}

TEST(UninstallPathTest, ABackslashInsideAChineseCharacterIsNoSeparator) {
  // "表" is B1 ED, "\x81\x5c" ends in the byte of "\": neither is split or folded.
  rt::Text name = "C:\\Apps\\\x81\x5c";
  EXPECT_EQ(normalize_path(name).str(), name.str());
  EXPECT_EQ(installer::parent_folder(name).str(), "C:\\Apps");
  EXPECT_FALSE(path_is_inside("C:\\Apps\\\x81\x5c" "a", "C:\\Apps\\\x81"));
  EXPECT_FALSE(installer::same_path("C:\\\x81\x41", "C:\\\x81\x61"));
}

TEST(UninstallPathTest, ComparesWithoutCaseAndFindsWhatLiesInside) {
  EXPECT_TRUE(installer::same_path("c:\\apps\\FOO\\Uninst.exe", "C:\\Apps\\Foo\\\\uninst.exe"));
  EXPECT_TRUE(path_is_inside("C:\\Apps\\Foo\\bin\\a.exe", "c:\\apps\\foo\\"));
  EXPECT_FALSE(path_is_inside("C:\\Apps\\Foo", "C:\\Apps\\Foo"));
  EXPECT_FALSE(path_is_inside("C:\\Apps\\Foobar\\a.exe", "C:\\Apps\\Foo"));
  EXPECT_TRUE(path_is_inside("C:\\a.exe", "C:\\"));
  EXPECT_FALSE(path_is_inside("C:\\a.exe", ""));
}

TEST(UninstallPathTest, TheEntryCommandMayBeQuotedOrCarryArguments) {
  EXPECT_EQ(installer::command_program("C:\\Program Files\\Foo\\uninst.exe").str(),
            "C:\\Program Files\\Foo\\uninst.exe");
  EXPECT_EQ(installer::command_program(" \"C:\\Program Files\\Foo\\uninst.exe\" /S").str(),
            "C:\\Program Files\\Foo\\uninst.exe");
}

TEST(UninstallFoldersTest, ListedAndMadeFoldersGoDeepestFirstAndTheTopIsLeftForLast) {
  auto list = parse_installed_files(
      "C:\\Apps\\Foo\\\r\nC:\\Apps\\Foo\\a\\b\\c.txt\r\nC:\\Apps\\Foo\\a\\\r\nC:\\Apps\\Foo\\x\\y.txt\r\n"
      "C:\\Apps\\Foo\\uninst.exe\r\nD:\\Shared\\Plugins\\\r\nD:\\Shared\\Plugins\\p.dll\r\n");
  auto folders = strings(folders_to_remove(list, "C:\\Apps\\Foo"));
  EXPECT_EQ(folders, (List{"C:\\Apps\\Foo\\a\\b", "C:\\Apps\\Foo\\a", "C:\\Apps\\Foo\\x", "D:\\Shared\\Plugins"}));
}

TEST(UninstallFoldersTest, FoldersAboveAFileOutsideTheInstallationAreNotTouched) {
  auto list = parse_installed_files("C:\\Windows\\Fonts\\foo.ttf\r\nc:\\APPS\\foo\\a\\b.txt\r\n");
  EXPECT_EQ(strings(folders_to_remove(list, "C:\\Apps\\Foo")), (List{"c:\\APPS\\foo\\a"}));
}

TEST(UninstallSummaryTest, ListsAFewAndCountsTheRest) {
  rt::Array<rt::Text> items = {"a", "b", "c", "d"};
  EXPECT_EQ(installer::remaining_summary(items, 10).str(), "a\r\nb\r\nc\r\nd");
  EXPECT_EQ(installer::remaining_summary(items, 2).str(), "a\r\nb\r\n……另有 2 项");
}

}  // namespace
