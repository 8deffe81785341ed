#include "runtime/value/codepage.h"

#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <iconv.h>
#endif

namespace rt {

#ifdef _WIN32

std::u16string wide_from_cp936(std::string_view text) {
  if (text.empty()) return {};
  int n = MultiByteToWideChar(kCodePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return {};
  std::u16string out(static_cast<std::size_t>(n), u'\0');
  MultiByteToWideChar(kCodePage, 0, text.data(), static_cast<int>(text.size()),
                      reinterpret_cast<wchar_t*>(out.data()), n);
  return out;
}

std::string cp936_from_wide(std::u16string_view wide) {
  if (wide.empty()) return {};
  auto* w = reinterpret_cast<const wchar_t*>(wide.data());
  int n = WideCharToMultiByte(kCodePage, 0, w, static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(kCodePage, 0, w, static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
  return out;
}

bool cp936_can_hold(std::u16string_view wide) {
  if (wide.empty()) return true;
  BOOL lossy = FALSE;
  auto* w = reinterpret_cast<const wchar_t*>(wide.data());
  int n = WideCharToMultiByte(kCodePage, 0, w, static_cast<int>(wide.size()), nullptr, 0, nullptr, &lossy);
  return n > 0 && !lossy;
}

#else

namespace {
// Converts with iconv, replacing what cannot be converted: returns false if
// anything had to be replaced.
bool convert(const char* to, const char* from, const char* in, std::size_t in_len, std::string& out,
             const char* replacement, std::size_t replacement_len, std::size_t unit) {
  out.clear();
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  bool exact = true;
  char buf[4096];
  char* src = const_cast<char*>(in);
  std::size_t left = in_len;
  while (left > 0) {
    char* dst = buf;
    std::size_t room = sizeof buf;
    std::size_t r = iconv(cd, &src, &left, &dst, &room);
    out.append(buf, static_cast<std::size_t>(dst - buf));
    if (r == static_cast<std::size_t>(-1)) {
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL (truncated sequence): replace one input unit.
      exact = false;
      out.append(replacement, replacement_len);
      std::size_t skip = unit < left ? unit : left;
      src += skip;
      left -= skip;
    }
  }
  iconv_close(cd);
  return exact;
}
}  // namespace

std::u16string wide_from_cp936(std::string_view text) {
  std::string raw;
  const char repl[2] = {'\xFD', '\xFF'};  // U+FFFD, little endian
  convert("UTF-16LE", "CP936", text.data(), text.size(), raw, repl, 2, 1);
  std::u16string out(raw.size() / 2, u'\0');
  for (std::size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<char16_t>(static_cast<unsigned char>(raw[2 * i]) |
                                   (static_cast<unsigned char>(raw[2 * i + 1]) << 8));
  return out;
}

namespace {
std::string to_le_bytes(std::u16string_view wide) {
  std::string raw(wide.size() * 2, '\0');
  for (std::size_t i = 0; i < wide.size(); ++i) {
    raw[2 * i] = static_cast<char>(wide[i] & 0xFF);
    raw[2 * i + 1] = static_cast<char>(wide[i] >> 8);
  }
  return raw;
}
}  // namespace

std::string cp936_from_wide(std::u16string_view wide) {
  std::string raw = to_le_bytes(wide), out;
  convert("CP936", "UTF-16LE", raw.data(), raw.size(), out, "?", 1, 2);
  return out;
}

bool cp936_can_hold(std::u16string_view wide) {
  std::string raw = to_le_bytes(wide), out;
  return convert("CP936", "UTF-16LE", raw.data(), raw.size(), out, "?", 1, 2);
}

#endif

std::u16string wide_from_utf8(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    std::uint32_t cp = 0xFFFD;
    std::size_t len = 1;
    auto cont = [&](std::size_t k) {
      return i + k < s.size() && (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
    };
    if (c < 0x80) {
      cp = c;
    } else if (c >= 0xC2 && c < 0xE0 && cont(1)) {
      cp = ((c & 0x1Fu) << 6) | (s[i + 1] & 0x3F);
      len = 2;
    } else if (c >= 0xE0 && c < 0xF0 && cont(1) && cont(2)) {
      cp = ((c & 0x0Fu) << 12) | ((s[i + 1] & 0x3Fu) << 6) | (s[i + 2] & 0x3F);
      len = 3;
      if (cp < 0x800 || (cp >= 0xD800 && cp < 0xE000)) cp = 0xFFFD;
    } else if (c >= 0xF0 && c < 0xF5 && cont(1) && cont(2) && cont(3)) {
      cp = ((c & 0x07u) << 18) | ((s[i + 1] & 0x3Fu) << 12) | ((s[i + 2] & 0x3Fu) << 6) | (s[i + 3] & 0x3F);
      len = 4;
      if (cp < 0x10000 || cp > 0x10FFFF) cp = 0xFFFD;
    }
    i += len;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string utf8_from_wide(std::u16string_view w) {
  std::string out;
  out.reserve(w.size() * 3);
  for (std::size_t i = 0; i < w.size(); ++i) {
    std::uint32_t cp = w[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < w.size() && w[i + 1] >= 0xDC00 && w[i + 1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (w[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp < 0xE000) {
      cp = 0xFFFD;  // lone surrogate
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

}  // namespace rt
