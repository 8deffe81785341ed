#include "tests/support/zip_maker.h"

#include <zlib.h>

namespace testsupport {

namespace {

void put16(std::string& s, std::uint32_t v) {
  s += char(v & 0xff);
  s += char((v >> 8) & 0xff);
}
void put32(std::string& s, std::uint32_t v) {
  put16(s, v & 0xffff);
  put16(s, v >> 16);
}
void put64(std::string& s, std::uint64_t v) {
  put32(s, std::uint32_t(v));
  put32(s, std::uint32_t(v >> 32));
}

}  // namespace

std::string deflate_raw(const std::string& data) {
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, uLong(data.size())) + 16, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = uInt(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = uInt(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

std::string extended_timestamp(std::uint8_t flags, const std::vector<std::uint32_t>& times) {
  std::string s;
  put16(s, 0x5455);
  put16(s, std::uint32_t(1 + 4 * times.size()));
  s += char(flags);
  for (std::uint32_t t : times) put32(s, t);
  return s;
}

std::string make_zip(const std::vector<ZipMakerEntry>& entries, const ZipMakerOptions& options) {
  std::string out = options.prefix;
  std::string central;
  const std::uint64_t base = options.prefix.size();
  const std::uint64_t shift = options.offset_base;
  for (const ZipMakerEntry& e : entries) {
    std::string stored = e.raw_data ? *e.raw_data : (e.method == 8 ? deflate_raw(e.data) : e.data);
    std::uint32_t crc = e.crc ? *e.crc : std::uint32_t(crc32(0, reinterpret_cast<const Bytef*>(e.data.data()),
                                                               uInt(e.data.size())));
    std::uint64_t usize = e.uncompressed_size ? *e.uncompressed_size : e.data.size();
    std::uint64_t offset = out.size() - base + shift;
    std::string zip64_local, zip64_central;
    if (options.zip64) {
      put16(zip64_local, 0x0001);
      put16(zip64_local, 16);
      put64(zip64_local, usize);
      put64(zip64_local, stored.size());
      put16(zip64_central, 0x0001);
      put16(zip64_central, 24);
      put64(zip64_central, usize);
      put64(zip64_central, stored.size());
      put64(zip64_central, offset);
    }
    auto size32 = [&](std::uint64_t v) { return options.zip64 ? 0xFFFFFFFFu : std::uint32_t(v); };

    std::string local_extra = zip64_local + e.local_extra;
    put32(out, 0x04034b50);
    put16(out, options.zip64 ? 45 : 20);
    put16(out, e.flags);
    put16(out, e.local_method ? *e.local_method : e.method);
    put16(out, e.dos_time);
    put16(out, e.dos_date);
    put32(out, crc);
    put32(out, size32(stored.size()));
    put32(out, size32(usize));
    put16(out, std::uint32_t(e.name.size()));
    put16(out, std::uint32_t(local_extra.size()));
    out += e.name + local_extra + stored;

    std::string central_extra = zip64_central + e.central_extra;
    put32(central, 0x02014b50);
    put16(central, e.made_by);
    put16(central, options.zip64 ? 45 : 20);
    put16(central, e.flags);
    put16(central, e.method);
    put16(central, e.dos_time);
    put16(central, e.dos_date);
    put32(central, crc);
    put32(central, size32(stored.size()));
    put32(central, size32(usize));
    put16(central, std::uint32_t(e.name.size()));
    put16(central, std::uint32_t(central_extra.size()));
    put16(central, 0);  // comment
    put16(central, 0);  // disk
    put16(central, 0);  // internal attributes
    put32(central, e.external);
    put32(central, size32(offset));
    central += e.name + central_extra;
  }
  std::uint64_t cd_offset = out.size() - base + shift;
  out += central;
  std::uint64_t count = entries.size();
  if (options.zip64) {
    std::uint64_t rec = out.size() - base + shift;
    put32(out, 0x06064b50);
    put64(out, 44);
    put16(out, 45);
    put16(out, 45);
    put32(out, 0);
    put32(out, 0);
    put64(out, count);
    put64(out, count);
    put64(out, central.size());
    put64(out, cd_offset);
    put32(out, 0x07064b50);
    put32(out, 0);
    put64(out, rec);
    put32(out, 1);
  }
  std::uint16_t count16 = options.declared_count ? *options.declared_count
                          : options.zip64         ? 0xFFFF
                                                  : std::uint16_t(count);
  put32(out, 0x06054b50);
  put16(out, 0);
  put16(out, 0);
  put16(out, count16);
  put16(out, count16);
  put32(out, options.zip64 ? 0xFFFFFFFFu : std::uint32_t(central.size()));
  put32(out, options.zip64 ? 0xFFFFFFFFu : std::uint32_t(cd_offset));
  put16(out, std::uint32_t(options.comment.size()));
  out += options.comment;
  return out;
}

std::string zip_with_shared_records(const std::string& zip, int copies) {
  std::size_t central = zip.find("PK\x01\x02"), end = zip.size() - 22;
  std::string record = zip.substr(central, end - central);
  std::string directory;
  for (int i = 0; i < copies; ++i) {
    std::string r = record;
    std::size_t name_length = static_cast<unsigned char>(r[28]) | static_cast<unsigned char>(r[29]) << 8;
    r[46 + name_length - 1] = static_cast<char>('a' + i % 26);  // last byte of the name
    directory += r;
  }
  std::string tail = zip.substr(end);
  auto put16 = [&](std::size_t at, std::uint16_t v) { tail[at] = char(v & 0xFF), tail[at + 1] = char(v >> 8); };
  auto put32 = [&](std::size_t at, std::uint32_t v) { for (int k = 0; k < 4; ++k) tail[at + k] = char(v >> (8 * k)); };
  put16(8, static_cast<std::uint16_t>(copies));
  put16(10, static_cast<std::uint16_t>(copies));
  put32(12, static_cast<std::uint32_t>(directory.size()));
  return zip.substr(0, central) + directory + tail;
}

}  // namespace testsupport
