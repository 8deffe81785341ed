// Files of the builder, named by UTF-8 paths on every system, and messages.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "mkinstaller/pe_resources.h"

namespace mkinstaller {

std::filesystem::path upath(const std::string& utf8);
std::string ustr(const std::filesystem::path& p);

// The whole file, or nothing with the system's reason in *why.
std::optional<std::string> read_file(const std::string& path, std::string* why);
// Writes through a temporary file next to the target and renames it, so a
// failed run never leaves a half-written file behind.
bool write_file_atomically(const std::string& path, const std::string& bytes, std::string* why);

// A new file made for this run beside `target` (never an existing file or a
// link planted under its name): written, then renamed onto the target or
// removed. Removed when dropped uncommitted.
class TempFile {
 public:
  TempFile() = default;
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  // Creates the file; false with the reason.
  bool create(const std::string& target, std::string* why);
  const std::string& path() const { return path_; }
  // The open file's descriptor (POSIX) for writers that take one; -1 on Windows.
  int release_descriptor();
  bool write(const std::string& bytes, std::string* why) { return write(bytes.data(), bytes.size(), why); }
  bool write(const char* data, std::size_t n, std::string* why);
  // Writes again over bytes already written (a checksum known at the end).
  bool write_at(std::uint64_t offset, const char* data, std::size_t n, std::string* why);
  bool close(std::string* why);
  bool commit(std::string* why);  // closes and renames onto the target
  void discard();

 private:
  std::string target_, path_;
  int fd_ = -1;
  void* handle_ = nullptr;
};

// A regular file opened once and read at offsets, piece by piece: a package
// is checked, hashed and copied through the same open file, never read into
// memory whole. On Windows others cannot write to it while it is open.
class InputFile : public rt::ResourceSource {
 public:
  InputFile() = default;
  ~InputFile() override;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  // False with the reason ("no such file", "is a folder, not a file", ...).
  bool open(const std::string& path, std::string* why);
  std::uint64_t size() const override { return size_; }
  bool read_at(std::uint64_t offset, void* buffer, std::size_t n) override;

 private:
  std::uint64_t size_ = 0;
  int fd_ = -1;
  void* handle_ = nullptr;
};

// Copies a whole source into a file being written; false with the reason.
bool copy_into(rt::ResourceSource& from, TempFile& to, std::string* why);

// Bytes in memory as a resource source (the empty package).
class StringSource : public rt::ResourceSource {
 public:
  explicit StringSource(std::string bytes) : bytes_(std::move(bytes)) {}
  std::uint64_t size() const override { return bytes_.size(); }
  bool read_at(std::uint64_t offset, void* buffer, std::size_t n) override;

 private:
  std::string bytes_;
};

// Refuses an output that would damage something: the same file as one of the
// inputs, a symbolic link, a folder, a device or other special file, or a
// file in a folder that does not exist. *why says which.
bool check_output(const std::string& out, const std::vector<std::string>& inputs, std::string* why);

// A folder only this run uses, under the system's temporary folder; removed
// with what it holds when dropped.
class PrivateFolder {
 public:
  PrivateFolder();
  ~PrivateFolder();
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;
  bool ok() const { return !path_.empty(); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Whether stderr is a terminal (progress is shown only there).
bool stderr_is_terminal();
// "hashing the package: 120/800 MB (15%)" on a terminal, for work on a
// large file only (64 MB and more), at most every 1%; ended by a new line.
class ByteProgress {
 public:
  ByteProgress(std::string what, std::uint64_t total);
  ~ByteProgress() { end(); }
  void step(std::uint64_t bytes);
  void end();

 private:
  std::string what_;
  std::uint64_t total_, done_ = 0;
  bool shown_;
  int last_ = -1;
};

// Runs a command line through the system's shell; its exit status.
int run_command(const std::string& utf8_command);
// A path quoted for the system's shell.
std::string shell_quote(const std::string& utf8_path);

// A file shipped with the tool: next to the tool's own program, or only in
// the folder MKINSTALLER_HOME names when that is set.
std::optional<std::string> find_companion(const std::string& file_name);

// "mkinstaller: error: FILE: MESSAGE" on stderr; returns exit status 1.
int fail(const std::string& file, const std::string& message);
int usage_error(const std::string& command, const std::string& message);
void warn(const std::string& file, const std::string& message);
void out(const std::string& text);  // UTF-8 to stdout

}  // namespace mkinstaller
