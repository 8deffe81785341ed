#include "tests/support/dotnet_url.h"

#include "installer/steps/dotnet.h"

namespace testsupport {

std::string built_dotnet_url() { return installer::dotnet_offline_url().str(); }

bool point_dotnet_url_at(std::string& program, const std::string& url) {
  // With its terminating NUL, so that a longer text that merely starts with
  // the address is not taken for it.
  std::string built = built_dotnet_url() + '\0';
  std::size_t at = program.find(built);
  if (at == std::string::npos || program.find(built, at + 1) != std::string::npos || url.size() >= built.size())
    return false;
  std::string replacement = url;
  replacement.resize(built.size(), '\0');
  program.replace(at, built.size(), replacement);
  return true;
}

}  // namespace testsupport

namespace testsupport {

bool point_dotnet_sha256_at(std::string& program, const std::string& sha256) {
  std::string built = installer::dotnet_offline_sha256().str() + '\0';
  std::size_t at = program.find(built);
  if (at == std::string::npos || program.find(built, at + 1) != std::string::npos || sha256.size() != 64)
    return false;
  program.replace(at, 64, sha256);
  return true;
}

}  // namespace testsupport
