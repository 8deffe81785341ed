#include "mkinstaller/files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <windows.h>

#include "runtime/zip/zip_reader.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace mkinstaller {

fs::path upath(const std::string& utf8) {
  return fs::path(std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

std::string ustr(const fs::path& p) {
  std::u8string s = p.u8string();
  return std::string(reinterpret_cast<const char*>(s.data()), s.size());
}

std::optional<std::string> read_file(const std::string& path, std::string* why) {
  std::error_code ec;
  if (fs::is_directory(upath(path), ec)) {
    *why = "is a folder, not a file";
    return std::nullopt;
  }
  std::ifstream in(upath(path), std::ios::binary);
  if (!in) {
    *why = fs::exists(upath(path), ec) ? "cannot read the file" : "no such file";
    return std::nullopt;
  }
  // Read straight into one string of the file's size (a package may be
  // large); a file that is not a plain file is read to its end.
  std::string bytes;
  std::uintmax_t size = fs::is_regular_file(upath(path), ec) ? fs::file_size(upath(path), ec) : 0;
  if (!ec && size) {
    bytes.resize(static_cast<std::size_t>(size));
    in.read(bytes.data(), static_cast<std::streamsize>(size));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
  }
  char piece[65536];
  while (in.read(piece, sizeof piece) || in.gcount() > 0) bytes.append(piece, static_cast<std::size_t>(in.gcount()));
  if (in.bad()) {
    *why = "cannot read the file";
    return std::nullopt;
  }
  return bytes;
}

bool write_file_atomically(const std::string& path, const std::string& bytes, std::string* why) {
  TempFile temp;
  return temp.create(path, why) && temp.write(bytes, why) && temp.commit(why);
}

TempFile::~TempFile() { discard(); }

bool TempFile::create(const std::string& target, std::string* why) {
  target_ = target;
  static unsigned counter = 0;
#ifdef _WIN32
  unsigned id = GetCurrentProcessId();
#else
  unsigned id = static_cast<unsigned>(getpid());
#endif
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = target + ".tmp-" + std::to_string(id) + "-" + std::to_string(counter++);
#ifdef _WIN32
    // CREATE_NEW fails on any existing name, a link included.
    HANDLE h = CreateFileW(upath(candidate).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      handle_ = h;
      path_ = candidate;
      return true;
    }
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) break;
#else
    // O_EXCL: never an existing file, nor a link planted under this name.
    int fd = ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) {
      fd_ = fd;
      path_ = candidate;
      return true;
    }
    if (errno != EEXIST) break;
#endif
  }
  *why = "cannot create a file in its folder";
  return false;
}

int TempFile::release_descriptor() {
  int fd = fd_;
  fd_ = -1;
  return fd;
}

