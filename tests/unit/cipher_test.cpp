#include "installer/format/cipher.h"

#include <gtest/gtest.h>

#include <string>

#include "installer/format/md5.h"

using namespace installer;

namespace {

std::string hex(const void* p, std::size_t n) {
  static const char* digits = "0123456789abcdef";
  std::string s;
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char b = static_cast<const unsigned char*>(p)[i];
    s += digits[b >> 4];
    s += digits[b & 15];
  }
  return s;
}

std::string md5_hex(const std::string& s) {
  auto d = md5(s.data(), s.size());
  return hex(d.data(), d.size());
}

TEST(Md5Test, GivesTheReferenceDigests) {
  EXPECT_EQ(md5_hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(md5_hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(md5_hex("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
            "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5Test, PiecewiseUpdatesEqualOneUpdateAcrossBlockBorders) {
  std::string data;
  for (int i = 0; i < 1000; ++i) data += char(i * 7);
  for (std::size_t cut : {1u, 55u, 56u, 63u, 64u, 65u, 130u, 999u}) {
    Md5 h;
    h.update(data.data(), cut);
    h.update(data.data() + cut, data.size() - cut);
    auto d = h.digest();
    EXPECT_EQ(hex(d.data(), 16), md5_hex(data)) << cut;
  }
}

TEST(RecordCipherTest, EncryptsWithTheBaseProvidersFortyBitKey) {
  // Reference bytes from an independent MD5 + RC4 (first five digest bytes,
  // eleven zero bytes).
  rt::Bytes abc = encrypt_text("abc", format::kRecordPassPhrase, true);
  EXPECT_EQ(hex(abc.data(), abc.size()), "a96864");
  rt::Bytes record = encrypt_text("{\"softname\":\"Foo\"}", "Tarnel", true);
  EXPECT_EQ(hex(record.data(), record.size()), "b32874af7b4be9448f159537296e4c5e9783");
  EXPECT_EQ(decrypt_record(abc, "Tarnel", true), "abc");
}

TEST(RecordCipherTest, WithoutTheFlagUsesTheDefaultPhrase) {
  rt::Bytes hello = encrypt_text("hello", "ignored", false);
  EXPECT_EQ(hex(hello.data(), hello.size()), "b3eade921d");
  EXPECT_EQ(decrypt_record(hello, "", false), "hello");
}

TEST(RecordCipherTest, EmptyInGivesEmptyOut) {
  EXPECT_TRUE(encrypt_text("", "Tarnel", true).empty());
  EXPECT_TRUE(decrypt_record(rt::Bytes(), "Tarnel", true).empty());
}

TEST(RecordCipherTest, RoundTripsChineseTextAndCutsAtAZeroByte) {
  rt::Text list = "C:\\应用\\Foo.exe\r\nC:\\应用\\数据\\\r\n";
  EXPECT_EQ(decrypt_record(encrypt_text(list, "Tarnel", true), "Tarnel", true), list);
  rt::Bytes with_zero(std::string_view("{\"a\":1}\0junk", 12));
  record_cipher("Tarnel", with_zero.data(), with_zero.size());
  EXPECT_EQ(decrypt_record(with_zero, "Tarnel", true), "{\"a\":1}");
}

TEST(RecordCipherTest, AnotherPhraseGivesNoReadableRecord) {
  rt::Bytes record = encrypt_text("{\"softname\":\"Foo\"}", "Tarnel", true);
  EXPECT_NE(decrypt_record(record, "Tarnol", true), "{\"softname\":\"Foo\"}");
}

}  // namespace
