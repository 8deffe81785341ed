#include "installer/format/sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "installer/steps/package_digest.h"
#include "runtime/zip/zip_fs.h"
#include "tests/support/paths.h"

namespace {

using installer::sha256_hex;
using installer::sha256_matches;

// Both ways: with the processor's SHA extensions (where it has them) and
// with the portable rounds; pieces of every length and offset agree.
TEST(Sha256Test, KnownDigestsWithAndWithoutTheProcessorsExtensions) {
  std::string bytes(70000, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 131 + (i >> 8));
  std::string digests[2];
  for (bool processor : {true, false}) {
    SCOPED_TRACE(processor);
    installer::sha256_allow_processor(processor);
    EXPECT_EQ(sha256_hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256_hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // Two blocks: the padding crosses a block boundary.
    EXPECT_EQ(sha256_hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(sha256_hex(std::string(1000000, 'a')), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    // Fed in pieces of 1 to 199 bytes.
    installer::Sha256 pieces;
    for (std::size_t at = 0, n = 1; at < bytes.size(); at += n, n = n % 199 + 1)
      pieces.update(bytes.data() + at, std::min(n, bytes.size() - at));
    digests[processor ? 0 : 1] = pieces.hex_digest();
    EXPECT_EQ(digests[processor ? 0 : 1], sha256_hex(bytes));
  }
  installer::sha256_allow_processor(true);
  EXPECT_EQ(digests[0], digests[1]);
}

TEST(Sha256Test, FileDigestEqualsDigestOfItsBytes) {
  std::string dir = testsupport::scratch_dir("sha256");
  std::string bytes(200000, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + 3);
  std::string path = dir + "/pkg.zip";
  ASSERT_TRUE(testsupport::write_file(path, bytes));
  // Read piece by piece through the input the package is read with.
  auto input = rt::zip_fs::open_input(rt::Text(path));
  ASSERT_TRUE(input);
  EXPECT_EQ(installer::sha256_hex_of(*input), sha256_hex(bytes));
  EXPECT_EQ(rt::zip_fs::open_input(rt::Text(dir + "/missing.zip")), nullptr);
}

TEST(Sha256Test, ConfiguredDigestMatchesInEitherCaseButNotOtherwise) {
  std::string d = sha256_hex("abc");
  std::string upper = d;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_TRUE(sha256_matches(d, d));
  EXPECT_TRUE(sha256_matches(" " + upper + " ", d));
  EXPECT_FALSE(sha256_matches(d.substr(1), d));
  std::string wrong = d;
  wrong[10] = wrong[10] == '0' ? '1' : '0';
  EXPECT_FALSE(sha256_matches(wrong, d));
  EXPECT_FALSE(sha256_matches("", d));
}

}  // namespace
