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
// One folder made; its parent must exist.
bool create_directory(const std::u16string& path);

// All that one look at an item tells.
struct PathInfo {
  PathKind kind = PathKind::Missing;
  bool link = false;  // a junction, symbolic link or other reparse point
  bool read_only = false;
};
class OutputFile;

// A folder held open while files are written into it. On Windows nobody can
// rename, move or delete it while it is held, and everything below it is
// reached relative to it, never through a link (the confined file layer).
class HeldFolder {
 public:
  virtual ~HeldFolder() = default;
  // What lies under `name` here, looked at as itself (a link shows as one).
  virtual PathInfo info(const std::u16string& name) = 0;
  // The existing folder `name` here, held; null for a link, a file or a failure.
  virtual std::unique_ptr<HeldFolder> open(const std::u16string& name) = 0;
  // A new folder `name` here, held; null when something has the name.
  virtual std::unique_ptr<HeldFolder> make(const std::u16string& name) = 0;
  // A new file `name` here, open for writing, renaming and deletion; null
  // when something has the name or on failure.
  virtual std::unique_ptr<OutputFile> create_new_file(const std::u16string& name, std::uint32_t attributes) = 0;
  // Clears the read-only bit of the file `name` here.
  virtual bool clear_read_only(const std::u16string& name) = 0;
};
// An existing folder by its absolute path ("X:\..." on Windows, "/..."
// elsewhere), reached without a link at any level; null for anything else.
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
  // A file made by HeldFolder::create_new_file takes the name `name` in the
  // held folder `folder` (replacing a file there) through its open handle,
  // so the file renamed is the one written.
  virtual bool rename_to(HeldFolder& folder, const std::u16string& name) = 0;
  // A file made by HeldFolder::create_new_file is deleted through its open handle.
  virtual void discard() = 0;
};
// Creates or replaces a file with the given attributes; null on failure
// (a read-only file or a link in the way is a failure).
std::unique_ptr<OutputFile> create_file(const std::u16string& path, std::uint32_t attributes);

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
