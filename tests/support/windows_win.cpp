#include "tests/support/windows_win.h"

#include "runtime/value/codepage.h"

namespace testsupport {

void pump() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void pump_for(DWORD ms) {
  DWORD start = GetTickCount();
  while (GetTickCount() - start < ms) {
    pump();
    Sleep(10);
  }
}

long run_program(std::wstring command_line, DWORD timeout_ms) {
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return -1;
  DWORD code = static_cast<DWORD>(-1);
  if (WaitForSingleObject(pi.hProcess, timeout_ms) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return static_cast<long>(code);
}

bool make_link(const std::string& link, const std::string& target) {
  using UnixName = char*(__cdecl*)(const wchar_t*);
  auto unix_name = reinterpret_cast<UnixName>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (!unix_name) return false;
  auto name = [&](const std::string& path) {
    char* n = unix_name(rt::wide_path(path).c_str());
    std::string out = n ? n : "";
    HeapFree(GetProcessHeap(), 0, n);
    return out;
  };
  // The Unix names are UTF-8: given to Wine in UTF-16, which it hands on as
  // UTF-8 (the ANSI call would spell them in the ANSI code page).
  std::u16string line = u"/bin/ln -s \"" + rt::wide_from_utf8(name(target)) + u"\" \"" + rt::wide_from_utf8(name(link)) + u"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(L"/bin/ln", reinterpret_cast<wchar_t*>(line.data()), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process))
    return false;
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  // Wine does not wait for a Unix process: wait for its work.
  std::wstring wide_link = rt::wide_path(link);
  for (int i = 0; i < 1000; ++i, Sleep(10))
    if (GetFileAttributesW(wide_link.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
  return false;
}

}  // namespace testsupport
