#include "tests/support/http_servers.h"

#include <cstdio>
#include <sstream>

#include "tests/support/paths.h"

namespace testsupport {

std::string HttpServers::nginx_url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(nginx_port) + path;
}

std::string HttpServers::fault_url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(fault_port) + path;
}

std::optional<HttpServers> http_servers() {
  std::string dir = binary_dir();
  char sep = dir.find('\\') != std::string::npos ? '\\' : '/';
  std::string text = read_file(dir + sep + "servers" + sep + "servers.txt");
  HttpServers s;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "nginx_port") s.nginx_port = std::stoi(value);
    if (key == "fault_port") s.fault_port = std::stoi(value);
    if (key == "refused_port") s.refused_port = std::stoi(value);
    if (key == "nginx_root") s.nginx_root = native_path(value);
  }
  if (!s.nginx_port || !s.fault_port || !s.refused_port) {
    std::fprintf(stderr,
                 "The test servers are not running. Run the test through ctest (fixture http_servers), or start "
                 "them with: tests/servers/serve.py start <build>/servers\n");
    return std::nullopt;
  }
  return s;
}

std::string pattern_bytes(std::uint64_t start, std::uint64_t length) {
  std::string out(length, '\0');
  for (std::uint64_t i = 0; i < length; ++i) out[i] = static_cast<char>(pattern_byte(start + i));
  return out;
}

}  // namespace testsupport
