// Reading ZIP archives (PKWARE's format, as Info-ZIP, 7-Zip, libarchive,
// Python and minizip write it): the end records (ZIP64 too), the central
// directory, local headers, stored and deflated data, traditional PKWARE
// decryption. Portable: the archive comes through ZipInput and local times
// through zip_fs; writing files is the business of runtime/zip.h.
//
// Everything in an archive is untrusted: every length is checked against
// what was read, an entry never yields more bytes than its declared size,
// and its CRC-32 is checked at its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "runtime/zip/zip_input.h"

namespace rt {

// Result codes of the archive services (0 = success).
enum ZipResult : std::uint32_t {
  kZipOk = 0,
  kZipBadArgument = 0x10000,    // no archive, index out of range, refused name
  kZipNotOpen = 0x80000,        // the object is not an open reader
  kZipAlreadyOpen = 0x1000000,  // the reader is already open
  kZipCannotSeek = 0x2000000,   // the file cannot be positioned or read
  kZipCannotOpen = 0x200,       // archive or directory unreadable; output file not created
  kZipWriteFailed = 0x400,
  kZipBadLocalHeader = 0x700,   // local header missing or inconsistent
  kZipBadLocalExtra = 0x800,
  kZipWrongPassword = 0x1000,
  kZipDamaged = 0x5000000,      // data damaged, CRC or size mismatch, method not supported
  kZipNoArchive = 0x40000,      // the variable holds no archive
};

// Windows file attributes as entries carry them.
enum : std::uint32_t {
  kAttrReadOnly = 0x1,
  kAttrHidden = 0x2,
  kAttrSystem = 0x4,
  kAttrDirectory = 0x10,
  kAttrArchive = 0x20,
};

// The description of one entry.
struct ZipEntry {
  std::int32_t index = -1;
  // The stored name after clean-up, code page 936, at most 259 bytes.
  std::string name;
  // The same name in UTF-16 (exact also for names stored as UTF-8 that code
  // page 936 cannot hold).
  std::u16string wide_name;
  bool name_lossy = false;  // name lost characters that wide_name keeps
  // The name as the archive stores it (to its first zero byte), before the
  // clean-up: what is_refused_stored_name() judges and messages show.
  std::u16string stored_name;
  std::uint32_t attributes = 0;
  // FILETIME values (100 ns since 1601, UTC); 0 when unknown.
  std::uint64_t access_time = 0;
  std::uint64_t creation_time = 0;
  std::uint64_t modification_time = 0;
  std::int32_t compressed_size = 0;
  std::int32_t uncompressed_size = 0;
  bool is_directory() const { return (attributes & kAttrDirectory) != 0; }
};

// The name clean-up: repeatedly drops a leading drive prefix, a leading
// separator, and everything up to the last separator-".."-separator.
std::u16string clean_entry_name(std::u16string name);
// True for a cleaned name that would still leave the folder it is extracted
// into or name a stream or a device: ".." (also ".. " or "...", which Windows
// may read as "..") as any component, a ":", or a device name (CON, PRN, AUX,
// NUL, COM1-9, LPT1-9 and COM¹-³, LPT¹-³, with or without an extension).
bool is_unsafe_entry_name(const std::u16string& cleaned);
// True for a name as stored that the clean-up would have to change to keep
// it in its folder, or that is unsafe as it is: a drive ("C:") or any other
// ":", a ".." component, a device name, or a first separator (the root of a
// drive or a network share). The installer refuses a package holding one
// as damaged, before anything is written.
bool is_refused_stored_name(const std::u16string& stored);
// Windows attributes for the external attributes and the host system.
std::uint32_t entry_attributes(std::uint16_t version_made_by, std::uint32_t external);

class ZipReader {
 public:
  ZipReader();
  ~ZipReader();
  ZipReader(const ZipReader&) = delete;
  ZipReader& operator=(const ZipReader&) = delete;

  // Reads the end records and the whole central directory.
  std::uint32_t open(std::unique_ptr<ZipInput> input);
  bool is_open() const { return input_ != nullptr; }
  void close();
  std::size_t count() const;

  // Describes entry `index` (from 0); ends the entry being read.
  std::uint32_t describe(std::int64_t index, ZipEntry& out);
  // The same description, leaving the entry being read alone: it reads only
  // the directory held in memory, so another thread may be reading an
  // entry's data meanwhile.
  std::uint32_t info(std::int64_t index, ZipEntry& out) const;
  // Whether entry `index` is a folder, as info() would say (without the
  // times, which ask the system's time zone).
  bool is_folder(std::int64_t index) const;

  // Starts reading entry `index`'s data: checks its method, local header and
  // password. A missing password for an encrypted entry is a wrong one.
  std::uint32_t begin_entry(std::int64_t index, const std::optional<std::string>& password);
  // Whether entry `index` can be decoded at all (method, sizes).
  std::uint32_t check_supported(std::int64_t index) const;
  // Decodes up to `capacity` bytes into `out`. Returns the number of bytes;
  // 0 with `result` 0 means the entry ended complete with a matching CRC-32.
  // Any failure sets `result` and ends the entry.
  std::size_t read_entry(void* out, std::size_t capacity, std::uint32_t& result);
  void end_entry();

 private:
  struct Entry;
  struct Stream;
  bool read_central_directory(ZipInput& in, std::uint64_t offset, std::uint64_t size, std::uint64_t declared_count,
                              bool zip64);
  std::size_t fill_input(std::uint32_t& result);
  std::u16string stored_name(const Entry& e) const;
  bool entries_overlap() const;

  std::unique_ptr<ZipInput> input_;
  std::vector<Entry> entries_;
  std::unique_ptr<Stream> stream_;
  std::int64_t current_ = -1;  // entry being read
};

}  // namespace rt
