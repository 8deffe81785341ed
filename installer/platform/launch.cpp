// The portable half of the launch and file helpers: UTF-16 conversion of the
// installer's texts and the parts of a path. Paths are walked character by
// character in code page 936, so a two-byte character whose second byte is
// 0x5C is never taken for a backslash.
#include "installer/platform/launch.h"

#include <cstring>

#include "runtime/value/codepage.h"

namespace installer {

namespace {

// Steps over one character: a lead byte takes its trail byte along unless the
// text ends there.
const char* next_char(const char* p) {
  if (rt::is_lead_byte(static_cast<unsigned char>(*p)) && p[1]) return p + 2;
  return p + 1;
}

// The last path component: what follows the last '\', '/' or ':' that has a
// character after it other than another separator.
const char* find_file_name(const char* path) {
  const char* name = path;
  for (const char* p = path; *p; p = next_char(p)) {
    if ((*p == '\\' || *p == '/' || *p == ':') && p[1] && p[1] != '\\' && p[1] != '/') name = p + 1;
  }
  return name;
}

// The last dot of the last component and what follows it, or the end of the
// text. A backslash or a blank after the dot means there is no extension.
const char* find_extension(const char* path) {
  const char* dot = nullptr;
  const char* p = path;
  for (; *p; p = next_char(p)) {
    if (*p == '\\' || *p == ' ')
      dot = nullptr;
    else if (*p == '.')
      dot = p;
  }
  return dot ? dot : p;
}

}  // namespace

rt::Bytes to_utf16(const rt::Text& text, bool trim) {
  if (text.empty()) return {};
  std::u16string wide = rt::wide_from_cp936(text.view());
  if (trim) {
    std::size_t nul = wide.find(u'\0');
    if (nul != std::u16string::npos) wide.resize(nul);
  }
  wide.push_back(u'\0');
  rt::Bytes out;
  out.resize(wide.size() * 2);
  for (std::size_t i = 0; i < wide.size(); ++i) {
    out.data()[2 * i] = static_cast<std::uint8_t>(wide[i] & 0xFF);
    out.data()[2 * i + 1] = static_cast<std::uint8_t>(wide[i] >> 8);
  }
  return out;
}

rt::Text from_utf16(const rt::Bytes& wide) {
  std::u16string units;
  for (std::size_t i = 0; i + 1 < wide.size(); i += 2) {
    char16_t u = static_cast<char16_t>(wide[i] | (wide[i + 1] << 8));
    if (u == 0) break;
    units.push_back(u);
  }
  if (units.empty()) return {};
  return rt::Text(rt::cp936_from_wide(units));
}

rt::Text file_name_of(const rt::Text& path, bool keep_extension) {
  const char* name = find_file_name(path.c_str());
  // A name whose last character is a backslash is a folder, not a file.
  const char* last = nullptr;
  for (const char* p = name; *p; p = next_char(p)) last = p;
  if (last && *last == '\\' && next_char(last) - last == 1) return {};
  std::size_t len = std::strlen(name);
  if (!keep_extension) len -= std::strlen(find_extension(name));
  return rt::Text(std::string_view(name, len));
}

rt::Text extension_of(const rt::Text& path) { return rt::Text(find_extension(path.c_str())); }

}  // namespace installer
