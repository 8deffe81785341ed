#include "mkinstaller/pe_resources.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "runtime/value/codepage.h"

namespace rt {

namespace {

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
// Resource trees at least this large start on a 4 KiB boundary of the file.
constexpr std::uint64_t kPageAlignedFrom = 64 * 1024;
// Entries may share sub-directories, names and data, so a hostile tree can
// describe far more resources than its size suggests, and writing it out
// again would multiply it. These bounds keep reading finite and what is
// written back (every table, name and datum the tree takes once it is
// unshared) within a small multiple of the file read.
constexpr std::size_t kMaxEntriesVisited = 1 << 16;
std::uint64_t max_tree_bytes(std::uint64_t file_size) { return 4 * file_size + (1 << 20); }
// A file opened where it lies keeps resources this large there.
constexpr std::uint32_t kLeftInFileFrom = 1 << 20;
constexpr std::uint32_t kScnInitializedData = 0x00000040;
constexpr std::uint32_t kScnDiscardable = 0x02000000;
constexpr std::uint32_t kScnRead = 0x40000000;
constexpr int kDirResource = 2;
constexpr int kDirSecurity = 4;
constexpr int kDirBaseReloc = 5;
constexpr int kDirDebug = 6;

std::uint16_t get16(std::string_view b, std::size_t o) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(b[o]) | static_cast<unsigned char>(b[o + 1]) << 8);
}
std::uint32_t get32(std::string_view b, std::size_t o) {
  return static_cast<std::uint32_t>(get16(b, o)) | static_cast<std::uint32_t>(get16(b, o + 2)) << 16;
}
void put16(std::string& b, std::size_t o, std::uint16_t v) {
  b[o] = static_cast<char>(v & 0xFF);
  b[o + 1] = static_cast<char>(v >> 8);
}
void put32(std::string& b, std::size_t o, std::uint32_t v) {
  put16(b, o, static_cast<std::uint16_t>(v & 0xFFFF));
  put16(b, o + 2, static_cast<std::uint16_t>(v >> 16));
}
bool fits(std::uint64_t total, std::uint64_t off, std::uint64_t n) { return off <= total && n <= total - off; }
std::uint64_t align_up(std::uint64_t v, std::uint64_t a) { return (v + a - 1) / a * a; }
bool power_of_two(std::uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

char16_t fold(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

// Order of entries in a directory: names first, by their upper-case form
// (Windows searches them case-insensitively), then numbers ascending.
int compare_ids(const ResourceId& a, const ResourceId& b) {
  if (a.is_name() != b.is_name()) return a.is_name() ? -1 : 1;
  if (!a.is_name()) return a.number < b.number ? -1 : (a.number > b.number ? 1 : 0);
  std::size_t n = std::min(a.name.size(), b.name.size());
  for (std::size_t i = 0; i < n; ++i) {
    char16_t x = fold(a.name[i]), y = fold(b.name[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.name.size() < b.name.size() ? -1 : (a.name.size() > b.name.size() ? 1 : 0);
}

struct Section {
  char name[8];
  std::uint32_t vsize, va, raw_size, raw_ptr;
  std::uint32_t characteristics;
  std::uint32_t span() const { return vsize ? vsize : raw_size; }
  bool contains_rva(std::uint32_t rva) const { return rva >= va && rva - va < span(); }
};

struct Dir;
struct Entry {
  ResourceId id;
  std::unique_ptr<Dir> dir;  // levels 1 and 2
  // Leaf (level 3): the data entry, its bytes held here or in a source.
  std::string data;
  std::shared_ptr<ResourceSource> source;
  std::uint32_t codepage = 0;
  std::uint32_t reserved = 0;
  std::uint64_t file_offset = 0;  // where the data lay in the file read; 0 once set anew
  std::uint64_t data_size() const { return source ? source->size() : data.size(); }
};
struct Dir {
  std::uint32_t characteristics = 0, timestamp = 0;
  std::uint16_t major = 0, minor = 0;
  std::vector<Entry> entries;
};

Entry* find_entry(Dir& d, const ResourceId& id) {
  for (Entry& e : d.entries)
    if (compare_ids(e.id, id) == 0) return &e;
  return nullptr;
}

Entry& insert_entry(Dir& d, const ResourceId& id) {
  auto at = std::find_if(d.entries.begin(), d.entries.end(), [&](const Entry& e) { return compare_ids(id, e.id) < 0; });
  Entry e;
  e.id = id;
  return *d.entries.insert(at, std::move(e));
}

// ---- the file being written ------------------------------------------------
// Pieces in file order: bytes held here, or a resource's bytes that are read
// from its source only as they are written, so that a large package passes
// through a small buffer instead of being copied into memory.
struct Piece {
  std::string bytes;
  ResourceSource* source = nullptr;
  std::uint64_t source_size = 0;
};

struct Output {
  std::vector<Piece> pieces;
  std::uint64_t size = 0;

  std::string& held() {
    if (pieces.empty() || pieces.back().source) pieces.emplace_back();
    return pieces.back().bytes;
  }
  void append(std::string_view b) {
    held().append(b);
    size += b.size();
  }
  void zeros(std::uint64_t n) {
    held().append(static_cast<std::size_t>(n), '\0');
    size += n;
  }
  void stream(ResourceSource* source, std::uint64_t n) {
    if (n == 0) return;
    pieces.push_back(Piece{{}, source, n});
    size += n;
  }
  // The n bytes at file offset `at` when one held piece has them all.
  char* held_at(std::uint64_t at, std::size_t n) {
    std::uint64_t start = 0;
    for (Piece& p : pieces) {
      std::uint64_t len = p.source ? p.source_size : p.bytes.size();
      if (at >= start && at - start < len) {
        if (p.source || at - start + n > len) return nullptr;
        return &p.bytes[static_cast<std::size_t>(at - start)];
      }
      start += len;
    }
    return nullptr;
  }
};

// The PE checksum taken over the bytes as they are written, the same value
// pe_checksum() gives for the whole file.
class RunningChecksum {
 public:
  explicit RunningChecksum(std::uint64_t field_offset) : field_(field_offset) {}
  void add(const char* data, std::size_t n) {
    std::size_t i = 0;
    // Whole words away from the field, summed a few at a time (as wide
    // sums of 16-bit words fold to the same value).
    if ((at_ & 1) == 0 && (at_ + n <= field_ || at_ >= field_ + 4)) {
      const unsigned char* p = reinterpret_cast<const unsigned char*>(data);
      for (; i + 2 <= n; i += 2) sum_ += p[i] | static_cast<std::uint32_t>(p[i + 1]) << 8;
      sum_ = fold(sum_);
      at_ += i;
    }
    for (; i < n; ++i, ++at_) {
      std::uint32_t b = (at_ >= field_ && at_ < field_ + 4) ? 0 : static_cast<unsigned char>(data[i]);
      if ((at_ & 1) == 0) {
        low_ = b;
        continue;
      }
      sum_ += low_ | b << 8;
      sum_ = fold(sum_);
    }
  }
  // Folds carries back into 16 bits: a one's-complement sum.
  static std::uint64_t fold(std::uint64_t sum) {
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return sum;
  }
  std::uint32_t value() const {
    std::uint64_t sum = sum_;
    if (at_ & 1) {
      sum += low_;
      sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint32_t>(sum + at_);
  }

 private:
  std::uint64_t field_, at_ = 0, sum_ = 0;
  std::uint32_t low_ = 0;
};

// ---- serializing the tree ------------------------------------------------
// Layout: directory tables in pre-order, then the name strings, then the data
// entries, then the data, each item of data aligned to 8 bytes. This is the
// layout GNU ld writes, so that an unchanged tree rebuilds to the same bytes.
struct Sizes {
  std::uint64_t tables = 0, strings = 0, leaves = 0, data = 0;
};

void measure(const Dir& d, Sizes& s) {
  s.tables += 16 + 8 * d.entries.size();
  for (const Entry& e : d.entries) {
    if (e.id.is_name()) s.strings += 2 + 2 * e.id.name.size();
    if (e.dir) {
      measure(*e.dir, s);
    } else {
      s.leaves += 16;
      s.data += align_up(e.data_size(), 8);
    }
  }
}

// Writes the tables, names and data entries into `out` (offsets within the
// section, addresses from base_rva) and lists the leaves in the order their
// data follows.
struct Writer {
  std::string& out;
  std::uint32_t base_rva;
  std::size_t next_table, next_string, next_leaf;
  std::uint64_t next_data;
  std::vector<const Entry*>& data_order;

  void write_dir(const Dir& d) {
    std::size_t at = next_table;
    next_table += 16 + 8 * d.entries.size();
    std::uint16_t named = 0;
    for (const Entry& e : d.entries) named += e.id.is_name() ? 1 : 0;
    put32(out, at, d.characteristics);
    put32(out, at + 4, d.timestamp);
    put16(out, at + 8, d.major);
    put16(out, at + 10, d.minor);
    put16(out, at + 12, named);
    put16(out, at + 14, static_cast<std::uint16_t>(d.entries.size() - named));
    std::size_t slot = at + 16;
    for (const Entry& e : d.entries) {
      if (e.id.is_name()) {
        put32(out, slot, 0x80000000u | static_cast<std::uint32_t>(next_string));
        put16(out, next_string, static_cast<std::uint16_t>(e.id.name.size()));
        for (std::size_t i = 0; i < e.id.name.size(); ++i) put16(out, next_string + 2 + 2 * i, e.id.name[i]);
        next_string += 2 + 2 * e.id.name.size();
      } else {
        put32(out, slot, e.id.number);
      }
      if (e.dir) {
        put32(out, slot + 4, 0x80000000u | static_cast<std::uint32_t>(next_table));
        write_dir(*e.dir);
      } else {
        put32(out, slot + 4, static_cast<std::uint32_t>(next_leaf));
        put32(out, next_leaf, base_rva + static_cast<std::uint32_t>(next_data));
        put32(out, next_leaf + 4, static_cast<std::uint32_t>(e.data_size()));
        put32(out, next_leaf + 8, e.codepage);
        put32(out, next_leaf + 12, e.reserved);
        next_leaf += 16;
        data_order.push_back(&e);
        next_data += align_up(e.data_size(), 8);
      }
      slot += 8;
    }
  }
};

std::uint64_t serialized_size(const Dir& root) {
  Sizes s;
  measure(root, s);
  return align_up(s.tables + s.strings, 8) + s.leaves + s.data;
}

// Appends the tree to `out`; the caller has checked that it fits in 32 bits.
void serialize_into(Output& out, const Dir& root, std::uint32_t base_rva) {
  Sizes s;
  measure(root, s);
  const std::size_t leaves_at = static_cast<std::size_t>(align_up(s.tables + s.strings, 8));
  std::string head(leaves_at + static_cast<std::size_t>(s.leaves), '\0');
  std::vector<const Entry*> data_order;
  Writer w{head, base_rva, 0, static_cast<std::size_t>(s.tables), leaves_at, leaves_at + s.leaves, data_order};
  w.write_dir(root);
  out.append(head);
  for (const Entry* e : data_order) {
    if (e->source)
      out.stream(e->source.get(), e->data_size());
    else
      out.append(e->data);
    out.zeros(align_up(e->data_size(), 8) - e->data_size());
  }
}

// Where the new tree goes and what moves to make room for it.
struct Placement {
  std::uint64_t size = 0;       // of the tree
  std::vector<Section> secs;    // the new section table
  std::size_t index = 0;        // of the resource section in it
  std::size_t tail = 0;         // the first section that moves
  bool reused = false;          // the section that held the tree holds it again
  std::int64_t va_shift = 0;    // how far the moving sections' addresses move
  std::size_t file_at = 0;      // where raw data is replaced by the tree
  std::size_t old_raw = 0;      // how much of it
  std::uint32_t new_raw = 0;    // the tree's raw size
  std::uint32_t lead = 0;       // zeros before it (page alignment)
  std::uint32_t rva = 0;        // the tree's address
  std::uint64_t image_end = 0;  // the end of the last section in memory
  std::size_t shift_from = 0;   // file offsets from here move ...
  std::int64_t raw_shift = 0;   // ... by this much
  std::int64_t raw_growth = 0;  // how much the initialised data grows

  std::uint64_t moved_offset(std::uint64_t off) const {
    return off >= shift_from && off != 0 ? static_cast<std::uint64_t>(off + raw_shift) : off;
  }
};

// Bytes of the output's headers and tables, changed where they are held; a
// layout that puts them elsewhere is not one this writer handles (`held`
// says whether every change found its bytes).
class HeaderPatch {
 public:
  explicit HeaderPatch(Output& out) : out_(out) {}
  bool held = true;

  void put(std::uint64_t at, const char* bytes, std::size_t n) {
    char* p = out_.held_at(at, n);
    if (p)
      std::memcpy(p, bytes, n);
    else
      held = false;
  }
  void set32(std::uint64_t at, std::uint32_t v) {
    char b[4] = {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8 & 0xFF), static_cast<char>(v >> 16 & 0xFF),
                 static_cast<char>(v >> 24)};
    put(at, b, 4);
  }
  void set16(std::uint64_t at, std::uint16_t v) {
    char b[2] = {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
    put(at, b, 2);
  }
  std::uint32_t get32(std::uint64_t at) {
    const char* p = out_.held_at(at, 4);
    if (!p) {
      held = false;
      return 0;
    }
    return rt::get32(std::string_view(p, 4), 0);
  }

 private:
  Output& out_;
};

}  // namespace

// ---- ResourceId ------------------------------------------------------------

ResourceId ResourceId::of_text(std::string_view text) {
  if (text.size() > 1 && text[0] == '#') {
    unsigned long n = 0;
    bool digits = true;
    for (char c : text.substr(1)) {
      if (c < '0' || c > '9' || n > 0xFFFF) {
        digits = false;
        break;
      }
      n = n * 10 + static_cast<unsigned long>(c - '0');
    }
    if (digits && n <= 0xFFFF) return of_number(static_cast<std::uint16_t>(n));
  }
  ResourceId id;
  id.name = wide_from_utf8(text);
  for (char16_t& c : id.name) c = fold(c);
  return id;
}

std::string ResourceId::display() const {
  return is_name() ? utf8_from_wide(name) : "#" + std::to_string(number);
}

bool operator==(const ResourceId& a, const ResourceId& b) { return compare_ids(a, b) == 0; }

// ---- loading ---------------------------------------------------------------

// A range of a file opened where it lies.
class FileRange : public ResourceSource {
 public:
  FileRange(std::shared_ptr<ResourceSource> file, std::uint64_t at, std::uint64_t size)
      : file_(std::move(file)), at_(at), size_(size) {}
  std::uint64_t size() const override { return size_; }
  bool read_at(std::uint64_t offset, void* buffer, std::size_t n) override {
    return offset <= size_ && n <= size_ - offset && file_->read_at(at_ + offset, buffer, n);
  }

 private:
  std::shared_ptr<ResourceSource> file_;
  std::uint64_t at_, size_;
};

// Bytes held in memory as a source.
class HeldBytes : public ResourceSource {
 public:
  explicit HeldBytes(std::string bytes) : bytes_(std::move(bytes)) {}
  std::uint64_t size() const override { return bytes_.size(); }
  bool read_at(std::uint64_t offset, void* buffer, std::size_t n) override {
    if (offset > bytes_.size() || n > bytes_.size() - offset) return false;
    std::memcpy(buffer, bytes_.data() + offset, n);
    return true;
  }

 private:
  std::string bytes_;
};

struct PeResources::Impl {
  // The file: held whole (load), or read where it lies (open), then `file`
  // stays empty and the object cannot be saved.
  std::string file;
  std::shared_ptr<ResourceSource> opened;
  std::uint64_t file_size = 0;
  mutable std::string scratch;
  PeHeaderInfo info;
  std::size_t pe_off = 0, opt_off = 0, sec_table_off = 0, dirs_off = 0;
  std::uint32_t dir_count = 0;
  std::uint32_t section_alignment = 0, file_alignment = 0;
  std::vector<Section> sections;
  std::uint32_t rsrc_rva = 0, rsrc_size = 0;
  Dir root;
  bool had_resources = false;
  std::size_t visited = 0;
  std::size_t tree_bytes = 0;  // of the tree written out again, unshared

  std::size_t checksum_off() const { return opt_off + 64; }
  std::uint32_t dir_rva(int i) const { return i < static_cast<int>(dir_count) ? u32(dirs_off + 8 * i) : 0; }
  std::uint32_t dir_size(int i) const { return i < static_cast<int>(dir_count) ? u32(dirs_off + 8 * i + 4) : 0; }

  // n bytes of the file at `at`, valid until the next call; empty when they
  // are not all there.
  std::string_view bytes_at(std::uint64_t at, std::size_t n) const {
    if (!fits(file_size, at, n)) return {};
    if (!opened) return std::string_view(file).substr(static_cast<std::size_t>(at), n);
    scratch.resize(n);
    return n == 0 || opened->read_at(at, scratch.data(), n) ? std::string_view(scratch) : std::string_view();
  }
  std::uint16_t u16(std::uint64_t at) const {
    std::string_view b = bytes_at(at, 2);
    return b.size() == 2 ? get16(b, 0) : 0;
  }
  std::uint32_t u32(std::uint64_t at) const {
    std::string_view b = bytes_at(at, 4);
    return b.size() == 4 ? get32(b, 0) : 0;
  }

  // File offset of n bytes at an RVA, when they lie in a section's file data.
  std::size_t file_offset(std::uint64_t rva, std::size_t n) const {
    for (const Section& s : sections) {
      if (rva < s.va || s.raw_size == 0) continue;
      std::uint64_t rel = rva - s.va;
      if (rel + n <= s.raw_size && rel + n <= s.span()) return s.raw_ptr + static_cast<std::size_t>(rel);
    }
    return kNone;
  }

  static bool fail(std::string* error, std::string why) {
    if (error) *error = std::move(why);
    return false;
  }

  std::uint32_t headers_size() const { return get32(file, opt_off + 60); }

  bool parse(std::string* error);
  bool parse_headers(std::string* error);
  bool parse_dir(std::uint32_t off, int level, Dir& into, std::string* error);
  // The output as pieces, every header and table fixed except the checksum.
  bool assemble(Output* out, std::string* error) const;
  // Its steps: the layout checked, the tree placed, the pieces laid out, the
  // headers patched.
  bool check_layout(std::string* why) const;
  bool directory_inside(const Section& s, int which) const;
  bool movable(const Section& s) const;
  std::size_t reusable_section(std::uint64_t size, bool* move_tail) const;
  void place_in_section(std::size_t reuse, bool move_tail, Placement* p) const;
  bool place_in_new_section(Placement* p, std::string* why) const;
  bool place(Placement* p, std::string* why) const;
  bool in_tail(const Placement& p, std::uint32_t rva) const;
  void lay_out(const Placement& p, Output* out) const;
  void patch_section_table(const Placement& p, HeaderPatch& patch) const;
  void patch_directories(const Placement& p, HeaderPatch& patch) const;
  bool write(Output& out, ByteSink& sink, std::string* error) const;
};

bool PeResources::Impl::parse_headers(std::string* error) {
  if (file_size < 64 || bytes_at(0, 2) != "MZ") return fail(error, "not a PE file: no MZ signature");
  pe_off = u32(0x3C);
  if (!fits(file_size, pe_off, 24) || bytes_at(pe_off, 4) != std::string_view("PE\0\0", 4))
    return fail(error, "not a PE file: no PE signature");
  info.machine = u16(pe_off + 4);
  std::size_t nsec = u16(pe_off + 6);
  std::size_t opt_size = u16(pe_off + 20);
  info.characteristics = u16(pe_off + 22);
  opt_off = pe_off + 24;
  if (opt_size < 2 || !fits(file_size, opt_off, opt_size)) return fail(error, "truncated optional header");
  std::uint16_t magic = u16(opt_off);
  if (magic != 0x10B && magic != 0x20B) return fail(error, "unknown optional header kind");
  info.pe32_plus = magic == 0x20B;
  std::size_t fixed = info.pe32_plus ? 112 : 96;
  if (opt_size < fixed) return fail(error, "truncated optional header");
  section_alignment = u32(opt_off + 32);
  file_alignment = u32(opt_off + 36);
  info.subsystem = u16(opt_off + 68);
  dir_count = std::min<std::uint32_t>(u32(opt_off + fixed - 4), 16);
  dirs_off = opt_off + fixed;
  if (fixed + 8 * dir_count > opt_size) return fail(error, "truncated data directories");
  sec_table_off = opt_off + opt_size;
  if (nsec == 0 || nsec > 96 || !fits(file_size, sec_table_off, 40 * nsec)) return fail(error, "bad section table");
  for (std::size_t i = 0; i < nsec; ++i) {
    std::size_t h = sec_table_off + 40 * i;
    Section s;
    std::memcpy(s.name, bytes_at(h, 8).data(), 8);
    s.vsize = u32(h + 8);
    s.va = u32(h + 12);
    s.raw_size = u32(h + 16);
    s.raw_ptr = u32(h + 20);
    s.characteristics = u32(h + 36);
    if (s.raw_size && !fits(file_size, s.raw_ptr, s.raw_size))
      return fail(error, "section " + std::string(s.name, strnlen(s.name, 8)) + " extends beyond the end of the file");
    sections.push_back(s);
  }
  info.sections_end = sec_table_off + 40 * nsec;
  for (const Section& s : sections)
    if (s.raw_size) info.sections_end = std::max(info.sections_end, std::uint64_t{s.raw_ptr} + s.raw_size);
  info.checksum_field = checksum_off();
  info.certificate_entry = dir_count > kDirSecurity ? dirs_off + 8 * kDirSecurity : 0;
  info.certificate_offset = dir_rva(kDirSecurity);
  info.certificate_size = dir_size(kDirSecurity);
  rsrc_rva = dir_rva(kDirResource);
  rsrc_size = dir_size(kDirResource);
  return true;
}

bool PeResources::Impl::parse_dir(std::uint32_t off, int level, Dir& into, std::string* error) {
  std::size_t at = file_offset(std::uint64_t{rsrc_rva} + off, 16);
  if (at == kNone) return fail(error, "resource directory outside the file");
  into.characteristics = u32(at);
  into.timestamp = u32(at + 4);
  into.major = u16(at + 8);
  into.minor = u16(at + 10);
  std::size_t count = std::size_t{u16(at + 12)} + u16(at + 14);
  tree_bytes += 16 + 8 * count;
  std::size_t entries = file_offset(std::uint64_t{rsrc_rva} + off + 16, 8 * count);
  if (entries == kNone) return fail(error, "resource directory outside the file");
  for (std::size_t i = 0; i < count; ++i) {
    if (++visited > kMaxEntriesVisited) return fail(error, "too many resources");
    std::uint32_t name = u32(entries + 8 * i);
    std::uint32_t value = u32(entries + 8 * i + 4);
    Entry e;
    if (name & 0x80000000u) {
      std::uint64_t rva = std::uint64_t{rsrc_rva} + (name & 0x7FFFFFFFu);
      std::size_t len_at = file_offset(rva, 2);
      if (len_at == kNone) return fail(error, "resource name outside the file");
      std::size_t len = u16(len_at);
      std::size_t chars = file_offset(rva + 2, 2 * len);
      if (chars == kNone || len == 0) return fail(error, "bad resource name");
      tree_bytes += 2 + 2 * len;
      std::string_view units = bytes_at(chars, 2 * len);
      if (units.size() != 2 * len) return fail(error, "resource name outside the file");
      for (std::size_t k = 0; k < len; ++k) e.id.name.push_back(static_cast<char16_t>(get16(units, 2 * k)));
    } else {
      if (name > 0xFFFF) return fail(error, "bad resource identifier");
      e.id.number = static_cast<std::uint16_t>(name);
    }
    if (tree_bytes > max_tree_bytes(file_size)) return fail(error, "resource data too large");
    bool is_dir = (value & 0x80000000u) != 0;
    if (is_dir != (level < 3)) return fail(error, "malformed resource tree");
    if (is_dir) {
      e.dir = std::make_unique<Dir>();
      if (!parse_dir(value & 0x7FFFFFFFu, level + 1, *e.dir, error)) return false;
    } else {
      std::size_t leaf = file_offset(std::uint64_t{rsrc_rva} + value, 16);
      if (leaf == kNone) return fail(error, "resource data entry outside the file");
      std::uint32_t data_rva = u32(leaf), size = u32(leaf + 4);
      e.codepage = u32(leaf + 8);
      e.reserved = u32(leaf + 12);
      std::size_t data = file_offset(data_rva, size);
      if (data == kNone) return fail(error, "resource data outside the file");
      tree_bytes += 16 + std::size_t{size};
      if (tree_bytes > max_tree_bytes(file_size)) return fail(error, "resource data too large");
      e.file_offset = data;
      if (opened && size >= kLeftInFileFrom) {
        e.source = std::make_shared<FileRange>(opened, data, size);
      } else {
        std::string_view bytes = bytes_at(data, size);
        if (bytes.size() != size) return fail(error, "cannot read the data of a resource");
        e.data.assign(bytes);
      }
    }
    into.entries.push_back(std::move(e));
  }
  return true;
}

PeResources::PeResources() : impl_(std::make_unique<Impl>()) {}
PeResources::~PeResources() = default;
PeResources::PeResources(PeResources&&) noexcept = default;
PeResources& PeResources::operator=(PeResources&&) noexcept = default;

bool PeResources::load(std::string bytes, std::string* error) {
  impl_ = std::make_unique<Impl>();
  impl_->file = std::move(bytes);
  impl_->file_size = impl_->file.size();
  return impl_->parse(error);
}

bool PeResources::open(std::shared_ptr<ResourceSource> file, std::string* error) {
  impl_ = std::make_unique<Impl>();
  impl_->file_size = file->size();
  impl_->opened = std::move(file);
  return impl_->parse(error);
}

bool PeResources::Impl::parse(std::string* error) {
  if (!parse_headers(error)) return false;
  if (rsrc_rva != 0 && rsrc_size != 0) {
    had_resources = true;
    if (!parse_dir(0, 1, root, error)) return false;
  }
  return true;
}

const PeHeaderInfo& PeResources::header() const { return impl_->info; }

std::vector<ResourceInfo> PeResources::list() const {
  std::vector<ResourceInfo> out;
  for (const Entry& t : impl_->root.entries) {
    if (!t.dir) continue;
    for (const Entry& n : t.dir->entries) {
      if (!n.dir) continue;
      for (const Entry& l : n.dir->entries)
        out.push_back(ResourceInfo{t.id, n.id, l.id.number, l.codepage, static_cast<std::size_t>(l.data_size()),
                                   l.file_offset});
    }
  }
  return out;
}

const std::string* PeResources::find(const ResourceId& type, const ResourceId& name, int language) const {
  Entry* t = find_entry(impl_->root, type);
  Entry* n = t && t->dir ? find_entry(*t->dir, name) : nullptr;
  if (!n || !n->dir) return nullptr;
  for (const Entry& l : n->dir->entries)
    if (language < 0 || (!l.id.is_name() && l.id.number == language)) return l.source ? nullptr : &l.data;
  return nullptr;
}

std::shared_ptr<ResourceSource> PeResources::source(const ResourceId& type, const ResourceId& name,
                                                   int language) const {
  Entry* t = find_entry(impl_->root, type);
  Entry* n = t && t->dir ? find_entry(*t->dir, name) : nullptr;
  if (!n || !n->dir) return nullptr;
  for (const Entry& l : n->dir->entries)
    if (language < 0 || (!l.id.is_name() && l.id.number == language))
      return l.source ? l.source : std::make_shared<HeldBytes>(l.data);
  return nullptr;
}

namespace {

Entry& leaf_entry(Dir& root, const ResourceId& type, const ResourceId& name, std::uint16_t language) {
  Entry* t = find_entry(root, type);
  if (!t) t = &insert_entry(root, type);
  if (!t->dir) t->dir = std::make_unique<Dir>();
  Entry* n = find_entry(*t->dir, name);
  if (!n) n = &insert_entry(*t->dir, name);
  if (!n->dir) n->dir = std::make_unique<Dir>();
  ResourceId lang = ResourceId::of_number(language);
  Entry* l = find_entry(*n->dir, lang);
  if (!l) l = &insert_entry(*n->dir, lang);
  return *l;
}

}  // namespace

void PeResources::set(const ResourceId& type, const ResourceId& name, std::uint16_t language, std::string data,
                      std::uint32_t codepage) {
  Entry& l = leaf_entry(impl_->root, type, name, language);
  l.data = std::move(data);
  l.source.reset();
  l.codepage = codepage;
  l.file_offset = 0;
}

void PeResources::set_source(const ResourceId& type, const ResourceId& name, std::uint16_t language,
                             std::shared_ptr<ResourceSource> source, std::uint32_t codepage) {
  Entry& l = leaf_entry(impl_->root, type, name, language);
  l.data.clear();
  l.source = std::move(source);
  l.codepage = codepage;
  l.file_offset = 0;
}

int PeResources::remove(const ResourceId& type, const ResourceId& name, int language) {
  Dir& root = impl_->root;
  Entry* t = find_entry(root, type);
  Entry* n = t && t->dir ? find_entry(*t->dir, name) : nullptr;
  if (!n || !n->dir) return 0;
  auto& langs = n->dir->entries;
  std::size_t before = langs.size();
  langs.erase(std::remove_if(langs.begin(), langs.end(),
                             [&](const Entry& l) { return language < 0 || (!l.id.is_name() && l.id.number == language); }),
              langs.end());
  int removed = static_cast<int>(before - langs.size());
  if (langs.empty()) {
    auto& names = t->dir->entries;
    names.erase(names.begin() + (n - names.data()));
    if (names.empty()) root.entries.erase(root.entries.begin() + (t - root.entries.data()));
  }
  return removed;
}

// ---- saving ----------------------------------------------------------------

namespace {

class StringSink : public ByteSink {
 public:
  explicit StringSink(std::string& out) : out_(out) {}
  bool write(const char* data, std::size_t n) override {
    out_.append(data, n);
    return true;
  }
  bool write_at(std::uint64_t offset, const char* data, std::size_t n) override {
    if (offset > out_.size() || n > out_.size() - offset) return false;
    std::memcpy(&out_[static_cast<std::size_t>(offset)], data, n);
    return true;
  }

 private:
  std::string& out_;
};

}  // namespace

bool PeResources::save(std::string* out, std::string* error) const {
  Output pieces;
  if (!impl_->assemble(&pieces, error)) return false;
  std::string result;
  result.reserve(static_cast<std::size_t>(pieces.size));
  StringSink sink(result);
  if (!impl_->write(pieces, sink, error)) return false;
  *out = std::move(result);
  return true;
}

bool PeResources::save(ByteSink& sink, std::string* error) const {
  Output pieces;
  return impl_->assemble(&pieces, error) && impl_->write(pieces, sink, error);
}

bool PeResources::Impl::write(Output& out, ByteSink& sink, std::string* error) const {
  RunningChecksum checksum(checksum_off());
  std::string buffer;
  for (const Piece& p : out.pieces) {
    if (!p.source) {
      checksum.add(p.bytes.data(), p.bytes.size());
      if (!sink.write(p.bytes.data(), p.bytes.size())) return fail(error, "cannot write the file");
      continue;
    }
    buffer.resize(1 << 20);
    for (std::uint64_t done = 0; done < p.source_size;) {
      std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), p.source_size - done));
      if (!p.source->read_at(done, buffer.data(), n)) return fail(error, "cannot read the data of a resource");
      checksum.add(buffer.data(), n);
      if (!sink.write(buffer.data(), n)) return fail(error, "cannot write the file");
      done += n;
    }
  }
  // A zero checksum stays zero, as linkers leave it.
  if (!get32(file, checksum_off())) return true;
  std::string field(4, '\0');
  put32(field, 0, checksum.value());
  if (!sink.write_at(checksum_off(), field.data(), 4)) return fail(error, "cannot write the file");
  return true;
}

bool PeResources::Impl::check_layout(std::string* why) const {
  if (dir_count <= kDirResource) return fail(why, "no resource directory in the header");
  const std::uint32_t sa = section_alignment, fa = file_alignment;
  if (!power_of_two(sa) || !power_of_two(fa) || fa > sa || fa > 0x10000 || sa > 0x1000000)
    return fail(why, "unusual section or file alignment");
  // The writer handles the layouts linkers make: sections after the headers,
  // in ascending order without overlap.
  const std::uint32_t header_size = headers_size();
  const std::size_t table_end = sec_table_off + 40 * sections.size();
  // Headers larger than the file would make the writer pad the output to them.
  if (header_size > file.size()) return fail(why, "headers extend beyond the end of the file");
  for (std::size_t i = 0; i < sections.size(); ++i) {
    const Section& s = sections[i];
    bool ordered = i == 0 ? s.va >= header_size
                          : s.va >= std::uint64_t{sections[i - 1].va} + sections[i - 1].span();
    if (!ordered || header_size < table_end || (s.raw_size && s.raw_ptr < header_size) ||
        align_up(std::uint64_t{s.va} + s.span(), sa) > 0x80000000u)
      return fail(why, "unusual section layout");
  }
  std::vector<std::pair<std::uint32_t, std::uint32_t>> raw;
  for (const Section& s : sections)
    if (s.raw_size) raw.emplace_back(s.raw_ptr, s.raw_size);
  std::sort(raw.begin(), raw.end());
  for (std::size_t i = 1; i < raw.size(); ++i)
    if (std::uint64_t{raw[i - 1].first} + raw[i - 1].second > raw[i].first) return fail(why, "unusual section layout");
  // Every directory must lie somewhere, or a moved section could land on it.
  for (int d = 0; d < static_cast<int>(dir_count); ++d) {
    std::uint32_t r = dir_rva(d);
    if (d == kDirSecurity || !r || !dir_size(d) || std::uint64_t{r} + dir_size(d) <= header_size) continue;
    if (std::none_of(sections.begin(), sections.end(), [&](const Section& s) { return s.contains_rva(r); }))
      return fail(why, "unusual section layout");
  }
  return true;
}

bool PeResources::Impl::directory_inside(const Section& s, int which) const {
  return dir_rva(which) && dir_size(which) && s.contains_rva(dir_rva(which));
}

// A section may move to a higher address when nothing but a data directory
// refers into it: the relocations, or discardable debug data.
bool PeResources::Impl::movable(const Section& s) const {
  if (s.contains_rva(get32(file, opt_off + 16))) return false;  // the entry point
  for (int d = 0; d < static_cast<int>(dir_count); ++d)
    if (d != kDirSecurity && d != kDirBaseReloc && directory_inside(s, d)) return false;
  return directory_inside(s, kDirBaseReloc) || (s.characteristics & kScnDiscardable);
}

// The section that holds the tree now, when it can be rewritten in place
// (kNone when not); *move_tail when the sections after it move up.
std::size_t PeResources::Impl::reusable_section(std::uint64_t size, bool* move_tail) const {
  std::size_t reuse = kNone;
  for (std::size_t i = 0; i < sections.size() && had_resources; ++i) {
    const Section& s = sections[i];
    if (s.va != rsrc_rva || s.raw_size == 0) continue;
    bool alone = true;
    for (int d = 0; d < static_cast<int>(dir_count); ++d)
      if (d != kDirResource && d != kDirSecurity && directory_inside(s, d)) alone = false;
    if (alone) reuse = i;
  }
  *move_tail = false;
  if (reuse == kNone) return kNone;
  *move_tail = std::all_of(sections.begin() + reuse + 1, sections.end(), [&](const Section& s) { return movable(s); });
  if (!*move_tail && align_up(size, section_alignment) > std::uint64_t{sections[reuse + 1].va} - sections[reuse].va)
    return kNone;
  return reuse;
}

// The tree rewritten where it is, the sections after it moved up when they may.
void PeResources::Impl::place_in_section(std::size_t reuse, bool move_tail, Placement* p) const {
  p->reused = true;
  p->index = reuse;
  p->tail = reuse + 1;
  Section& r = p->secs[p->index];
  if (move_tail)
    p->va_shift = static_cast<std::int64_t>(align_up(std::uint64_t{r.va} + p->size, section_alignment)) -
                  static_cast<std::int64_t>(align_up(std::uint64_t{r.va} + r.span(), section_alignment));
  p->file_at = r.raw_ptr;
  p->old_raw = r.raw_size;
  // Zeros between the section and the data before it (a page alignment of
  // an earlier save) are replaced too, so that a smaller tree gives them back.
  std::size_t before = align_up(headers_size(), file_alignment);
  for (const Section& s : sections)
    if (s.raw_size && s.raw_ptr < r.raw_ptr)
      before = std::max<std::size_t>(before, align_up(std::uint64_t{s.raw_ptr} + s.raw_size, file_alignment));
  if (before < p->file_at && file.find_first_not_of('\0', before) >= p->file_at) {
    p->old_raw += p->file_at - before;
    p->file_at = before;
    r.raw_ptr = static_cast<std::uint32_t>(p->file_at);
  }
  r.vsize = static_cast<std::uint32_t>(p->size);
  r.raw_size = p->new_raw;
}

// A new section, before the trailing sections that may move.
bool PeResources::Impl::place_in_new_section(Placement* p, std::string* why) const {
  const std::size_t nsec = sections.size();
  const std::size_t table_end = sec_table_off + 40 * nsec;
  p->tail = nsec;
  while (p->tail > 1 && movable(sections[p->tail - 1])) --p->tail;
  if (table_end + 40 > headers_size() || file.find_first_not_of('\0', table_end) < table_end + 40)
    return fail(why, "no room for another section header");
  const Section& prev = sections[p->tail - 1];
  Section r{};
  std::memcpy(r.name, ".rsrc\0\0\0", 8);
  r.va = static_cast<std::uint32_t>(align_up(std::uint64_t{prev.va} + prev.span(), section_alignment));
  r.vsize = static_cast<std::uint32_t>(p->size);
  r.raw_size = p->new_raw;
  r.characteristics = kScnInitializedData | kScnRead;
  if (p->tail < nsec)
    p->va_shift = static_cast<std::int64_t>(align_up(std::uint64_t{r.va} + p->size, section_alignment)) -
                  sections[p->tail].va;
  p->file_at = kNone;
  for (std::size_t i = p->tail; i < nsec; ++i)
    if (sections[i].raw_size) p->file_at = std::min<std::size_t>(p->file_at, sections[i].raw_ptr);
  if (p->file_at == kNone) {
    std::size_t end = headers_size();
    for (const Section& s : sections)
      if (s.raw_size) end = std::max<std::size_t>(end, std::size_t{s.raw_ptr} + s.raw_size);
    p->file_at = align_up(end, file_alignment);
  }
  r.raw_ptr = static_cast<std::uint32_t>(p->file_at);
  p->old_raw = 0;
  p->index = p->tail;
  p->secs.insert(p->secs.begin() + p->index, r);
  ++p->tail;
  return true;
}

bool PeResources::Impl::place(Placement* p, std::string* why) const {
  p->size = serialized_size(root);
  if (p->size > 0x7FFF0000u) return fail(why, "resources too large");
  p->secs = sections;
  p->new_raw = static_cast<std::uint32_t>(align_up(p->size, file_alignment));
  bool move_tail = false;
  std::size_t reuse = reusable_section(p->size, &move_tail);
  if (reuse != kNone)
    place_in_section(reuse, move_tail, p);
  else if (!place_in_new_section(p, why))
    return false;
  // Large resources (a carried package) start on a page of the file: a
  // loader can then map them and bring in only the pages read, where
  // otherwise it may read the whole section into memory when the program
  // starts (Wine does).
  if (p->size >= kPageAlignedFrom) {
    const std::uint64_t page = std::max<std::uint32_t>(file_alignment, 0x1000);
    p->lead = static_cast<std::uint32_t>(align_up(p->file_at, page) - p->file_at);
    p->secs[p->index].raw_ptr = static_cast<std::uint32_t>(p->file_at + p->lead);
  }
  p->rva = p->secs[p->index].va;
  // Images stay below 2 GB, as the layout check expects of them.
  for (std::size_t i = 0; i < p->secs.size(); ++i)
    p->image_end = std::max<std::uint64_t>(
        p->image_end, std::uint64_t{p->secs[i].va} + (i >= p->tail ? p->va_shift : 0) + p->secs[i].span());
  if (align_up(p->image_end, section_alignment) > 0x80000000u) return fail(why, "resources too large");
  p->raw_shift = static_cast<std::int64_t>(p->new_raw) + p->lead - static_cast<std::int64_t>(p->old_raw);
  p->raw_growth = static_cast<std::int64_t>(p->new_raw) -
                  (p->reused ? static_cast<std::int64_t>(sections[p->index].raw_size) : 0);
  p->shift_from = p->file_at + p->old_raw;
  return true;
}

// Whether an address lies in a section that moves.
bool PeResources::Impl::in_tail(const Placement& p, std::uint32_t rva) const {
  for (std::size_t i = p.tail; i < p.secs.size(); ++i)
    if (sections[i - (p.secs.size() - sections.size())].contains_rva(rva)) return true;
  return false;
}

// The file as pieces: the resources between what precedes and what follows
// them; a resource from a source is read only when the file is written.
void PeResources::Impl::lay_out(const Placement& p, Output* out) const {
  // A signature cannot survive the change: drop it.
  std::string_view src = file;
  std::uint32_t cert_off = dir_rva(kDirSecurity), cert_size = dir_size(kDirSecurity);
  if (cert_off && cert_size && fits(src.size(), cert_off, cert_size) && cert_off >= p.shift_from &&
      cert_off + cert_size == src.size())
    src = src.substr(0, cert_off);
  out->append(src.substr(0, std::min(p.file_at, src.size())));
  if (p.file_at > src.size()) out->zeros(p.file_at - src.size());
  out->zeros(p.lead);
  serialize_into(*out, root, p.rva);
  out->zeros(p.new_raw - p.size);
  if (p.shift_from < src.size()) out->append(src.substr(p.shift_from));
}

void PeResources::Impl::patch_section_table(const Placement& p, HeaderPatch& patch) const {
  for (std::size_t i = 0; i < p.secs.size(); ++i) {
    Section s = p.secs[i];
    if (i >= p.tail) s.va = static_cast<std::uint32_t>(s.va + p.va_shift);
    if (i != p.index && s.raw_size) s.raw_ptr = static_cast<std::uint32_t>(p.moved_offset(s.raw_ptr));
    std::size_t h = sec_table_off + 40 * i;
    if (i == p.index && !p.reused) {
      char fresh[40] = {};
      std::memcpy(fresh, s.name, 8);
      patch.put(h, fresh, 40);
    } else if (i > p.index && !p.reused) {
      patch.put(h, file.data() + h - 40, 40);
    }
    patch.set32(h + 8, s.vsize);
    patch.set32(h + 12, s.va);
    patch.set32(h + 16, s.raw_size);
    patch.set32(h + 20, s.raw_ptr);
    patch.set32(h + 36, s.characteristics);
  }
  patch.set16(pe_off + 6, static_cast<std::uint16_t>(p.secs.size()));
}

// Data directories that point into moved sections, then the resource one;
// debug entries, which hold file offsets of their data and may hold
// addresses; the symbol table's offset.
void PeResources::Impl::patch_directories(const Placement& p, HeaderPatch& patch) const {
  for (int d = 0; d < static_cast<int>(dir_count); ++d) {
    std::uint32_t r = dir_rva(d);
    if (d == kDirSecurity) {
      patch.set32(dirs_off + 8 * d, 0);
      patch.set32(dirs_off + 8 * d + 4, 0);
    } else if (r && in_tail(p, r)) {
      patch.set32(dirs_off + 8 * d, static_cast<std::uint32_t>(r + p.va_shift));
    }
  }
  patch.set32(dirs_off + 8 * kDirResource, p.rva);
  patch.set32(dirs_off + 8 * kDirResource + 4, static_cast<std::uint32_t>(p.size));

  std::uint32_t dbg = dir_rva(kDirDebug), dbg_size = dir_size(kDirDebug);
  std::size_t dbg_in = dbg ? file_offset(dbg, dbg_size) : kNone;
  if (dbg_in != kNone) {
    std::uint64_t dbg_at = p.moved_offset(dbg_in);
    for (std::size_t e = 0; e + 28 <= dbg_size; e += 28) {
      std::uint32_t addr = patch.get32(dbg_at + e + 20), ptr = patch.get32(dbg_at + e + 24);
      if (addr && in_tail(p, addr)) patch.set32(dbg_at + e + 20, static_cast<std::uint32_t>(addr + p.va_shift));
      patch.set32(dbg_at + e + 24, static_cast<std::uint32_t>(p.moved_offset(ptr)));
    }
  }
  std::uint32_t symbols = get32(file, pe_off + 12);
  if (symbols) patch.set32(pe_off + 12, static_cast<std::uint32_t>(p.moved_offset(symbols)));
}

bool PeResources::Impl::assemble(Output* out, std::string* error) const {
  if (opened) return fail(error, "the file was opened for reading only");
  if (!had_resources && root.entries.empty()) {
    out->append(file);
    return true;
  }
  Placement p;
  if (!check_layout(error) || !place(&p, error)) return false;
  lay_out(p, out);
  HeaderPatch patch(*out);
  patch_section_table(p, patch);
  patch_directories(p, patch);
  // SizeOfImage and SizeOfInitializedData.
  patch.set32(opt_off + 56, static_cast<std::uint32_t>(align_up(p.image_end, section_alignment)));
  patch.set32(opt_off + 8, static_cast<std::uint32_t>(get32(file, opt_off + 8) + p.raw_growth));
  if (!patch.held) return fail(error, "unusual section layout");
  return true;
}

std::uint32_t pe_checksum(std::string_view file, std::size_t field_offset) {
  std::uint64_t sum = 0;
  auto byte = [&](std::size_t i) -> std::uint32_t {
    if (i >= file.size() || (i >= field_offset && i < field_offset + 4)) return 0;
    return static_cast<unsigned char>(file[i]);
  };
  for (std::size_t i = 0; i < file.size(); i += 2) {
    sum += byte(i) | byte(i + 1) << 8;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint32_t>(sum + file.size());
}

}  // namespace rt
