// Makes ZIP archives byte by byte for the tests, including the broken and
// hostile ones no tool would write: names with "..", lying sizes, damaged
// data, unknown methods, ZIP64 records, wrapped entry counts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

struct ZipMakerEntry {
  ZipMakerEntry(std::string name_bytes, std::string content, std::uint16_t how = 8)
      : name(std::move(name_bytes)), data(std::move(content)), method(how) {}
  std::string name;  // stored bytes
  std::string data;  // plain content
  std::uint16_t method = 8;
  std::uint16_t flags = 0;
  std::uint16_t made_by = 0x031E;  // Unix, version 3.0
  std::uint32_t external = 0100644u << 16;
  std::uint16_t dos_time = 0x6000;  // 12:00:00
  std::uint16_t dos_date = 0x5A21;  // 2025-01-01
  std::string central_extra;
  std::string local_extra;
  // Overrides for lying headers.
  std::optional<std::uint32_t> crc;
  std::optional<std::uint64_t> uncompressed_size;
  std::optional<std::string> raw_data;  // the stored data instead of data's encoding
  std::optional<std::uint16_t> local_method;
};

struct ZipMakerOptions {
  bool zip64 = false;  // ZIP64 end records and extra fields for every entry
  std::string comment;
  std::string prefix;  // bytes before the archive (a self-extractor's stub)
  // Offsets are written as if this many bytes came first, though they are
  // not part of the result: write it at that offset of a sparse file.
  std::uint64_t offset_base = 0;
  std::optional<std::uint16_t> declared_count;  // the 16-bit count written
};

std::string make_zip(const std::vector<ZipMakerEntry>& entries, const ZipMakerOptions& options = {});
// The archive `zip` (as make_zip writes it, one entry) with its central record
// `copies` times over, each renamed but pointing at the same local record: the
// shape of a zip bomb that repeats one compressed block.
std::string zip_with_shared_records(const std::string& zip, int copies);

// Raw deflate of a text (zlib, best compression).
std::string deflate_raw(const std::string& data);
std::string extended_timestamp(std::uint8_t flags, const std::vector<std::uint32_t>& times);
// The Unix mode in the external attributes of a Unix entry.
inline std::uint32_t unix_mode(std::uint32_t mode) { return mode << 16; }

}  // namespace testsupport
