#include "installer/platform/pe_image.h"

#include <cstdint>
#include <cstring>
#include <iterator>
#include <vector>

namespace installer {

PeResourceId PeResourceId::of(unsigned n) {
  PeResourceId id;
  id.number = n;
  return id;
}

PeResourceId PeResourceId::of(std::u16string_view t) {
  PeResourceId id;
  id.text.assign(t);
  return id;
}

namespace {

using u64 = std::uint64_t;

std::uint16_t le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t le32(const unsigned char* p) { return le16(p) | static_cast<std::uint32_t>(le16(p + 2)) << 16; }

char16_t fold(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c; }

bool same_text(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (fold(a[i]) != fold(b[i])) return false;
  return true;
}

// A name entry's offset, or a subdirectory's (the other kind of entry holds
// a number, or the offset of a data description).
constexpr std::uint32_t kHighBit = 0x80000000u;

// The part of a section that the file holds: a loaded image would have
// zeros past it, which a resource never needs.
struct Section {
  u64 address, size, offset;
};

// The headers of a PE file, read through its section table. All arithmetic is
// in 64 bits, so no sum of 32-bit fields can wrap.
class Image {
 public:
  explicit Image(rt::ZipInput& file) : file_(file), size_(file.size()) {}

  // False when the file is no PE image or has no resource directory.
  bool open();

  // Exactly n bytes at offset; false, without asking the file, past its end.
  bool read(u64 offset, void* buffer, std::size_t n) {
    return offset <= size_ && n <= size_ - offset && (n == 0 || file_.read_at(offset, buffer, n));
  }

  // Where n bytes at address rva lie in the file: within what one section
  // holds, and within the file.
  std::optional<u64> locate(u64 rva, u64 n) const {
    for (const Section& s : sections_) {
      if (rva < s.address || rva - s.address > s.size || n > s.size - (rva - s.address)) continue;
      u64 at = s.offset + (rva - s.address);
      if (at > size_ || n > size_ - at) return std::nullopt;
      return at;
    }
    return std::nullopt;
  }

  bool read_rva(u64 rva, void* buffer, std::size_t n) {
    std::optional<u64> at = locate(rva, n);
    return at && read(*at, buffer, n);
  }

  std::uint32_t resources = 0, resources_size = 0;

