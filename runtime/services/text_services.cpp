#include "runtime/services/text_services.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "runtime/value/codepage.h"

namespace rt {

namespace {

// Width of the character at byte offset i: 2 for a lead byte with a byte
// after it, else 1.
std::size_t char_width(std::string_view s, std::size_t i) {
  return (is_lead_byte(static_cast<unsigned char>(s[i])) && i + 1 < s.size()) ? 2 : 1;
}

unsigned char fold(unsigned char c) { return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c; }

// Does `sought` occur at byte offset i of `s` (a character boundary)? Letters
// are folded only where they are whole characters, never trail bytes.
bool matches_at(std::string_view s, std::size_t i, std::string_view sought, bool ignore_case) {
  if (s.size() - i < sought.size()) return false;
  if (!ignore_case) return s.compare(i, sought.size(), sought) == 0;
  for (std::size_t k = 0; k < sought.size();) {
    std::size_t w = char_width(sought, k);
    if (w == 2) {
      if (s[i + k] != sought[k] || s[i + k + 1] != sought[k + 1]) return false;
    } else if (fold(static_cast<unsigned char>(s[i + k])) != fold(static_cast<unsigned char>(sought[k]))) {
      return false;
    }
    k += w;
  }
  return true;
}

// First character boundary at or after byte offset `from`.
std::size_t boundary_at_or_after(std::string_view s, std::size_t from) {
  std::size_t i = 0;
  while (i < from && i < s.size()) i += char_width(s, i);
  return i;
}

}  // namespace

int text_len(const Text& text) { return static_cast<int>(text.size()); }

Text text_left(const Text& text, int n) {
  if (n <= 0) return Text("");
  return Text(text.view().substr(0, static_cast<std::size_t>(n)));
}

Text text_right(const Text& text, int n) {
  if (n <= 0) return Text("");
  std::string_view s = text.view();
  std::size_t k = std::min(s.size(), static_cast<std::size_t>(n));
  return Text(s.substr(s.size() - k));
}

Text char_text(int code) {
  char c = static_cast<char>(code);
  return Text(std::string_view(&c, 1));
}

int char_code(const Text& text, int position) {
  if (position < 1 || static_cast<std::size_t>(position) > text.size()) return 0;
  return text.byte(static_cast<std::size_t>(position - 1));
}

int find_text(const Text& text, const Text& sought, int start, bool ignore_case) {
  std::string_view s = text.view(), t = sought.view();
  std::size_t from = static_cast<std::size_t>(start < 1 ? 0 : start - 1);
  if (from >= s.size()) return -1;
  if (t.empty()) return 1;
  for (std::size_t i = boundary_at_or_after(s, from); i < s.size(); i += char_width(s, i))
    if (matches_at(s, i, t, ignore_case)) return static_cast<int>(i + 1);
  return -1;
}

int find_text_last(const Text& text, const Text& sought, std::optional<int> start, bool ignore_case) {
  std::string_view s = text.view(), t = sought.view();
  if (t.empty() || s.empty()) return -1;
  // The occurrence must end before `start`.
  std::size_t limit = s.size();
  if (start) limit = std::min(limit, static_cast<std::size_t>(*start < 1 ? 0 : *start - 1));
  int found = -1;
  for (std::size_t i = 0; i < s.size() && i + t.size() <= limit; i += char_width(s, i))
    if (matches_at(s, i, t, ignore_case)) found = static_cast<int>(i + 1);
  return found;
}

Text to_lower(const Text& text) {
  std::string s = text.str();
  for (std::size_t i = 0; i < s.size();) {
    std::size_t w = char_width(s, i);
    if (w == 1) s[i] = static_cast<char>(fold(static_cast<unsigned char>(s[i])));
    i += w;
  }
  return Text(s);
}

Text to_half_width(const Text& text) {
  std::string_view s = text.view();
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    std::size_t w = char_width(s, i);
    auto lead = static_cast<unsigned char>(s[i]);
    auto trail = w == 2 ? static_cast<unsigned char>(s[i + 1]) : 0;
    if (w == 2 && lead == 0xA3 && trail >= 0xA1 && trail <= 0xFE)
      out.push_back(static_cast<char>(trail - 0x80));
    else if (w == 2 && lead == 0xA1 && trail == 0xA1)
      out.push_back(' ');
    else
      out.append(s.substr(i, w));
    i += w;
  }
  return Text(out);
}

