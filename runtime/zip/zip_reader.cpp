#include "runtime/zip/zip_reader.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "runtime/value/codepage.h"
#include "runtime/zip/zip_fs.h"

namespace rt {

namespace {

constexpr std::uint32_t kLocalSignature = 0x04034b50;
constexpr std::uint32_t kCentralSignature = 0x02014b50;
constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kEnd64Signature = 0x06064b50;
constexpr std::uint32_t kLocator64Signature = 0x07064b50;
constexpr std::size_t kEndSize = 22, kLocator64Size = 20, kEnd64Size = 56, kCentralSize = 46, kLocalSize = 30;
constexpr std::size_t kMaxComment = 0xFFFF;
constexpr std::size_t kInputChunk = 1 << 18;  // reads of the archive: fewer, larger system calls
constexpr std::size_t kMaxName = 259;

constexpr std::uint16_t kFlagEncrypted = 0x1;
constexpr std::uint16_t kFlagDescriptor = 0x8;
constexpr std::uint16_t kFlagStrongEncryption = 0x40;
constexpr std::uint16_t kFlagUtf8 = 0x800;

std::uint16_t u16(const std::uint8_t* p) { return std::uint16_t(p[0] | p[1] << 8); }
std::uint32_t u32(const std::uint8_t* p) { return std::uint32_t(u16(p)) | std::uint32_t(u16(p + 2)) << 16; }
std::uint64_t u64(const std::uint8_t* p) { return std::uint64_t(u32(p)) | std::uint64_t(u32(p + 4)) << 32; }

// Sequential reads of the central directory through one window of the file.
class Window {
 public:
  explicit Window(ZipInput& in) : in_(in) {}
  // n contiguous bytes at pos, or null when they are not in the file.
  const std::uint8_t* at(std::uint64_t pos, std::size_t n) {
    if (pos >= start_ && pos - start_ + n <= buf_.size()) return buf_.data() + (pos - start_);
    if (pos > in_.size() || n > in_.size() - pos) return nullptr;
    std::size_t len = std::size_t(std::min<std::uint64_t>(std::max(n, kInputChunk), in_.size() - pos));
    buf_.resize(len);
    start_ = pos;
    if (!in_.read_at(pos, buf_.data(), len)) {
      buf_.clear();
      return nullptr;
    }
    return buf_.data();
  }

