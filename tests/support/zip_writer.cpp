#include "tests/support/zip_writer.h"

#include "tests/support/zip_maker.h"

namespace testsupport {

// The simple entry description of the end-to-end tests, written by the
// byte-level archive maker the reader's tests use.
std::string make_zip(const std::vector<ZipEntrySpec>& entries, const std::string& comment) {
  std::vector<ZipMakerEntry> made;
  made.reserve(entries.size());
  for (const ZipEntrySpec& e : entries) {
    ZipMakerEntry m(e.name, e.data, e.deflate ? 8 : 0);
    m.flags = e.utf8 ? 0x0800 : 0;
    m.made_by = 20;  // DOS: the external attributes are DOS attributes
    m.external = e.external_attributes;
    m.dos_time = e.dos_time;
    m.dos_date = e.dos_date;
    if (e.claimed_size >= 0) m.uncompressed_size = static_cast<std::uint64_t>(e.claimed_size);
    if (e.claimed_crc >= 0) m.crc = static_cast<std::uint32_t>(e.claimed_crc);
    made.push_back(std::move(m));
  }
  ZipMakerOptions options;
  options.comment = comment;
  return make_zip(made, options);
}

std::string empty_zip() { return make_zip(std::vector<ZipEntrySpec>{}); }

}  // namespace testsupport
