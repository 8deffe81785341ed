#include "installer/format/installed_list.h"

#include <set>

#include "installer/format/cipher.h"
#include "installer/format/format.h"
#include "runtime/value/codepage.h"

namespace installer::format {

namespace {

bool is_separator(char c) { return c == '\\' || c == '/'; }

// Whether the path's last byte is a separator and not the second byte of a
// double-byte character ("\" can be one; "/" never is).
bool ends_with_separator(std::string_view s) {
  bool last = false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (rt::is_lead_byte(static_cast<unsigned char>(s[i])) && i + 1 < s.size()) {
      ++i;
      last = false;
    } else {
      last = is_separator(s[i]);
    }
  }
  return last;
}

}  // namespace

rt::Bytes seal_installed_list(const rt::Text& list) { return encrypt_text(list, kRecordPassPhrase, true); }

rt::Text open_installed_list(const rt::Bytes& sealed) { return decrypt_record(sealed, kRecordPassPhrase, true); }

void ListLines::iterator::next() {
  while (!rest_.empty()) {
    std::size_t end = rest_.find('\n');  // '\n' is never the second byte of a character
    std::string_view line = rest_.substr(0, end);
    rest_ = end == std::string_view::npos ? std::string_view() : rest_.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line[0] == '|') continue;  // a property
    std::string_view mark;
    std::size_t tab = line.find('\t');  // never the second byte of a character
    if (tab != std::string_view::npos) {
      mark = line.substr(tab + 1);
      line = line.substr(0, tab);
    }
    if (line.empty()) continue;  // a mark of no path names nothing
    current_ = {line, ends_with_separator(line), mark};
    return;
  }
  // The end: equal to end() whatever view the list was.
  rest_ = std::string_view();
  at_end_ = true;
}

void append_listed(std::string& list, std::string_view path, std::string_view mark) {
  std::size_t start = list.size();
  list += path;
  for (std::size_t i = start; i < list.size(); ++i)
    if (list[i] == '/') list[i] = '\\';  // '/' is never the second byte of a character
  if (!mark.empty()) {
    list += '\t';
    list += mark;
  }
  list += "\r\n";
}

namespace {

// The property lines of a list, each "|key=value" without its line end.
template <typename F>
void for_each_property(std::string_view list, F each) {
  while (!list.empty()) {
    std::size_t end = list.find('\n');
    std::string_view line = list.substr(0, end);
    list = end == std::string_view::npos ? std::string_view() : list.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line[0] != '|') continue;
    std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    each(line.substr(1, equals - 1), line.substr(equals + 1), line);
  }
}

}  // namespace

std::string list_property(std::string_view list, std::string_view key) {
  std::string value;
  for_each_property(list, [&](std::string_view k, std::string_view v, std::string_view) {
    if (k == key) value = std::string(v);
  });
  return value;
}

std::string with_list_property(std::string_view list, std::string_view key, std::string_view value) {
  std::string out;
  out += '|';
  out += key;
  out += '=';
  out += value;
  out += "\r\n";
  // Every other line as it was, the property's earlier value aside.
  while (!list.empty()) {
    std::size_t end = list.find('\n');
    std::string_view line = list.substr(0, end == std::string_view::npos ? list.size() : end + 1);
    list.remove_prefix(line.size());
    std::string_view bare = line;
    while (!bare.empty() && (bare.back() == '\n' || bare.back() == '\r')) bare.remove_suffix(1);
    if (bare.size() > key.size() + 1 && bare[0] == '|' && bare.substr(1, key.size()) == key &&
        bare[key.size() + 1] == '=')
      continue;
    out += line;
  }
  return out;
}

std::string listed_path_key(std::string_view s) {
  // Components first, with their double-byte characters kept whole.
  std::string key;
  key.reserve(s.size());
  std::size_t i = 0;
  if (s.size() >= 2 && is_separator(s[0]) && is_separator(s[1])) {
    key = "\\\\";
    i = 2;
  } else if (!s.empty() && is_separator(s[0])) {
    key = "\\";
    i = 1;
  }
  const std::size_t root = key.size();
  std::string component;
  auto flush = [&] {
    if (component == "." || component.empty()) {
      component.clear();
      return;
    }
    if (key.size() > root && key.back() != '\\') key += '\\';
    key += component;
    component.clear();
  };
  for (; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (rt::is_lead_byte(c) && i + 1 < s.size()) {
      component += s[i];
      component += s[++i];
    } else if (is_separator(s[i])) {
      flush();
    } else {
      component += static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
    }
  }
  flush();
  // "c:" alone is the drive's root as the list writes it ("C:\").
  if (key.size() == 2 && key[1] == ':') key += '\\';
  return key;
}

rt::Text merge_installed_lists(const rt::Text& current, const rt::Text& earlier) {
  std::set<std::string> seen;
  std::string out;
  for_each_property(current.view(), [&](std::string_view, std::string_view, std::string_view line) {
    out += line;
    out += "\r\n";
  });
  auto add = [&](const ListedPath& line) {
    if (!seen.insert(listed_path_key(line.path)).second) return;
    out += line.path;
    if (!line.mark.empty()) {
      out += '\t';
      out += line.mark;
    }
    out += "\r\n";
  };
  for (const ListedPath& line : ListLines(current.view())) add(line);
  for (const ListedPath& line : ListLines(earlier.view())) add(line);
  return rt::Text(out);
}

}  // namespace installer::format
