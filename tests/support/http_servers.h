// The HTTP servers that the "http_servers" ctest fixture starts on 127.0.0.1
// (tests/servers/serve.py), and the byte pattern of their bodies.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace testsupport {

struct HttpServers {
  int nginx_port = 0;    // nginx serving nginx_root, and the same under /slow/ rate-limited
  int fault_port = 0;    // tests/servers/fault_server.py
  int refused_port = 0;  // refuses connections
  std::string nginx_root;  // native path; tests may add files there

  std::string nginx_url(const std::string& path) const;  // path starts with '/'
  std::string fault_url(const std::string& path) const;
};

// Reads <build>/servers/servers.txt; nullopt (with a note on stderr saying
// how to start them) when the fixture did not run.
std::optional<HttpServers> http_servers();

// Byte i of every body the servers make.
inline unsigned char pattern_byte(std::uint64_t i) { return static_cast<unsigned char>((i * 31 + (i >> 11)) & 0xFF); }
std::string pattern_bytes(std::uint64_t start, std::uint64_t length);

}  // namespace testsupport
