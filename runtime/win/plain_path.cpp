#include "runtime/win/plain_path.h"

namespace rt::win {

namespace {

bool is_separator(char16_t c) { return c == u'\\' || c == u'/'; }

char16_t upper(char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - u'a' + u'A') : c; }

// Windows opens the device for these names in any folder, with any
// extension, and reads the superscript digits as digits.
bool device_name(std::u16string_view name) {
  std::u16string_view stem = name.substr(0, name.find(u'.'));
  while (!stem.empty() && stem.back() == u' ') stem.remove_suffix(1);
  auto is = [&](std::u16string_view word) {
    if (stem.size() != word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i)
      if (upper(stem[i]) != word[i]) return false;
    return true;
  };
  if (is(u"CON") || is(u"PRN") || is(u"AUX") || is(u"NUL") || is(u"CONIN$") || is(u"CONOUT$")) return true;
  if (stem.size() != 4) return false;
  std::u16string_view three = stem.substr(0, 3);
  bool port = (upper(three[0]) == u'C' && upper(three[1]) == u'O' && upper(three[2]) == u'M') ||
              (upper(three[0]) == u'L' && upper(three[1]) == u'P' && upper(three[2]) == u'T');
  char16_t digit = stem[3];
  return port && ((digit >= u'0' && digit <= u'9') || digit == u'\u00B9' || digit == u'\u00B2' || digit == u'\u00B3');
}

}  // namespace

bool plain_name(std::u16string_view name) {
  if (name.empty() || name.size() > 255 || name == u"." || name == u"..") return false;
  for (char16_t c : name) {
    if (c < 0x20 || c == 0x7F) return false;
    switch (c) {
      case u'\\': case u'/': case u':': case u'*': case u'?': case u'"': case u'<': case u'>': case u'|':
        return false;
      default:
        break;
    }
  }
  if (name.back() == u'.' || name.back() == u' ') return false;
  return !device_name(name);
}

bool split_plain_path(std::u16string_view path, std::vector<std::u16string_view>* names) {
  if (names) names->clear();
  if (path.size() < 3 || path[1] != u':' || !is_separator(path[2])) return false;
  char16_t drive = upper(path[0]);
  if (drive < u'A' || drive > u'Z') return false;
  std::size_t at = 3;
  while (at < path.size()) {
    while (at < path.size() && is_separator(path[at])) ++at;
    std::size_t end = at;
    while (end < path.size() && !is_separator(path[end])) ++end;
    if (end == at) break;  // only separators were left
    std::u16string_view name = path.substr(at, end - at);
    if (!plain_name(name)) return false;
    if (names) names->push_back(name);
    at = end;
  }
  return true;
}

bool split_plain_parent(std::u16string_view path, std::u16string* folder, std::u16string* name) {
  std::vector<std::u16string_view> names;
  if (!split_plain_path(path, &names) || names.empty()) return false;
  *name = std::u16string(names.back());
  *folder = std::u16string(path.substr(0, std::size_t(names.back().data() - path.data())));
  return true;
}

}  // namespace rt::win
