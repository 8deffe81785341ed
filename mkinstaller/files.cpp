#include "mkinstaller/files.h"

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
#else
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
  std::ostringstream ss;
  ss << in.rdbuf();
  if (in.bad()) {
    *why = "cannot read the file";
    return std::nullopt;
  }
  return ss.str();
}

bool write_file_atomically(const std::string& path, const std::string& bytes, std::string* why) {
  fs::path target = upath(path);
  fs::path temp = target;
  temp += ".mkinstaller-tmp";
  {
    std::ofstream o(temp, std::ios::binary | std::ios::trunc);
    if (!o) {
      *why = "cannot create the file";
      return false;
    }
    o.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    o.close();
    if (!o) {
      std::error_code ec;
      fs::remove(temp, ec);
      *why = "cannot write the file (disk full?)";
      return false;
    }
  }
  std::error_code ec;
  fs::rename(temp, target, ec);
  if (ec) {
    fs::remove(temp, ec);
    *why = "cannot replace the file";
    return false;
  }
  return true;
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
