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

}  // namespace testsupport
