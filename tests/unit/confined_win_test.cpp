// The confined file layer under Wine, tried as someone who can write the
// folders it works in would: links at every level, names that climb, a
// folder renamed away while held, a file rewritten between its check and
// its use, another file handed in as the program to start.
#include "runtime/win/confined.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "runtime/value/codepage.h"
#include "tests/support/paths.h"
#include "tests/support/windows_win.h"

namespace {

using rt::win::FileStatus;
using rt::win::Folder;

std::u16string u(const std::string& s) { return rt::wide_from_cp936(s); }
std::wstring w(const std::string& s) { return rt::wide_path(s); }
bool exists(const std::string& p) { return GetFileAttributesW(w(p).c_str()) != INVALID_FILE_ATTRIBUTES; }
bool write(const std::string& path, const std::string& bytes) {
  rt::win::File f(CreateFileW(w(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  DWORD n = 0;
  return f && WriteFile(f.get(), bytes.data(), DWORD(bytes.size()), &n, nullptr) && n == bytes.size();
}
std::string read(const std::string& path) {
  rt::win::File f(CreateFileW(w(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  std::string bytes(8 << 20, '\0');
  DWORD n = 0;
  if (!f || !ReadFile(f.get(), bytes.data(), DWORD(bytes.size()), &n, nullptr)) return "(missing)";
  bytes.resize(n);
  return bytes;
}

class ConfinedTest : public testing::Test {
 protected:
  void SetUp() override {
    base = testsupport::scratch_dir("confined");
    outside = testsupport::scratch_dir("victim");
    ASSERT_TRUE(CreateDirectoryW(w(base + "\\内").c_str(), nullptr));
    ASSERT_TRUE(write(base + "\\内\\a.txt", "a"));
    ASSERT_TRUE(write(outside + "\\a.txt", "victim"));
    ASSERT_TRUE(testsupport::make_link(base + "\\dirlink", outside));
    ASSERT_TRUE(testsupport::make_link(base + "\\内\\filelink", outside + "\\a.txt"));
    // A link to a folder beside it: in the same folder, under another name.
    ASSERT_TRUE(testsupport::make_link(base + "\\sibling", base + "\\内"));
  }
  std::string base, outside;
};

TEST_F(ConfinedTest, LinksAndClimbingNamesAreNeverFollowed) {
  FileStatus s = FileStatus::kOk;
  Folder inner = Folder::open(u(base + "\\内"), &s);
  ASSERT_TRUE(inner) << int(s);
  EXPECT_EQ(inner.path(), u(base + "\\内"));
  Folder top = Folder::open(u(base));
  ASSERT_TRUE(top);

  // A link as a level of the path, as a folder below, as a file.
  EXPECT_FALSE(Folder::open(u(base + "\\dirlink"), &s));
  EXPECT_EQ(s, FileStatus::kRefused);
  EXPECT_FALSE(top.open_folder(u"dirlink", &s));
  EXPECT_EQ(s, FileStatus::kRefused);
  EXPECT_FALSE(top.open_folder(u"sibling", &s));
  EXPECT_EQ(s, FileStatus::kRefused);
  EXPECT_EQ(top.list().size(), 3u) << "内, dirlink, sibling";
  EXPECT_FALSE(Folder::open(u(base + "\\sibling")));
  EXPECT_FALSE(inner.open_file(u"filelink", GENERIC_READ, FILE_SHARE_READ, &s));
  EXPECT_EQ(s, FileStatus::kRefused);
  // Deleting or renaming a link never reaches what it points to.
  EXPECT_NE(inner.remove(u"filelink"), FileStatus::kOk);
  EXPECT_NE(top.rename(u"dirlink", inner, u"moved", false), FileStatus::kOk);
  EXPECT_EQ(read(outside + "\\a.txt"), "victim");

  // Names that are not one plain item are refused before anything is opened.
  for (const char16_t* name : {u"..", u".", u"内\\a.txt", u"..\\victim", u"C:", u"a.txt:s", u"NUL", u"a.txt."}) {
    EXPECT_FALSE(inner.open_file(name, GENERIC_READ, FILE_SHARE_READ, &s));
    EXPECT_EQ(s, FileStatus::kRefused);
    EXPECT_EQ(inner.remove(name), FileStatus::kRefused);
    EXPECT_FALSE(top.make_folder(name));
  }
  EXPECT_FALSE(Folder::open(u(base + "\\内\\..\\..\\victim"), &s));
  EXPECT_EQ(s, FileStatus::kRefused);
  EXPECT_FALSE(Folder::open(u"\\\\?\\" + u(base)));
}

TEST_F(ConfinedTest, HeldFoldersStayWhereTheyAreAndItemsMoveThroughHandles) {
  {
    Folder inner = Folder::open(u(base + "\\内"));
    ASSERT_TRUE(inner);
    // Neither the folder nor a folder above it can be renamed while held.
    EXPECT_FALSE(MoveFileExW(w(base + "\\内").c_str(), w(base + "\\moved").c_str(), 0));
    EXPECT_FALSE(MoveFileExW(w(base).c_str(), w(base + "-moved").c_str(), 0));
    // A new folder never takes a name that exists, a link's included.
    FileStatus s = FileStatus::kOk;
    EXPECT_FALSE(inner.make_folder(u"a.txt", nullptr, &s));
    EXPECT_EQ(s, FileStatus::kExists);
    EXPECT_FALSE(inner.make_folder(u"filelink", nullptr, &s));
    Folder made = inner.make_folder(u"新", nullptr, &s, true);
    ASSERT_TRUE(made);
    EXPECT_EQ(made.path(), u(base + "\\内\\新"));
    // Renames across held folders, replacing only when asked.
    ASSERT_TRUE(write(base + "\\内\\b.txt", "b"));
    EXPECT_EQ(inner.rename(u"a.txt", made, u"a2.txt", false), FileStatus::kOk);
    EXPECT_EQ(made.rename(u"a2.txt", inner, u"b.txt", false), FileStatus::kExists);
    EXPECT_EQ(made.rename(u"a2.txt", inner, u"b.txt", true), FileStatus::kOk);
    EXPECT_EQ(read(base + "\\内\\b.txt"), "a");
    // A read-only file goes; a folder goes once empty, through its own hold.
    SetFileAttributesW(w(base + "\\内\\b.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(inner.remove(u"b.txt"), FileStatus::kOk);
    EXPECT_EQ(inner.remove(u"b.txt"), FileStatus::kMissing);
    auto names = inner.list();
    EXPECT_EQ(names.size(), 2u);  // 新 and filelink
    EXPECT_EQ(made.remove_self(), FileStatus::kOk);
  }
  EXPECT_FALSE(exists(base + "\\内\\新"));
  EXPECT_TRUE(MoveFileExW(w(base + "\\内").c_str(), w(base + "\\moved").c_str(), 0)) << "let go";
}

TEST_F(ConfinedTest, AReadingHandleKeepsWritersOutAndOnlyTheHeldProgramStarts) {
  Folder folder = Folder::open(u(base + "\\内"));
  ASSERT_TRUE(folder);
  // The test program itself is the program to start: it lists its tests and ends.
  rt::win::File writer = folder.create_file(u"prog.exe", GENERIC_WRITE | DELETE, FILE_SHARE_READ);
  ASSERT_TRUE(writer);
  wchar_t own[MAX_PATH * 2] = {};
  ASSERT_GT(GetModuleFileNameW(nullptr, own, MAX_PATH * 2), 0u);
  std::string self = read(rt::cp936_from_wchar(own));
  DWORD put = 0;
  ASSERT_TRUE(WriteFile(writer.get(), self.data(), DWORD(self.size()), &put, nullptr));
  // Nobody else can open it for writing meanwhile: the writer shares reading only.
  EXPECT_EQ(CreateFileW(w(base + "\\内\\prog.exe").c_str(), GENERIC_WRITE, 7, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  rt::win::File reader = rt::win::reopen_for_reading(writer);
  ASSERT_TRUE(reader);
  EXPECT_FALSE(writer);
  EXPECT_EQ(CreateFileW(w(base + "\\内\\prog.exe").c_str(), GENERIC_WRITE, 7, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_FALSE(DeleteFileW(w(base + "\\内\\prog.exe").c_str()));
  EXPECT_FALSE(MoveFileExW(w(base + "\\内\\prog.exe").c_str(), w(base + "\\内\\x.exe").c_str(), 0));

  rt::win::ProgramStart how;
  how.arguments = u"--gtest_list_tests";
  // Another file handed in as the program is refused.
  rt::win::File a = folder.open_file(u"a.txt", GENERIC_READ, FILE_SHARE_READ);
  EXPECT_FALSE(rt::win::start_held_program(folder, u"prog.exe", a.get(), how));
  rt::win::Kernel process = rt::win::start_held_program(folder, u"prog.exe", reader.get(), how);
  ASSERT_TRUE(process);
  EXPECT_EQ(WaitForSingleObject(process.get(), 60000), WAIT_OBJECT_0);
  DWORD code = 1;
  EXPECT_TRUE(GetExitCodeProcess(process.get(), &code));
  EXPECT_EQ(code, 0u);
}

}  // namespace
