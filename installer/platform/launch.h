// The installer's small file-system and shell operations: code page 936 <->
// UTF-16 for the wide Windows calls, special folders, parts of a path, a
// directory test, the program's own resources, starting a file.
#pragma once

#include <string>

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
// Folders asked for by CSIDL (special_folder(0, csidl, true)).
inline constexpr int kCsidlCommonPrograms = 0x17;         // every user's Start-menu programs
inline constexpr int kCsidlCommonDesktop = 0x19;          // every user's desktop
inline constexpr int kCsidlLocalAppData = 0x1c;           // the person's local (not roaming) data
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

// Starts a program (or opens an address) as the person at the desktop: when
// this process is elevated, the desktop shell is asked to start it, so that
// it runs with the shell's un-elevated rights, and without a shell nothing
// is started (kFailed: the caller tells the person where to start it); not
// elevated, it is started directly. `shell` stands in for the desktop
// shell's start (tests); it is asked whether or not the process is elevated.
enum class PersonStart { kThroughShell, kDirect, kFailed };
using ShellStart = bool (*)(const std::wstring& file, const std::wstring& parameters, const std::wstring& folder);
PersonStart start_as_person(const rt::Text& path, const rt::Text& parameters, ShellStart shell = nullptr);

}  // namespace installer
