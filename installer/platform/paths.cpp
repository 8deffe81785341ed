#include "installer/platform/paths.h"

#include <algorithm>
#include <string>
#include <vector>

#include "installer/format/installed_list.h"
#include "runtime/value/codepage.h"

namespace installer {

namespace {

bool is_separator(char c) { return c == '\\' || c == '/'; }

// Byte offsets of the path separators of a normalized path. A "\" can be the
// second byte of a double-byte character; those are stepped over.
std::vector<std::size_t> separator_offsets(std::string_view s) {
  std::vector<std::size_t> offsets;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (rt::is_lead_byte(static_cast<unsigned char>(s[i])) && i + 1 < s.size()) {
      ++i;
    } else if (s[i] == '\\') {
      offsets.push_back(i);
    }
  }
  return offsets;
}

// The key two paths are compared by: the list's one comparison key.
std::string fold_key(const rt::Text& path) { return format::listed_path_key(path.view()); }

}  // namespace

bool is_absolute_path(std::string_view s) {
  bool drive = s.size() >= 3 && s[1] == ':' && s[2] == '\\' &&
               ((s[0] >= 'A' && s[0] <= 'Z') || (s[0] >= 'a' && s[0] <= 'z'));
  bool unc = s.size() > 2 && s[0] == '\\' && s[1] == '\\';
  return drive || unc;
}

bool path_climbs(std::string_view s) {
  std::size_t start = 0;
  std::vector<std::size_t> seps = separator_offsets(s);
  seps.push_back(s.size());
  for (std::size_t end : seps) {
    if (s.substr(start, end - start) == "..") return true;
    start = end + 1;
  }
  return false;
}

std::size_t path_depth(const rt::Text& path) { return separator_offsets(path.view()).size(); }

rt::Text normalize_path(const rt::Text& path) {
  std::string_view s = path.view();
  std::string out;
  out.reserve(s.size());
  std::size_t i = 0;
  if (s.size() >= 2 && is_separator(s[0]) && is_separator(s[1])) {
    out = "\\\\";
    i = 2;
  }
  bool last_separator = !out.empty();
  for (; i < s.size(); ++i) {
    char c = s[i];
    if (rt::is_lead_byte(static_cast<unsigned char>(c)) && i + 1 < s.size()) {
      out += c;
      out += s[++i];
      last_separator = false;
    } else if (is_separator(c)) {
      if (!last_separator) out += '\\';
      last_separator = true;
    } else {
      out += c;
      last_separator = false;
    }
  }
  bool drive_root = out.size() == 3 && out[1] == ':';
  if (last_separator && out.size() > 1 && !drive_root && out != "\\\\") out.pop_back();
  return rt::Text(out);
}

bool same_path(const rt::Text& a, const rt::Text& b) { return fold_key(a) == fold_key(b); }

bool path_is_inside(const rt::Text& path, const rt::Text& folder) {
  std::string p = fold_key(path);
  std::string f = fold_key(folder);
  if (f.empty() || p.size() <= f.size() || p.compare(0, f.size(), f) != 0) return false;
  // The folder's end must be a separator of the path (or the folder a root
  // that already ends with one), and never inside a double-byte character.
  std::vector<std::size_t> seps = separator_offsets(p);
  bool folder_is_root = f.back() == '\\' && std::find(seps.begin(), seps.end(), f.size() - 1) != seps.end();
  if (folder_is_root) return true;
  return std::find(seps.begin(), seps.end(), f.size()) != seps.end();
}

rt::Text parent_folder(const rt::Text& path) {
  rt::Text normal = normalize_path(path);
  std::string_view s = normal.view();
  std::vector<std::size_t> seps = separator_offsets(s);
  if (seps.empty() || seps.back() + 1 == s.size()) return {};  // no folder, or a root itself
  std::size_t cut = seps.back();
  if (cut == 2 && s[1] == ':') return rt::Text(s.substr(0, 3));  // "C:\"
  if (cut < 2 && s.size() > 1 && s[0] == '\\' && s[1] == '\\') return {};
  return rt::Text(s.substr(0, cut));
}

rt::Text command_program(const rt::Text& uninstall_string) {
  std::string_view s = uninstall_string.view();
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  if (!s.empty() && s.front() == '"') {
    s.remove_prefix(1);
    std::size_t close = s.find('"');  // '"' is never the second byte of a character
    if (close != std::string_view::npos) s = s.substr(0, close);
  }
  return rt::Text(s);
}

}  // namespace installer
