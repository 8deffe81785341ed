#include "installer/format/dotnet_pins.h"

namespace installer::format {

namespace {

bool hex_of_length(std::string_view s, std::size_t n) {
  if (s.size() != n) return false;
  for (char c : s)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
  return true;
}

std::string cased(std::string_view s, bool upper) {
  std::string r(s);
  for (char& c : r) {
    if (upper && c >= 'a' && c <= 'f') c = char(c - 'a' + 'A');
    if (!upper && c >= 'A' && c <= 'F') c = char(c - 'A' + 'a');
  }
  return r;
}

// A "," list of hexadecimal values of `digits` digits; an empty text is an empty list.
bool hex_list(std::string_view text, std::size_t digits, bool upper, std::vector<std::string>* out) {
  out->clear();
  if (text.empty()) return true;
  for (;;) {
    std::size_t end = text.find(',');
    std::string_view item = text.substr(0, end);
    if (!hex_of_length(item, digits)) return false;
    out->push_back(cased(item, upper));
    if (end == std::string_view::npos) return true;
    text.remove_prefix(end + 1);
  }
}

bool web_address(std::string_view url) {
  return url.empty() || url.substr(0, 7) == "http://" || url.substr(0, 8) == "https://";
}

std::string joined(const std::vector<std::string>& items) {
  std::string r;
  for (const std::string& i : items) r += (r.empty() ? "" : ",") + i;
  return r;
}

}  // namespace

bool parse_dotnet_pins(std::string_view text, DotnetPins* pins) {
  const std::string_view tag = kDotnetPinsTag;
  text = text.substr(0, text.find('\0'));
  if (text.substr(0, tag.size()) != tag) return false;
  text.remove_prefix(tag.size());
  DotnetPins read;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) return false;
    std::string_view key = line.substr(0, eq), value = line.substr(eq + 1);
    bool ok = true;
    if (key == "url48" || key == "url481") {
      ok = web_address(value);
      (key == "url48" ? read.url48 : read.url481) = std::string(value);
    } else if (key == "roots") ok = hex_list(value, 40, true, &read.roots);
    else if (key == "signer") read.signer = value;
    else if (key == "sha256") ok = hex_list(value, 64, false, &read.digests);
    else ok = false;
    if (!ok) return false;
  }
  *pins = read;
  return true;
}

std::string dotnet_pins_text(const DotnetPins& pins) {
  return std::string(kDotnetPinsTag) + "url48=" + pins.url48 + "\nurl481=" + pins.url481 + "\nroots=" +
         joined(pins.roots) + "\nsigner=" + pins.signer + "\nsha256=" + joined(pins.digests);
}

std::optional<DotnetPins> find_dotnet_pins(std::string_view program, std::size_t* at, std::size_t* length) {
  std::optional<DotnetPins> found;
  std::string found_text;
  for (std::size_t i = program.find(kDotnetPinsTag); i != std::string_view::npos;
       i = program.find(kDotnetPinsTag, i + 1)) {
    std::string_view text = program.substr(i);
    text = text.substr(0, text.find('\0'));
    DotnetPins pins;
    // The tag alone (a program that names it) is no block.
    if (text.size() == sizeof kDotnetPinsTag - 1 || !parse_dotnet_pins(text, &pins)) continue;
    if (found) {
      if (text != found_text) return std::nullopt;
      continue;
    }
    found = pins;
    found_text = text;
    if (at) *at = i;
    if (length) *length = text.size();
  }
  return found;
}

}  // namespace installer::format
