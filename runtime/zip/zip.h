// The archive services: open a ZIP file by name, count and describe its
// entries, extract an entry to a path (folders on the way, attributes and
// times), close. An archive belongs to the thread that opened it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "runtime/value/value.h"
#include "runtime/zip/zip_fs.h"
#include "runtime/zip/zip_reader.h"

namespace rt {

// What the caller of an exact extraction wants to know and decide.
struct ExtractNotes {
  // Each folder and file the extraction is about to create, told before it
  // is made (a journal written then can take back an extraction killed at any
  // point): a folder, the temporary file a file is written under, and a new
  // file's own name before the complete file takes it. False stops the entry.
  std::function<bool(const std::u16string& path, bool folder)> creating;
  // An existing file about to be replaced: the callee may move it aside (and
  // keep it until the caller's run ends). False refuses the replacement. A
  // file still in place is replaced by the complete one in one step.
  std::function<bool(const std::u16string& path)> set_aside;
  // Whether an existing read-only file may lose that bit to be replaced.
  std::function<bool(const std::u16string& path)> may_replace_read_only;
};

class ZipArchive {
 public:
  ZipArchive();
  ~ZipArchive();
  ZipArchive(const ZipArchive&) = delete;
  ZipArchive& operator=(const ZipArchive&) = delete;
  // Opens the file and reads its directory; relative destinations are later
  // taken below the current directory of this moment.
  std::uint32_t open(const Text& path, const std::optional<Text>& password = std::nullopt);
  // The same over any source of the archive's bytes.
  std::uint32_t open(std::unique_ptr<ZipInput> input, const std::optional<Text>& password = std::nullopt);
  // Extracts entry `index` to the full path `destination` exactly as given:
  // no conversion, so the entry-name check runs on the very text the file
  // call receives. The file is written under a temporary name in its folder
  // and takes its own name only once complete, through the handle it was
  // written with; a failure leaves nothing. The folders on the way are held
  // open until close(); a link at any level is never written through.
  std::uint32_t extract_exact(std::int64_t index, const std::u16string& destination, const ExtractNotes& notes);
  // Inflates the file entries from `first` on, in order, on a second thread
  // while the caller writes them: extract_exact of those entries, in that
  // order, takes their bytes from it, with a few pieces waiting at most
  // (memory stays flat). Only the archive is read over there; every note and
  // every change to the disk stays on the caller's thread, in order, so a
  // failure or a stop between two entries leaves what the notes told. Any
  // other extraction, and close(), stop it. False when no thread could be
  // started: extraction then inflates as before.
  bool read_ahead(std::int64_t first = 0);
  void close();
  bool is_open() const { return reader_.is_open(); }
  std::size_t count() const { return reader_.count(); }
  std::uint32_t describe(std::int64_t index, ZipEntry& out);
  std::uint32_t extract(std::int64_t index, const Text& destination);

 private:
  std::uint32_t extract_file(std::int64_t index, const ZipEntry& entry, const std::u16string& path,
                             const ExtractNotes* notes);
  // The entry as describe() gave it last (extracting right after describing
  // it needs no second description).
  std::uint32_t entry_of(std::int64_t index, ZipEntry& out);
  // The held folder an absolute path names, its missing levels made (each
  // told to notes.creating first); null when a level is a link or a file,
  // or cannot be made or held. Every level is held relative to the one
  // above, and stays held (a bounded number of them) until close().
  zip_fs::HeldFolder* held_folder(const std::u16string& folder, const ExtractNotes& notes);
  // The entry's bytes piece by piece, from the read-ahead when it has them,
  // else from the reader here: begin, then next until 0 bytes (with result 0
  // at the entry's complete end).
  std::uint32_t begin_bytes(std::int64_t index);
  std::size_t next_bytes(const std::uint8_t*& data, std::uint32_t& result);
  void stop_read_ahead();

  struct Ahead;
  std::unique_ptr<Ahead> ahead_;
  bool from_ahead_ = false;  // the entry being written comes from the read-ahead
  std::int64_t reading_index_ = -1;

  ZipReader reader_;
  ZipEntry described_;  // index -1 when none
  // The folders exact extraction made or checked, held open (so that they
  // stay what was checked), by their paths. Bounded: past the limit they
  // are let go and checked again when next used.
  std::map<std::u16string, std::unique_ptr<zip_fs::HeldFolder>> folders_;
  std::optional<std::string> password_;
  std::u16string base_;  // with a trailing separator
  std::unique_ptr<std::uint8_t[]> buffer_;  // output pieces, made on first extraction
};

// The services over an archive variable.
using ZipVariable = std::unique_ptr<ZipArchive>;

// The record zip_entry_info gives: times as OLE dates in local time; index
// -1 when the entry could not be described.
struct ZipEntryInfo {
  std::int32_t index = -1;
  Text name;
  std::uint32_t attributes = 0;
  double access_time = 0, creation_time = 0, modification_time = 0;
  std::int32_t compressed_size = 0, uncompressed_size = 0;
};

// Whatever the variable held is closed first; true when opened.
bool zip_open(ZipVariable& archive, const Text& path, const std::optional<Text>& password = std::nullopt);
int zip_entry_count(const ZipVariable& archive);
ZipEntryInfo zip_entry_info(const ZipVariable& archive, int index);
std::uint32_t zip_extract_entry(const ZipVariable& archive, int index, const Text& destination);
// Closes and clears; an empty variable is left alone.
void zip_close(ZipVariable& archive);

}  // namespace rt
