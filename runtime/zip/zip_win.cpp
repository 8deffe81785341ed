// The archive services' file system on Windows: wide calls throughout, so
// Chinese names land correctly whatever the system's ANSI code page.
#include <windows.h>
#include <oleauto.h>

#include <cstddef>
#include <cstring>
#include <utility>

#include "runtime/value/codepage.h"
#include "runtime/win/confined.h"
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
  bool rename_to(HeldFolder& folder, const std::u16string& name) override;
  void discard() override {
    win::delete_through(file_.get());
    file_.reset();
  }
  HANDLE handle() const { return file_.get(); }

 private:
  static FILETIME filetime(std::uint64_t v) { return FILETIME{DWORD(v), DWORD(v >> 32)}; }
  win::File file_;
};

PathInfo info_of(DWORD attributes) {
  PathInfo info;
  info.kind = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Directory : PathKind::File;
  info.link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  info.read_only = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  return info;
}

PathInfo look(const win::Folder& folder, const std::u16string& name) {
  DWORD attributes = 0;
  switch (folder.look(name, &attributes)) {
    case win::FileStatus::kOk: return info_of(attributes);
    case win::FileStatus::kMissing: return PathInfo();
    default: {
      // Something is there, but not where it was asked for (a link that
      // was followed) or not readable: never written through.
      PathInfo info;
      info.kind = PathKind::File;
      info.link = true;
      return info;
    }
  }
}

class Folder : public HeldFolder {
 public:
  explicit Folder(win::Folder folder) : folder_(std::move(folder)) {}
  const win::Folder& held() const { return folder_; }
  PathInfo info(const std::u16string& name) override { return look(folder_, name); }
  std::unique_ptr<HeldFolder> open(const std::u16string& name) override {
    win::Folder below = folder_.open_folder(name);
    if (!below) return nullptr;
    return std::make_unique<Folder>(std::move(below));
  }
  std::unique_ptr<HeldFolder> make(const std::u16string& name) override {
    win::Folder below = folder_.make_folder(name);
    if (!below) return nullptr;
    return std::make_unique<Folder>(std::move(below));
  }
  std::unique_ptr<OutputFile> create_new_file(const std::u16string& name, std::uint32_t attributes) override {
    win::File file = folder_.create_file(name, GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                         0, attributes);
    if (!file) return nullptr;
    return std::make_unique<FileOutput>(file.release());
  }
  bool clear_read_only(const std::u16string& name) override {
    win::File file = folder_.open_file(name, FILE_WRITE_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    FILE_BASIC_INFO basic = {};
    if (!file || !GetFileInformationByHandleEx(file.get(), FileBasicInfo, &basic, sizeof basic)) return false;
    basic.FileAttributes &= ~DWORD(FILE_ATTRIBUTE_READONLY);
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(file.get(), FileBasicInfo, &basic, sizeof basic) != 0;
  }

 private:
  win::Folder folder_;
};

bool FileOutput::rename_to(HeldFolder& folder, const std::u16string& name) {
  return win::rename_through(file_.get(), static_cast<Folder&>(folder).held(), name, true) == win::FileStatus::kOk;
}

// The held folder of a path and its last name.
win::Folder parent_of(const std::u16string& path, std::u16string* name) {
  std::u16string folder;
  if (!win::split_plain_parent(path, &folder, name)) return {};
  return win::Folder::open(folder);
}

}  // namespace

std::unique_ptr<ZipInput> input_from_handle(void* handle, std::uint64_t size, std::uint64_t base) {
  return std::make_unique<FileInput>(handle, size, base);
}

std::unique_ptr<ZipInput> open_input(const Text& path) {
  std::u16string name;
  win::Folder folder = parent_of(wide_from_cp936(path.view()), &name);
  win::File file = folder ? folder.open_file(name, GENERIC_READ, FILE_SHARE_READ) : win::File();
  LARGE_INTEGER size;
  if (!file || !GetFileSizeEx(file.get(), &size)) return nullptr;
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
  std::u16string name;
  win::Folder folder = parent_of(path, &name);
  if (!folder) return win::plain_path(path) && win::Folder::open(path) ? PathKind::Directory : PathKind::Missing;
  return look(folder, name).kind;
}

bool create_directory(const std::u16string& path) {
  std::u16string name;
  win::Folder folder = parent_of(path, &name);
  return folder && folder.make_folder(name);
}

std::unique_ptr<HeldFolder> hold_folder(const std::u16string& path) {
  win::Folder folder = win::Folder::open(path);
  if (!folder) return nullptr;
  return std::make_unique<Folder>(std::move(folder));
}

std::unique_ptr<OutputFile> create_file(const std::u16string& path, std::uint32_t attributes) {
  std::u16string name;
  win::Folder folder = parent_of(path, &name);
  if (!folder) return nullptr;
  const PathInfo there = look(folder, name);
  // Windows refuses to replace a read-only file; said here too, because an
  // administrator under Wine would otherwise overwrite it.
  if (there.link || there.read_only || there.kind == PathKind::Directory) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  const DWORD access = GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;
  win::File file = there.kind == PathKind::File ? folder.open_file(name, access, 0)
                                                : folder.create_file(name, access, 0, attributes);
  if (!file) return nullptr;
  if (there.kind == PathKind::File) {
    FILE_END_OF_FILE_INFO empty = {};
    if (!SetFileInformationByHandle(file.get(), FileEndOfFileInfo, &empty, sizeof empty)) return nullptr;
    if (attributes) {
      FILE_BASIC_INFO basic = {};
      basic.FileAttributes = attributes;
      SetFileInformationByHandle(file.get(), FileBasicInfo, &basic, sizeof basic);
    }
  }
  return std::make_unique<FileOutput>(file.release());
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
