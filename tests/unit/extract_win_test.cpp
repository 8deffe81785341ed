// The package step on real files under Wine: a package made by the test,
// an uninstaller that is a copy of this test program, a fake controller.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "installer/format/cipher.h"
#include "installer/platform/resources.h"
#include "installer/steps/extract.h"
#include "runtime/value/codepage.h"
#include "tests/support/paths.h"
#include "tests/support/windows_win.h"
#include "tests/support/zip_maker.h"

using testsupport::make_zip;
using testsupport::ZipMakerEntry;
namespace fs = std::filesystem;

namespace {

// Records what the step tells the window; the directory can change between
// entries, as a user could change the box.
struct FakeController : installer::PackageStepHost {
  std::vector<std::string> directories;
  std::size_t asked = 0;
  std::vector<int> progress;
  std::vector<installer::PackageOutcome> ended;
  rt::Text install_directory() override {
    std::string d = directories[std::min(asked, directories.size() - 1)];
    ++asked;
    return rt::Text(d);
  }
  void set_progress(int percent) override { progress.push_back(percent); }
  void package_step_ended(const installer::PackageOutcome& outcome) override { ended.push_back(outcome); }
};

std::string this_program() {
  wchar_t exe[MAX_PATH];
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::ifstream in(fs::path(exe), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A resource of type "install" of an executable, or nullopt when it has none.
std::optional<rt::Bytes> resource(const std::string& exe, const wchar_t* name) {
  HMODULE m = LoadLibraryExW(rt::wide_path(exe).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!m) return rt::Bytes{0xEE};  // the file is no longer a loadable program
  std::optional<rt::Bytes> out;
  if (HRSRC r = FindResourceExW(m, L"INSTALL", name, 0)) out = rt::Bytes(LockResource(LoadResource(m, r)), SizeofResource(m, r));
  FreeLibrary(m);
  return out;
}
std::optional<rt::Bytes> list_resource(const std::string& exe) { return resource(exe, L"LIST"); }

struct PackageStepTest : testing::Test {
  std::string dir = testsupport::scratch_dir("package");
  std::string app = dir + "\\应用 程序";
  std::string package = dir + "\\app.zip";
  std::string uninstaller = app + "\\uninst.exe";
  std::wstring previous_directory;
  void SetUp() override {
    wchar_t cur[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, cur);
    previous_directory = cur;
    // Relative names land in the directory current at opening (the
    // installer's own folder, in the product).
    SetCurrentDirectoryW(rt::wide_path(dir).c_str());
  }
  void TearDown() override { SetCurrentDirectoryW(previous_directory.c_str()); }
  void write_package(const std::vector<ZipMakerEntry>& entries) {
    std::ofstream(fs::path(rt::wide_path(package)), std::ios::binary) << make_zip(entries);
  }
  bool exists(const std::string& path) {
    return GetFileAttributesW(rt::wide_path(path).c_str()) != INVALID_FILE_ATTRIBUTES;
  }
};

TEST_F(PackageStepTest, UnpacksListsAndRecordsTheListInTheUninstaller) {
  ZipMakerEntry folder{"{app}/data/", "", 0};
  folder.external = testsupport::unix_mode(040755);
  write_package({{"{app}/uninst.exe", this_program()}, {"{app}/Foo.exe", "foo"}, folder,
                 {"{app}/data/说明.txt", "a"}, {"readme.txt", "r"}});
  FakeController host;
  host.directories = {app};
  rt::Text files;
  installer::PackageOutcome out = installer::unpack_package(rt::Text(package), rt::Text(uninstaller), files, host);
  EXPECT_TRUE(out.opened);
  EXPECT_TRUE(out.all_extracted);
  EXPECT_TRUE(out.list_recorded);
  EXPECT_EQ(out.entries, 5);
  EXPECT_EQ(host.progress, (std::vector<int>{0, 20, 40, 60, 80, 100}));
  ASSERT_EQ(host.ended.size(), 1u);
  EXPECT_EQ(host.asked, 5u);  // once per entry
  std::string expected = app + "\\uninst.exe\r\n" + app + "\\Foo.exe\r\n" + app + "\\data\\\r\n" + app +
                         "\\data\\说明.txt\r\nreadme.txt\r\n";
  EXPECT_EQ(files.str(), expected);
  EXPECT_TRUE(exists(app + "\\data\\说明.txt"));
  EXPECT_TRUE(exists(dir + "\\readme.txt"));
  EXPECT_FALSE(exists(package));
  std::optional<rt::Bytes> stored = list_resource(uninstaller);
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(installer::decrypt_record(*stored, "Tarnel", true).str(), expected);

  // A second run (the reinstall button) appends to the same list.
  write_package({{"{app}/more.txt", "m"}});
  out = installer::unpack_package(rt::Text(package), rt::Text(uninstaller), files, host);
  EXPECT_TRUE(out.succeeded());
  expected += app + "\\more.txt\r\n";
  EXPECT_EQ(files.str(), expected);
  stored = list_resource(uninstaller);
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(std::string(stored->view()), std::string(installer::encrypt_text(rt::Text(expected), "Tarnel", true).view()));
}

TEST_F(PackageStepTest, TheBarMovesOncePerPercentOfAManyEntryPackage) {
  std::vector<ZipMakerEntry> entries;
  for (int i = 0; i < 250; ++i) entries.push_back({"{app}/f" + std::to_string(i), "x", 0});
  write_package(entries);
  FakeController host;
  host.directories = {app};
  rt::Text files;
  EXPECT_TRUE(installer::unpack_package(rt::Text(package), rt::Text(uninstaller), files, host).succeeded());
  ASSERT_FALSE(host.progress.empty());
  EXPECT_EQ(host.progress.back(), 100);
  EXPECT_LE(host.progress.size(), 101u);
  for (std::size_t i = 1; i < host.progress.size(); ++i) EXPECT_GT(host.progress[i], host.progress[i - 1]);
  EXPECT_TRUE(exists(app + "\\f249"));
}

TEST_F(PackageStepTest, EveryEntryAsksForTheDirectoryAfresh) {
  write_package({{"{app}/a.txt", "a"}, {"{app}/b.txt", "b"}, {"{app}/c.txt", "c"}});
  FakeController host;
  host.directories = {dir + "\\one", dir + "\\two"};
  rt::Text files;
  installer::unpack_package(rt::Text(package), rt::Text(uninstaller), files, host);
  EXPECT_EQ(host.progress, (std::vector<int>{0, 33, 66, 100}));
  EXPECT_TRUE(exists(dir + "\\one\\a.txt"));
  EXPECT_TRUE(exists(dir + "\\two\\b.txt"));
  EXPECT_TRUE(exists(dir + "\\two\\c.txt"));
}

TEST_F(PackageStepTest, AMissingPackageEndsTheStepAsAFailureAndClearsAnOldList) {
  CreateDirectoryW(rt::wide_path(app).c_str(), nullptr);
  std::ofstream(fs::path(rt::wide_path(uninstaller)), std::ios::binary) << this_program();
  ASSERT_TRUE(installer::write_resource(rt::Text(uninstaller), "install", "list", 0, rt::Bytes{1, 2, 3}));
  ASSERT_TRUE(list_resource(uninstaller).has_value());
  FakeController host;
  host.directories = {app};
  rt::Text files;
  installer::PackageOutcome out = installer::unpack_package(rt::Text(package), rt::Text(uninstaller), files, host);
  EXPECT_FALSE(out.opened);
  EXPECT_FALSE(out.succeeded());
  ASSERT_EQ(host.ended.size(), 1u);
  EXPECT_FALSE(host.ended[0].succeeded());
  EXPECT_EQ(host.progress, std::vector<int>{0});
  EXPECT_TRUE(files.empty());
  EXPECT_FALSE(list_resource(uninstaller).has_value());  // the empty list removed the old one
}

TEST_F(PackageStepTest, AnEntryThatCannotBeWrittenIsListedButFailsTheOutcome) {
  write_package({{"{app}/ok.txt", "ok"}, {"../above.txt", "x"}, {"{app}/ro.txt", "new"}});
  CreateDirectoryW(rt::wide_path(app).c_str(), nullptr);
  std::ofstream(fs::path(rt::wide_path(app + "\\ro.txt"))) << "old";
  SetFileAttributesW(rt::wide_path(app + "\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  FakeController host;
  host.directories = {app};
  rt::Text files;
  installer::PackageOutcome out = installer::unpack_package(rt::Text(package), rt::Text(uninstaller), files, host);
  EXPECT_TRUE(out.opened);
  EXPECT_FALSE(out.all_extracted);
  EXPECT_EQ(out.failed, 2);
  EXPECT_FALSE(out.list_recorded);  // no uninstaller in this package
  EXPECT_EQ(files.str(), app + "\\ok.txt\r\n..\\above.txt\r\n" + app + "\\ro.txt\r\n");
  EXPECT_FALSE(exists(fs::path(dir).parent_path().string() + "\\above.txt"));
  SetFileAttributesW(rt::wide_path(app + "\\ro.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(PackageStepTest, TheEmptyTwentyTwoByteArchiveInstallsNothingAndSucceeds) {
  write_package({});
  FakeController host;
  host.directories = {app};
  rt::Text files;
  installer::PackageOutcome out = installer::unpack_package(rt::Text(package), rt::Text(uninstaller), files, host);
  EXPECT_TRUE(out.succeeded());
  EXPECT_EQ(out.entries, 0);
  EXPECT_TRUE(files.empty());
  EXPECT_FALSE(exists(package));
}

TEST(WriteResourceTest, AddsReplacesAndDeletesKeepingOthersAndTheProgramRunnable) {
  std::string dir = testsupport::scratch_dir("resource");
  std::string exe = dir + "\\程序.exe";
  std::ofstream(fs::path(rt::wide_path(exe)), std::ios::binary) << this_program();
  EXPECT_FALSE(list_resource(exe).has_value());
  EXPECT_TRUE(installer::write_resource(rt::Text(exe), "install", "list", 0, rt::Bytes()));  // nothing to delete
  ASSERT_TRUE(installer::write_resource(rt::Text(exe), "install", "other", 0, rt::Bytes{7, 7}));
  ASSERT_TRUE(installer::write_resource(rt::Text(exe), "install", "list", 0, rt::Bytes{1, 2, 3}));
  ASSERT_TRUE(installer::write_resource(rt::Text(exe), "install", "list", 0, rt::Bytes{4, 5}));
  EXPECT_EQ(list_resource(exe), (rt::Bytes{4, 5}));
  ASSERT_TRUE(installer::write_resource(rt::Text(exe), "install", "list", 0, rt::Bytes()));
  EXPECT_FALSE(list_resource(exe).has_value());
  EXPECT_EQ(resource(exe, L"OTHER"), (rt::Bytes{7, 7}));
  EXPECT_FALSE(installer::write_resource(rt::Text(dir + "\\missing.exe"), "install", "list", 0, rt::Bytes{1}));
  // The rewritten copy still starts and runs.
  std::wstring cmd = L"\"" + rt::wide_path(exe) + L"\" --gtest_list_tests --gtest_filter=None";
  EXPECT_EQ(testsupport::run_program(cmd), 0);
}

}  // namespace
