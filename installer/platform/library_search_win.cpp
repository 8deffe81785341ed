#include <windows.h>

#include "installer/platform/library_search.h"

namespace installer {

void restrict_library_search() {
  using SetDefault = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  auto set_default = kernel ? reinterpret_cast<SetDefault>(
                                  reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")))
                            : nullptr;
  if (!set_default || !set_default(LOAD_LIBRARY_SEARCH_SYSTEM32)) SetDllDirectoryW(L"");
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
