// The installer's small file-system and shell operations: code page 936 <->
// UTF-16 for the wide Windows calls, special folders, parts of a path, a
// directory test, the program's own resources, starting a file.
#pragma once

#include "runtime/value/value.h"

namespace installer {

// Text -> UTF-16LE code units in a byte set, with the terminating NUL unit;
// an empty text gives an empty byte set. With trim set the result is cut at
// its first NUL unit and one NUL unit appended again.
rt::Bytes to_utf16(const rt::Text& text, bool trim = false);
// UTF-16LE byte set (NUL-terminated or not) -> text; empty gives empty.
rt::Text from_utf16(const rt::Bytes& wide);

// Special-folder kinds of special_folder().
enum FolderKind : int {
  kFolderPersonal = 1,
  kFolderFavorites = 2,
  kFolderDesktop = 3,
  kFolderFonts = 4,
  kFolderStartMenu = 5,
  kFolderPrograms = 6,
  kFolderStartup = 7,
  kFolderAppData = 8,
  kFolderWindows = 9,
  kFolderSystem = 10,
  kFolderTemp = 11,
  kFolderInternetCache = 12,
  kFolderCommonAppData = 13,
};
// A folder ending with a backslash, or empty. With by_csidl set, `csidl` is
// asked for directly; otherwise `kind` is mapped (unknown kinds as 3).
rt::Text special_folder(int kind, int csidl = 0, bool by_csidl = false);
rt::Text temp_directory();

rt::Text file_name_of(const rt::Text& path, bool keep_extension);
rt::Text extension_of(const rt::Text& path);
bool directory_exists(const rt::Text& path);

// Show modes: 0 normal, 1 hidden, 2 minimised without activation, 3 maximised.
// False only when the file was not found.
bool launch_file(const rt::Text& path, const rt::Text& parameters, int show_mode);

}  // namespace installer
