#include <windows.h>

#include "installer/platform/library_search.h"

namespace installer {

void restrict_library_search() {
  using SetDefault = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  auto set_default = kernel ? reinterpret_cast<SetDefault>(
                                  reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")))
                            : nullptr;
  bool restricted = set_default && set_default(LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!restricted) SetDllDirectoryW(L"");
  // GDI+ loads the imaging codecs by bare name on its first image, and they
  // import the property system. Wine's loader resolves such loads made inside
  // system libraries with the search path the process started with (the
  // program's own folder first), whatever was restricted above; so does
  // Windows 7 without the update. Loaded here from the system folder, later
  // loads by name find them already in the process.
  for (const wchar_t* name : {L"propsys.dll", L"windowscodecs.dll"})
    LoadLibraryExW(system_file(name).c_str(), nullptr, restricted ? 0 : LOAD_WITH_ALTERED_SEARCH_PATH);
}

std::wstring system_file(const wchar_t* name) {
  wchar_t folder[MAX_PATH];
  UINT n = GetSystemDirectoryW(folder, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return name;
  std::wstring path(folder, n);
  if (path.back() != L'\\') path += L'\\';
  return path + name;
}

}  // namespace installer
