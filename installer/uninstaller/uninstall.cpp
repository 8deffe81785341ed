#include "installer/uninstaller/uninstall.h"

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "installer/format/installed_list.h"
#include "runtime/value/codepage.h"
#include "runtime/win/plain_path.h"

namespace installer {

InstalledFiles parse_installed_files(const rt::Text& list) {
  InstalledFiles result;
  for (const format::ListedPath& line : format::ListLines(list.view())) {
    rt::Text entry(line.path);
    rt::Text normal = normalize_path(entry);
    if (!rt::win::plain_path(rt::wide_from_cp936(normal.view()))) {
      result.unusable.push_back(entry);
    } else if (line.folder) {
      result.folders.push_back(normal);
    } else {
      result.files.push_back(normal);
      if (!line.mark.empty()) result.marks[format::listed_path_key(normal.view())] = std::string(line.mark);
    }
  }
  result.scope = format::list_property(list.view(), format::kListScope);
  result.software_name = rt::Text(format::list_property(list.view(), format::kListName));
  result.made_above = rt::Text(format::list_property(list.view(), format::kListMadeAbove));
  return result;
}

rt::Array<rt::Text> folders_to_remove(const InstalledFiles& installed, const rt::Text& install_folder) {
  std::set<std::string> seen;
  std::vector<rt::Text> folders;
  const std::string top = format::listed_path_key(install_folder.view());
  auto add = [&](const rt::Text& folder) {
    if (folder.empty()) return;
    std::string key = format::listed_path_key(folder.view());
    if (key == top || !seen.insert(key).second) return;
    folders.push_back(normalize_path(folder));
  };
  auto add_parents = [&](const rt::Text& path) {
    if (install_folder.empty()) return;
    for (rt::Text up = parent_folder(path); path_is_inside(up, install_folder); up = parent_folder(up)) add(up);
  };
  for (const rt::Text& folder : installed.folders) {
    add(folder);
    add_parents(folder);
  }
  for (const rt::Text& file : installed.files) add_parents(file);
  // A folder can only go once everything below it has gone.
  std::stable_sort(folders.begin(), folders.end(),
                   [](const rt::Text& a, const rt::Text& b) { return path_depth(a) > path_depth(b); });
  rt::Array<rt::Text> result;
  for (rt::Text& folder : folders) result.push_back(std::move(folder));
  return result;
}

rt::Text remaining_summary(const rt::Array<rt::Text>& remaining, std::size_t max_lines) {
  std::string out;
  std::size_t shown = 0;
  for (const rt::Text& item : remaining) {
    if (shown == max_lines) break;
    if (shown++) out += "\r\n";
    out += item.view();
  }
  if (remaining.count() > shown) {
    out += "\r\n……另有 " + std::to_string(remaining.count() - shown) + " 项";
  }
  return rt::Text(out);
}

}  // namespace installer
