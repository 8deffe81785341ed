#include "runtime/zip/zip.h"

#include <string>
#include <vector>

#include "runtime/value/codepage.h"
#include "runtime/zip/zip_fs.h"

namespace rt {

namespace {

// Output is written in pieces of this size through one buffer per archive:
// each write is a system call (under Wine a trip through its server), so
// fewer and larger ones.
constexpr std::size_t kPiece = 256 * 1024;
// Folders held open at once by exact extraction.
constexpr std::size_t kHeldFolders = 256;
// Pieces the read-ahead may have inflated before the writer takes them: a
// little over a megabyte whatever the archive holds.
constexpr std::size_t kAheadPieces = 6;

bool is_separator(char16_t c) { return c == u'/' || c == u'\\'; }
bool is_absolute(const std::u16string& p) { return (p.size() >= 2 && p[1] == u':') || (!p.empty() && is_separator(p[0])); }

// Creates the missing folders of `path` level by level, from position `from`
// on (below the base directory for relative destinations).
void create_levels(const std::u16string& path, std::size_t from) {
  for (std::size_t i = from + 1; i <= path.size(); ++i) {
    if (i < path.size() && !is_separator(path[i])) continue;
    if (is_separator(path[i - 1])) continue;           // doubled separators
    if (i == 2 && path[1] == u':') continue;          // a drive
    std::u16string level = path.substr(0, i);
    if (zip_fs::path_kind(level) == zip_fs::PathKind::Missing) zip_fs::create_directory(level);
  }
}

}  // namespace

// The read-ahead: a thread that inflates the file entries in order into a
// few pieces, which the writing thread takes in the same order.
struct ZipArchive::Ahead {
  struct Piece {
    std::int64_t index = -1;
    std::size_t n = 0;
    std::uint32_t result = kZipOk;  // n 0 with result 0: the entry ended complete
    std::uint8_t* data = nullptr;
  };
  zip_fs::Gate gate;                          // guards everything below but the storage
  std::vector<std::unique_ptr<std::uint8_t[]>> storage;
  std::vector<std::uint8_t*> free;            // pieces to inflate into
  std::vector<Piece> ready;                   // inflated, in order (a few at most)
  bool stop = false;                          // the writer wants no more
  bool ended = false;                         // the inflating thread is done
  std::uint8_t* taken = nullptr;              // the piece the writer is writing (its thread only)
  std::unique_ptr<zip_fs::Thread> thread;

  Ahead() {
    for (std::size_t i = 0; i < kAheadPieces; ++i) {
      storage.push_back(std::make_unique<std::uint8_t[]>(kPiece));
      free.push_back(storage.back().get());
    }
  }

  // ---- the inflating thread ----
  std::uint8_t* free_piece() {
    gate.lock();
    while (!stop && free.empty()) gate.wait();
    std::uint8_t* p = nullptr;
    if (!stop) {
      p = free.back();
      free.pop_back();
    }
    gate.unlock();
    return p;
  }
  void put(const Piece& piece) {
    gate.lock();
    ready.push_back(piece);
    gate.wake();
    gate.unlock();
  }
  void run(ZipReader& reader, const std::optional<std::string>& password, std::int64_t first) {
    for (std::int64_t i = first; i < std::int64_t(reader.count()); ++i) {
      // Folders have no bytes; what cannot be read is the writer's to find.
      if (reader.is_folder(i)) continue;
      std::uint32_t r = reader.check_supported(i);
      if (r == kZipOk) r = reader.begin_entry(i, password);
      if (r != kZipOk) {
        put({i, 0, r, nullptr});
        break;
      }
      for (;;) {
        std::uint8_t* p = free_piece();
        if (!p) {
          reader.end_entry();
          i = std::int64_t(reader.count());  // stopped
          break;
        }
        std::size_t n = reader.read_entry(p, kPiece, r);
        put({i, n, r, p});
        if (r != kZipOk || n == 0) break;
      }
      if (r != kZipOk) break;  // the writer stops at that entry
    }
    gate.lock();
    ended = true;
    gate.wake();
    gate.unlock();
  }

