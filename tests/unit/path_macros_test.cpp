#include "installer/steps/path_macros.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

using installer::expand_path_macros;
using installer::FolderSources;
using installer::named_folder;

namespace {

// Environment and registry as plain maps; every look-up is recorded.
struct FakeSystem {
  std::map<std::string, std::string> env;
  std::map<std::string, std::string> registry;  // "root|path"
  std::vector<std::string> asked;
  FolderSources sources() {
    return {[this](const rt::Text& name) {
              asked.push_back("env " + name.str());
              auto it = env.find(name.str());
              return it == env.end() ? rt::Text() : rt::Text(it->second);
            },
            [this](int root, const rt::Text& path) {
              std::string key = std::to_string(root) + "|" + path.str();
              asked.push_back("reg " + key);
              auto it = registry.find(key);
              return it == registry.end() ? rt::Text() : rt::Text(it->second);
            },
            [] { return rt::Text("C:\\下载"); }};
  }
};

const std::string kShell = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders\\";

TEST(NamedFolderTest, EnvironmentComesFirstThenShellFoldersOfTheRightRoot) {
  FakeSystem sys;
  sys.env["appdata"] = "C:\\Users\\u\\AppData\\Roaming";
  sys.registry["3|" + kShell + "appdata"] = "D:\\never";
  sys.registry["3|" + kShell + "desktop"] = "C:\\Users\\u\\Desktop";
  sys.registry["4|" + kShell + "common desktop"] = "C:\\Users\\Public\\Desktop";
  EXPECT_EQ(named_folder(1, sys.sources()), "C:\\Users\\u\\AppData\\Roaming");
  EXPECT_EQ(named_folder(5, sys.sources()), "C:\\Users\\u\\Desktop");
  EXPECT_EQ(named_folder(25, sys.sources()), "C:\\Users\\Public\\Desktop");
  // Lower-cased names are asked for.
  EXPECT_EQ(sys.asked.back(), "reg 4|" + kShell + "common desktop");
  EXPECT_EQ(named_folder(26, sys.sources()), "");  // nothing anywhere
}

TEST(NamedFolderTest, OutOfRangeIndicesMeanAppData) {
  FakeSystem sys;
  sys.env["appdata"] = "R";
  for (int i : {0, -5, 44, 1000}) EXPECT_EQ(named_folder(i, sys.sources()), "R") << i;
  EXPECT_STREQ(installer::named_folder_name(44), "AppData");
  EXPECT_STREQ(installer::named_folder_name(43), "软件安装目录");
}

TEST(NamedFolderTest, System32ComesFromComSpecUpToItsLastBackslash) {
  FakeSystem sys;
  sys.env["ComSpec"] = "C:\\Windows\\system32\\cmd.exe";
  EXPECT_EQ(named_folder(37, sys.sources()), "C:\\Windows\\system32");
  sys.env["ComSpec"] = "cmd.exe";
  EXPECT_EQ(named_folder(37, sys.sources()), "");
  // "圽" (0x88 0x5C) ends in a byte that looks like a backslash.
  sys.env["ComSpec"] = "C:\\圽\\圽cmd.exe";
  EXPECT_EQ(named_folder(37, sys.sources()), "C:\\圽");
  sys.env["system32"] = "E:\\sys";
  EXPECT_EQ(named_folder(37, sys.sources()), "E:\\sys");
}

TEST(NamedFolderTest, TheProgramsOwnFolderIsAskedOfNothingElse) {
  FakeSystem sys;
  EXPECT_EQ(named_folder(43, sys.sources()), "C:\\下载");
  EXPECT_TRUE(sys.asked.empty());
}

TEST(PathMacroTest, ReplacesAppAndTmpExactlyOnce) {
  EXPECT_EQ(expand_path_macros("{app}/bin/x.dll", "C:\\Apps\\Foo", "C:\\Temp\\"), "C:\\Apps\\Foo\\bin/x.dll");
  EXPECT_EQ(expand_path_macros("{APP}/x.dll", "C:\\Apps\\Foo", "T\\"), "{APP}/x.dll");
  EXPECT_EQ(expand_path_macros("{tmp}/setup.tmp", "A", "C:\\Temp\\"), "C:\\Temp\\setup.tmp");
  EXPECT_EQ(expand_path_macros("readme.txt", "A", "T\\"), "readme.txt");
  EXPECT_EQ(expand_path_macros("{app}/", "C:\\Apps\\", "T\\"), "C:\\Apps\\\\");
  // Replaced text is not scanned again: a directory holding "{tmp}/" stays.
  EXPECT_EQ(expand_path_macros("{app}/a", "D:\\{tmp}", "T\\"), "D:\\{tmp}\\a");
  EXPECT_EQ(expand_path_macros("{app}/{app}/x", "D", "T\\"), "D\\D\\x");
}

TEST(PathMacroTest, NeverStartsAMacroOnATrailByte) {
  // 0x81 0x7B is one character whose trail byte is "{".
  std::string tricky = "\x81{app}/x";
  EXPECT_EQ(expand_path_macros(rt::Text(tricky), "D", "T\\").str(), tricky);
  std::string after = "\x81\x40{app}/x";
  EXPECT_EQ(expand_path_macros(rt::Text(after), "D", "T\\").str(), "\x81\x40" "D\\x");
}

}  // namespace