 private:
  rt::ZipInput& file_;
  u64 size_;
  std::vector<Section> sections_;
};

bool Image::open() {
  unsigned char dos[64];
  if (!read(0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return false;
  u64 pe = le32(dos + 0x3C);
  // The signature and the file header, then the optional header's magic.
  unsigned char head[26];
  if (!read(pe, head, sizeof head) || std::memcmp(head, "PE\0\0", 4) != 0) return false;
  unsigned section_count = le16(head + 6), optional_size = le16(head + 20);
  // The data directories follow the fixed fields, which are 16 bytes longer
  // in a 64-bit image.
  unsigned directories = le16(head + 24) == 0x10B ? 96 : le16(head + 24) == 0x20B ? 112 : 0;
  if (directories == 0 || optional_size < directories + 3 * 8) return false;
  u64 optional = pe + 24;
  unsigned char count[4], resource_entry[8];
  if (!read(optional + directories - 4, count, 4) || le32(count) < 3 ||
      !read(optional + directories + 2 * 8, resource_entry, 8))
    return false;
  resources = le32(resource_entry);
  resources_size = le32(resource_entry + 4);
  if (resources == 0 || resources_size == 0) return false;

  // Programs have a handful of sections. More than the old loader's limit of
  // 96 are refused: every read searches them, and names are read one by one.
  u64 table = optional + optional_size, table_size = u64{section_count} * 40;
  if (section_count == 0 || section_count > 96 || table > size_ || table_size > size_ - table) return false;
  std::vector<unsigned char> headers(table_size);
  if (!read(table, headers.data(), headers.size())) return false;
  sections_.reserve(section_count);
  for (unsigned i = 0; i < section_count; ++i) {
    const unsigned char* h = headers.data() + 40 * i;
    u64 virtual_size = le32(h + 8), raw_size = le32(h + 16);
    u64 held = virtual_size == 0 || raw_size < virtual_size ? raw_size : virtual_size;
    sections_.push_back({le32(h + 12), held, le32(h + 20)});
  }
  return true;
}

// The resource directory: every offset of its tree counts from its start
// and must stay within its size.
class Tree {
 public:
  explicit Tree(Image& image) : image_(image), start_(image.resources), size_(image.resources_size) {}

  bool read(u64 offset, void* buffer, std::size_t n) {
    return offset <= size_ && n <= size_ - offset && image_.read_rva(start_ + offset, buffer, n);
  }

  // The offset field of the first entry of the directory at `directory`
  // whose identifier is *id (the first entry at all when id is null);
  // nullopt when there is none or the directory is damaged.
  std::optional<std::uint32_t> find(u64 directory, const PeResourceId* id);

 private:
  Image& image_;
  u64 start_, size_;
};

std::optional<std::uint32_t> Tree::find(u64 directory, const PeResourceId* id) {
  unsigned char head[16];
  if (!read(directory, head, sizeof head)) return std::nullopt;
  u64 count = u64{le16(head + 12)} + le16(head + 14), first = directory + 16;
  // The entries must lie inside the directory before any memory is taken
  // for them.
  if (count == 0 || count * 8 > size_ - first) return std::nullopt;
  std::vector<unsigned char> entries(count * 8);
  if (!read(first, entries.data(), entries.size())) return std::nullopt;
  for (u64 i = 0; i < count; ++i) {
    std::uint32_t name = le32(&entries[8 * i]), target = le32(&entries[8 * i + 4]);
    if (id == nullptr) return target;
    if (id->text.empty()) {
      // A number's entry is read by its low 16 bits, as Windows reads it.
      if ((name & kHighBit) == 0 && id->number <= 0xFFFF && (name & 0xFFFF) == id->number) return target;
      continue;
    }
    if ((name & kHighBit) == 0) continue;
    // A name: its length in UTF-16 units, then the units. A name that
    // leaves the directory makes the whole directory untrustworthy.
    u64 at = name & ~kHighBit;
    unsigned char length[2];
    if (!read(at, length, 2)) return std::nullopt;
    if (le16(length) != id->text.size()) continue;
    std::vector<unsigned char> units(2 * id->text.size());
    if (!read(at + 2, units.data(), units.size())) return std::nullopt;
    std::u16string text(id->text.size(), u'\0');
    for (std::size_t k = 0; k < text.size(); ++k) text[k] = static_cast<char16_t>(le16(&units[2 * k]));
    if (same_text(text, id->text)) return target;
  }
  return std::nullopt;
}

// ---- version information ---------------------------------------------------

// A block of the version information: its length (the blocks inside
// included), its value's length (UTF-16 units in a text, bytes otherwise),
// its type (1: text), a key ended by a zero, then the value and the blocks
// inside, each at a multiple of 4 bytes from the start.
struct Block {
  std::size_t end = 0;
  std::u16string key;
  std::size_t value = 0, value_length = 0;
  bool text = false;
  std::size_t children = 0;
};

std::size_t align4(std::size_t n) { return (n + 3) & ~std::size_t{3}; }

class VersionReader {
 public:
  explicit VersionReader(std::string_view data) : data_(data) {}

  std::uint16_t u16(std::size_t at) const { return le16(reinterpret_cast<const unsigned char*>(data_.data()) + at); }

  // The block at `at` (at most `end`), which must end by `end`; nullopt when
  // it does not, or its key does not end inside it.
  std::optional<Block> block(std::size_t at, std::size_t end) const {
    if (at > end || end - at < 6) return std::nullopt;
    std::size_t length = u16(at);
    if (length < 6 || length > end - at) return std::nullopt;
    Block b;
    b.end = at + length;
    b.value_length = u16(at + 2);
    b.text = u16(at + 4) == 1;
    std::size_t i = at + 6;
    for (;; i += 2) {
      if (b.end - i < 2) return std::nullopt;
      if (u16(i) == 0) break;
      b.key += static_cast<char16_t>(u16(i));
    }
    b.value = align4(i + 2);
    b.children = align4(b.value + (b.text ? 2 : 1) * b.value_length);
    return b;
  }

  // The blocks inside `parent`; nullopt when one of them is damaged. Fewer
  // bytes than a block needs, or a length of 0, is padding: the end.
  std::optional<std::vector<Block>> children(const Block& parent) const {
    std::vector<Block> out;
    for (std::size_t at = parent.children; at < parent.end && parent.end - at >= 6 && u16(at) != 0;) {
      std::optional<Block> b = block(at, parent.end);
      if (!b) return std::nullopt;
      at = align4(b->end);
      out.push_back(std::move(*b));
    }
    return out;
  }

  // A string's value: up to its length, its first zero or its block's end.
  std::u16string text(const Block& b) const {
    std::u16string out;
    std::size_t units = b.text ? b.value_length : b.value_length / 2;
    for (std::size_t i = b.value; out.size() < units && i < b.end && b.end - i >= 2 && u16(i) != 0; i += 2)
      out += static_cast<char16_t>(u16(i));
    return out;
  }

 private:
  std::string_view data_;
};

}  // namespace

std::optional<std::string> read_pe_resource(rt::ZipInput& file, const PeResourceId& type, const PeResourceId& name,
                                            std::size_t limit) {
  Image image(file);
  if (!image.open()) return std::nullopt;
  Tree tree(image);
  // Three levels, as Windows has them: type and name lead to directories,
  // the language to the data's description. A directory that points back up
  // the tree ends the walk at the third level, where a description must be.
  const PeResourceId* levels[] = {&type, &name, nullptr};
  u64 at = 0;
  for (std::size_t level = 0; level < 3; ++level) {
    std::optional<std::uint32_t> target = tree.find(at, levels[level]);
    bool directory = target && (*target & kHighBit) != 0;
    if (!target || directory != (level < 2)) return std::nullopt;
    at = *target & ~kHighBit;
  }
  unsigned char entry[16];
  if (!tree.read(at, entry, sizeof entry)) return std::nullopt;
  std::uint32_t rva = le32(entry), size = le32(entry + 4);
  if (size > limit) return std::nullopt;
  // The bytes must be in the file before memory is taken for them.
  std::optional<u64> offset = image.locate(rva, size);
  if (!offset) return std::nullopt;
  std::string data(size, '\0');
  if (!image.read(*offset, data.data(), data.size())) return std::nullopt;
  return data;
}

std::optional<VersionStrings> read_version_strings(rt::ZipInput& file) {
  // Every length inside is a 16-bit number: the information fits in 64 KB.
  std::optional<std::string> data = read_pe_resource(file, PeResourceId::of(16), PeResourceId::of(1), 0x10000);
  if (!data) return std::nullopt;
  VersionReader reader(*data);
  std::optional<Block> root = reader.block(0, data->size());
  if (!root || !same_text(root->key, u"VS_VERSION_INFO")) return std::nullopt;
  std::optional<std::vector<Block>> blocks = reader.children(*root);
  if (!blocks) return std::nullopt;
  for (const Block& b : *blocks) {
    if (!same_text(b.key, u"StringFileInfo")) continue;
    std::optional<std::vector<Block>> tables = reader.children(b);
    if (!tables || tables->empty()) return std::nullopt;
    std::optional<std::vector<Block>> strings = reader.children(tables->front());
    if (!strings) return std::nullopt;
    VersionStrings out;
    struct {
      std::u16string_view key;
      std::u16string VersionStrings::*field;
    } const fields[] = {{u"CompanyName", &VersionStrings::company},
                        {u"ProductName", &VersionStrings::product},
                        {u"FileDescription", &VersionStrings::description},
                        {u"OriginalFilename", &VersionStrings::original_filename},
                        {u"ProductVersion", &VersionStrings::product_version},
                        {u"FileVersion", &VersionStrings::file_version}};
    bool seen[std::size(fields)] = {};
    for (const Block& s : *strings)
      for (std::size_t f = 0; f < std::size(fields); ++f)
        if (!seen[f] && same_text(s.key, fields[f].key)) {
          out.*fields[f].field = reader.text(s);
          seen[f] = true;
        }
    return out;
  }
  return std::nullopt;
}

}  // namespace installer
