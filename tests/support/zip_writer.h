// ZIP archives for the end-to-end tests, described simply: stored or deflated
// entries, optional UTF-8 names, and a few lying header fields. Written by
// the byte-level maker of tests/support/zip_maker.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

struct ZipEntrySpec {
  std::string name;  // bytes as stored
  std::string data;
  bool deflate = false;
  bool utf8 = false;                      // general-purpose bit 11
  std::uint32_t external_attributes = 0;  // host DOS: low byte DOS attributes
  std::uint16_t dos_time = 0x6000;        // 12:00:00
  std::uint16_t dos_date = 0x5A21;        // 2025-01-01
  // Overrides for hostile archives (-1: the true value).
  long long claimed_size = -1;
  long long claimed_crc = -1;
};

// The archive's bytes.
std::string make_zip(const std::vector<ZipEntrySpec>& entries, const std::string& comment = "");
// The 22-byte archive without entries.
std::string empty_zip();

}  // namespace testsupport
