// File services under Wine against the real file system.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "runtime/value/codepage.h"
#include "runtime/services/file_services.h"
#include "tests/support/paths.h"

namespace {

using namespace rt;

// Reads a whole file through the wide functions (Chinese paths).
std::string contents(const std::string& path) {
  HANDLE h = CreateFileW(wide_path(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "<missing>";
  std::string data(1024, '\0');
  DWORD got = 0;
  ReadFile(h, data.data(), static_cast<DWORD>(data.size()), &got, nullptr);
  CloseHandle(h);
  data.resize(got);
  return data;
}

// Whether another handle could open the file for reading / for writing.
bool others_can(const std::string& path, DWORD access) {
  HANDLE h = CreateFileW(wide_path(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}

class FileServicesTest : public testing::Test {
 protected:
  std::string dir_ = testsupport::scratch_dir("files");
  std::string file(const std::string& name) const { return dir_ + "\\" + name; }
};

TEST_F(FileServicesTest, DirectoriesFilesAndWildcards) {
  std::string sub = file("安装目录");
  EXPECT_TRUE(make_directory(sub));
  EXPECT_FALSE(make_directory(sub));
  EXPECT_FALSE(make_directory(file("a\\b")));  // one level only
  EXPECT_TRUE(file_exists(sub));
  std::string f = sub + "\\说明乗.txt";
  EXPECT_FALSE(file_exists(f));
  ASSERT_TRUE(write_file(f, Bytes(std::string_view("hi"))));
  EXPECT_TRUE(file_exists(f));
  EXPECT_TRUE(file_exists(sub + "\\*.txt"));
  EXPECT_FALSE(file_exists(sub + "\\*.exe"));
  EXPECT_TRUE(delete_file(f));
  EXPECT_FALSE(delete_file(f));
  EXPECT_FALSE(file_exists(f));
}

TEST_F(FileServicesTest, WriteFileTruncatesAndSkipsEmptyParts) {
  std::string f = file("out.bin");
  Bytes a(std::string_view("first-long-content")), empty, b(std::string_view("\0x", 2));
  ASSERT_TRUE(write_file(f, a));
  ASSERT_TRUE(write_file(f, {&b, &empty, &a}));
  EXPECT_EQ(contents(f), std::string("\0x", 2) + "first-long-content");
  ASSERT_TRUE(write_file(f, {&empty}));
  EXPECT_EQ(contents(f), "");
  EXPECT_FALSE(write_file(file("missing\\x.bin"), a));
}

TEST_F(FileServicesTest, WriteFileFailsOnAFileHeldOpen) {
  std::string f = file("held.bin");
  int n = open_file(f, kCreateWrite, kExclusive);
  ASSERT_NE(n, 0);
  EXPECT_FALSE(write_file(f, Bytes(std::string_view("x"))));
  EXPECT_TRUE(close_file(n));
  EXPECT_TRUE(write_file(f, Bytes(std::string_view("x"))));
}

TEST_F(FileServicesTest, OpenModes) {
  std::string f = file("modes.txt");
  EXPECT_EQ(open_file(f, kRead), 0);  // absent
  EXPECT_EQ(open_file(f, kReadWrite), 0);
  int n = open_file(f, kOpenOrCreateWrite);
  ASSERT_NE(n, 0);
  EXPECT_TRUE(write_bytes(n, Bytes(std::string_view("abcdef"))));
  EXPECT_TRUE(close_file(n));
  EXPECT_FALSE(close_file(n));

  n = open_file(f, kWrite);  // existing, not truncated
  ASSERT_NE(n, 0);
  EXPECT_TRUE(write_bytes(n, Bytes(std::string_view("XY"))));
  close_file(n);
  EXPECT_EQ(contents(f), "XYcdef");

  n = open_file(f, kOpenOrCreateReadWrite);
  int m = open_file(f);  // read-write, sharing nothing denied
  EXPECT_NE(n, 0);
  EXPECT_NE(m, 0);
  EXPECT_NE(n, m);
  close_file(n);
  close_file(m);
  EXPECT_EQ(contents(f), "XYcdef");

  n = open_file(f, kCreateWrite);
  close_file(n);
  EXPECT_EQ(contents(f), "");

  n = open_file(f, kRead);
  EXPECT_NE(n, 0);
  EXPECT_FALSE(write_bytes(n, Bytes(std::string_view("no"))));
  close_file(n);
}

TEST_F(FileServicesTest, BadArgumentsGiveZeroWithoutTouchingFiles) {
  std::string f = file("never.txt");
  EXPECT_EQ(open_file(f, 7), 0);
  EXPECT_EQ(open_file(f, 0), 0);
  EXPECT_EQ(open_file(f, kOpenOrCreateWrite, 5), 0);
  EXPECT_EQ(open_file(f, kOpenOrCreateWrite, 0), 0);
  EXPECT_EQ(open_file("", kOpenOrCreateWrite), 0);
  EXPECT_FALSE(file_exists(f));
  EXPECT_FALSE(write_bytes(12345, Bytes{1}));
  EXPECT_FALSE(close_file(12345));
}

TEST_F(FileServicesTest, SharingModes) {
  std::string f = file("share.txt");
  ASSERT_TRUE(write_file(f, Bytes(std::string_view("data"))));
  struct Case {
    int sharing;
    bool read, write;
  } cases[] = {{kShareAll, true, true}, {kDenyRead, false, true}, {kDenyWrite, true, false}, {kExclusive, false, false}};
  for (const Case& c : cases) {
    int n = open_file(f, kRead, c.sharing);
    ASSERT_NE(n, 0) << c.sharing;
    EXPECT_EQ(others_can(f, GENERIC_READ), c.read) << c.sharing;
    EXPECT_EQ(others_can(f, GENERIC_WRITE), c.write) << c.sharing;
    close_file(n);
  }
}

TEST_F(FileServicesTest, FailedWriteRestoresThePosition) {
  std::string f = file("full.bin");
  ASSERT_TRUE(write_file(f, Bytes(std::string_view("........"))));
  int n = open_file(f, kReadWrite);
  ASSERT_NE(n, 0);
  // The disk fills up in the middle of the second part.
  limit_file_writes_for_tests(4);
  Bytes first(std::string_view("abc")), second(std::string_view("def"));
  EXPECT_FALSE(write_bytes(n, {&first, &second}));
  limit_file_writes_for_tests(-1);
  // Back where the call started: the next write lands at offset 0.
  EXPECT_TRUE(write_bytes(n, Bytes(std::string_view("XY"))));
  close_file(n);
  EXPECT_EQ(contents(f), "XYcd....");
}

}  // namespace
