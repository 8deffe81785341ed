// Shortcuts made by the shell under Wine and read back through IShellLinkW:
// target, working directory, icon, show command.
#include <windows.h>
// The shell headers build on windows.h.
#include <shlobj.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "installer/platform/launch.h"
#include "installer/steps/shortcuts.h"
#include "runtime/value/codepage.h"
#include "runtime/services/com_services.h"

namespace {

namespace fs = std::filesystem;

struct Link {
  bool loaded = false;
  std::string target, working_directory, icon, arguments, description;
  int icon_index = -1;
  int show = -1;
};

std::string narrow(const wchar_t* w) { return rt::cp936_from_wchar(w); }

// Reads a shortcut file (path in code page 936) through the shell link object.
Link read_link(const std::string& path) {
  Link out;
  rt::ComApartment apartment;
  IShellLinkW* raw = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(&raw))))
    return out;
  rt::ComPtr<IShellLinkW> link(raw);
  IPersistFile* raw_file = nullptr;
  if (FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&raw_file)))) return out;
  rt::ComPtr<IPersistFile> file(raw_file);
  if (FAILED(file->Load(rt::wide_path(path).c_str(), STGM_READ))) return out;
  wchar_t buffer[MAX_PATH * 2] = {};
  // The target as the shell resolves it, from the item ID list: Wine keeps
  // only an ANSI copy of the path in the link's location block (code page
  // 1252 here, so Chinese reads back as '?'), while the ID list has the
  // names in UTF-16, as Windows writes and reads them.
  LPITEMIDLIST items = nullptr;
  if (SUCCEEDED(link->GetIDList(&items)) && items && SHGetPathFromIDListW(items, buffer)) {
    out.target = narrow(buffer);
  } else {
    link->GetPath(buffer, MAX_PATH * 2, nullptr, SLGP_RAWPATH);
    out.target = narrow(buffer);
  }
  CoTaskMemFree(items);
  buffer[0] = 0;
  link->GetWorkingDirectory(buffer, MAX_PATH * 2);
  out.working_directory = narrow(buffer);
  buffer[0] = 0;
  link->GetIconLocation(buffer, MAX_PATH * 2, &out.icon_index);
  out.icon = narrow(buffer);
  buffer[0] = 0;
  link->GetArguments(buffer, MAX_PATH * 2);
  out.arguments = narrow(buffer);
  buffer[0] = 0;
  link->GetDescription(buffer, MAX_PATH * 2);
  out.description = narrow(buffer);
  // Wine's loader does not hand the stored show command back through
  // GetShowCmd; read it where the file format keeps it (offset 0x3C).
  HANDLE f =
      CreateFileW(rt::wide_path(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return out;
  unsigned char header[0x40] = {};
  DWORD got = 0;
  ReadFile(f, header, sizeof header, &got, nullptr);
  CloseHandle(f);
  if (got != sizeof header) return out;
  out.show = header[0x3C] | header[0x3D] << 8 | header[0x3E] << 16 | header[0x3F] << 24;
  out.loaded = true;
  return out;
}

bool exists(const std::string& path) { return fs::exists(fs::path(rt::wide_path(path))); }
void remove(const std::string& path) {
  std::error_code ec;
  fs::remove(fs::path(rt::wide_path(path)), ec);
}

class ShortcutsTest : public testing::Test {
 protected:
  void SetUp() override {
    desktop = installer::special_folder(installer::kFolderDesktop).str();
    programs = installer::special_folder(installer::kFolderPrograms).str();
    ASSERT_FALSE(desktop.empty());
    ASSERT_FALSE(programs.empty());
    fs::create_directories(fs::path(rt::wide_path(desktop)));
    fs::create_directories(fs::path(rt::wide_path(programs)));
    // Names of this process only: other tests share the desktop.
    suffix = "-" + std::to_string(GetCurrentProcessId());
  }
  void TearDown() override {
    for (const std::string& f : made) remove(f);
  }
  std::string on_desktop(const std::string& name) { return track(desktop + name + suffix + ".lnk"); }
  std::string in_programs(const std::string& name) { return track(programs + name + suffix + ".lnk"); }
  std::string track(const std::string& path) {
    made.push_back(path);
    return path;
  }

  std::string desktop, programs, suffix;
  std::vector<std::string> made;
};

TEST_F(ShortcutsTest, InstallStepMakesBothShortcutsToTheMainFile) {
  installer::make_shortcuts({"Foo" + suffix, "C:\\Apps\\Foo", "Foo.exe", true});
  Link d = read_link(on_desktop("Foo"));
  ASSERT_TRUE(d.loaded);
  EXPECT_EQ(d.target, "C:\\Apps\\Foo\\Foo.exe");
  EXPECT_EQ(d.working_directory, "C:\\Apps\\Foo\\");
  EXPECT_EQ(d.icon, "C:\\Apps\\Foo\\Foo.exe");
  EXPECT_EQ(d.icon_index, 0);
  EXPECT_EQ(d.show, 0);  // the window style the step passes; the shell shows it normally
  EXPECT_EQ(d.arguments, "");
  Link s = read_link(in_programs("Foo"));
  ASSERT_TRUE(s.loaded);
  EXPECT_EQ(s.target, "C:\\Apps\\Foo\\Foo.exe");
  // The Start-menu shortcut starts it the same way: same folder, same icon.
  EXPECT_EQ(s.working_directory, "C:\\Apps\\Foo\\");
  EXPECT_EQ(s.icon, "C:\\Apps\\Foo\\Foo.exe");
  EXPECT_EQ(s.icon_index, 0);
  EXPECT_EQ(s.show, SW_SHOW);
}

TEST_F(ShortcutsTest, ClearedBoxMakesOnlyTheStartMenuShortcut) {
  installer::make_shortcuts({"Bar" + suffix, "C:\\Apps\\Bar", "Bar.exe", false});
  EXPECT_FALSE(exists(on_desktop("Bar")));
  EXPECT_TRUE(read_link(in_programs("Bar")).loaded);
}

TEST_F(ShortcutsTest, ChineseNamesAndPathsSurviveUnderAnotherCodePage) {
  std::string name = "测试软件" + suffix;
  installer::make_shortcuts({name, "C:\\程序\\测试软件", "启动.exe", true});
  Link d = read_link(on_desktop("测试软件"));
  ASSERT_TRUE(d.loaded);
  EXPECT_EQ(d.target, "C:\\程序\\测试软件\\启动.exe");
  EXPECT_EQ(d.working_directory, "C:\\程序\\测试软件\\");
  EXPECT_EQ(d.icon, "C:\\程序\\测试软件\\启动.exe");
  Link s = read_link(in_programs("测试软件"));
  ASSERT_TRUE(s.loaded);
  EXPECT_EQ(s.target, "C:\\程序\\测试软件\\启动.exe");
  EXPECT_EQ(s.working_directory, "C:\\程序\\测试软件\\");
  EXPECT_EQ(s.icon, "C:\\程序\\测试软件\\启动.exe");
}

TEST_F(ShortcutsTest, MainFileWithoutExtensionGetsTheShellIcon) {
  rt::Text name = rt::Text("NoExt" + suffix);
  EXPECT_TRUE(installer::create_desktop_shortcut(name, "C:\\Apps\\NoExt\\run"));
  Link d = read_link(on_desktop("NoExt"));
  ASSERT_TRUE(d.loaded);
  EXPECT_EQ(d.icon, "SHELL32.dll");
  EXPECT_EQ(d.icon_index, 4);
  // The install step gives both of its shortcuts that icon.
  installer::make_shortcuts({"Run" + suffix, "C:\\Apps\\Run", "run", true});
  for (const std::string& path : {on_desktop("Run"), in_programs("Run")}) {
    Link l = read_link(path);
    EXPECT_EQ(l.icon, "SHELL32.dll") << path;
    EXPECT_EQ(l.icon_index, 4) << path;
  }
}

TEST_F(ShortcutsTest, EarlierDesktopShortcutIsReplaced) {
  std::string path = on_desktop("Again");
  HANDLE f = CreateFileW(rt::wide_path(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  DWORD written;
  WriteFile(f, "not a shortcut", 14, &written, nullptr);
  CloseHandle(f);
  rt::Text name = rt::Text("Again" + suffix);
  EXPECT_TRUE(installer::create_desktop_shortcut(name, "C:\\Apps\\Again\\Again.exe"));
  EXPECT_EQ(read_link(path).target, "C:\\Apps\\Again\\Again.exe");
}

TEST_F(ShortcutsTest, TargetWithoutFolderMakesNothingAfterDeletingTheOldShortcut) {
  std::string path = on_desktop("Flat");
  rt::Text name = rt::Text("Flat" + suffix);
  ASSERT_TRUE(installer::create_desktop_shortcut(name, "C:\\Apps\\Flat.exe"));
  ASSERT_TRUE(exists(path));
  EXPECT_FALSE(installer::create_desktop_shortcut(name, "Flat.exe"));
  EXPECT_FALSE(exists(path));
}

TEST_F(ShortcutsTest, NameGivenAsAPathOrWithItsExtensionLandsOnTheDesktop) {
  rt::Text name = rt::Text("D:\\elsewhere\\Pathy" + suffix + ".exe");
  EXPECT_TRUE(installer::create_desktop_shortcut(name, "C:\\Apps\\Pathy.exe"));
  EXPECT_EQ(name, rt::Text("Pathy" + suffix));
  EXPECT_TRUE(read_link(on_desktop("Pathy")).loaded);

  rt::Text with_extension = rt::Text("Ext" + suffix + ".LNK");
  EXPECT_TRUE(installer::create_desktop_shortcut(with_extension, "C:\\Apps\\Ext.exe"));
  EXPECT_TRUE(exists(track(desktop + "Ext" + suffix + ".LNK")));
  EXPECT_FALSE(exists(desktop + "Ext" + suffix + ".LNK.lnk"));
}

TEST_F(ShortcutsTest, DesktopShortcutTakesEveryOptionalProperty) {
  rt::Text name = rt::Text("Full" + suffix);
  EXPECT_TRUE(installer::create_desktop_shortcut(name, "C:\\Apps\\Full\\Full.exe", "--start 1",
                                                 rt::Text("C:\\Icons\\full.ico,2"), 3, "描述 text", ""));
  Link d = read_link(on_desktop("Full"));
  ASSERT_TRUE(d.loaded);
  EXPECT_EQ(d.arguments, "--start 1");
  EXPECT_EQ(d.icon, "C:\\Icons\\full.ico");
  EXPECT_EQ(d.icon_index, 2);
  EXPECT_EQ(d.show, SW_SHOWMAXIMIZED);
  EXPECT_EQ(d.description, "描述 text");
}

TEST_F(ShortcutsTest, ShellLinkAddsItsExtensionByTheFileNameOnly) {
  rt::ComApartment apartment;
  std::string folder = programs + "dotted.folder" + suffix;
  fs::create_directories(fs::path(rt::wide_path(folder)));
  std::string bare = folder + "\\Plain";
  EXPECT_TRUE(installer::create_shell_link(bare, "C:\\Apps\\Plain.exe", rt::Text("说明"), rt::Text("-x"),
                                           rt::Text("C:\\Apps\\")));
  Link s = read_link(track(bare + ".lnk"));
  ASSERT_TRUE(s.loaded);
  EXPECT_EQ(s.description, "说明");
  EXPECT_EQ(s.arguments, "-x");
  EXPECT_EQ(s.working_directory, "C:\\Apps\\");
  EXPECT_FALSE(installer::create_shell_link(programs + "no-such-folder" + suffix + "\\X.lnk", "C:\\X.exe"));
  remove(bare + ".lnk");
  std::error_code ec;
  fs::remove(fs::path(rt::wide_path(folder)), ec);
}

}  // namespace
