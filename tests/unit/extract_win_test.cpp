// The package step on real files under Wine: a package made by the test,
// an uninstaller that is a copy of this test program, a fake controller.
#include <windows.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "installer/format/cipher.h"
#include "installer/platform/resources.h"
#include "installer/platform/launch.h"
#include "installer/platform/paths.h"
#include "installer/platform/protected_folder.h"
#include "installer/platform/removal.h"
#include "installer/steps/extract.h"
#include "installer/steps/install_folder.h"
#include "installer/steps/run_file.h"
#include "runtime/value/codepage.h"
#include "tests/support/dotnet_url.h"
#include "tests/support/paths.h"
#include "tests/support/windows_win.h"
#include "tests/support/zip_maker.h"

using testsupport::make_zip;
using testsupport::ZipMakerEntry;
namespace fs = std::filesystem;

namespace {

// Plays the sequence around the step: records the progress it reports and
// the outcome it ends with, and gives the installation directory as the
// window's box shows it when asked (a person could change the box between
// entries: the step must take it once).
struct FakeController : installer::PackageStepHost {
  std::vector<std::string> directories;
  std::size_t asked = 0;
  std::vector<int> progress;
  std::vector<installer::PackageOutcome> ended;
  rt::Text install_directory() {
    std::string d = directories[std::min(asked, directories.size() - 1)];
    ++asked;
    return rt::Text(d);
  }
  std::function<void()> between_entries;  // called as the bar moves
  void set_progress(int percent) override {
    progress.push_back(percent);
    if (between_entries) between_entries();
  }
};

// The package step as the sequence runs it: the directory taken once, the
// earlier list from the uninstaller in place.
installer::PackageOutcome unpack(const std::string& package, const std::string& uninstaller, rt::Text& files,
                                 FakeController& host) {
  installer::PackageOutcome outcome = installer::unpack_package(rt::Text(package), host.install_directory(),
                                                                rt::Text(uninstaller), files, host);
  host.ended.push_back(outcome);
  return outcome;
}

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

std::string read(const std::string& path) {
  std::ifstream in(fs::path(rt::wide_path(path)), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// An entry whose name is stored as UTF-8 (flag 0x800).
ZipMakerEntry utf8_entry(const std::string& name) {
  ZipMakerEntry e(name, "x");
  e.flags = 0x800;
  return e;
}

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

// The programs' own CRC-32 and Adler-32 (runtime/zip/zlib_checks_win.cpp)
// give zlib's results: the standard check values, and a bit-by-bit
// reference over every start alignment and length up to 70 bytes, in pieces.
TEST(ZlibChecksTest, GiveZlibsResultsAtEveryAlignmentAndLength) {
  const Bytef* nine = reinterpret_cast<const Bytef*>("123456789");
  EXPECT_EQ(crc32(0, nine, 9), 0xCBF43926u);
  EXPECT_EQ(adler32(1, reinterpret_cast<const Bytef*>("Wikipedia"), 9), 0x11E60398u);
  EXPECT_EQ(crc32(0, Z_NULL, 0), 0u);
  EXPECT_EQ(adler32(0, Z_NULL, 0), 1u);
  EXPECT_EQ(get_crc_table()[1], 0x77073096u);
  std::vector<Bytef> data(80 + 20000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = Bytef(i * 131 + (i >> 7));
  auto crc_bitwise = [](const Bytef* p, std::size_t n) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) {
      c ^= p[i];
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    return ~c;
  };
  auto adler_plain = [](const Bytef* p, std::size_t n) {
    std::uint32_t a = 1, b = 0;
    for (std::size_t i = 0; i < n; ++i) a = (a + p[i]) % 65521, b = (b + a) % 65521;
    return (b << 16) | a;
  };
  for (std::size_t start = 0; start < 4; ++start)
    for (std::size_t n = 0; n <= 70; ++n) {
      const Bytef* p = data.data() + start;
      uLong split = crc32(crc32(0, p, uInt(n / 3)), p + n / 3, uInt(n - n / 3));
      ASSERT_EQ(split, crc_bitwise(p, n)) << start << " " << n;
      ASSERT_EQ(adler32(adler32(1, p, uInt(n / 2)), p + n / 2, uInt(n - n / 2)), adler_plain(p, n)) << n;
    }
  // Past the 5,552 bytes after which Adler-32's sums are reduced.
  EXPECT_EQ(crc32(0, data.data(), uInt(data.size())), crc_bitwise(data.data(), data.size()));
  EXPECT_EQ(adler32(1, data.data(), uInt(data.size())), adler_plain(data.data(), data.size()));
}

TEST_F(PackageStepTest, UnpacksListsAndRecordsTheListInTheUninstaller) {
  ZipMakerEntry folder{"{app}/data/", "", 0};
  folder.external = testsupport::unix_mode(040755);
  write_package({{"{app}/uninst.exe", this_program()}, {"{app}/Foo.exe", "foo"}, folder,
                 {"{app}/data/说明.txt", "a"}, {"readme.txt", "r"}});
  FakeController host;
  host.directories = {app};
  rt::Text files;
  installer::PackageOutcome out = unpack(package, uninstaller, files, host);
  EXPECT_TRUE(out.opened);
  EXPECT_TRUE(out.all_extracted);
  EXPECT_TRUE(out.list_recorded);
  EXPECT_EQ(out.entries, 5);
  EXPECT_EQ(host.progress, (std::vector<int>{0, 20, 40, 60, 80, 100}));
  ASSERT_EQ(host.ended.size(), 1u);
  EXPECT_EQ(host.asked, 1u);  // once, before the first entry
  // A file outside the installation folder carries its mark: the
  // uninstaller removes only that very file.
  HANDLE readme = CreateFileW(rt::wide_path(dir + "\\readme.txt").c_str(), FILE_READ_ATTRIBUTES, 7, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  const std::string mark = installer::file_mark(readme);
  CloseHandle(readme);
  ASSERT_EQ(mark.rfind("id=", 0), 0u);
  std::string expected = app + "\\uninst.exe\r\n" + app + "\\Foo.exe\r\n" + app + "\\data\\\r\n" + app +
                         "\\data\\说明.txt\r\nreadme.txt\t" + mark + "\r\n";
  EXPECT_EQ(files.str(), expected);
  EXPECT_TRUE(exists(app + "\\data\\说明.txt"));
  EXPECT_TRUE(exists(dir + "\\readme.txt"));
  EXPECT_FALSE(exists(package));
  std::optional<rt::Bytes> stored = list_resource(uninstaller);
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(installer::decrypt_record(*stored, "Tarnel", true).str(), expected);

  // A second run (the reinstall button) appends to the same list.
  write_package({{"{app}/more.txt", "m"}});
  out = unpack(package, uninstaller, files, host);
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
  EXPECT_TRUE(unpack(package, uninstaller, files, host).succeeded());
  ASSERT_FALSE(host.progress.empty());
  EXPECT_EQ(host.progress.back(), 100);
  EXPECT_LE(host.progress.size(), 101u);
  for (std::size_t i = 1; i < host.progress.size(); ++i) EXPECT_GT(host.progress[i], host.progress[i - 1]);
  EXPECT_TRUE(exists(app + "\\f249"));
}

TEST_F(PackageStepTest, TheDirectoryIsTakenOnceForTheWholePackage) {
  write_package({{"{app}/a.txt", "a"}, {"{app}/b.txt", "b"}, {"{app}/c.txt", "c"}});
  FakeController host;
  host.directories = {dir + "\\one", dir + "\\two"};
  rt::Text files;
  unpack(package, uninstaller, files, host);
  EXPECT_EQ(host.progress, (std::vector<int>{0, 33, 66, 100}));
  for (const char* name : {"a.txt", "b.txt", "c.txt"}) EXPECT_TRUE(exists(dir + "\\one\\" + name)) << name;
  EXPECT_FALSE(exists(dir + "\\two"));
}

TEST_F(PackageStepTest, AMissingPackageEndsTheStepAsAFailureAndLeavesTheEarlierListAlone) {
  CreateDirectoryW(rt::wide_path(app).c_str(), nullptr);
  std::ofstream(fs::path(rt::wide_path(uninstaller)), std::ios::binary) << this_program();
  ASSERT_TRUE(installer::write_resource(rt::Text(uninstaller), "install", "list", 0, rt::Bytes{1, 2, 3}));
  FakeController host;
  host.directories = {app};
  rt::Text files;
  installer::PackageOutcome out = unpack(package, uninstaller, files, host);
  EXPECT_FALSE(out.opened);
  EXPECT_FALSE(out.succeeded());
  ASSERT_EQ(host.ended.size(), 1u);
  EXPECT_FALSE(host.ended[0].succeeded());
  EXPECT_EQ(host.progress, std::vector<int>{0});
  EXPECT_TRUE(files.empty());
  EXPECT_EQ(list_resource(uninstaller), (rt::Bytes{1, 2, 3}));
}

// The step stops at the first entry that fails and says which and why; what
// it made is in the run's record (the controller takes it back), no file is
// left under a temporary name, and nothing is listed.
TEST_F(PackageStepTest, TheFirstFailedEntryEndsTheStepNamingTheFileOrTheDamage) {
  CreateDirectoryW(rt::wide_path(app).c_str(), nullptr);
  std::ofstream(fs::path(rt::wide_path(app + "\\ro.txt"))) << "old";
  SetFileAttributesW(rt::wide_path(app + "\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  struct Case {
    std::vector<ZipMakerEntry> entries;
    bool damaged;
    std::string unwritable;
    std::size_t made;  // what the run made before it stopped
  };
  // Entries of several pieces: the ones after a failing entry are being
  // inflated on the second thread while it fails, and never written.
  std::string big;
  for (int i = 0; i < 1200000; ++i) big += char('a' + (i * 7 + i / 13) % 26);
  const Case cases[] = {
      {{{"{app}/ok.txt", "ok"}, {"{app}/ro.txt", "new"}, {"{app}/later.txt", "l"}}, false, app + "\\ro.txt", 1},
      {{{"{app}/ok.txt", big}, {"{app}/ro.txt", "new"}, {"{app}/later.txt", big}}, false, app + "\\ro.txt", 1},
      // A ".." is refused before anything is written (NamesThatLeaveTheirFolder... below).
      {{{"{app}/ok.txt", "ok"}, {"../above.txt", "x"}, {"{app}/later.txt", "l"}}, true, "", 0},
      // "COM¹" is a port once best-fitted: refused before anything is written.
      {{{"{app}/ok.txt", "ok"}, utf8_entry("{app}/COM\xC2\xB9.txt")}, true, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entries[1].name);
    installer::begin_install_run();
    write_package(c.entries);
    FakeController host;
    host.directories = {app};
    rt::Text files;
    installer::PackageOutcome out = unpack(package, uninstaller, files, host);
    EXPECT_TRUE(out.opened);
    EXPECT_FALSE(out.succeeded());
    EXPECT_EQ(out.failed, 1);
    EXPECT_EQ(out.damaged, c.damaged);
    EXPECT_EQ(out.unwritable_file.str(), c.unwritable);
    EXPECT_TRUE(files.empty());
    EXPECT_FALSE(out.list_recorded);
    EXPECT_FALSE(exists(app + "\\later.txt"));
    EXPECT_EQ(read(app + "\\ro.txt"), "old");
    // ok.txt was made by this run, and only it (its temporary name is noted
    // too, before it is made, and no longer exists).
    std::size_t made = 0;
    for (const auto& item : installer::this_run().items())
      made += GetFileAttributesW(reinterpret_cast<const wchar_t*>(item.path.c_str())) != INVALID_FILE_ATTRIBUTES;
    ASSERT_EQ(made, c.made);
    EXPECT_TRUE(installer::undo_this_run());
    EXPECT_FALSE(exists(app + "\\ok.txt"));
    for (const auto& entry : fs::directory_iterator(fs::path(rt::wide_path(app))))
      EXPECT_EQ(entry.path().extension().string(), ".txt") << entry.path().string();
  }
  SetFileAttributesW(rt::wide_path(app + "\\ro.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

// Installing the same package twice works, although it carries a read-only
// file: the earlier installation's list names it. A read-only file that list
// does not name is refused (above).
TEST_F(PackageStepTest, ReinstallReplacesReadOnlyFilesTheEarlierInstallationWrote) {
  ZipMakerEntry ro{"{app}/ro.txt", "one", 0};
  ro.external = testsupport::unix_mode(0100444);
  write_package({{"{app}/uninst.exe", this_program()}, ro});
  FakeController host;
  host.directories = {app};
  rt::Text files;
  ASSERT_TRUE(unpack(package, uninstaller, files, host).succeeded());
  EXPECT_NE(GetFileAttributesW(rt::wide_path(app + "\\ro.txt").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  ro.data = "two";
  write_package({{"{app}/uninst.exe", this_program()}, ro});
  files = rt::Text();
  EXPECT_TRUE(unpack(package, uninstaller, files, host).succeeded());
  EXPECT_EQ(read(app + "\\ro.txt"), "two");
  EXPECT_NE(GetFileAttributesW(rt::wide_path(app + "\\ro.txt").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  SetFileAttributesW(rt::wide_path(app + "\\ro.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

// A name is written exactly as it was checked, in UTF-16. One the list's
// code page cannot spell would be listed under another name ("cºn.txt" as
// the device "con.txt", "a¹bº.txt" as a person's own "a1bo.txt"), which an
// uninstallation would then remove: such a package is damaged and nothing of
// it is written.
TEST_F(PackageStepTest, NamesReachTheFileCallInUtf16AndUnspellableOnesAreRefused) {
  write_package({utf8_entry("{app}/\xE2\x82\xAC\xE6\x95\xB0.txt")});  // "€数.txt"
  FakeController host;
  host.directories = {app};
  rt::Text files;
  EXPECT_TRUE(unpack(package, uninstaller, files, host).succeeded());
  std::wstring folder = rt::wide_path(app);
  EXPECT_NE(GetFileAttributesW((folder + L"\\\u20AC\u6570.txt").c_str()), INVALID_FILE_ATTRIBUTES);

  for (const char* name : {"{app}/c\xC2\xBAn.txt", "{app}/a\xC2\xB9\x62\xC2\xBA.txt", "{app}/\xF0\x9F\x98\x80.txt"}) {
    SCOPED_TRACE(name);
    installer::begin_install_run();
    write_package({{"{app}/first.txt", "f"}, utf8_entry(name)});
    installer::PackageOutcome out = unpack(package, uninstaller, files, host);
    EXPECT_TRUE(out.damaged);
    EXPECT_FALSE(out.succeeded());
    EXPECT_TRUE(installer::this_run().items().empty());
    EXPECT_FALSE(exists(app + "\\first.txt"));
    EXPECT_EQ(GetFileAttributesW((folder + L"\\con.txt").c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_EQ(GetFileAttributesW((folder + L"\\a1bo.txt").c_str()), INVALID_FILE_ATTRIBUTES);
  }
}

// A name stored with a "..", a drive, a device or a root is a damaged
// package: nothing of it is written, not even under the name the clean-up
// would make of it ("{app}/../../evil.txt" as "evil.txt" in the installer's
// own folder). A name without a macro keeps its meaning: below the folder
// the installer runs in.
TEST_F(PackageStepTest, NamesThatLeaveTheirFolderAreADamagedPackageAndNothingIsWritten) {
  for (const char* name : {"{app}/../../evil.txt", "{app}/a/../evil.txt", "C:/evil.txt", "C:evil.txt", "/evil.txt",
                           "\\\\host\\share\\evil.txt", "{app}/con.txt", "{app}/sub/NUL", "..\\evil.txt"}) {
    SCOPED_TRACE(name);
    installer::begin_install_run();
    write_package({{"{app}/first.txt", "f"}, {name, "x"}});
    FakeController host;
    host.directories = {app};
    rt::Text files;
    installer::PackageOutcome out = unpack(package, uninstaller, files, host);
    EXPECT_TRUE(out.damaged);
    EXPECT_FALSE(out.succeeded());
    EXPECT_TRUE(installer::this_run().items().empty());
    EXPECT_FALSE(exists(app + "\\first.txt"));
    EXPECT_FALSE(exists(dir + "\\evil.txt"));
    EXPECT_FALSE(exists(app + "\\evil.txt"));
  }
  installer::begin_install_run();
  write_package({{"{app}/first.txt", "f"}, {"beside.txt", "b"}});
  FakeController host;
  host.directories = {app};
  rt::Text files;
  EXPECT_TRUE(unpack(package, uninstaller, files, host).succeeded());
  EXPECT_EQ(read(dir + "\\beside.txt"), "b");
}

TEST_F(PackageStepTest, ACancelStopsBetweenTwoEntries) {
  write_package({{"{app}/a.txt", "a"}, {"{app}/b.txt", "b"}});
  installer::begin_install_run();
  installer::request_install_cancel();
  FakeController host;
  host.directories = {app};
  rt::Text files;
  installer::PackageOutcome out = unpack(package, uninstaller, files, host);
  installer::begin_install_run();
  EXPECT_TRUE(out.cancelled);
  EXPECT_FALSE(out.succeeded());
  EXPECT_FALSE(exists(app + "\\a.txt"));
  EXPECT_TRUE(files.empty());
}

// A cancel asked while the entries after the one being written are being
// inflated ahead stops at the next safe point: every file written is whole
// and noted, nothing after it exists, and the run takes it all back.
TEST_F(PackageStepTest, ACancelWhileEntriesAreInflatedAheadStopsAtTheNextEntry) {
  std::string big;
  for (int i = 0; i < 700000; ++i) big += char('a' + (i * 11 + i / 17) % 26);
  std::vector<ZipMakerEntry> entries;
  for (int i = 0; i < 8; ++i) entries.push_back({"{app}/f" + std::to_string(i) + ".txt", big});
  write_package(entries);
  installer::begin_install_run();
  FakeController host;
  host.directories = {app};
  host.between_entries = [&] {
    if (host.progress.back() > 0) installer::request_install_cancel();
  };
  rt::Text files;
  installer::PackageOutcome out = unpack(package, uninstaller, files, host);
  EXPECT_TRUE(out.cancelled);
  EXPECT_FALSE(out.succeeded());
  EXPECT_EQ(read(app + "\\f0.txt"), big);
  EXPECT_FALSE(exists(app + "\\f1.txt"));
  EXPECT_TRUE(installer::undo_this_run());
  EXPECT_FALSE(exists(app + "\\f0.txt"));
  installer::begin_install_run();
}

// Nothing is written through a link below the installation folder, and a
// folder the step has written into cannot be moved away (to put a link in
// its place) while the step runs.
TEST_F(PackageStepTest, FoldersOnTheWayAreHeldAndNeverALink) {
  const std::string outside = dir + "\\outside";
  const std::string app = dir + "\\plain";  // ln is given ASCII names only
  CreateDirectoryW(rt::wide_path(app).c_str(), nullptr);
  CreateDirectoryW(rt::wide_path(outside).c_str(), nullptr);
  ASSERT_TRUE(testsupport::make_link(app + "\\link", outside));
  ASSERT_NE(GetFileAttributesW(rt::wide_path(app + "\\link").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
  write_package({{"{app}/data/a.txt", "a"}, {"{app}/data/b.txt", "b"}, {"{app}/link/c.txt", "c"}});
  FakeController host;
  host.directories = {app};
  std::vector<bool> moved;
  host.between_entries = [&] {
    if (!exists(app + "\\data\\a.txt")) return;
    moved.push_back(MoveFileExW(rt::wide_path(app + "\\data").c_str(), rt::wide_path(app + "\\moved").c_str(), 0));
  };
  rt::Text files;
  installer::begin_install_run();
  installer::PackageOutcome out = unpack(package, uninstaller, files, host);
  EXPECT_FALSE(out.succeeded());
  EXPECT_EQ(out.unwritable_file.str(), app + "\\link/c.txt");  // as the name gives it
  EXPECT_EQ(moved, (std::vector<bool>{false, false}));
  EXPECT_TRUE(exists(app + "\\data\\b.txt"));
  EXPECT_TRUE(fs::is_empty(fs::path(rt::wide_path(outside))));
  // Once the step has ended the folder is let go: the run can be taken back.
  EXPECT_TRUE(installer::undo_this_run());
  EXPECT_FALSE(exists(app + "\\data"));
  RemoveDirectoryW(rt::wide_path(app + "\\link").c_str());
  DeleteFileW(rt::wide_path(app + "\\link").c_str());
}

// A folder first reached above an entry's own folder (the installer run from
// inside the installation) and then below another's is checked then, not
// refused for having been passed unchecked.
TEST_F(PackageStepTest, AFolderPassedAboveOneEntryIsCheckedBelowTheNext) {
  CreateDirectoryW(rt::wide_path(app).c_str(), nullptr);
  CreateDirectoryW(rt::wide_path(app + "\\bin").c_str(), nullptr);
  SetCurrentDirectoryW(rt::wide_path(app + "\\bin").c_str());
  write_package({{"readme.txt", "r"}, {"{app}/bin/x.txt", "x"}});
  FakeController host;
  host.directories = {app};
  rt::Text files;
  EXPECT_TRUE(unpack(package, uninstaller, files, host).succeeded());
  EXPECT_TRUE(exists(app + "\\bin\\readme.txt"));
  EXPECT_TRUE(exists(app + "\\bin\\x.txt"));
}

TEST_F(PackageStepTest, TheEmptyTwentyTwoByteArchiveInstallsNothingAndSucceeds) {
  write_package({});
  FakeController host;
  host.directories = {app};
  rt::Text files;
  installer::PackageOutcome out = unpack(package, uninstaller, files, host);
  EXPECT_TRUE(out.succeeded());
  EXPECT_EQ(out.entries, 0);
  EXPECT_TRUE(files.empty());
  EXPECT_FALSE(exists(package));
}

// An uninstaller that cannot take the list fails the step, naming the file
// that should have taken it: one that is no program, or, beside a signed
// one, a list file a scanner holds. A package without an uninstaller still
// succeeds with no list kept.
TEST_F(PackageStepTest, AListThatCannotBeRecordedFailsTheStepNamingItsFile) {
  const std::string dat = app + "\\uninst.dat";
  struct Case {
    const char* what;
    std::string uninstaller;  // the package's uninst.exe; empty: none
    std::string named;        // the file the failure names; empty: success
  } cases[] = {
      {"not a program", "MZ but no program", uninstaller},
      {"signed, its list file held", testsupport::read_file(testsupport::stand_in("genuine.exe")), dat},
      {"no uninstaller", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::error_code ignored;
    fs::remove_all(fs::path(rt::wide_path(app)), ignored);
    fs::create_directories(fs::path(rt::wide_path(app)), ignored);
    std::ofstream(fs::path(rt::wide_path(dat)), std::ios::binary) << "earlier list";
    HANDLE scanner = CreateFileW(rt::wide_path(dat).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    std::vector<ZipMakerEntry> entries = {{"{app}/Foo.exe", "foo"}};
    if (!c.uninstaller.empty()) entries.push_back({"{app}/uninst.exe", c.uninstaller});
    write_package(entries);
    FakeController host;
    host.directories = {app};
    rt::Text files;
    installer::PackageOutcome out = unpack(package, uninstaller, files, host);
    CloseHandle(scanner);
    EXPECT_TRUE(out.all_extracted);
    EXPECT_FALSE(out.list_recorded);
    EXPECT_EQ(out.unwritable_file.str(), c.named);
    EXPECT_EQ(out.succeeded(), c.named.empty());
    EXPECT_EQ(read(dat), "earlier list");
  }
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

// An elevated run makes its folders with their own access lists: the first
// level of an installation for every user outside Program Files (users may
// read and run it, only administrators change it), and its working folders
// where only administrators can write (administrators only). Per person, or inside
// Program Files, nothing is set (Wine keeps no access lists: which folders
// were made so is what is checked).
TEST_F(PackageStepTest, ElevatedRunsProtectTheFoldersTheyMake) {
  static std::vector<std::pair<std::u16string, installer::FolderAccess>> made;
  installer::watch_protected_folders([](const std::u16string& path, installer::FolderAccess access) {
    made.emplace_back(path, access);
  });
  // Below the drive's root, not the build tree: an installation for every
  // user is refused below a folder others may change, and the build tree
  // may lie in one (/tmp).
  const std::string base = "C:\\" + dir.substr(dir.rfind('\\') + 1);
  ASSERT_TRUE(CreateDirectoryW(rt::wide_path(base).c_str(), nullptr));
  for (bool every_user : {false, true}) {
    installer::begin_install_run();
    made.clear();
    std::string folder = base + (every_user ? "\\every\\one" : "\\person\\one");
    ASSERT_EQ(installer::prepare_install_folder(rt::Text(folder), every_user), installer::FolderCheck::kReady);
    EXPECT_TRUE(installer::undo_this_run());
    if (every_user) {
      ASSERT_EQ(made.size(), 1u);
      EXPECT_EQ(rt::cp936_from_wide(made[0].first), base + "\\every");
      EXPECT_EQ(made[0].second, installer::FolderAccess::kInstalled);
    } else {
      EXPECT_TRUE(made.empty());
    }
  }
  wchar_t program_files[MAX_PATH] = {};
  GetEnvironmentVariableW(L"ProgramFiles", program_files, MAX_PATH);
  made.clear();
  installer::begin_install_run();
  ASSERT_EQ(installer::prepare_install_folder(rt::Text(rt::cp936_from_wchar(program_files) + "\\受保护测试"), true),
            installer::FolderCheck::kReady);
  EXPECT_TRUE(installer::undo_this_run());
  EXPECT_TRUE(made.empty()) << "Program Files' own list is inherited";
  // For every user, an existing folder others may change: given the
  // protected list while it is empty, refused once it holds anything.
  for (const char* open : {"\\open-empty", "\\open-full"}) {
    ASSERT_TRUE(CreateDirectoryW(rt::wide_path(base + open).c_str(), nullptr));
    ASSERT_TRUE(testsupport::let_everyone_write(base + open));
  }
  ASSERT_TRUE(testsupport::write_file(base + "\\open-full\\planted.dll", "x"));
  made.clear();
  installer::begin_install_run();
  EXPECT_EQ(installer::prepare_install_folder(rt::Text(base + "\\open-full"), true), installer::FolderCheck::kOpenToUsers);
  EXPECT_TRUE(made.empty());
  EXPECT_TRUE(installer::undo_this_run());
  installer::begin_install_run();
  EXPECT_EQ(installer::prepare_install_folder(rt::Text(base + "\\open-empty"), true), installer::FolderCheck::kReady);
  EXPECT_TRUE(installer::undo_this_run());
  ASSERT_EQ(made.size(), 1u);
  EXPECT_EQ(made[0].second, installer::FolderAccess::kInstalled);
  // The working folder: for an elevated run (Wine's always is) in the
  // Windows temporary folder, for administrators alone.
  made.clear();
  installer::RunFile file;
  ASSERT_TRUE(file.create("app.zip"));
  ASSERT_EQ(made.size(), 1u);
  EXPECT_EQ(made[0].second, installer::running_elevated() ? installer::FolderAccess::kPrivate
                                                          : installer::FolderAccess::kPersonal);
  wchar_t windows[MAX_PATH] = {};
  GetSystemWindowsDirectoryW(windows, MAX_PATH);
  if (installer::running_elevated())
    EXPECT_TRUE(installer::same_path(installer::parent_folder(installer::parent_folder(file.path_text())),
                                     rt::text_concat({rt::cp936_from_wchar(windows), "\\Temp"})))
        << file.path_text().str();
  installer::watch_protected_folders(nullptr);
}

// Stale working folders of killed runs go, through their holds, and only
// when they are ours: a folder planted under such a name with the marker
// but an access list anyone may use, or a link planted under such a name,
// keeps everything.
TEST_F(PackageStepTest, StaleWorkingFoldersGoOnlyWhenTheyAreOursAndNeverThroughALink) {
  rt::win::Folder parent = installer::working_parent();
  ASSERT_TRUE(parent);
  std::vector<std::u16string> stale_names;
  // An installer's and a self-removal copy's: killed, or ended; nothing holds them any more.
  for (auto [prefix, file] : {std::pair{u"setup-", u"app.zip"}, std::pair{u"uninst-", u"cleanup.exe"}}) {
    rt::win::Folder stale = installer::make_working_folder(prefix);
    ASSERT_TRUE(stale);
    ASSERT_TRUE(stale.create_file(file, GENERIC_WRITE, 0));
    stale_names.push_back(stale.path().substr(stale.path().rfind(u'\\') + 1));
  }
  const std::string base = rt::cp936_from_wide(parent.path());
  const std::string planted = base + "\\setup-0123456789abcdef", linked = base + "\\setup-fedcba9876543210";
  const std::string victim = testsupport::scratch_dir("stale-victim");
  for (const std::string& folder : {planted, victim}) {
    CreateDirectoryW(rt::wide_path(folder).c_str(), nullptr);
    ASSERT_TRUE(testsupport::write_file(folder + "\\~tarnel-setup.run", ""));
    ASSERT_TRUE(testsupport::write_file(folder + "\\keep.txt", "not a run's"));
  }
  DeleteFileW(rt::wide_path(linked).c_str());  // an earlier run's link, its victim gone
  ASSERT_TRUE(testsupport::make_link(linked, victim));
  installer::remove_stale_working_folders();
  for (const std::u16string& name : stale_names) EXPECT_FALSE(exists(base + "\\" + rt::cp936_from_wide(name)));
  EXPECT_EQ(testsupport::read_file(planted + "\\keep.txt"), "not a run's");
  EXPECT_EQ(testsupport::read_file(victim + "\\keep.txt"), "not a run's");
  EXPECT_TRUE(exists(victim + "\\~tarnel-setup.run"));
  DeleteFileW(rt::wide_path(linked).c_str());
  RemoveDirectoryW(rt::wide_path(linked).c_str());
  for (const char* f : {"\\keep.txt", "\\~tarnel-setup.run"}) DeleteFileW(rt::wide_path(planted + f).c_str());
  RemoveDirectoryW(rt::wide_path(planted).c_str());
}

}  // namespace
