#include "ui/memory_stream.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <new>
#include <string>

namespace {

TEST(MemoryStream, copied_bytes_read_back_and_copies_are_independent) {
  rt::Bytes bytes(std::string_view("abcdef"));
  auto read_all = [](IStream* s) {
    LARGE_INTEGER zero{};
    s->Seek(zero, STREAM_SEEK_SET, nullptr);
    char buf[16] = {};
    ULONG n = 0;
    s->Read(buf, sizeof buf, &n);
    return std::string(buf, n);
  };
  auto* copy = new ui::MemoryStream;
  {
    ui::MemoryStream stream;
    stream.Load(bytes, true);
    ASSERT_NE(stream.Stream(), nullptr);
    EXPECT_EQ(read_all(stream.Stream()), "abcdef");
    new (copy) ui::MemoryStream(stream);
  }  // the original is gone; the copy still reads its own block
  EXPECT_EQ(read_all(copy->Stream()), "abcdef");
  copy->~MemoryStream();
  ::operator delete(copy);

  ui::MemoryStream empty;
  empty.Load(rt::Bytes(), false);
  ASSERT_NE(empty.Stream(), nullptr);
  EXPECT_EQ(read_all(empty.Stream()), "");
  empty.Free();
  EXPECT_EQ(empty.Stream(), nullptr);
}

}  // namespace
