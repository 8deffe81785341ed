#include "tests/support/dotnet_url.h"

namespace testsupport {

bool point_dotnet_pins_at(std::string& program, const installer::format::DotnetPins& pins) {
  std::size_t at = 0, length = 0;
  if (!installer::format::find_dotnet_pins(program, &at, &length)) return false;
  std::string text = installer::format::dotnet_pins_text(pins);
  if (text.size() > length) return false;
  text.resize(length, '\0');
  program.replace(at, length, text);
  return true;
}

bool set_download_patience(std::string& program, const installer::DownloadPatience& patience) {
  const std::string marker(installer::kPatienceMarker, sizeof installer::kPatienceMarker);
  std::size_t at = program.find(marker);
  if (at == std::string::npos || program.find(marker, at + 1) != std::string::npos ||
      program.size() - at < 16 + sizeof patience)
    return false;
  program.replace(at + 16, sizeof patience, reinterpret_cast<const char*>(&patience), sizeof patience);
  return true;
}

}  // namespace testsupport
