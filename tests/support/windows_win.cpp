#include "tests/support/windows_win.h"

#include <aclapi.h>
#include <sddl.h>

#include <vector>

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

long run_unelevated(std::wstring command_line, DWORD timeout_ms) {
  HANDLE token = nullptr, primary = nullptr;
  TOKEN_LINKED_TOKEN linked = {};
  DWORD size = 0;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return -1;
  bool got = GetTokenInformation(token, TokenLinkedToken, &linked, sizeof linked, &size) &&
             DuplicateTokenEx(linked.LinkedToken, TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation, TokenPrimary, &primary);
  CloseHandle(token);
  if (linked.LinkedToken) CloseHandle(linked.LinkedToken);
  if (!got) return -1;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  BOOL started = CreateProcessAsUserW(primary, nullptr, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                      &si, &pi);
  CloseHandle(primary);
  if (!started) return -1;
  DWORD code = static_cast<DWORD>(-1);
  if (WaitForSingleObject(pi.hProcess, timeout_ms) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return static_cast<long>(code);
}

namespace {

// A Unix tool run on Wine's Unix names of code page 936 paths; false when it
// could not be started (Wine does not wait for a Unix process).
bool run_unix_tool(const wchar_t* tool, const std::u16string& options, const std::vector<std::string>& paths) {
  using UnixName = char*(__cdecl*)(const wchar_t*);
  auto unix_name = reinterpret_cast<UnixName>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (!unix_name) return false;
  // The Unix names are UTF-8: given to Wine in UTF-16, which it hands on as
  // UTF-8 (the ANSI call would spell them in the ANSI code page).
  std::u16string line = reinterpret_cast<const char16_t*>(tool) + options;
  for (const std::string& path : paths) {
    char* n = unix_name(rt::wide_path(path).c_str());
    line += u" \"" + rt::wide_from_utf8(n ? n : "") + u"\"";
    HeapFree(GetProcessHeap(), 0, n);
  }
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(tool, reinterpret_cast<wchar_t*>(line.data()), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process))
    return false;
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return true;
}

}  // namespace

bool make_link(const std::string& link, const std::string& target) {
  if (!run_unix_tool(L"/bin/ln", u" -s", {target, link})) return false;
  // Wine does not wait for a Unix process: wait for its work.
  std::wstring wide_link = rt::wide_path(link);
  for (int i = 0; i < 1000; ++i, Sleep(10))
    if (GetFileAttributesW(wide_link.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
  return false;
}

bool let_everyone_write(const std::string& folder) {
  if (!run_unix_tool(L"/bin/chmod", u" 0777", {folder})) return false;
  for (int i = 0; i < 1000; ++i, Sleep(10)) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL list = nullptr;
    if (GetNamedSecurityInfoW(rt::wide_path(folder).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                              &list, nullptr, &descriptor) != ERROR_SUCCESS)
      continue;
    LPWSTR text = nullptr;
    bool open = ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                                     DACL_SECURITY_INFORMATION, &text, nullptr) &&
                std::wstring(text).find(L";;;WD)") != std::wstring::npos &&
                std::wstring(text).find(L"0x1200a9;;;WD)") == std::wstring::npos;
    LocalFree(text);
    LocalFree(descriptor);
    if (open) return true;
  }
  return false;
}

}  // namespace testsupport
