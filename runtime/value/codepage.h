// The one place that converts between the program's texts (code page 936)
// and UTF-16. Windows uses MultiByteToWideChar/WideCharToMultiByte with 936;
// the native build uses iconv "CP936".
#pragma once

#include <string>
#include <string_view>

#include "runtime/value/value.h"

namespace rt {

constexpr unsigned kCodePage = 936;

// Code page 936 -> UTF-16. Invalid byte sequences become U+FFFD (native) or
// what the system's converter makes of them (Windows).
std::u16string wide_from_cp936(std::string_view text);
// UTF-16 -> code page 936; characters the code page lacks become '?'.
std::string cp936_from_wide(std::u16string_view wide);
// True when every character of the UTF-16 text exists in code page 936.
bool cp936_can_hold(std::u16string_view wide);

// UTF-8 <-> UTF-16 (ZIP names flagged UTF-8, the builder's configuration files).
std::u16string wide_from_utf8(std::string_view utf8);
std::string utf8_from_wide(std::u16string_view wide);

// Convenience for display and tests.
inline std::string utf8_from_cp936(std::string_view text) { return utf8_from_wide(wide_from_cp936(text)); }
inline std::string cp936_from_utf8(std::string_view utf8) { return cp936_from_wide(wide_from_utf8(utf8)); }

// Text services step over a byte with the high bit set and the byte after it
// together, so a match never starts on the second byte of a character.
inline bool is_lead_byte(unsigned char c) { return (c & 0x80) != 0; }

#ifdef _WIN32
// Null-terminated wide string for the W functions.
inline std::wstring wide_path(std::string_view text) {
  std::u16string w = wide_from_cp936(text);
  return std::wstring(w.begin(), w.end());
}
inline std::string cp936_from_wchar(const wchar_t* w) {
  return cp936_from_wide(std::u16string_view(reinterpret_cast<const char16_t*>(w)));
}
#endif

}  // namespace rt
