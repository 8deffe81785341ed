#include "runtime/zip/zip.h"

#include <string>

#include "runtime/value/codepage.h"
#include "runtime/zip/zip_fs.h"

namespace rt {

namespace {

// Output is written in pieces of this size through one buffer per archive.
constexpr std::size_t kPiece = 16384;

bool is_separator(char16_t c) { return c == u'/' || c == u'\\'; }
bool is_absolute(const std::u16string& p) { return (p.size() >= 2 && p[1] == u':') || (!p.empty() && is_separator(p[0])); }

// Creates the missing folders of `path` level by level, from position `from`
// on (below the base directory for relative destinations). False when a
// level is refused (a link at or past notes->links_refused_from).
bool create_levels(const std::u16string& path, std::size_t from, const ExtractNotes* notes = nullptr) {
  for (std::size_t i = from + 1; i <= path.size(); ++i) {
    if (i < path.size() && !is_separator(path[i])) continue;
    if (is_separator(path[i - 1])) continue;           // doubled separators
    if (i == 2 && path[1] == u':') continue;          // a drive
    std::u16string level = path.substr(0, i);
    zip_fs::PathKind kind = zip_fs::path_kind(level);
    if (kind == zip_fs::PathKind::Missing) {
      if (zip_fs::create_directory(level) && notes && notes->created) notes->created(level, true);
    } else if (notes && i > notes->links_refused_from && zip_fs::is_link(level)) {
      return false;
    }
  }
  return true;
}

}  // namespace

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
  reader_.close();
  password_.reset();
  buffer_.reset();
}

std::uint32_t ZipArchive::describe(std::int64_t index, ZipEntry& out) { return reader_.describe(index, out); }

std::uint32_t ZipArchive::extract(std::int64_t index, const Text& destination) {
  if (!reader_.is_open()) return kZipNotOpen;
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
  if (std::uint32_t r = reader_.describe(index, entry)) return r;
  if (is_unsafe_entry_name(entry.wide_name)) return kZipBadArgument;
  if (!is_absolute(destination)) return kZipBadArgument;
  if (entry.is_directory()) {
    std::u16string full = destination;
    if (!create_levels(full, 0, &notes)) return kZipCannotOpen;
    while (full.size() > 1 && is_separator(full.back())) full.pop_back();
    return zip_fs::path_kind(full) == zip_fs::PathKind::Directory ? kZipOk : kZipCannotOpen;
  }
  std::size_t cut = destination.find_last_of(u"\\/");
  if (!create_levels(destination.substr(0, cut + 1), 0, &notes)) return kZipCannotOpen;
  return extract_file(index, entry, destination, &notes);
}

std::uint32_t ZipArchive::extract_file(std::int64_t index, const ZipEntry& entry, const std::u16string& path,
                                       const ExtractNotes* notes) {
  // A method we cannot decode leaves no file rather than a wrong one.
  if (std::uint32_t r = reader_.check_supported(index)) return r;
  std::uint32_t attributes = entry.attributes & ~std::uint32_t(kAttrDirectory);
  if (!notes) {
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
  // file only where the caller allows it.
  zip_fs::PathKind existing = zip_fs::path_kind(path);
  if (existing == zip_fs::PathKind::Directory) return kZipCannotOpen;
  if (zip_fs::is_link(path) && path.size() > notes->links_refused_from) return kZipCannotOpen;
  if (existing == zip_fs::PathKind::File && zip_fs::is_read_only(path)) {
    if (!notes->may_replace_read_only || !notes->may_replace_read_only(path)) return kZipCannotOpen;
  }
  // A temporary name beside the file, never one that exists.
  std::u16string temporary;
  std::unique_ptr<zip_fs::OutputFile> out;
  for (int attempt = 0; attempt < 100 && !out; ++attempt) {
    temporary = path + u".~" + wide_from_cp936(std::to_string(attempt)) + u".part";
    out = zip_fs::create_new_file(temporary, attributes);
  }
  if (!out) return kZipCannotOpen;
  std::uint32_t result = reader_.begin_entry(index, password_);
  if (!buffer_) buffer_ = std::make_unique<std::uint8_t[]>(kPiece);
  while (result == kZipOk) {
    std::size_t n = reader_.read_entry(buffer_.get(), kPiece, result);
    if (result || n == 0) break;
    if (!out->write(buffer_.get(), n)) {
      reader_.end_entry();
      result = kZipWriteFailed;
    }
  }
  if (result == kZipOk) out->set_times(entry.creation_time, entry.access_time, entry.modification_time);
  out.reset();
  if (result == kZipOk && existing == zip_fs::PathKind::File && zip_fs::is_read_only(path))
    zip_fs::clear_read_only(path);  // allowed above
  if (result == kZipOk && !zip_fs::replace_file(temporary, path)) result = kZipWriteFailed;
  if (result != kZipOk) {
    zip_fs::remove_file(temporary);
    return result;
  }
  if (existing == zip_fs::PathKind::Missing && notes->created) notes->created(path, false);
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
