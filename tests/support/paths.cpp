#include "tests/support/paths.h"

#include <atomic>
#include <ctime>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace testsupport {

namespace fs = std::filesystem;

std::string source_dir() { return native_path(SOURCE_DIR); }
std::string binary_dir() { return native_path(BINARY_DIR); }

std::string native_path(const std::string& unix_path) {
#ifdef _WIN32
  if (unix_path.size() > 1 && unix_path[1] == ':') return unix_path;
  std::string p = "Z:" + unix_path;
  for (char& c : p)
    if (c == '/') c = '\\';
  return p;
#else
  return unix_path;
#endif
}

std::string scratch_dir(const std::string& name) {
  static std::atomic<int> counter{0};
  // Wine gives small process ids again in every prefix and server run: the
  // start time keeps a later run from meeting an earlier run's folder (which
  // may hold links a test planted).
#ifdef _WIN32
  unsigned long pid = GetCurrentProcessId();
  static const unsigned long long started = GetTickCount64();
#else
  unsigned long pid = static_cast<unsigned long>(getpid());
  static const unsigned long long started = static_cast<unsigned long long>(time(nullptr));
#endif
  std::string base = binary_dir() + (binary_dir().find('\\') != std::string::npos ? "\\scratch\\" : "/scratch/");
  std::string dir = base + name + "-" + std::to_string(pid) + "-" + std::to_string(started) + "-" +
                    std::to_string(counter++);
  std::error_code ec;
  fs::remove_all(fs::path(dir), ec);
  fs::create_directories(fs::path(dir), ec);
  return dir;
}

std::string read_file(const std::string& path) {
  std::ifstream in(fs::path(path), std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(fs::path(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

}  // namespace testsupport
