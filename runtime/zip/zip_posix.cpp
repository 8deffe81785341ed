// The archive services' file system outside Windows (native tests, fuzzing,
// the benchmark): POSIX calls, "\" read as "/", times kept as the local
// time zone says.
#ifndef _WIN32

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <thread>
#include <utility>

#include "runtime/value/codepage.h"
#include "runtime/zip/zip_fs.h"
#include "runtime/zip/zip_reader.h"

namespace rt::zip_fs {

namespace {

constexpr std::int64_t kEpochDifference = 11644473600;  // seconds from 1601 to 1970

std::string native(const std::u16string& path) {
  std::string p = utf8_from_wide(path);
  for (char& c : p)
    if (c == '\\') c = '/';
  return p;
}

class FileInput : public ZipInput {
 public:
  FileInput(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
  ~FileInput() override { ::close(fd_); }
  std::uint64_t size() const override { return size_; }
  bool read_at(std::uint64_t offset, void* buffer, std::size_t n) override {
    auto* p = static_cast<char*>(buffer);
    while (n > 0) {
      ssize_t got = ::pread(fd_, p, n, off_t(offset));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      p += got;
      n -= std::size_t(got);
      offset += std::uint64_t(got);
    }
    return true;
  }

 private:
  int fd_;
  std::uint64_t size_;
};

void to_timespecs(std::uint64_t access, std::uint64_t modification, timespec t[2]) {
  for (int i = 0; i < 2; ++i) {
    std::uint64_t ft = i == 0 ? access : modification;
    if (ft == 0) {
      t[i].tv_sec = 0;
      t[i].tv_nsec = UTIME_OMIT;
    } else {
      t[i].tv_sec = time_t(std::int64_t(ft / 10000000) - kEpochDifference);
      t[i].tv_nsec = long(ft % 10000000) * 100;
    }
  }
}

class FileOutput : public OutputFile {
 public:
  // `folder` (a descriptor of its own, or -1) and `name`: where the file was
  // made, for renaming and deleting it; else `path`.
  FileOutput(int fd, int folder, std::string name) : fd_(fd), folder_(folder), name_(std::move(name)) {}
  ~FileOutput() override {
    if (fd_ >= 0) ::close(fd_);
    if (folder_ >= 0) ::close(folder_);
  }
  bool write(const void* data, std::size_t n) override {
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
      ssize_t put = ::write(fd_, p, n);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return false;
      p += put;
      n -= std::size_t(put);
    }
    return true;
  }
  void set_times(std::uint64_t, std::uint64_t access, std::uint64_t modification) override {
    timespec t[2];
    to_timespecs(access, modification, t);
    ::futimens(fd_, t);
  }
  bool finish(std::uint32_t attributes, std::uint64_t creation, std::uint64_t access,
              std::uint64_t modification) override {
    set_times(creation, access, modification);
    return attributes == 0 || ::fchmod(fd_, (attributes & kAttrReadOnly) ? 0444 : 0644) == 0;
  }
  bool rename_to(HeldFolder& folder, const std::u16string& name) override;
  void discard() override {
    if (folder_ >= 0) ::unlinkat(folder_, name_.c_str(), 0);
    else ::unlink(name_.c_str());
    ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
  int folder_;
  std::string name_;
};

PathInfo info_at(int folder, const std::string& name) {
  PathInfo info;
  struct stat st;
  if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return info;
  info.link = S_ISLNK(st.st_mode);
  if (info.link && ::fstatat(folder, name.c_str(), &st, 0) != 0) {
    info.kind = PathKind::File;
    return info;
  }
  info.kind = S_ISDIR(st.st_mode) ? PathKind::Directory : PathKind::File;
  info.read_only = !(st.st_mode & 0200);
  return info;
}

class Folder : public HeldFolder {
 public:
  explicit Folder(int fd) : fd_(fd) {}
  ~Folder() override { ::close(fd_); }
  int fd() const { return fd_; }
  PathInfo info(const std::u16string& name) override { return info_at(fd_, native(name)); }
  std::unique_ptr<HeldFolder> open(const std::u16string& name) override {
    int fd = ::openat(fd_, native(name).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return nullptr;
    return std::make_unique<Folder>(fd);
  }
  std::unique_ptr<HeldFolder> make(const std::u16string& name) override {
    if (::mkdirat(fd_, native(name).c_str(), 0777) != 0) return nullptr;
    return open(name);
  }
  std::unique_ptr<OutputFile> create_new_file(const std::u16string& name, std::uint32_t attributes) override {
    mode_t mode = (attributes & kAttrReadOnly) ? 0444 : 0644;
    std::string n = native(name);
    int fd = ::openat(fd_, n.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) return nullptr;
    return std::make_unique<FileOutput>(fd, ::dup(fd_), n);
  }
  bool clear_read_only(const std::u16string& name) override {
    struct stat st;
    std::string n = native(name);
    return ::fstatat(fd_, n.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
           ::fchmodat(fd_, n.c_str(), st.st_mode | 0200, 0) == 0;
  }

 private:
  int fd_;
};

bool FileOutput::rename_to(HeldFolder& folder, const std::u16string& name) {
  return folder_ >= 0 && ::renameat(folder_, name_.c_str(), static_cast<Folder&>(folder).fd(), native(name).c_str()) == 0;
}

// Days from 1970-01-01 to a civil date (proleptic Gregorian).
std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  unsigned yoe = unsigned(y - era * 400);
  unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + std::int64_t(doe) - 719468;
}

}  // namespace

std::unique_ptr<ZipInput> open_input(const Text& path) {
  int fd = ::open(utf8_from_cp936(path.view()).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<FileInput>(fd, std::uint64_t(st.st_size));
}

std::u16string current_directory() {
  char buf[4096];
  if (!::getcwd(buf, sizeof buf)) return u"./";
  std::string d = buf;
  if (d.empty() || d.back() != '/') d += '/';
  return wide_from_utf8(d);
}

bool local_to_utc(int year, int month, int day, int hour, int minute, int second, std::uint64_t& filetime) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  std::time_t t = std::mktime(&tm);
  if (t == std::time_t(-1) || tm.tm_mday != day) return false;
  filetime = std::uint64_t(std::int64_t(t) + kEpochDifference) * 10000000ull;
  return true;
}

double local_ole_date(std::uint64_t filetime) {
  if (filetime == 0) return 0;
  std::time_t t = std::time_t(std::int64_t(filetime / 10000000) - kEpochDifference);
  std::tm tm{};
  if (!::localtime_r(&t, &tm)) return 0;
  // OLE dates count days from 1899-12-30.
  std::int64_t days = days_from_civil(tm.tm_year + 1900, unsigned(tm.tm_mon + 1), unsigned(tm.tm_mday)) + 25569;
  return double(days) + (tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec) / 86400.0;
}

PathKind path_kind(const std::u16string& path) {
  struct stat st;
  if (::stat(native(path).c_str(), &st) != 0) return PathKind::Missing;
  return S_ISDIR(st.st_mode) ? PathKind::Directory : PathKind::File;
}

bool create_directory(const std::u16string& path) { return ::mkdir(native(path).c_str(), 0777) == 0; }

std::unique_ptr<HeldFolder> hold_folder(const std::u16string& path) {
  // Every level as itself: a link on the way is never followed.
  std::string p = native(path);
  if (p.empty() || p[0] != '/') return nullptr;
  int fd = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (std::size_t at = 1; fd >= 0 && at < p.size();) {
    std::size_t end = p.find('/', at);
    if (end == std::string::npos) end = p.size();
    std::string name = p.substr(at, end - at);
    at = end + 1;
    if (name.empty()) continue;
    int next = name == ".." ? -1 : ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    ::close(fd);
    fd = next;
  }
  if (fd < 0) return nullptr;
  return std::make_unique<Folder>(fd);
}

std::unique_ptr<OutputFile> create_file(const std::u16string& path, std::uint32_t attributes) {
  std::string p = native(path);
  // As on Windows, a read-only file in the way is not replaced.
  struct stat st;
  if (::stat(p.c_str(), &st) == 0 && !(st.st_mode & 0200)) return nullptr;
  mode_t mode = (attributes & kAttrReadOnly) ? 0444 : 0644;
  int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return nullptr;
  ::fchmod(fd, mode);
  return std::make_unique<FileOutput>(fd, -1, p);
}

struct Gate::Impl {
  std::mutex mutex;
  std::condition_variable condition;
};
Gate::Gate() : impl_(std::make_unique<Impl>()) {}
Gate::~Gate() = default;
void Gate::lock() { impl_->mutex.lock(); }
void Gate::unlock() { impl_->mutex.unlock(); }
void Gate::wait() {
  std::unique_lock<std::mutex> held(impl_->mutex, std::adopt_lock);
  impl_->condition.wait(held);
  held.release();
}
void Gate::wake() { impl_->condition.notify_all(); }

namespace {
class PosixThread : public Thread {
 public:
  explicit PosixThread(std::function<void()> work) : thread_(std::move(work)) {}
  ~PosixThread() override { thread_.join(); }

 private:
  std::thread thread_;
};
}  // namespace

std::unique_ptr<Thread> start_thread(std::function<void()> work) {
  return std::make_unique<PosixThread>(std::move(work));
}

}  // namespace rt::zip_fs

#endif  // !_WIN32