bool TempFile::write(const char* data, std::size_t size, std::string* why) {
  std::size_t done = 0;
  while (done < size) {
    std::size_t piece = std::min<std::size_t>(size - done, 1 << 20);
#ifdef _WIN32
    DWORD n = 0;
    if (!handle_ || !WriteFile(handle_, data + done, static_cast<DWORD>(piece), &n, nullptr) || n == 0) {
#else
    ssize_t n = fd_ < 0 ? -1 : ::write(fd_, data + done, piece);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
#endif
      *why = "cannot write the file (disk full?)";
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool TempFile::write_at(std::uint64_t offset, const char* data, std::size_t n, std::string* why) {
#ifdef _WIN32
  LARGE_INTEGER at, end, zero{};
  at.QuadPart = static_cast<LONGLONG>(offset);
  bool ok = handle_ && SetFilePointerEx(handle_, zero, &end, FILE_CURRENT) &&
            SetFilePointerEx(handle_, at, nullptr, FILE_BEGIN) && write(data, n, why) &&
            SetFilePointerEx(handle_, end, nullptr, FILE_BEGIN);
#else
  bool ok = fd_ >= 0 && ::pwrite(fd_, data, n, static_cast<off_t>(offset)) == static_cast<ssize_t>(n);
#endif
  if (!ok) *why = "cannot write the file (disk full?)";
  return ok;
}

InputFile::~InputFile() {
#ifdef _WIN32
  if (handle_) CloseHandle(handle_);
#else
  if (fd_ >= 0) ::close(fd_);
#endif
}

bool InputFile::open(const std::string& path, std::string* why) {
  std::error_code ec;
  fs::file_status st = fs::status(upath(path), ec);
  if (fs::is_directory(st)) {
    *why = "is a folder, not a file";
    return false;
  }
  if (!fs::exists(st)) {
    *why = "no such file";
    return false;
  }
  if (!fs::is_regular_file(st)) {
    *why = "is not a regular file; name the file itself";
    return false;
  }
#ifdef _WIN32
  // Others may read it meanwhile, not change it.
  HANDLE h = CreateFileW(upath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  LARGE_INTEGER size{};
  if (h != INVALID_HANDLE_VALUE && GetFileSizeEx(h, &size)) {
    handle_ = h;
    size_ = static_cast<std::uint64_t>(size.QuadPart);
    return true;
  }
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
#else
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat info {};
  if (fd >= 0 && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    fd_ = fd;
    size_ = static_cast<std::uint64_t>(info.st_size);
    return true;
  }
  if (fd >= 0) ::close(fd);
#endif
  *why = "cannot read the file";
  return false;
}

bool InputFile::read_at(std::uint64_t offset, void* buffer, std::size_t n) {
  if (offset > size_ || n > size_ - offset) return false;
  char* out = static_cast<char*>(buffer);
  while (n > 0) {
#ifdef _WIN32
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    DWORD want = static_cast<DWORD>(std::min<std::size_t>(n, 1 << 24));
    if (!handle_ || !ReadFile(handle_, out, want, &got, &at) || got == 0) return false;
#else
    ssize_t got = fd_ < 0 ? -1 : ::pread(fd_, out, n, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
#endif
    out += got;
    offset += static_cast<std::uint64_t>(got);
    n -= static_cast<std::size_t>(got);
  }
  return true;
}

bool copy_into(rt::ResourceSource& from, TempFile& to, std::string* why) {
  std::string buffer(1 << 20, '\0');
  for (std::uint64_t done = 0; done < from.size();) {
    std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), from.size() - done));
    if (!from.read_at(done, buffer.data(), piece)) {
      *why = "cannot read the file";
      return false;
    }
    if (!to.write(buffer.data(), piece, why)) return false;
    done += piece;
  }
  return true;
}

bool StringSource::read_at(std::uint64_t offset, void* buffer, std::size_t n) {
  if (offset > bytes_.size() || n > bytes_.size() - offset) return false;
  std::memcpy(buffer, bytes_.data() + offset, n);
  return true;
}

bool TempFile::close(std::string* why) {
  bool ok = true;
#ifdef _WIN32
  if (handle_) ok = CloseHandle(handle_) != 0;
  handle_ = nullptr;
#else
  if (fd_ >= 0) ok = ::close(fd_) == 0;
  fd_ = -1;
#endif
  if (!ok) *why = "cannot write the file (disk full?)";
  return ok;
}

bool TempFile::commit(std::string* why) {
  if (path_.empty() || !close(why)) return false;
  std::error_code ec;
  fs::rename(upath(path_), upath(target_), ec);
  if (ec) {
    *why = "cannot replace the file";
    return false;
  }
  path_.clear();
  return true;
}

void TempFile::discard() {
  std::string ignored;
  close(&ignored);
  if (path_.empty()) return;
  std::error_code ec;
  fs::remove(upath(path_), ec);
  path_.clear();
}

bool check_output(const std::string& out, const std::vector<std::string>& inputs, std::string* why) {
  std::error_code ec;
  fs::path target = upath(out);
  fs::file_status st = fs::symlink_status(target, ec);
  if (fs::is_symlink(st)) {
    *why = "is a symbolic link; name the file itself";
    return false;
  }
  if (fs::is_directory(st)) {
    *why = "is a folder; name a file in it";
    return false;
  }
#ifdef _WIN32
  // "NUL", "CON.exe", "COM1.txt": Windows opens a device for these anywhere.
  std::u16string name = target.filename().u16string();
  bool device = rt::is_unsafe_entry_name(name) && name.find(u':') == std::u16string::npos;
#else
  bool device = false;
#endif
  if (device || (fs::exists(st) && !fs::is_regular_file(st))) {
    *why = "is a device or another special file, not a regular file; nothing is written to it";
    return false;
  }
  fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  if (!fs::is_directory(folder, ec)) {
    *why = "its folder does not exist";
    return false;
  }
  fs::path canonical = fs::weakly_canonical(target, ec);
  for (const std::string& in : inputs) {
    if (in.empty()) continue;
    bool same = fs::exists(st) && fs::equivalent(target, upath(in), ec);
    if (!same) same = fs::weakly_canonical(upath(in), ec) == canonical;
    if (same) {
      *why = "is also an input (" + in + "); write the installer to another file";
      return false;
    }
  }
  return true;
}

PrivateFolder::PrivateFolder() {
#ifdef _WIN32
  wchar_t base[MAX_PATH + 1];
  DWORD n = GetTempPathW(MAX_PATH + 1, base);
  for (unsigned i = 0; n && i < 100; ++i) {
    std::wstring candidate = std::wstring(base, n) + L"mkinstaller-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                             std::to_wstring(GetTickCount() + i);
    if (CreateDirectoryW(candidate.c_str(), nullptr)) {
      path_ = ustr(fs::path(candidate));
      break;
    }
  }
#else
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/mkinstaller-XXXXXX";
  // mkdtemp makes a new folder only this user can enter.
  if (::mkdtemp(pattern.data())) path_ = pattern;
#endif
}

PrivateFolder::~PrivateFolder() {
  std::error_code ec;
  if (!path_.empty()) fs::remove_all(upath(path_), ec);
}

bool stderr_is_terminal() {
#ifdef _WIN32
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
#else
  return isatty(2) != 0;
#endif
}

ByteProgress::ByteProgress(std::string what, std::uint64_t total)
    : what_(std::move(what)), total_(total), shown_(total >= (64u << 20) && stderr_is_terminal()) {}

void ByteProgress::end() {
  if (shown_ && last_ >= 0) std::fputs("\n", stderr);
  shown_ = false;
}

void ByteProgress::step(std::uint64_t bytes) {
  done_ += bytes;
  int percent = total_ ? static_cast<int>(std::min<std::uint64_t>(done_, total_) * 100 / total_) : 100;
  if (!shown_ || percent == last_) return;
  last_ = percent;
  char line[160];
  std::snprintf(line, sizeof line, "\r%s: %llu/%llu MB (%d%%)", what_.c_str(),
                static_cast<unsigned long long>(done_ >> 20), static_cast<unsigned long long>(total_ >> 20), percent);
  std::fputs(line, stderr);
}

std::string shell_quote(const std::string& p) {
#ifdef _WIN32
  return "\"" + p + "\"";
#else
  std::string q = "'";
  for (char c : p) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
#endif
}

int run_command(const std::string& command) {
  std::fflush(stdout);
  std::fflush(stderr);
#ifdef _WIN32
  // cmd /c drops the first and the last quote of a line that starts with
  // one: quoted whole, the command's own quotes survive.
  std::wstring wide = upath("\"" + command + "\"").wstring();
  return _wsystem(wide.c_str());
#else
  int rc = std::system(command.c_str());
  return rc == -1 ? -1 : (WIFEXITED(rc) ? WEXITSTATUS(rc) : 128 + WTERMSIG(rc));
#endif
}

namespace {

fs::path own_folder() {
#ifdef _WIN32
  wchar_t buf[MAX_PATH * 4];
  DWORD n = GetModuleFileNameW(nullptr, buf, static_cast<DWORD>(std::size(buf)));
  return fs::path(std::wstring(buf, n)).parent_path();
#else
  std::error_code ec;
  return fs::read_symlink("/proc/self/exe", ec).parent_path();
#endif
}

}  // namespace

std::optional<std::string> find_companion(const std::string& file_name) {
  std::error_code ec;
  // Only the tool's own folder (or the one named for it): never the current
  // folder, which may be anyone's, nor a path of the machine it was built on.
  std::vector<fs::path> folders = {own_folder()};
  if (const char* home = std::getenv("MKINSTALLER_HOME")) folders = {upath(home)};
  for (const fs::path& folder : folders) {
    fs::path p = folder / upath(file_name);
    if (!folder.empty() && fs::is_regular_file(p, ec)) return ustr(p);
  }
  return std::nullopt;
}

int fail(const std::string& file, const std::string& message) {
  std::string line = "mkinstaller: error: " + (file.empty() ? "" : file + ": ") + message + "\n";
  std::fputs(line.c_str(), stderr);
  return 1;
}

int usage_error(const std::string& command, const std::string& message) {
  std::string line = "mkinstaller: error: " + message + "\nTry 'mkinstaller " + (command.empty() ? "" : command + " ") +
                     "--help' for more information.\n";
  std::fputs(line.c_str(), stderr);
  return 1;
}

void warn(const std::string& file, const std::string& message) {
  std::string line = "mkinstaller: warning: " + (file.empty() ? "" : file + ": ") + message + "\n";
  std::fputs(line.c_str(), stderr);
}

void out(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

}  // namespace mkinstaller
