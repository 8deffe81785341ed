// WinINet, loaded on first use from the system folder by its full path: not
// a static import (it is no known DLL, so Windows would look for it beside
// the program first). The toolchain's delay-import libraries do not work for
// it on i686 (the first call jumps to address 0), so the eight functions the
// installer calls are resolved here, and the import slots the compiler's
// calls go through point at these forwarders.
#include <windows.h>
#include <wininet.h>

#include "installer/platform/library_search.h"

namespace {

FARPROC wininet_function(const char* name) {
  static HMODULE module = [] {
    return LoadLibraryExW(installer::system_file(L"wininet.dll").c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  }();
  FARPROC f = module ? GetProcAddress(module, name) : nullptr;
  if (!f) SetLastError(ERROR_PROC_NOT_FOUND);
  return f;
}

template <typename F>
F resolve(const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(wininet_function(name)));
}

BOOL WINAPI get_connected_state(LPDWORD flags, DWORD reserved) {
  static auto f = resolve<decltype(&InternetGetConnectedState)>("InternetGetConnectedState");
  return f ? f(flags, reserved) : FALSE;
}
HINTERNET WINAPI open(LPCWSTR agent, DWORD access, LPCWSTR proxy, LPCWSTR bypass, DWORD flags) {
  static auto f = resolve<decltype(&InternetOpenW)>("InternetOpenW");
  return f ? f(agent, access, proxy, bypass, flags) : nullptr;
}
HINTERNET WINAPI open_url(HINTERNET root, LPCWSTR url, LPCWSTR headers, DWORD length, DWORD flags, DWORD_PTR context) {
  static auto f = resolve<decltype(&InternetOpenUrlW)>("InternetOpenUrlW");
  return f ? f(root, url, headers, length, flags, context) : nullptr;
}
BOOL WINAPI query_info(HINTERNET request, DWORD level, LPVOID buffer, LPDWORD length, LPDWORD index) {
  static auto f = resolve<decltype(&HttpQueryInfoW)>("HttpQueryInfoW");
  return f ? f(request, level, buffer, length, index) : FALSE;
}
BOOL WINAPI read_file(HINTERNET file, LPVOID buffer, DWORD size, LPDWORD read) {
  static auto f = resolve<decltype(&InternetReadFile)>("InternetReadFile");
  return f ? f(file, buffer, size, read) : FALSE;
}
BOOL WINAPI close_handle(HINTERNET handle) {
  static auto f = resolve<decltype(&InternetCloseHandle)>("InternetCloseHandle");
  return f ? f(handle) : FALSE;
}
BOOL WINAPI set_option(HINTERNET handle, DWORD option, LPVOID buffer, DWORD length) {
  static auto f = resolve<decltype(&InternetSetOptionW)>("InternetSetOptionW");
  return f ? f(handle, option, buffer, length) : FALSE;
}
BOOL WINAPI combine_url(LPCWSTR base, LPCWSTR relative, LPWSTR out, LPDWORD length, DWORD flags) {
  static auto f = resolve<decltype(&InternetCombineUrlW)>("InternetCombineUrlW");
  return f ? f(base, relative, out, length, flags) : FALSE;
}

}  // namespace

// The import slots (what a dllimport call reads its target from).
extern "C" {
void* imp_get_connected_state __asm__("__imp__InternetGetConnectedState@8") = reinterpret_cast<void*>(&get_connected_state);
void* imp_open __asm__("__imp__InternetOpenW@20") = reinterpret_cast<void*>(&open);
void* imp_open_url __asm__("__imp__InternetOpenUrlW@24") = reinterpret_cast<void*>(&open_url);
void* imp_query_info __asm__("__imp__HttpQueryInfoW@20") = reinterpret_cast<void*>(&query_info);
void* imp_read_file __asm__("__imp__InternetReadFile@16") = reinterpret_cast<void*>(&read_file);
void* imp_close_handle __asm__("__imp__InternetCloseHandle@4") = reinterpret_cast<void*>(&close_handle);
void* imp_set_option __asm__("__imp__InternetSetOptionW@16") = reinterpret_cast<void*>(&set_option);
void* imp_combine_url __asm__("__imp__InternetCombineUrlW@20") = reinterpret_cast<void*>(&combine_url);
}
