#include "tests/support/zip_writer.h"

#include <zlib.h>

namespace testsupport {

namespace {
void put16(std::string& out, std::uint32_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>((v >> 8) & 0xFF));
}
void put32(std::string& out, std::uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}
std::string deflate_raw(const std::string& data) {
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, static_cast<uLong>(data.size())) + 16, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}
}  // namespace

std::string make_zip(const std::vector<ZipEntrySpec>& entries, const std::string& comment) {
  std::string out, central;
  for (const ZipEntrySpec& e : entries) {
    std::uint32_t crc = static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size())));
    if (e.claimed_crc >= 0) crc = static_cast<std::uint32_t>(e.claimed_crc);
    std::string stored = e.deflate ? deflate_raw(e.data) : e.data;
    auto size = static_cast<std::uint32_t>(e.claimed_size >= 0 ? e.claimed_size : static_cast<long long>(e.data.size()));
    std::uint16_t flags = e.utf8 ? 0x0800 : 0;
    std::uint16_t method = e.deflate ? 8 : 0;
    auto offset = static_cast<std::uint32_t>(out.size());

    put32(out, 0x04034b50);
    put16(out, 20);
    put16(out, flags);
    put16(out, method);
    put16(out, e.dos_time);
    put16(out, e.dos_date);
    put32(out, crc);
    put32(out, static_cast<std::uint32_t>(stored.size()));
    put32(out, size);
    put16(out, static_cast<std::uint32_t>(e.name.size()));
    put16(out, 0);
    out += e.name;
    out += stored;

    put32(central, 0x02014b50);
    put16(central, 20);  // made by: DOS
    put16(central, 20);
    put16(central, flags);
    put16(central, method);
    put16(central, e.dos_time);
    put16(central, e.dos_date);
    put32(central, crc);
    put32(central, static_cast<std::uint32_t>(stored.size()));
    put32(central, size);
    put16(central, static_cast<std::uint32_t>(e.name.size()));
    put16(central, 0);
    put16(central, 0);
    put16(central, 0);
    put16(central, 0);
    put32(central, e.external_attributes);
    put32(central, offset);
    central += e.name;
  }
  auto central_offset = static_cast<std::uint32_t>(out.size());
  out += central;
  put32(out, 0x06054b50);
  put16(out, 0);
  put16(out, 0);
  put16(out, static_cast<std::uint32_t>(entries.size()));
  put16(out, static_cast<std::uint32_t>(entries.size()));
  put32(out, static_cast<std::uint32_t>(central.size()));
  put32(out, central_offset);
  put16(out, static_cast<std::uint32_t>(comment.size()));
  out += comment;
  return out;
}

std::string empty_zip() { return make_zip({}); }

}  // namespace testsupport
