// Named folders (43 fixed names: environment variables, "Shell Folders"
// values, "System32" and the program's own folder) and the two path macros
// package entry names may carry, "{app}/" and "{tmp}/".
#pragma once

#include <functional>
#include <string>

#include "runtime/value/value.h"

namespace installer {

constexpr int kNamedFolderCount = 43;
constexpr int kNamedFolderAppData = 1;
constexpr int kNamedFolderProgramFiles = 40;

// Where named_folder looks; the runtime's services on Windows.
struct FolderSources {
  std::function<rt::Text(const rt::Text& name)> environment;  // empty when unset
  // Runtime root codes (3 HKEY_CURRENT_USER, 4 HKEY_LOCAL_MACHINE); `path` is
  // key, backslash, value name. REG_EXPAND_SZ comes expanded.
  std::function<rt::Text(int root, const rt::Text& path)> registry_text;
  std::function<rt::Text()> program_folder;  // without a trailing backslash
};

// The table entry for an index; out-of-range indices give entry 1.
const char* named_folder_name(int index);
// The folder for a table entry; empty when it cannot be found.
rt::Text named_folder(int index, const FolderSources& sources);
rt::Text named_folder(int index);  // Windows

// "{app}/" -> installation directory + "\", then "{tmp}/" -> the temporary
// directory (which ends with a backslash); left to right, no rescanning,
// stepping over two-byte characters.
rt::Text expand_path_macros(const rt::Text& entry_name, const rt::Text& install_dir, const rt::Text& temp_dir);
rt::Text expand_path_macros(const rt::Text& entry_name, const rt::Text& install_dir);  // Windows
// The same in UTF-16, as the package step keeps names: `app` and `tmp` end
// with a backslash. `base` gets the length of the text up to the end of the
// last macro replaced (0 when none was): the folder the name goes below.
std::u16string expand_path_macros(const std::u16string& entry_name, const std::u16string& app,
                                  const std::u16string& tmp, std::size_t* base = nullptr);

}  // namespace installer