 private:
  ZipInput& in_;
  std::uint64_t start_ = 0;
  std::vector<std::uint8_t> buf_;
};

// Traditional PKWARE encryption.
struct PkwareKeys {
  std::uint32_t k0 = 0x12345678, k1 = 0x23456789, k2 = 0x34567890;
  static std::uint32_t crc_step(std::uint32_t crc, std::uint8_t b) {
    static const z_crc_t* table = get_crc_table();
    return table[(crc ^ b) & 0xff] ^ (crc >> 8);
  }
  void update(std::uint8_t plain) {
    k0 = crc_step(k0, plain);
    k1 = (k1 + (k0 & 0xff)) * 134775813u + 1;
    k2 = crc_step(k2, std::uint8_t(k1 >> 24));
  }
  std::uint8_t decrypt(std::uint8_t c) {
    std::uint32_t t = (k2 | 2) & 0xFFFF;  // unsigned: the product overflows an int
    std::uint8_t plain = c ^ std::uint8_t((t * (t ^ 1)) >> 8);
    update(plain);
    return plain;
  }
};

bool is_separator(char16_t c) { return c == u'/' || c == u'\\'; }

// Strict UTF-8 with at least one multi-byte character.
bool is_utf8_beyond_ascii(const std::string& s) {
  bool beyond = false;
  for (std::size_t i = 0; i < s.size();) {
    std::uint8_t c = std::uint8_t(s[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t n = c >= 0xC2 && c <= 0xDF ? 1 : c >= 0xE0 && c <= 0xEF ? 2 : c >= 0xF0 && c <= 0xF4 ? 3 : 0;
    if (n == 0 || i + n >= s.size()) return false;
    std::uint32_t cp = c & (0x3F >> n);
    for (std::size_t k = 1; k <= n; ++k) {
      std::uint8_t t = std::uint8_t(s[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      cp = cp << 6 | (t & 0x3F);
    }
    if ((n == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (n == 3 && (cp < 0x10000 || cp > 0x10FFFF)))
      return false;
    beyond = true;
    i += n + 1;
  }
  return beyond;
}

}  // namespace

bool MemoryZipInput::read_at(std::uint64_t offset, void* buffer, std::size_t n) {
  if (offset > bytes_.size() || n > bytes_.size() - offset) return false;
  std::memcpy(buffer, bytes_.data() + offset, n);
  return true;
}

bool ViewZipInput::read_at(std::uint64_t offset, void* buffer, std::size_t n) {
  if (offset > size_ || n > size_ - offset) return false;
  std::memcpy(buffer, data_ + offset, n);
  return true;
}

// ---- names and attributes ------------------------------------------------

std::u16string clean_entry_name(std::u16string name) {
  static const std::u16string kParents[] = {u"\\..\\", u"\\../", u"/../", u"/..\\"};
  for (bool changed = true; changed;) {
    changed = false;
    if (name.size() >= 2 && name[1] == u':') {
      name.erase(0, 2);
      changed = true;
    }
    if (!name.empty() && is_separator(name[0])) {
      name.erase(0, 1);
      changed = true;
    }
    std::size_t cut = std::u16string::npos;
    for (const auto& p : kParents) {
      std::size_t at = name.rfind(p);
      if (at != std::u16string::npos && (cut == std::u16string::npos || at + 4 > cut)) cut = at + 4;
    }
    if (cut != std::u16string::npos) {
      name.erase(0, cut);
      changed = true;
    }
  }
  return name;
}

namespace {

// ASCII letters compared without case.
bool same_name(std::u16string_view a, std::u16string_view b) {
  auto upper = [](char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - 32) : c; };
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (upper(a[i]) != upper(b[i])) return false;
  return true;
}

// Windows opens a device for these names in any folder and with any
// extension ("{app}/COM1.txt" is the serial port): no file to write there.
bool is_device_name(std::u16string_view component) {
  std::size_t stem = 0;
  while (stem < component.size() && component[stem] != u'.') ++stem;
  while (stem > 0 && component[stem - 1] == u' ') --stem;
  std::u16string_view base = component.substr(0, stem);
  for (std::u16string_view name : {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"})
    if (same_name(base, name)) return true;
  // Windows also takes the superscript digits ¹ ² ³ as port numbers.
  auto port_digit = [](char16_t c) { return (c >= u'1' && c <= u'9') || c == u'\u00B9' || c == u'\u00B2' || c == u'\u00B3'; };
  return base.size() == 4 && port_digit(base[3]) &&
         (same_name(base.substr(0, 3), u"COM") || same_name(base.substr(0, 3), u"LPT"));
}

}  // namespace

bool is_unsafe_entry_name(const std::u16string& cleaned) {
  if (cleaned.find(u':') != std::u16string::npos) return true;
  std::size_t start = 0;
  while (start <= cleaned.size()) {
    std::size_t end = start;
    while (end < cleaned.size() && !is_separator(cleaned[end])) ++end;
    // Windows drops trailing dots and blanks of a component, so "..", ".. "
    // and "..." all risk meaning the parent folder.
    std::size_t dots = 0, others = 0;
    for (std::size_t i = start; i < end; ++i) {
      if (cleaned[i] == u'.') ++dots;
      else if (cleaned[i] != u' ') ++others;
    }
    if (others == 0 && dots >= 2) return true;
    if (is_device_name(std::u16string_view(cleaned).substr(start, end - start))) return true;
    start = end + 1;
  }
  return false;
}

bool is_refused_stored_name(const std::u16string& stored) {
  return (!stored.empty() && is_separator(stored[0])) || is_unsafe_entry_name(stored);
}

std::uint32_t entry_attributes(std::uint16_t version_made_by, std::uint32_t external) {
  switch (version_made_by >> 8) {
    case 0:   // MS-DOS
    case 7:   // Macintosh
    case 11:  // NTFS
    case 14:  // VFAT
      return external & (kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrDirectory | kAttrArchive);
    default: {  // Unix and the rest: the mode in the high word
      std::uint32_t a = kAttrArchive;
      if (external & 0x40000000u) a |= kAttrDirectory;
      if (!(external & 0x00800000u)) a |= kAttrReadOnly;
      return a;
    }
  }
}

// ---- the central directory -------------------------------------------------

struct ZipReader::Entry {
  std::uint64_t local_offset = 0, compressed = 0, uncompressed = 0;
  std::uint32_t crc = 0, dos_datetime = 0, external = 0;
  std::uint16_t made_by = 0, flags = 0, method = 0;
  bool utf8 = false;
  std::uint8_t ut_flags = 0;  // which of ut_times hold a value
  std::uint32_t ut_times[3] = {};  // modification, access, creation
  std::string name;  // raw, or the UTF-8 name when utf8
};

struct ZipReader::Stream {
  z_stream z{};
  bool z_ready = false;
  bool deflated = false;
  bool encrypted = false;
  PkwareKeys keys;
  std::uint64_t in_pos = 0;        // next archive offset to read
  std::uint64_t in_left = 0;       // compressed bytes not yet read
  std::uint64_t out_left = 0;      // bytes still due
  std::uint32_t crc = 0, expected_crc = 0;
  bool finished = false;           // inflate reached its end
  std::vector<std::uint8_t> in;    // input window
  std::size_t in_start = 0, in_end = 0;
  ~Stream() {
    if (z_ready) inflateEnd(&z);
  }
};

ZipReader::ZipReader() = default;
ZipReader::~ZipReader() = default;
std::size_t ZipReader::count() const { return entries_.size(); }

void ZipReader::close() {
  end_entry();
  stream_.reset();
  entries_.clear();
  entries_.shrink_to_fit();
  input_.reset();
}

std::uint32_t ZipReader::open(std::unique_ptr<ZipInput> input) {
  if (input_) return kZipAlreadyOpen;
  if (!input) return kZipCannotOpen;
  ZipInput& in = *input;
  const std::uint64_t size = in.size();
  if (size < kEndSize) return kZipCannotOpen;

  // The end record: the last signature behind which its comment fits.
  std::size_t tail_len = std::size_t(std::min<std::uint64_t>(size, kEndSize + kMaxComment));
  std::vector<std::uint8_t> tail(tail_len);
  if (!in.read_at(size - tail_len, tail.data(), tail_len)) return kZipCannotOpen;
  // The record whose comment ends the file; failing that (bytes appended
  // after the archive) the last one whose comment fits. A comment may itself
  // hold the signature.
  std::int64_t found = -1;
  for (std::int64_t i = std::int64_t(tail_len - kEndSize); i >= 0; --i) {
    const std::uint8_t* p = tail.data() + i;
    if (u32(p) != kEndSignature) continue;
    std::size_t end_of_comment = std::size_t(i) + kEndSize + u16(p + 20);
    if (end_of_comment == tail_len) {
      found = i;
      break;
    }
    if (end_of_comment < tail_len && found < 0) found = i;
  }
  if (found < 0) return kZipCannotOpen;
  const std::uint8_t* end = tail.data() + found;
  std::uint64_t end_pos = size - tail_len + std::uint64_t(found);
  if (u16(end + 4) != 0 || u16(end + 6) != 0) return kZipCannotOpen;  // spanned archives
  std::uint64_t count = u16(end + 10);
  std::uint64_t cd_size = u32(end + 12);
  std::uint64_t cd_offset = u32(end + 16);
  std::uint64_t cd_end = end_pos;  // where the directory should end
  bool zip64 = false;

  std::uint8_t loc[kLocator64Size];
  if (end_pos >= kLocator64Size && in.read_at(end_pos - kLocator64Size, loc, sizeof loc) &&
      u32(loc) == kLocator64Signature) {
    // The ZIP64 end record, where the locator says or (with data before the
    // archive) right before the locator.
    std::uint64_t locator_pos = end_pos - kLocator64Size;
    std::uint8_t rec[kEnd64Size];
    std::uint64_t rec_pos = u64(loc + 8);
    bool ok = rec_pos + kEnd64Size <= locator_pos && in.read_at(rec_pos, rec, sizeof rec) &&
              u32(rec) == kEnd64Signature;
    if (!ok && locator_pos >= kEnd64Size) {
      rec_pos = locator_pos - kEnd64Size;
      ok = in.read_at(rec_pos, rec, sizeof rec) && u32(rec) == kEnd64Signature;
    }
    if (!ok) return kZipCannotOpen;
    if (u32(rec + 16) != 0 || u32(rec + 20) != 0) return kZipCannotOpen;
    count = u64(rec + 32);
    cd_size = u64(rec + 40);
    cd_offset = u64(rec + 48);
    cd_end = rec_pos;
    zip64 = true;
  }
  // Data before the archive (a self-extractor's stub) shifts every offset.
  if (cd_offset > cd_end || cd_size > cd_end - cd_offset) return kZipCannotOpen;
  std::uint64_t shift = cd_end - cd_offset - cd_size;
  if (!read_central_directory(in, cd_offset + shift, cd_size, count, zip64)) {
    entries_.clear();
    return kZipCannotOpen;
  }
  for (Entry& e : entries_) e.local_offset += shift;
  if (entries_overlap()) {
    entries_.clear();
    return kZipCannotOpen;
  }
  input_ = std::move(input);
  return kZipOk;
}


bool ZipReader::read_central_directory(ZipInput& in, std::uint64_t offset, std::uint64_t size,
                                       std::uint64_t declared_count, bool zip64) {
  // Every entry takes at least a fixed header: a count the directory cannot
  // hold is a lie, and must not size an allocation.
  if (declared_count > size / kCentralSize) return false;
  entries_.clear();
  entries_.reserve(std::size_t(declared_count));
  Window win(in);
  const std::uint64_t stop = offset + size;
  for (std::uint64_t pos = offset; pos < stop;) {
    const std::uint8_t* p = win.at(pos, kCentralSize);
    if (!p || u32(p) != kCentralSignature) return false;
    std::size_t name_len = u16(p + 28), extra_len = u16(p + 30), comment_len = u16(p + 32);
    std::size_t total = kCentralSize + name_len + extra_len + comment_len;
    if (total > stop - pos || !(p = win.at(pos, total))) return false;
    Entry e;
    e.made_by = u16(p + 4);
    e.flags = u16(p + 8);
    e.method = u16(p + 10);
    e.dos_datetime = std::uint32_t(u16(p + 14)) << 16 | u16(p + 12);
    e.crc = u32(p + 16);
    e.compressed = u32(p + 20);
    e.uncompressed = u32(p + 24);
    e.external = u32(p + 38);
    e.local_offset = u32(p + 42);
    e.name.assign(reinterpret_cast<const char*>(p + kCentralSize), name_len);
    e.utf8 = (e.flags & kFlagUtf8) != 0;
    const std::uint8_t* x = p + kCentralSize + name_len;
    for (std::size_t i = 0; i + 4 <= extra_len;) {
      std::uint16_t tag = u16(x + i);
      std::size_t len = u16(x + i + 2);
      if (len > extra_len - i - 4) break;  // a block cannot run past the field
      const std::uint8_t* d = x + i + 4;
      if (tag == 0x0001) {  // ZIP64: only the fields the header left at their maximum, in this order
        std::size_t at = 0;
        for (std::uint64_t* field : {&e.uncompressed, &e.compressed, &e.local_offset}) {
          if (*field != 0xFFFFFFFFu) continue;
          if (at + 8 > len) break;
          *field = u64(d + at);
          at += 8;
        }
      } else if (tag == 0x5455 && len >= 1) {  // extended timestamp
        std::size_t at = 1;
        for (int bit = 0; bit < 3; ++bit) {
          if (!(d[0] & (1 << bit))) continue;
          if (at + 4 > len) break;  // the central copy often holds only the first
          e.ut_times[bit] = u32(d + at);
          e.ut_flags |= std::uint8_t(1 << bit);
          at += 4;
        }
      } else if (tag == 0x7075 && len >= 5 && !e.utf8 && d[0] == 1) {
        // Info-ZIP's Unicode path: the UTF-8 name, valid while the stored
        // name is the one it was made for.
        uLong crc = crc32(0, reinterpret_cast<const Bytef*>(e.name.data()), uInt(e.name.size()));
        if (crc == u32(d + 1)) {
          e.name.assign(reinterpret_cast<const char*>(d + 5), len - 5);
          e.utf8 = true;
        }
      }
      i += 4 + len;
    }
    // Unix and macOS tools (Info-ZIP's zip among them) store UTF-8 names
    // without the flag; code page 936 names almost never form valid UTF-8.
    std::uint8_t host = std::uint8_t(e.made_by >> 8);
    if (!e.utf8 && (host == 3 || host == 19) && is_utf8_beyond_ascii(e.name)) e.utf8 = true;
    entries_.push_back(std::move(e));
    pos += total;
  }
  // Writers without ZIP64 let the 16-bit count wrap past 65,535 entries.
  std::uint64_t n = entries_.size();
  return n == declared_count || (!zip64 && n > 0xFFFF && (n & 0xFFFF) == declared_count);
}

// No writer lets one entry's record begin inside another's: entries that
// share their data are how an archive of a few kilobytes unpacks to
// gigabytes. Each record spans at least its fixed header and its data (its
// name and extra field can only make it longer), so an overlap found with
// those spans is certain.
bool ZipReader::entries_overlap() const {
  std::vector<std::pair<std::uint64_t, std::uint64_t>> spans;
  spans.reserve(entries_.size());
  constexpr std::uint64_t kMax = ~std::uint64_t{0};
  for (const Entry& e : entries_) {
    std::uint64_t length = e.compressed > kMax - kLocalSize ? kMax : e.compressed + kLocalSize;
    spans.emplace_back(e.local_offset, e.local_offset > kMax - length ? kMax : e.local_offset + length);
  }
  std::sort(spans.begin(), spans.end());
  for (std::size_t i = 1; i < spans.size(); ++i)
    if (spans[i].first < spans[i - 1].second) return true;
  return false;
}

// ---- describing ------------------------------------------------------------

std::uint32_t ZipReader::describe(std::int64_t index, ZipEntry& out) {
  if (!input_) return kZipNotOpen;
  if (index < 0 || std::uint64_t(index) >= entries_.size()) return kZipBadArgument;
  end_entry();
  return info(index, out);
}

std::u16string ZipReader::stored_name(const Entry& e) const {
  std::u16string wide = e.utf8 ? wide_from_utf8(e.name) : wide_from_cp936(e.name);
  // The name reaches Windows as a zero-terminated text: what follows a zero
  // names nothing, so it must not hide a ".." from the checks either.
  wide.resize(std::min(wide.size(), wide.find(u'\0')));
  return wide;
}

bool ZipReader::is_folder(std::int64_t index) const {
  if (!input_ || index < 0 || std::uint64_t(index) >= entries_.size()) return false;
  const Entry& e = entries_[std::size_t(index)];
  std::u16string wide = stored_name(e);
  return (entry_attributes(e.made_by, e.external) & kAttrDirectory) || (!wide.empty() && is_separator(wide.back()));
}

std::uint32_t ZipReader::info(std::int64_t index, ZipEntry& out) const {
  if (!input_) return kZipNotOpen;
  if (index < 0 || std::uint64_t(index) >= entries_.size()) return kZipBadArgument;
  const Entry& e = entries_[std::size_t(index)];
  ZipEntry d;
  d.index = std::int32_t(index);
  std::u16string wide = stored_name(e);
  // Some writers (Java's among them) mark folders only by the trailing slash.
  bool named_as_folder = !wide.empty() && is_separator(wide.back());
  d.stored_name = wide;
  d.wide_name = clean_entry_name(std::move(wide));
  d.name = cp936_from_wide(d.wide_name);
  d.name_lossy = e.utf8 && !cp936_can_hold(d.wide_name);
  if (d.name.size() > kMaxName) {  // the record holds 260 bytes: cut at a character border
    std::size_t keep = 0;
    for (std::size_t i = 0; i < d.name.size();) {
      std::size_t step = is_lead_byte(std::uint8_t(d.name[i])) && i + 1 < d.name.size() ? 2 : 1;
      if (i + step > kMaxName) break;
      i += step;
      keep = i;
    }
    d.name.resize(keep);
    d.wide_name = wide_from_cp936(d.name);
    d.name_lossy = false;
  }
  d.attributes = entry_attributes(e.made_by, e.external) | (named_as_folder ? std::uint32_t(kAttrDirectory) : 0u);

  std::uint32_t date = e.dos_datetime >> 16, time = e.dos_datetime & 0xFFFF;
  int month = int(date >> 5) & 15, day = int(date & 31), hour = int(time >> 11), minute = int(time >> 5) & 63,
      second = int(time & 31) * 2;
  std::uint64_t ft = 0;
  if (month >= 1 && month <= 12 && day >= 1 && hour < 24 && minute < 60 && second < 60 &&
      !zip_fs::local_to_utc(1980 + int(date >> 9), month, day, hour, minute, second, ft))
    ft = 0;
  d.access_time = d.creation_time = d.modification_time = ft;
  auto unix_time = [](std::uint32_t s) { return (std::uint64_t(s) + 11644473600ull) * 10000000ull; };
  if (e.ut_flags & 1) d.modification_time = unix_time(e.ut_times[0]);
  if (e.ut_flags & 2) d.access_time = unix_time(e.ut_times[1]);
  if (e.ut_flags & 4) d.creation_time = unix_time(e.ut_times[2]);

  std::uint32_t result = kZipOk;
  if (e.compressed > 0x7FFFFFFF || e.uncompressed > 0x7FFFFFFF) {
    // Larger than the record's 32-bit sizes can say.
    result = kZipBadArgument;
  } else {
    d.compressed_size = std::int32_t(e.compressed);
    d.uncompressed_size = std::int32_t(e.uncompressed);
  }
  out = std::move(d);
  return result;
}

// ---- reading data ----------------------------------------------------------

std::uint32_t ZipReader::check_supported(std::int64_t index) const {
  if (!input_) return kZipNotOpen;
  if (index < 0 || std::uint64_t(index) >= entries_.size()) return kZipBadArgument;
  const Entry& e = entries_[std::size_t(index)];
  if (e.compressed > 0x7FFFFFFF || e.uncompressed > 0x7FFFFFFF) return kZipBadArgument;
  if ((e.method != 0 && e.method != 8) || (e.flags & kFlagStrongEncryption)) return kZipDamaged;
  std::uint64_t header = (e.flags & kFlagEncrypted) ? 12 : 0;
  if (e.compressed < header) return kZipDamaged;
  if (e.method == 0 && e.compressed - header != e.uncompressed) return kZipDamaged;
  return kZipOk;
}

std::uint32_t ZipReader::begin_entry(std::int64_t index, const std::optional<std::string>& password) {
  end_entry();
  if (std::uint32_t r = check_supported(index)) return r;
  const Entry& e = entries_[std::size_t(index)];
  std::uint8_t local[kLocalSize];
  if (e.local_offset > input_->size() || kLocalSize > input_->size() - e.local_offset ||
      !input_->read_at(e.local_offset, local, sizeof local) || u32(local) != kLocalSignature ||
      u16(local + 8) != e.method)
    return kZipBadLocalHeader;
  std::uint64_t data = e.local_offset + kLocalSize + u16(local + 26) + u16(local + 28);
  if (data > input_->size() || e.compressed > input_->size() - data) return kZipBadLocalHeader;

  if (!stream_) {
    stream_ = std::make_unique<Stream>();
    stream_->in.resize(kInputChunk);
  }
  Stream& s = *stream_;
  s.in_pos = data;
  s.in_left = e.compressed;
  s.out_left = e.uncompressed;
  s.crc = 0;
  s.expected_crc = e.crc;
  s.in_start = s.in_end = 0;
  s.finished = false;
  s.encrypted = (e.flags & kFlagEncrypted) != 0;
  // An empty entry some writers mark deflated without any deflate data.
  s.deflated = e.method == 8 && !(e.compressed == 0 && e.uncompressed == 0);
  if (s.encrypted) {
    if (!password) return kZipWrongPassword;
    s.keys = PkwareKeys();
    for (char c : *password) s.keys.update(std::uint8_t(c));
    std::uint8_t head[12];
    if (!input_->read_at(data, head, sizeof head)) return kZipCannotSeek;
    for (std::uint8_t& b : head) b = s.keys.decrypt(b);
    std::uint8_t check = (e.flags & kFlagDescriptor) ? std::uint8_t(e.dos_datetime >> 8) : std::uint8_t(e.crc >> 24);
    if (head[11] != check) return kZipWrongPassword;
    s.in_pos += 12;
    s.in_left -= 12;
  }
  if (s.deflated) {
    s.z.next_in = nullptr;
    s.z.avail_in = 0;
    int r = s.z_ready ? inflateReset(&s.z) : inflateInit2(&s.z, -MAX_WBITS);
    if (r != Z_OK) return kZipDamaged;
    s.z_ready = true;
  }
  current_ = index;
  return kZipOk;
}

std::size_t ZipReader::fill_input(std::uint32_t& result) {
  Stream& s = *stream_;
  if (s.in_start < s.in_end || s.in_left == 0) return s.in_end - s.in_start;
  std::size_t n = std::size_t(std::min<std::uint64_t>(s.in.size(), s.in_left));
  if (!input_->read_at(s.in_pos, s.in.data(), n)) {
    result = kZipCannotSeek;
    return 0;
  }
  if (s.encrypted)
    for (std::size_t i = 0; i < n; ++i) s.in[i] = s.keys.decrypt(s.in[i]);
  s.in_pos += n;
  s.in_left -= n;
  s.in_start = 0;
  s.in_end = n;
  return n;
}

std::size_t ZipReader::read_entry(void* out, std::size_t capacity, std::uint32_t& result) {
  result = kZipOk;
  if (current_ < 0 || !stream_) {
    result = kZipNotOpen;
    return 0;
  }
  Stream& s = *stream_;
  auto fail = [&](std::uint32_t code) {
    result = code;
    end_entry();
    return std::size_t(0);
  };
  auto* dst = static_cast<std::uint8_t*>(out);
  std::size_t want = std::size_t(std::min<std::uint64_t>(capacity, s.out_left));

  if (!s.deflated) {
    std::size_t done = 0;
    while (done < want) {
      std::size_t avail = fill_input(result);
      if (result) return fail(result);
      if (avail == 0) return fail(kZipDamaged);
      std::size_t n = std::min(avail, want - done);
      std::memcpy(dst + done, s.in.data() + s.in_start, n);
      s.in_start += n;
      done += n;
    }
    s.out_left -= done;
    s.crc = std::uint32_t(crc32(s.crc, dst, uInt(done)));
    if (done > 0) return done;
  } else {
    while (want > 0) {
      std::size_t avail = fill_input(result);
      if (result) return fail(result);
      s.z.next_in = s.in.data() + s.in_start;
      s.z.avail_in = uInt(avail);
      s.z.next_out = dst;
      s.z.avail_out = uInt(want);
      int r = inflate(&s.z, Z_NO_FLUSH);
      s.in_start = s.in_end - s.z.avail_in;
      std::size_t produced = want - s.z.avail_out;
      if (r == Z_STREAM_END) s.finished = true;
      else if (r == Z_BUF_ERROR && avail == 0) return fail(kZipDamaged);  // the data ran out
      else if (r != Z_OK && r != Z_BUF_ERROR) return fail(kZipDamaged);
      if (produced > 0) {
        s.out_left -= produced;
        s.crc = std::uint32_t(crc32(s.crc, dst, uInt(produced)));
        return produced;
      }
      if (s.finished) return fail(kZipDamaged);  // shorter than declared
    }
    // The declared size is reached: the deflate stream must end here. Any
    // further byte means the header lied; it is never handed out.
    while (!s.finished) {
      std::size_t avail = fill_input(result);
      if (result) return fail(result);
      std::uint8_t scratch;
      s.z.next_in = s.in.data() + s.in_start;
      s.z.avail_in = uInt(avail);
      s.z.next_out = &scratch;
      s.z.avail_out = 1;
      int r = inflate(&s.z, Z_NO_FLUSH);
      s.in_start = s.in_end - s.z.avail_in;
      if (s.z.avail_out == 0) return fail(kZipDamaged);
      if (r == Z_STREAM_END) s.finished = true;
      else if ((r == Z_BUF_ERROR && avail == 0) || (r != Z_OK && r != Z_BUF_ERROR)) return fail(kZipDamaged);
    }
  }
  if (s.out_left != 0) return fail(kZipDamaged);
  if (s.crc != s.expected_crc) return fail(kZipDamaged);
  end_entry();
  return 0;
}

void ZipReader::end_entry() { current_ = -1; }

}  // namespace rt
