#include "tests/support/fake_pe.h"

#include <algorithm>
#include <cstring>

#include "mkinstaller/pe_resources.h"

namespace testsupport {

namespace {
void put32(std::string& b, std::size_t o, std::uint32_t v) { std::memcpy(&b[o], &v, 4); }
void put16(std::string& b, std::size_t o, std::uint16_t v) { std::memcpy(&b[o], &v, 2); }
}  // namespace

std::string make_fake_pe(const std::vector<FakeSection>& sections, bool with_checksum) {
  std::string f(0x400, '\0');
  f[0] = 'M';
  f[1] = 'Z';
  put32(f, 0x3C, kFakePe);
  std::memcpy(&f[kFakePe], "PE\0\0", 4);
  put16(f, kFakePe + 4, 0x14C);
  put16(f, kFakePe + 6, static_cast<std::uint16_t>(sections.size()));
  put16(f, kFakePe + 20, 224);
  put16(f, kFakePe + 22, 0x0102);
  put16(f, kFakeOpt, 0x10B);
  put32(f, kFakeOpt + 16, 0x1000);  // entry point in the first section
  put32(f, kFakeOpt + 28, 0x400000);
  put32(f, kFakeOpt + 32, 0x1000);
  put32(f, kFakeOpt + 36, 0x200);
  put32(f, kFakeOpt + 60, 0x400);
  put16(f, kFakeOpt + 68, 2);
  put32(f, kFakeOpt + 92, 16);
  std::uint32_t va = 0x1000;
  for (std::size_t i = 0; i < sections.size(); ++i) {
    const FakeSection& s = sections[i];
    std::size_t h = kFakeTable + 40 * i;
    std::memcpy(&f[h], s.name.data(), std::min<std::size_t>(8, s.name.size()));
    std::uint32_t raw = static_cast<std::uint32_t>((s.data.size() + 0x1FF) / 0x200 * 0x200);
    put32(f, h + 8, static_cast<std::uint32_t>(s.data.size()));
    put32(f, h + 12, va);
    put32(f, h + 16, raw);
    put32(f, h + 20, static_cast<std::uint32_t>(f.size()));
    put32(f, h + 36, s.characteristics);
    if (s.directory >= 0) {
      put32(f, kFakeDirs + 8 * s.directory, va);
      put32(f, kFakeDirs + 8 * s.directory + 4, static_cast<std::uint32_t>(s.data.size()));
    }
    std::string padded = s.data;
    padded.resize(raw, '\0');
    f += padded;
    va += static_cast<std::uint32_t>((s.data.size() + 0xFFF) / 0x1000 * 0x1000);
  }
  put32(f, kFakeOpt + 56, va);
  if (with_checksum) put32(f, kFakeOpt + 64, rt::pe_checksum(f, kFakeOpt + 64));
  return f;
}

std::string make_fake_program() {
  return make_fake_pe({{".text", std::string(0x300, '\xC3'), 0x60000020},
                       {".reloc", std::string("\x00\x10\x00\x00\x0C\x00\x00\x00\x04\x30\x08\x30", 12), 0x42000040, 5}});
}

}  // namespace testsupport
