// libFuzzer harness over the ZIP reader: any bytes as an archive; every
// entry described, its name checked, and its data decoded with and without
// a password. Decoding stops at 4 MB per entry so that a small input
// declaring gigabytes cannot stall a run.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "runtime/zip/zip_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  rt::ZipReader reader;
  if (reader.open(std::make_unique<rt::MemoryZipInput>(std::string(reinterpret_cast<const char*>(data), size))))
    return 0;
  static std::uint8_t out[16384];
  std::size_t entries = reader.count() < 64 ? reader.count() : 64;
  for (std::size_t i = 0; i < entries; ++i) {
    rt::ZipEntry e;
    reader.describe(std::int64_t(i), e);
    (void)rt::is_unsafe_entry_name(e.wide_name);
    for (const char* password : {static_cast<const char*>(nullptr), "secret"}) {
      std::optional<std::string> pw;
      if (password) pw = password;
      if (reader.begin_entry(std::int64_t(i), pw)) continue;
      std::uint32_t result = 0;
      std::size_t total = 0;
      while (std::size_t n = reader.read_entry(out, sizeof out, result)) {
        total += n;
        if (total > (4u << 20)) break;
        if (total > std::size_t(e.uncompressed_size)) __builtin_trap();  // never more than declared
      }
      reader.end_entry();
    }
  }
  reader.close();
  return 0;
}
