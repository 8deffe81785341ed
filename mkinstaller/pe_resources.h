// Portable reader and writer of the resources of a PE image (no Windows API),
// so that installers can be configured on any system.
//
// A PeResources object holds a copy of the file and its resource tree
// (type / name / language). Changing the tree and calling save() gives the
// whole file back with a rebuilt resource section and a consistent section
// table, image size and checksum. A large resource (a package) may stay in
// its file until save() streams it into the output. The tree is laid out as GNU ld lays it out,
// so an unchanged tree of a MinGW program, or of a file this writer made,
// saves byte-identically.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace rt {

// A resource type or name: a 16-bit number or a UTF-16 name. Names are kept
// in upper case, as Windows stores them and compares them case-insensitively.
struct ResourceId {
  std::u16string name;  // empty: the number is the identifier
  std::uint16_t number = 0;

  static ResourceId of_number(std::uint16_t n) { return ResourceId{u"", n}; }
  // "#123" is the number 123 (as FindResource reads it); other texts are
  // names (ASCII letters upper-cased).
  static ResourceId of_text(std::string_view ascii_or_utf8);
  bool is_name() const { return !name.empty(); }
  std::string display() const;  // "SYSTEM", "#16"
  friend bool operator==(const ResourceId& a, const ResourceId& b);
};

struct ResourceInfo {
  ResourceId type;
  ResourceId name;
  std::uint16_t language = 0;
  std::uint32_t codepage = 0;
  std::size_t size = 0;
  std::uint64_t file_offset = 0;  // where its data lies in the file read (0: set since)
};

// Facts about the image that callers check before trusting a file.
struct PeHeaderInfo {
  bool pe32_plus = false;      // optional header magic 0x20B
  std::uint16_t machine = 0;   // 0x14C: i386
  std::uint16_t characteristics = 0;
  std::uint16_t subsystem = 0;  // 2: GUI, 3: console
  // The Authenticode signature (security directory): a file offset and size.
  std::uint32_t certificate_offset = 0, certificate_size = 0;
  // Where the checksum and the signature's directory entry lie: signing
  // changes these and appends the signature, nothing else (0: no entry).
  std::size_t checksum_field = 0, certificate_entry = 0;
  // Where the headers and the sections' file data end: a signature lies
  // after them, where the signed digest skips it.
  std::uint64_t sections_end = 0;
  bool is_dll() const { return (characteristics & 0x2000) != 0; }
  bool is_executable() const { return (characteristics & 0x0002) != 0; }
};

// The bytes of a resource that stay where they are until save() copies
// them, piece by piece, into the output.
class ResourceSource {
 public:
  virtual ~ResourceSource() = default;
  virtual std::uint64_t size() const = 0;
  // Reads exactly n bytes at offset; false on any failure.
  virtual bool read_at(std::uint64_t offset, void* buffer, std::size_t n) = 0;
};

// Where save() writes the file: every byte in order, then a few bytes
// written again (the checksum, known only at the end).
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual bool write(const char* data, std::size_t n) = 0;
  virtual bool write_at(std::uint64_t offset, const char* data, std::size_t n) = 0;
};

class PeResources {
 public:
  PeResources();
  ~PeResources();
  PeResources(PeResources&&) noexcept;
  PeResources& operator=(PeResources&&) noexcept;

  // Reads a whole PE file. On failure returns false and says why in *error
  // (a sentence without the file name, e.g. "not a PE file: no MZ signature").
  bool load(std::string bytes, std::string* error);
  // Reads the headers and the resource tree of a file where it lies, piece
  // by piece: a resource of 1 MB or more stays in the file (find() gives
  // null for it, source() its bytes), so memory stays small whatever the
  // file's size. Such an object is for reading: save() refuses it.
  bool open(std::shared_ptr<ResourceSource> file, std::string* error);

  const PeHeaderInfo& header() const;
  std::vector<ResourceInfo> list() const;
  // The data of a resource; any language when language is negative (the
  // first one in the tree). Null when there is none.
  const std::string* find(const ResourceId& type, const ResourceId& name, int language = -1) const;
  // Any resource's bytes as a source (a copy for those held in memory).
  std::shared_ptr<ResourceSource> source(const ResourceId& type, const ResourceId& name, int language = -1) const;
  // Adds or replaces one resource.
  void set(const ResourceId& type, const ResourceId& name, std::uint16_t language, std::string data,
           std::uint32_t codepage = 0);
  // Adds or replaces one resource whose bytes save() reads from `source`
  // (which must stay unchanged until then); find() gives null for it.
  void set_source(const ResourceId& type, const ResourceId& name, std::uint16_t language,
                  std::shared_ptr<ResourceSource> source, std::uint32_t codepage = 0);
  // Removes a resource (every language when language is negative); empty
  // directories go with it. Returns how many were removed.
  int remove(const ResourceId& type, const ResourceId& name, int language = -1);

  // The whole file with the current resources. Returns false with a reason
  // when the image cannot take them (no room for a section header, too large).
  bool save(std::string* out, std::string* error) const;
  // The same bytes written into `sink`, resources from sources streamed
  // through a small buffer. Checks what save() checks before writing
  // anything; false with a reason when a source or the sink fails too.
  bool save(ByteSink& sink, std::string* error) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The PE checksum of a file image whose checksum field lies at field_offset.
std::uint32_t pe_checksum(std::string_view file, std::size_t field_offset);

}  // namespace rt
