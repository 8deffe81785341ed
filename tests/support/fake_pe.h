// Small PE32 images as linkers lay them out (headers in 0x400 bytes, sections
// at 0x1000-aligned addresses and 0x200-aligned file offsets), for tests of
// code that reads or changes programs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

struct FakeSection {
  std::string name;
  std::string data;
  std::uint32_t characteristics;
  int directory = -1;  // the data directory that covers the whole section
};

// Where the fixed parts of a fake image lie.
constexpr std::size_t kFakePe = 0x80, kFakeOpt = kFakePe + 24, kFakeDirs = kFakeOpt + 96, kFakeTable = kFakeOpt + 224;

std::string make_fake_pe(const std::vector<FakeSection>& sections, bool with_checksum = false);
// A code section and a relocation section, as a small program has.
std::string make_fake_program();

}  // namespace testsupport