  // ---- the writing thread ----
  void give_back() {
    if (!taken) return;
    gate.lock();
    free.push_back(taken);
    taken = nullptr;
    gate.wake();
    gate.unlock();
  }
  // Drops what is left of entries before `index` (the gate held), waiting
  // while the read-ahead has nothing to show and has not ended.
  void skip_before(std::int64_t index) {
    for (;;) {
      while (ready.empty() && !ended) gate.wait();
      if (ready.empty() || ready.front().index >= index) return;
      if (ready.front().data) free.push_back(ready.front().data);
      ready.erase(ready.begin());
      gate.wake();
    }
  }
  // The next piece of entry `index`, passing over what is left of earlier
  // entries; false when the read-ahead went past it or ended before it.
  bool next(std::int64_t index, Piece& out) {
    give_back();
    gate.lock();
    skip_before(index);
    bool found = !ready.empty() && ready.front().index == index;
    if (found) {
      out = ready.front();
      ready.erase(ready.begin());
      taken = out.data;
    }
    gate.unlock();
    return found;
  }
  // Whether the read-ahead will still hand out entry `index` (it has not gone past it).
  bool reaches(std::int64_t index) {
    give_back();
    gate.lock();
    skip_before(index);
    bool yes = !ready.empty() && ready.front().index == index;
    gate.unlock();
    return yes;
  }
  void finish() {
    gate.lock();
    stop = true;
    gate.wake();
    gate.unlock();
    thread.reset();  // waits for its end
  }
};

ZipArchive::ZipArchive() = default;
ZipArchive::~ZipArchive() { close(); }

bool ZipArchive::read_ahead(std::int64_t first) {
  stop_read_ahead();
  if (!reader_.is_open()) return false;
  reader_.end_entry();
  auto ahead = std::make_unique<Ahead>();
  Ahead* a = ahead.get();
  ahead->thread = zip_fs::start_thread([this, a, first] { a->run(reader_, password_, first); });
  if (!ahead->thread) return false;
  ahead_ = std::move(ahead);
  return true;
}

void ZipArchive::stop_read_ahead() {
  if (!ahead_) return;
  ahead_->finish();
  ahead_.reset();
  from_ahead_ = false;
  reader_.end_entry();
}

std::uint32_t ZipArchive::begin_bytes(std::int64_t index) {
  from_ahead_ = false;
  if (ahead_) {
    if (ahead_->reaches(index)) {
      from_ahead_ = true;
      return kZipOk;
    }
    stop_read_ahead();  // asked out of its order: inflated here from now on
  }
  return reader_.begin_entry(index, password_);
}

std::size_t ZipArchive::next_bytes(const std::uint8_t*& data, std::uint32_t& result) {
  if (!from_ahead_) {
    if (!buffer_) buffer_ = std::make_unique<std::uint8_t[]>(kPiece);
    data = buffer_.get();
    return reader_.read_entry(buffer_.get(), kPiece, result);
  }
  Ahead::Piece piece;
  if (!ahead_->next(reading_index_, piece)) {
    result = kZipCannotSeek;
    return 0;
  }
  data = piece.data;
  result = piece.result;
  return piece.n;
}

std::uint32_t ZipArchive::open(const Text& path, const std::optional<Text>& password) {
  if (reader_.is_open()) return kZipAlreadyOpen;
  std::unique_ptr<ZipInput> input = zip_fs::open_input(path);
  if (!input) return kZipCannotOpen;
  return open(std::move(input), password);
}

std::uint32_t ZipArchive::open(std::unique_ptr<ZipInput> input, const std::optional<Text>& password) {
  if (reader_.is_open()) return kZipAlreadyOpen;
  if (!input) return kZipCannotOpen;
  if (std::uint32_t r = reader_.open(std::move(input))) return r;
  password_.reset();
  if (password) password_ = password->str();
  base_ = zip_fs::current_directory();
  return kZipOk;
}

void ZipArchive::close() {
  stop_read_ahead();
  folders_.clear();
  reader_.close();
  password_.reset();
  buffer_.reset();
  described_ = ZipEntry();
}

std::uint32_t ZipArchive::describe(std::int64_t index, ZipEntry& out) {
  // While the read-ahead inflates, the entry it reads is left alone.
  std::uint32_t r = ahead_ ? reader_.info(index, out) : reader_.describe(index, out);
  if (r == kZipOk) described_ = out;
  else described_.index = -1;
  return r;
}

std::uint32_t ZipArchive::entry_of(std::int64_t index, ZipEntry& out) {
  if (!reader_.is_open()) return kZipNotOpen;
  if (described_.index >= 0 && described_.index == index) {
    out = described_;
    return kZipOk;
  }
  return describe(index, out);
}

zip_fs::HeldFolder* ZipArchive::held_folder(const std::u16string& folder, const ExtractNotes& notes) {
  // The drive's root ("X:\") or the file system's ("/"); then each level
  // held relative to the one above.
  std::u16string key;
  std::size_t at = 0;
  if (folder.size() >= 2 && folder[1] == u':') {
    key = folder.substr(0, 2) + u"\\";
    at = 2;
  } else if (!folder.empty() && is_separator(folder[0])) {
    key = u"/";
  } else {
    return nullptr;
  }
  if (folders_.size() >= kHeldFolders) folders_.clear();
  auto known = folders_.find(key);
  if (known == folders_.end()) {
    auto root = zip_fs::hold_folder(key);
    if (!root) return nullptr;
    known = folders_.emplace(key, std::move(root)).first;
  }
  zip_fs::HeldFolder* current = known->second.get();
  while (at < folder.size()) {
    while (at < folder.size() && is_separator(folder[at])) ++at;
    std::size_t end = at;
    while (end < folder.size() && !is_separator(folder[end])) ++end;
    if (end == at) break;
    std::u16string name = folder.substr(at, end - at);
    if (name == u"." || name == u"..") return nullptr;
    key += name;
    key += u'\\';
    known = folders_.find(key);
    if (known == folders_.end()) {
      const zip_fs::PathInfo there = current->info(name);
      std::unique_ptr<zip_fs::HeldFolder> next;
      if (there.kind == zip_fs::PathKind::Missing) {
        if (notes.creating && !notes.creating(folder.substr(0, end), true)) return nullptr;
        next = current->make(name);
        if (!next) next = current->open(name);  // made meanwhile by someone else: looked at as any other
      } else if (there.kind == zip_fs::PathKind::Directory && !there.link) {
        next = current->open(name);
      }
      // A link or a file in the way is never written through.
      if (!next) return nullptr;
      known = folders_.emplace(key, std::move(next)).first;
    }
    current = known->second.get();
    at = end;
  }
  return current;
}

std::uint32_t ZipArchive::extract(std::int64_t index, const Text& destination) {
  if (!reader_.is_open()) return kZipNotOpen;
  stop_read_ahead();
  ZipEntry entry;
  if (std::uint32_t r = reader_.describe(index, entry)) return r;
  // No entry may write above the folder it is extracted into.
  if (is_unsafe_entry_name(entry.wide_name)) return kZipBadArgument;

  std::string dest = destination.str();
  std::u16string path = wide_from_cp936(dest);
  // A name stored as UTF-8 that code page 936 cannot hold reached the caller
  // with '?' in it: the file gets its exact name.
  if (entry.name_lossy && !entry.name.empty() && dest.size() >= entry.name.size() &&
      dest.compare(dest.size() - entry.name.size(), entry.name.size(), entry.name) == 0)
    path = wide_from_cp936(std::string_view(dest).substr(0, dest.size() - entry.name.size())) + entry.wide_name;

  if (entry.is_directory()) {
    std::u16string full = is_absolute(path) ? path : base_ + path;
    create_levels(full, is_absolute(path) ? 0 : base_.size() - 1);
    while (full.size() > 1 && is_separator(full.back())) full.pop_back();
    return zip_fs::path_kind(full) == zip_fs::PathKind::Directory ? kZipOk : kZipCannotOpen;
  }
  std::size_t cut = path.find_last_of(u"\\/");
  std::u16string folder = cut == std::u16string::npos ? std::u16string() : path.substr(0, cut + 1);
  std::u16string full = (is_absolute(folder) ? std::u16string() : base_) + folder;
  create_levels(full, is_absolute(folder) ? 0 : base_.size() - 1);
  full += cut == std::u16string::npos ? path : path.substr(cut + 1);
  return extract_file(index, entry, full, nullptr);
}

std::uint32_t ZipArchive::extract_exact(std::int64_t index, const std::u16string& destination,
                                        const ExtractNotes& notes) {
  if (!reader_.is_open()) return kZipNotOpen;
  ZipEntry entry;
  if (std::uint32_t r = entry_of(index, entry)) return r;
  if (is_unsafe_entry_name(entry.wide_name)) return kZipBadArgument;
  if (!is_absolute(destination)) return kZipBadArgument;
  if (entry.is_directory()) return held_folder(destination, notes) ? kZipOk : kZipCannotOpen;
  return extract_file(index, entry, destination, &notes);
}

std::uint32_t ZipArchive::extract_file(std::int64_t index, const ZipEntry& entry, const std::u16string& path,
                                       const ExtractNotes* notes) {
  // A method we cannot decode leaves no file rather than a wrong one.
  if (std::uint32_t r = reader_.check_supported(index)) return r;
  std::uint32_t attributes = entry.attributes & ~std::uint32_t(kAttrDirectory);
  if (!notes) {
    stop_read_ahead();
    auto out = zip_fs::create_file(path, attributes);
    if (!out) return kZipCannotOpen;
    if (std::uint32_t r = reader_.begin_entry(index, password_)) return r;
    if (!buffer_) buffer_ = std::make_unique<std::uint8_t[]>(kPiece);
    for (;;) {
      std::uint32_t r = kZipOk;
      std::size_t n = reader_.read_entry(buffer_.get(), kPiece, r);
      if (r) return r;  // what was written so far stays
      if (n == 0) break;
      if (!out->write(buffer_.get(), n)) {
        reader_.end_entry();
        return kZipWriteFailed;
      }
    }
    out->set_times(entry.creation_time, entry.access_time, entry.modification_time);
    return kZipOk;
  }

  // What is in the way: a folder or a link is never replaced; a read-only
  // file only where the caller allows it. Everything here is done relative
  // to the held folder the file lies in.
  std::size_t cut = path.find_last_of(u"\\/");
  if (cut == std::u16string::npos || cut + 1 == path.size()) return kZipBadArgument;
  zip_fs::HeldFolder* folder = held_folder(path.substr(0, cut), *notes);
  if (!folder) return kZipCannotOpen;
  const std::u16string name = path.substr(cut + 1);
  const zip_fs::PathInfo existing = folder->info(name);
  if (existing.kind == zip_fs::PathKind::Directory || existing.link) return kZipCannotOpen;
  if (existing.kind == zip_fs::PathKind::File && existing.read_only) {
    if (!notes->may_replace_read_only || !notes->may_replace_read_only(path)) return kZipCannotOpen;
  }
  // A temporary name beside the file, never one that exists. Its attributes
  // come with its times at the end (a read-only file could not be renamed
  // into place over an old one everywhere).
  std::u16string temporary;
  std::unique_ptr<zip_fs::OutputFile> out;
  for (int attempt = 0; attempt < 100 && !out; ++attempt) {
    std::u16string part = name + u".~" + wide_from_cp936(std::to_string(attempt)) + u".part";
    if (folder->info(part).kind != zip_fs::PathKind::Missing) continue;
    temporary = path + part.substr(name.size());
    if (notes->creating && !notes->creating(temporary, false)) return kZipCannotOpen;
    out = folder->create_new_file(part, 0);
  }
  if (!out) return kZipCannotOpen;
  reading_index_ = index;
  std::uint32_t result = begin_bytes(index);
  while (result == kZipOk) {
    const std::uint8_t* data = nullptr;
    std::size_t n = next_bytes(data, result);
    if (result || n == 0) break;
    if (!out->write(data, n)) {
      if (!from_ahead_) reader_.end_entry();
      result = kZipWriteFailed;
    }
  }
  if (from_ahead_) ahead_->give_back();
  if (result == kZipOk &&
      !out->finish(attributes, entry.creation_time, entry.access_time, entry.modification_time))
    result = kZipWriteFailed;
  if (result == kZipOk && existing.kind == zip_fs::PathKind::File) {
    // The earlier file is kept aside where the caller wants it; else it is
    // replaced in one step (its read-only bit cleared where allowed above).
    if (notes->set_aside && !notes->set_aside(path)) {
      result = kZipWriteFailed;
    } else if (existing.read_only && folder->info(name).kind == zip_fs::PathKind::File) {
      folder->clear_read_only(name);
    }
  }
  if (result == kZipOk && existing.kind == zip_fs::PathKind::Missing && notes->creating &&
      !notes->creating(path, false))
    result = kZipWriteFailed;
  if (result == kZipOk && !out->rename_to(*folder, name)) result = kZipWriteFailed;
  if (result != kZipOk) {
    out->discard();
    return result;
  }
  return kZipOk;
}

// ---- services --------------------------------------------------------------

bool zip_open(ZipVariable& archive, const Text& path, const std::optional<Text>& password) {
  zip_close(archive);
  auto a = std::make_unique<ZipArchive>();
  if (a->open(path, password) != kZipOk) return false;
  archive = std::move(a);
  return true;
}

int zip_entry_count(const ZipVariable& archive) {
  return archive && archive->is_open() ? int(archive->count()) : 0;
}

ZipEntryInfo zip_entry_info(const ZipVariable& archive, int index) {
  ZipEntryInfo info;
  ZipEntry e;
  if (!archive || archive->describe(index, e) != kZipOk) return info;
  info.index = e.index;
  info.name = Text(e.name);
  info.attributes = e.attributes;
  info.access_time = zip_fs::local_ole_date(e.access_time);
  info.creation_time = zip_fs::local_ole_date(e.creation_time);
  info.modification_time = zip_fs::local_ole_date(e.modification_time);
  info.compressed_size = e.compressed_size;
  info.uncompressed_size = e.uncompressed_size;
  return info;
}

std::uint32_t zip_extract_entry(const ZipVariable& archive, int index, const Text& destination) {
  if (!archive) return kZipNoArchive;
  return archive->extract(index, destination);
}

void zip_close(ZipVariable& archive) {
  if (!archive) return;
  archive->close();
  archive.reset();
}

}  // namespace rt