Text replace_text(const Text& text, const Text& sought, const Text& replacement, int start,
                  std::optional<int> count, bool case_sensitive) {
  std::string_view s = text.view(), t = sought.view(), r = replacement.view();
  std::size_t from = static_cast<std::size_t>(start < 1 ? 0 : start - 1);
  int left = count ? *count : -1;
  if (s.empty() || t.empty() || from >= s.size() || left == 0 || (count && *count < 0)) return Text(s);
  std::string out;
  std::size_t i = boundary_at_or_after(s, from);
  out.append(s.substr(0, i));
  while (i < s.size()) {
    if (left != 0 && matches_at(s, i, t, !case_sensitive)) {
      out.append(r);
      i += t.size();
      if (left > 0) --left;
    } else {
      std::size_t w = char_width(s, i);
      out.append(s.substr(i, w));
      i += w;
    }
  }
  return Text(out);
}

Array<Text> split_text(const Text& text, const Text& separator, std::optional<int> max_parts) {
  Array<Text> parts;
  std::string_view s = text.view(), sep = separator.view();
  std::size_t limit = max_parts ? static_cast<std::size_t>(*max_parts < 0 ? 0 : *max_parts) : SIZE_MAX;
  if (s.empty() || limit == 0) return parts;
  if (sep.empty()) {
    parts.push_back(Text(s));
    return parts;
  }
  std::size_t piece = 0;
  for (std::size_t i = 0; i < s.size() && parts.count() < limit;) {
    if (matches_at(s, i, sep, false)) {
      parts.push_back(Text(s.substr(piece, i - piece)));
      i += sep.size();
      piece = i;
    } else {
      i += char_width(s, i);
    }
  }
  if (piece < s.size() && parts.count() < limit) parts.push_back(Text(s.substr(piece)));
  return parts;
}

Text blank_text(int n) { return Text(std::string(n < 1 ? 0 : static_cast<std::size_t>(n), ' ')); }

Text pointer_to_text(const void* address) { return Text(static_cast<const char*>(address)); }

Text break_long_lines(const Text& text, std::size_t width) {
  const std::string_view s = text.view();
  if (s.size() <= width || width < 2) return text;
  std::string out;
  std::size_t start = 0, fit = std::string::npos;  // the current line's start; its last place to break
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t step = is_lead_byte(static_cast<unsigned char>(s[i])) && i + 1 < s.size() ? 2 : 1;
    if (s[i] == '\n') {
      out.append(s.substr(start, i + 1 - start));
      start = i + 1;
      fit = std::string::npos;
      i += 1;
      continue;
    }
    if (i + step - start > width) {
      // A break that would leave a short line (a lone "C:\\") gives way to
      // one where the width ends; a space there ends its line, unseen. Only
      // line breaks are added: without them the text is as it was.
      std::size_t cut = fit != std::string::npos && fit > start + width / 2 ? fit : i;
      if (cut == i && s[i] == ' ') ++cut;
      out.append(s.substr(start, cut - start));
      out += "\r\n";
      start = cut;
      fit = std::string::npos;
      i = cut;  // what follows is measured again on its new line
      continue;
    }
    i += step;
    if (step == 2 || s[i - 1] == ' ' || s[i - 1] == '\\' || s[i - 1] == '/') fit = i;
  }
  out.append(s.substr(start));
  return Text(out);
}

}  // namespace rt
