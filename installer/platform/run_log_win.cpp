#include "installer/platform/run_log.h"

#include <windows.h>

#include <mutex>
#include <string>

#include "runtime/value/codepage.h"
#include "runtime/win/confined.h"
#include "runtime/win/lock_win.h"

namespace installer {

namespace {

rt::Lock g_lock;
rt::win::File* g_file = nullptr;  // the open log; null while none is open
std::u16string g_path;             // its full path

void write_locked(std::string_view utf8) {
  DWORD written = 0;
  SetFilePointer(g_file->get(), 0, nullptr, FILE_END);
  WriteFile(g_file->get(), utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

}  // namespace

bool open_run_log(const std::u16string& given, bool append) {
  wchar_t full[MAX_PATH * 2] = {};
  DWORD n = GetFullPathNameW(reinterpret_cast<const wchar_t*>(given.c_str()), MAX_PATH * 2, full, nullptr);
  if (n == 0 || n >= MAX_PATH * 2) return false;
  const std::u16string path(reinterpret_cast<const char16_t*>(full), n);
  std::u16string folder_path, name;
  if (!rt::win::split_plain_parent(path, &folder_path, &name) || name.size() < 5) return false;
  std::u16string extension = name.substr(name.size() - 4);
  for (char16_t& c : extension) c = (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c;
  if (extension != u".log" && extension != u".txt") return false;
  rt::win::Folder folder = rt::win::Folder::open(folder_path);
  if (!folder) return false;
  const DWORD access = GENERIC_READ | GENERIC_WRITE;
  rt::win::FileStatus status = rt::win::FileStatus::kFailed;
  rt::win::File file = folder.open_file(name, access, FILE_SHARE_READ, &status);
  if (file) {
    // Only a log of this program's is taken over.
    char head[128] = {};
    DWORD read = 0;
    if (!ReadFile(file.get(), head, sizeof head - 1, &read, nullptr) ||
        std::string_view(head, read).find(kRunLogTitle) == std::string_view::npos)
      return false;
    if (!append && (SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN) != 0 || !SetEndOfFile(file.get())))
      return false;
  } else if (status == rt::win::FileStatus::kMissing) {
    file = folder.create_file(name, access, FILE_SHARE_READ);
    if (!file) return false;
  } else {
    return false;
  }
  {
    std::lock_guard<rt::Lock> lock(g_lock);
    delete g_file;
    g_file = new rt::win::File(std::move(file));
    g_path = path;
  }
  log_line({kRunLogTitle});
  return true;
}

void close_run_log() {
  std::lock_guard<rt::Lock> lock(g_lock);
  delete g_file;
  g_file = nullptr;
}

std::u16string run_log_path() {
  std::lock_guard<rt::Lock> lock(g_lock);
  return g_path;
}

bool run_log_open() {
  std::lock_guard<rt::Lock> lock(g_lock);
  return g_file != nullptr;
}

void log_line(std::initializer_list<std::string_view> parts) {
  std::lock_guard<rt::Lock> lock(g_lock);
  if (!g_file) return;
  SYSTEMTIME now;
  GetLocalTime(&now);
  // 2026-12-08 19:30:01.123
  const WORD fields[] = {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
  const char widths[] = {4, 2, 2, 2, 2, 2, 3};
  const char after[] = "-- ::. ";
  std::string line;
  for (int i = 0; i < 7; ++i) {
    LogNumber n = log_number(fields[i]);
    line.append(widths[i] > n.size ? widths[i] - n.size : 0, '0');
    line += n;
    line += after[i];
  }
  std::string text;
  for (std::string_view part : parts) text += part;
  // Program texts are code page 936; line breaks inside a message stay on its line.
  for (char c : rt::utf8_from_cp936(text)) line += (c == '\r' || c == '\n') ? ' ' : c;
  line += "\r\n";
  write_locked(line);
}

void log_failure(std::string_view message, unsigned long windows_error) {
  if (windows_error == 0) log_line({"failed: ", message});
  else log_line({"failed: ", message, " (Windows error ", log_number(windows_error), ")"});
}

LogNumber log_number(unsigned long long value) {
  LogNumber n;
  char reversed[24];
  int count = 0;
  do {
    reversed[count++] = char('0' + value % 10);
    value /= 10;
  } while (value != 0);
  for (n.size = 0; count > 0; ++n.size) n.digits[n.size] = reversed[--count];
  return n;
}

void log_end(int code) { log_line({"end: exit code ", log_number(static_cast<unsigned>(code))}); }

}  // namespace installer
