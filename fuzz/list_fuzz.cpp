// The installed-file list as every later run and the uninstaller read it:
// the sealed bytes opened, the lines walked, the properties read and set,
// two lists merged, and the uninstaller's reading of paths and folders.
// The first byte splits the rest into two lists (this run's, the earlier).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

#include "installer/format/installed_list.h"
#include "installer/uninstaller/uninstall.h"
#include "runtime/value/value.h"

namespace {

namespace format = installer::format;

void check(bool ok) {
  if (!ok) std::abort();
}

// Every path's key, once per list line (properties are no paths).
std::set<std::string> keys(std::string_view list) {
  std::set<std::string> found;
  for (const format::ListedPath& line : format::ListLines(list)) {
    check(!line.path.empty());
    check(line.path.find('\n') == std::string_view::npos);
    if (line.path[0] != '|') found.insert(format::listed_path_key(line.path));
  }
  return found;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > 64 * 1024) return 0;
  std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::size_t split = bytes.empty() ? 0 : data[0] % (bytes.size() + 1);
  const rt::Text current(bytes.substr(0, split)), earlier(bytes.substr(split));

  // Sealing and opening give the list back, whatever it holds.
  rt::Bytes sealed = format::seal_installed_list(current);
  check(format::open_installed_list(sealed) == current || current.empty());
  format::open_installed_list(rt::Bytes(bytes));

  // A path's key is its own key.
  for (const format::ListedPath& line : format::ListLines(current.view())) {
    const std::string key = format::listed_path_key(line.path);
    check(format::listed_path_key(key) == key);
  }

  // A property set is read back, and the paths stay as they were.
  const std::string value = "user";
  std::string with = format::with_list_property(current.view(), format::kListScope, value);
  check(format::list_property(with, format::kListScope) == value);
  check(keys(with) == keys(current.view()));

  // The merge holds each path of both lists once, this run's properties.
  rt::Text merged = format::merge_installed_lists(current, earlier);
  std::set<std::string> both = keys(current.view());
  for (const std::string& k : keys(earlier.view())) both.insert(k);
  check(keys(merged.view()) == both);
  check(format::list_property(merged.view(), format::kListName) ==
        format::list_property(current.view(), format::kListName));

  // The uninstaller's reading: each folder to try once, and the folder
  // itself never among them.
  installer::InstalledFiles installed = installer::parse_installed_files(merged);
  const rt::Text folder("C:\\Program Files\\Foo");
  std::set<std::string> tried;
  for (const rt::Text& f : installer::folders_to_remove(installed, folder)) {
    check(tried.insert(format::listed_path_key(f.view())).second);
    check(!format::same_listed_path(f.view(), folder.view()));
  }
  return 0;
}
