// The archive services' file system on Windows: wide calls throughout, so
// Chinese names land correctly whatever the system's ANSI code page.
#include <windows.h>
#include <oleauto.h>

#include "runtime/value/codepage.h"
#include "runtime/win/handles.h"
#include "runtime/zip/zip_fs.h"
#include "runtime/zip/zip_reader.h"

namespace rt::zip_fs {

namespace {

const wchar_t* w(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }


class FileInput : public ZipInput {
 public:
  FileInput(HANDLE h, std::uint64_t size) : file_(h), size_(size) {}
  std::uint64_t size() const override { return size_; }
  bool read_at(std::uint64_t offset, void* buffer, std::size_t n) override {
    auto* p = static_cast<char*>(buffer);
    while (n > 0) {
      OVERLAPPED at = {};
      at.Offset = DWORD(offset);
      at.OffsetHigh = DWORD(offset >> 32);
      DWORD want = n > 0x40000000 ? 0x40000000 : DWORD(n), got = 0;
      if (!ReadFile(file_.get(), p, want, &got, &at) || got == 0) return false;
      p += got;
      n -= got;
      offset += got;
    }
    return true;
  }

 private:
  win::File file_;
  std::uint64_t size_;
};

class FileOutput : public OutputFile {
 public:
  explicit FileOutput(HANDLE h) : file_(h) {}
  bool write(const void* data, std::size_t n) override {
    DWORD put = 0;
    return WriteFile(file_.get(), data, DWORD(n), &put, nullptr) && put == n;
  }
  void set_times(std::uint64_t creation, std::uint64_t access, std::uint64_t modification) override {
    FILETIME c = filetime(creation), a = filetime(access), m = filetime(modification);
    SetFileTime(file_.get(), creation ? &c : nullptr, access ? &a : nullptr, modification ? &m : nullptr);
  }

 private:
  static FILETIME filetime(std::uint64_t v) { return FILETIME{DWORD(v), DWORD(v >> 32)}; }
  win::File file_;
};

}  // namespace

std::unique_ptr<ZipInput> input_from_handle(void* handle, std::uint64_t size) {
  return std::make_unique<FileInput>(handle, size);
}

std::unique_ptr<ZipInput> open_input(const Text& path) {
  HANDLE h = CreateFileW(wide_path(path.view()).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  win::File file(h);
  LARGE_INTEGER size;
  if (!file || !GetFileSizeEx(h, &size)) return nullptr;
  return std::make_unique<FileInput>(file.release(), std::uint64_t(size.QuadPart));
}

std::u16string current_directory() {
  DWORD n = GetCurrentDirectoryW(0, nullptr);
  std::u16string d(n, u'\0');
  n = GetCurrentDirectoryW(n, reinterpret_cast<wchar_t*>(d.data()));
  d.resize(n);
  if (d.empty() || d.back() != u'\\') d += u'\\';
  return d;
}

bool local_to_utc(int year, int month, int day, int hour, int minute, int second, std::uint64_t& filetime) {
  SYSTEMTIME st = {};
  st.wYear = WORD(year);
  st.wMonth = WORD(month);
  st.wDay = WORD(day);
  st.wHour = WORD(hour);
  st.wMinute = WORD(minute);
  st.wSecond = WORD(second);
  FILETIME local, utc;
  if (!SystemTimeToFileTime(&st, &local) || !LocalFileTimeToFileTime(&local, &utc)) return false;
  filetime = std::uint64_t(utc.dwHighDateTime) << 32 | utc.dwLowDateTime;
  return true;
}

double local_ole_date(std::uint64_t filetime) {
  if (filetime == 0) return 0;
  FILETIME utc{DWORD(filetime), DWORD(filetime >> 32)}, local;
  SYSTEMTIME st;
  double date = 0;
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &st) ||
      !SystemTimeToVariantTime(&st, &date))
    return 0;
  return date;
}

PathKind path_kind(const std::u16string& path) {
  DWORD a = GetFileAttributesW(w(path));
  if (a == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
  return (a & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Directory : PathKind::File;
}

bool create_directory(const std::u16string& path) { return CreateDirectoryW(w(path), nullptr) != 0; }

std::unique_ptr<OutputFile> create_file(const std::u16string& path, std::uint32_t attributes) {
  // Windows refuses to replace a read-only file; said here too, because an
  // administrator under Wine would otherwise overwrite it.
  DWORD existing = GetFileAttributesW(w(path));
  if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  HANDLE h = CreateFileW(w(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         attributes ? attributes : FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<FileOutput>(h);
}

std::unique_ptr<OutputFile> create_new_file(const std::u16string& path, std::uint32_t attributes) {
  HANDLE h = CreateFileW(w(path), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         attributes ? attributes : FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<FileOutput>(h);
}

bool replace_file(const std::u16string& from, const std::u16string& to) {
  return MoveFileExW(w(from), w(to), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool remove_file(const std::u16string& path) {
  DWORD a = GetFileAttributesW(w(path));
  if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY)) SetFileAttributesW(w(path), a & ~FILE_ATTRIBUTE_READONLY);
  return DeleteFileW(w(path)) != 0;
}

bool is_read_only(const std::u16string& path) {
  DWORD a = GetFileAttributesW(w(path));
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY);
}

bool clear_read_only(const std::u16string& path) {
  DWORD a = GetFileAttributesW(w(path));
  return a != INVALID_FILE_ATTRIBUTES && SetFileAttributesW(w(path), a & ~FILE_ATTRIBUTE_READONLY);
}

bool is_link(const std::u16string& path) {
  DWORD a = GetFileAttributesW(w(path));
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT);
}

}  // namespace rt::zip_fs
