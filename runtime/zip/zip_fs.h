// What the archive services need from the platform: the archive file, local
// time, directories and output files. Windows (zip_win.cpp) uses the wide
// functions; elsewhere (zip_posix.cpp) POSIX calls, with "\" read as "/",
// for the native tests and the benchmark.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "runtime/value/value.h"
#include "runtime/zip/zip_input.h"

namespace rt::zip_fs {

// Opens an existing file for reading, shared for reading; null on failure.
std::unique_ptr<ZipInput> open_input(const Text& path);
#ifdef _WIN32
// Reads the `size` bytes from `base` on through an open file handle, which it
// takes over and closes (Windows only: a run's own file, or the package inside
// the installer's file, read through the handle it checked).
std::unique_ptr<ZipInput> input_from_handle(void* handle, std::uint64_t size, std::uint64_t base = 0);
#endif

// The process's current directory with a trailing separator.
std::u16string current_directory();

// A local civil time -> FILETIME (UTC); false for a date that does not exist.
bool local_to_utc(int year, int month, int day, int hour, int minute, int second, std::uint64_t& filetime);
// FILETIME (UTC) -> OLE date in local time; 0 gives 0.
double local_ole_date(std::uint64_t filetime);

enum class PathKind { Missing, File, Directory };
PathKind path_kind(const std::u16string& path);
bool create_directory(const std::u16string& path);

// All that one look at a path tells.
struct PathInfo {
  PathKind kind = PathKind::Missing;
  bool link = false;  // a junction, symbolic link or other reparse point
  bool read_only = false;
};
PathInfo path_info(const std::u16string& path);

// A folder held open while files are written into it. On Windows nobody can
// rename, move or delete it while it is held (the handle refuses to share
// deletion), so the folder that was checked stays the one written into.
class HeldFolder {
 public:
  virtual ~HeldFolder() = default;
  // Still a folder and no link, asked through the held handle.
  virtual bool plain() = 0;
};
// Holds an existing folder that is no link; null for anything else.
std::unique_ptr<HeldFolder> hold_folder(const std::u16string& path);

class OutputFile {
 public:
  virtual ~OutputFile() = default;
  virtual bool write(const void* data, std::size_t n) = 0;
  // FILETIME values; 0 leaves that time alone.
  virtual void set_times(std::uint64_t creation, std::uint64_t access, std::uint64_t modification) = 0;
  // Attributes (0 leaves them) and times in one call.
  virtual bool finish(std::uint32_t attributes, std::uint64_t creation, std::uint64_t access,
                      std::uint64_t modification) = 0;
  // A file made by create_new_file takes the name `to` (replacing a file
  // there) through its open handle, so the file renamed is the one written.
  virtual bool rename_to(const std::u16string& to) = 0;
  // A file made by create_new_file is deleted through its open handle.
  virtual void discard() = 0;
};
// Creates or replaces a file with the given attributes; null on failure
// (a read-only file in the way is a failure).
std::unique_ptr<OutputFile> create_file(const std::u16string& path, std::uint32_t attributes);
// Creates a file that must not exist yet, open for writing, renaming and
// deletion; null when it does or on failure.
std::unique_ptr<OutputFile> create_new_file(const std::u16string& path, std::uint32_t attributes);
// Puts `from` in the place of `to` in one step (replacing a file there).
bool replace_file(const std::u16string& from, const std::u16string& to);
bool remove_file(const std::u16string& path);
bool is_read_only(const std::u16string& path);
bool clear_read_only(const std::u16string& path);
// A junction, symbolic link or other reparse point (a symbolic link elsewhere).
bool is_link(const std::u16string& path);

// What exact extraction's read-ahead needs: one lock with a condition to
// wait on, and a second thread. On Windows a slim lock, a condition variable
// and a plain thread (std::mutex would bring MinGW's POSIX thread layer).
class Gate {
 public:
  Gate();
  ~Gate();
  Gate(const Gate&) = delete;
  Gate& operator=(const Gate&) = delete;
  void lock();
  void unlock();
  // Waits for wake(), the lock let go meanwhile; held again on return
  // (a waiter may also wake for nothing: it looks again).
  void wait();
  void wake();  // every waiter

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// A thread running `work`; destroying it waits for the work's end. Null when
// no thread could be started (the work never runs).
class Thread {
 public:
  virtual ~Thread() = default;
};
std::unique_ptr<Thread> start_thread(std::function<void()> work);

}  // namespace rt::zip_fs
