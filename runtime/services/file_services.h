// File services: directories, whole files, and files opened by number.
// Paths are code page 936 texts.
#pragma once

#include <initializer_list>

#include "runtime/value/value.h"

namespace rt {

bool make_directory(const Text& path);  // one level only
bool delete_file(const Text& path);
// True when anything matches: a file, a directory or a wildcard pattern.
bool file_exists(const Text& path);
// Creates or truncates the file (no sharing) and writes the byte sets in
// order, empty ones skipped; true only when all of it was written.
bool write_file(const Text& path, std::initializer_list<const Bytes*> parts);
inline bool write_file(const Text& path, const Bytes& bytes) { return write_file(path, {&bytes}); }

enum FileMode : int {
  kRead = 1,
  kWrite = 2,
  kReadWrite = 3,
  kCreateWrite = 4,          // created or truncated
  kOpenOrCreateWrite = 5,    // created when absent, never truncated
  kOpenOrCreateReadWrite = 6,
};
enum FileSharing : int {
  kShareAll = 1,
  kDenyRead = 2,
  kDenyWrite = 3,
  kExclusive = 4,
};
// A file number (non-zero), or 0 when the file could not be opened or the
// arguments are out of range.
int open_file(const Text& path, int mode = kReadWrite, int sharing = kShareAll);
// Writes each non-empty byte set at the current position. On a failed write
// the position goes back to where it was before the call and the result is
// false.
bool write_bytes(int file, std::initializer_list<const Bytes*> parts);
inline bool write_bytes(int file, const Bytes& bytes) { return write_bytes(file, {&bytes}); }
bool close_file(int file);

// For tests: from now on only `bytes` more bytes can be written by these
// services, as on a disk that fills up (a write is cut short and fails);
// negative lifts the limit.
void limit_file_writes_for_tests(long long bytes);

}  // namespace rt
