// The Windows half of the launch and file helpers: special folders, the
// directory test, the program's own resources and starting a file. Every path
// goes to the wide functions converted from code page 936.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstring>

#include "installer/platform/launch.h"
#include "runtime/value/codepage.h"
#include "runtime/win/confined.h"

namespace installer {

namespace {

rt::Text text_from_wide(const wchar_t* w) { return rt::Text(rt::cp936_from_wchar(w)); }

// CSIDL of each folder kind 1-13; kind 11 (the temporary directory) has none.
constexpr int kKindCsidl[] = {0,  CSIDL_PERSONAL, CSIDL_FAVORITES, CSIDL_DESKTOPDIRECTORY, CSIDL_FONTS,
                              CSIDL_STARTMENU, CSIDL_PROGRAMS, CSIDL_STARTUP, CSIDL_APPDATA, CSIDL_WINDOWS,
                              CSIDL_SYSTEM, -1, CSIDL_INTERNET_CACHE, CSIDL_COMMON_APPDATA};

rt::Text with_trailing_backslash(wchar_t* buf, std::size_t capacity) {
  std::size_t n = lstrlenW(buf);
  if (n == 0) return {};
  if (buf[n - 1] != L'\\') {
    if (n + 1 >= capacity) return {};
    buf[n] = L'\\';
    buf[n + 1] = 0;
  }
  return text_from_wide(buf);
}

}  // namespace

rt::Text special_folder(int kind, int csidl, bool by_csidl) {
  wchar_t buf[MAX_PATH + 1] = {};
  if (by_csidl) {
    if (!SHGetSpecialFolderPathW(nullptr, buf, csidl, FALSE)) return {};
    return with_trailing_backslash(buf, MAX_PATH + 1);
  }
  if (kind < kFolderPersonal || kind > kFolderCommonAppData) kind = kFolderDesktop;
  if (kind == kFolderTemp) {
    DWORD n = GetTempPathW(MAX_PATH, buf);
    if (n == 0 || n > MAX_PATH) return {};
    return with_trailing_backslash(buf, MAX_PATH + 1);
  }
  return special_folder(0, kKindCsidl[kind], true);
}

rt::Text temp_directory() { return special_folder(kFolderTemp); }

bool directory_exists(const rt::Text& path) {
  // Looked at through a hold on the folder above (a drive's root: held itself).
  std::u16string wide = rt::wide_from_cp936(path.view()), folder, name;
  if (!rt::win::split_plain_parent(wide, &folder, &name)) return bool(rt::win::Folder::open(wide));
  rt::win::Folder above = rt::win::Folder::open(folder);
  DWORD attributes = 0;
  return above && above.look(name, &attributes) == rt::win::FileStatus::kOk && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool launch_file(const rt::Text& path, const rt::Text& parameters, int show_mode) {
  int show = SW_SHOWNORMAL;
  switch (show_mode) {
    case 1: show = SW_HIDE; break;
    case 2: show = SW_SHOWMINNOACTIVE; break;
    case 3: show = SW_SHOWMAXIMIZED; break;
    default: break;
  }
  std::wstring wide_path = rt::wide_path(path.view());
  std::wstring wide_parameters = rt::wide_path(parameters.view());
  // The program starts in its own folder (the installation folder), not in
  // the installer's (Downloads), where it might find a planted library.
  std::size_t slash = wide_path.rfind(L'\\');
  std::wstring folder = slash == std::wstring::npos ? std::wstring() : wide_path.substr(0, slash);
  HINSTANCE result =
      ShellExecuteW(nullptr, L"Open", wide_path.c_str(), wide_parameters.c_str(), folder.c_str(), show);
  // Only a missing file is told apart: the shell gives no reliable word on
  // whether a started program actually ran. A file whose folder is missing is
  // just as missing.
  INT_PTR code = reinterpret_cast<INT_PTR>(result);
  return code != SE_ERR_FNF && code != SE_ERR_PNF;
}

}  // namespace installer
