// The archive services' file system on Windows: wide calls throughout, so
// Chinese names land correctly whatever the system's ANSI code page.
#include <windows.h>
#include <oleauto.h>

#include <cstddef>
#include <cstring>
#include <utility>

#include "runtime/value/codepage.h"
#include "runtime/win/handles.h"
#include "runtime/zip/zip_fs.h"
#include "runtime/zip/zip_reader.h"

namespace rt::zip_fs {

namespace {

const wchar_t* w(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }


class FileInput : public ZipInput {
 public:
  FileInput(HANDLE h, std::uint64_t size, std::uint64_t base) : file_(h), size_(size), base_(base) {}
  std::uint64_t size() const override { return size_; }
  bool read_at(std::uint64_t offset, void* buffer, std::size_t n) override {
    if (offset > size_ || n > size_ - offset) return false;
    // Positioned by a seek, not an OVERLAPPED offset: Wine queues a
    // completion through its server for every read given an OVERLAPPED,
    // while a seek and a plain read stay in the process. The position is
    // set for every read, as a duplicate of the handle shares it.
    LARGE_INTEGER at;
    at.QuadPart = LONGLONG(base_ + offset);
    if (!SetFilePointerEx(file_.get(), at, nullptr, FILE_BEGIN)) return false;
    auto* p = static_cast<char*>(buffer);
    while (n > 0) {
      DWORD want = n > 0x40000000 ? 0x40000000 : DWORD(n), got = 0;
      if (!ReadFile(file_.get(), p, want, &got, nullptr) || got == 0) return false;
      p += got;
      n -= got;
    }
    return true;
  }

 private:
  win::File file_;
  std::uint64_t size_, base_;
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
  bool finish(std::uint32_t attributes, std::uint64_t creation, std::uint64_t access,
              std::uint64_t modification) override {
    FILE_BASIC_INFO info = {};
    info.CreationTime.QuadPart = LONGLONG(creation);
    info.LastAccessTime.QuadPart = LONGLONG(access);
    info.LastWriteTime.QuadPart = LONGLONG(modification);
    info.FileAttributes = attributes;
    return SetFileInformationByHandle(file_.get(), FileBasicInfo, &info, sizeof info) != 0;
  }
  bool rename_to(const std::u16string& to) override {
    // The record ends in the name; the name is also zero-terminated, as
    // Wine reads it.
    std::size_t bytes = offsetof(FILE_RENAME_INFO, FileName) + (to.size() + 1) * sizeof(wchar_t);
    std::unique_ptr<unsigned char[]> record(new unsigned char[bytes]());
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(record.get());
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = nullptr;
    info->FileNameLength = DWORD(to.size() * sizeof(wchar_t));
    std::memcpy(info->FileName, to.c_str(), (to.size() + 1) * sizeof(wchar_t));
    return SetFileInformationByHandle(file_.get(), FileRenameInfo, info, DWORD(bytes)) != 0;
  }
  void discard() override {
    // A read-only file refuses deletion: the attributes go first.
    FILE_BASIC_INFO basic = {};
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    SetFileInformationByHandle(file_.get(), FileBasicInfo, &basic, sizeof basic);
    FILE_DISPOSITION_INFO gone = {TRUE};
    SetFileInformationByHandle(file_.get(), FileDispositionInfo, &gone, sizeof gone);
    file_.reset();
  }

 private:
  static FILETIME filetime(std::uint64_t v) { return FILETIME{DWORD(v), DWORD(v >> 32)}; }
  win::File file_;
};

class Folder : public HeldFolder {
 public:
  Folder(HANDLE h, std::u16string path) : folder_(h), path_(std::move(path)) {}
  bool plain() override {
    // By name: the held folder cannot have been renamed or replaced, so the
    // name still means it (and under Wine a look by name stays in the
    // process, while one through the handle asks its server several times).
    DWORD a = GetFileAttributesW(w(path_));
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) && !(a & FILE_ATTRIBUTE_REPARSE_POINT);
  }

 private:
  win::File folder_;
  std::u16string path_;
};

}  // namespace

std::unique_ptr<ZipInput> input_from_handle(void* handle, std::uint64_t size, std::uint64_t base) {
  return std::make_unique<FileInput>(handle, size, base);
}

std::unique_ptr<ZipInput> open_input(const Text& path) {
  HANDLE h = CreateFileW(wide_path(path.view()).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  win::File file(h);
  LARGE_INTEGER size;
  if (!file || !GetFileSizeEx(h, &size)) return nullptr;
  return std::make_unique<FileInput>(file.release(), std::uint64_t(size.QuadPart), 0);
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

PathInfo path_info(const std::u16string& path) {
  PathInfo info;
  DWORD a = GetFileAttributesW(w(path));
  if (a == INVALID_FILE_ATTRIBUTES) return info;
  info.kind = (a & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Directory : PathKind::File;
  info.link = (a & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  info.read_only = (a & FILE_ATTRIBUTE_READONLY) != 0;
  return info;
}

std::unique_ptr<HeldFolder> hold_folder(const std::u16string& path) {
  // The folder itself, never what a link points to. Listing access makes the
  // handle count in sharing checks: others may read and add files, but not
  // rename or delete it. Files are renamed inside it, so writers are shared.
  HANDLE h = CreateFileW(w(path), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  // Looked at once held, when the name can no longer be given to something
  // else: a link opened as itself shows as one (and Wine, which may open
  // what a Unix link points to, still shows the name as a link).
  auto folder = std::make_unique<Folder>(h, path);
  if (!folder->plain()) return nullptr;
  return folder;
}

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
  HANDLE h = CreateFileW(w(path), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
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

struct Gate::Impl {
  SRWLOCK lock = SRWLOCK_INIT;
  CONDITION_VARIABLE condition = CONDITION_VARIABLE_INIT;
};
Gate::Gate() : impl_(std::make_unique<Impl>()) {}
Gate::~Gate() = default;
void Gate::lock() { AcquireSRWLockExclusive(&impl_->lock); }
void Gate::unlock() { ReleaseSRWLockExclusive(&impl_->lock); }
void Gate::wait() { SleepConditionVariableSRW(&impl_->condition, &impl_->lock, INFINITE, 0); }
void Gate::wake() { WakeAllConditionVariable(&impl_->condition); }

namespace {
class WinThread : public Thread {
 public:
  explicit WinThread(std::function<void()> work) : work_(std::move(work)) {}
  bool start() {
    thread_.reset(CreateThread(nullptr, 0, &WinThread::run, this, 0, nullptr));
    return bool(thread_);
  }
  ~WinThread() override {
    if (thread_) WaitForSingleObject(thread_.get(), INFINITE);
  }

 private:
  static DWORD WINAPI run(void* self) {
    static_cast<WinThread*>(self)->work_();
    return 0;
  }
  std::function<void()> work_;
  win::Kernel thread_;
};
}  // namespace

std::unique_ptr<Thread> start_thread(std::function<void()> work) {
  auto thread = std::make_unique<WinThread>(std::move(work));
  if (!thread->start()) return nullptr;
  return thread;
}

}  // namespace rt::zip_fs
