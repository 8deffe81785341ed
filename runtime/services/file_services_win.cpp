#include <windows.h>

#include <atomic>
#include <map>
#include <mutex>

#include "runtime/value/codepage.h"
#include "runtime/win/lock_win.h"
#include "runtime/services/file_services.h"

namespace rt {

namespace {

// The open file numbers of the process.
struct FileTable {
  Lock lock;
  std::map<int, HANDLE> files;
  int next = 1;
};
FileTable& file_table() {
  static FileTable table;
  return table;
}

HANDLE file_handle(int file) {
  FileTable& t = file_table();
  std::lock_guard<Lock> guard(t.lock);
  auto it = t.files.find(file);
  return it == t.files.end() ? INVALID_HANDLE_VALUE : it->second;
}

std::atomic<long long> g_write_budget{-1};

bool write_all(HANDLE h, const Bytes& bytes) {
  DWORD n = static_cast<DWORD>(bytes.size());
  long long budget = g_write_budget.load();
  bool cut = budget >= 0 && n > budget;
  if (cut) n = static_cast<DWORD>(budget);
  DWORD written = 0;
  bool ok = (n == 0 || WriteFile(h, bytes.data(), n, &written, nullptr)) && written == n;
  if (budget >= 0) g_write_budget -= written;
  if (cut) SetLastError(ERROR_DISK_FULL);
  return ok && !cut;
}

}  // namespace

bool make_directory(const Text& path) { return CreateDirectoryW(wide_path(path.view()).c_str(), nullptr) != FALSE; }

bool delete_file(const Text& path) { return DeleteFileW(wide_path(path.view()).c_str()) != FALSE; }

bool file_exists(const Text& path) {
  WIN32_FIND_DATAW found;
  HANDLE h = FindFirstFileW(wide_path(path.view()).c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return false;
  FindClose(h);
  return true;
}

bool write_file(const Text& path, std::initializer_list<const Bytes*> parts) {
  HANDLE h = CreateFileW(wide_path(path.view()).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  for (const Bytes* part : parts)
    if (ok && part && !part->empty()) ok = write_all(h, *part);
  return CloseHandle(h) && ok;
}

int open_file(const Text& path, int mode, int sharing) {
  if (path.empty() || mode < kRead || mode > kOpenOrCreateReadWrite || sharing < kShareAll || sharing > kExclusive)
    return 0;
  static const DWORD kAccess[] = {0, GENERIC_READ, GENERIC_WRITE, GENERIC_READ | GENERIC_WRITE,
                                  GENERIC_WRITE, GENERIC_WRITE, GENERIC_READ | GENERIC_WRITE};
  static const DWORD kDisposition[] = {0, OPEN_EXISTING, OPEN_EXISTING, OPEN_EXISTING,
                                       CREATE_ALWAYS, OPEN_ALWAYS, OPEN_ALWAYS};
  static const DWORD kShare[] = {0, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_SHARE_WRITE, FILE_SHARE_READ, 0};
  HANDLE h = CreateFileW(wide_path(path.view()).c_str(), kAccess[mode], kShare[sharing], nullptr,
                         kDisposition[mode], FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 0;
  FileTable& t = file_table();
  std::lock_guard<Lock> guard(t.lock);
  int number = t.next++;
  t.files[number] = h;
  return number;
}

bool write_bytes(int file, std::initializer_list<const Bytes*> parts) {
  HANDLE h = file_handle(file);
  if (h == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER zero = {}, start = {};
  if (!SetFilePointerEx(h, zero, &start, FILE_CURRENT)) return false;
  for (const Bytes* part : parts) {
    if (!part || part->empty()) continue;
    if (!write_all(h, *part)) {
      SetFilePointerEx(h, start, nullptr, FILE_BEGIN);
      return false;
    }
  }
  return true;
}

bool close_file(int file) {
  HANDLE h;
  {
    FileTable& t = file_table();
    std::lock_guard<Lock> guard(t.lock);
    auto it = t.files.find(file);
    if (it == t.files.end()) return false;
    h = it->second;
    t.files.erase(it);
  }
  return CloseHandle(h) != FALSE;
}

void limit_file_writes_for_tests(long long bytes) { g_write_budget = bytes; }

}  // namespace rt
