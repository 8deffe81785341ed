// Small PE32 images as linkers lay them out (headers in 0x400 bytes, sections
// at 0x1000-aligned addresses and 0x200-aligned file offsets), for tests of
// code that reads or changes programs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "installer/platform/pe_image.h"

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

// The same image as a 64-bit (PE32+) program: a longer optional header, so
// the directories and the section table lie further in.
constexpr std::size_t kFakeDirs64 = kFakeOpt + 112, kFakeTable64 = kFakeOpt + 240;
std::string make_fake_pe64(const std::vector<FakeSection>& sections);

struct FakeResource {
  installer::PeResourceId type, name;
  std::uint16_t language = 0;
  std::string data;
};
// A resource section for address `rva` (0x1000 for a fake image's first
// section), laid out as linkers do: the directories (root, types, names),
// the data descriptions, the names, then the data at multiples of 8. Named
// entries come before numbered ones, resources of one type and name in the
// order given. With one resource: the root directory at 0, the name
// directory at 24, the language directory at 48, the description at 72.
std::string make_fake_resources(const std::vector<FakeResource>& resources, std::uint32_t rva);

// Version information (the data of resource type 16, name 1) with one string
// table per element of `tables` (language 0409, then 0804, ...), each string a
// key and a value, and a VarFileInfo block after them. Its StringFileInfo
// block starts at byte 92.
using FakeStrings = std::vector<std::pair<std::u16string, std::u16string>>;
std::string make_fake_version_info(const std::vector<FakeStrings>& tables);

}  // namespace testsupport
