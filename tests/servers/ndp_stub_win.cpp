// Stands in for programs the installer starts. Started, it writes its command
// line and its working folder to "<its path>.ran" and ends. Named as a .NET
// Framework offline installer ("NDP48-…", "ndp481-…"), it writes that mark to
// "<temp>\<its file name>.ran" instead (its own folder is the installer's run
// folder, which goes afterwards), ends with the exit code the environment
// variable TARNEL_NDP_EXIT names (0 when unset), and, when that code says it
// installed (0, 3010, 1641), records the framework in the registry as the
// real one would: 4.8.1's Release for "ndp481…", else 4.8's. Its version
// information (ndp_stub.rc) is the real installer's; built with
// other_microsoft_stub.rc instead, it names another Microsoft product.
#include <windows.h>

namespace {
bool starts_with(const wchar_t* s, const wchar_t* prefix) {
  for (; *prefix; ++s, ++prefix)
    if ((*s | 0x20) != (*prefix | 0x20)) return false;
  return true;
}
}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  wchar_t self[MAX_PATH] = {}, mark[MAX_PATH + 8] = {}, folder[MAX_PATH] = {};
  DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return 1;
  const wchar_t* name = self;
  for (const wchar_t* p = self; *p; ++p)
    if (*p == L'\\') name = p + 1;
  bool framework = starts_with(name, L"ndp");
  if (framework) {
    GetTempPathW(MAX_PATH, mark);
    lstrcatW(mark, name);
  } else {
    lstrcpyW(mark, self);
  }
  lstrcatW(mark, L".ran");
  GetCurrentDirectoryW(MAX_PATH, folder);

  DWORD code = 0;
  wchar_t wanted[16] = {};
  if (framework && GetEnvironmentVariableW(L"TARNEL_NDP_EXIT", wanted, 16) > 0)
    for (const wchar_t* p = wanted; *p >= L'0' && *p <= L'9'; ++p) code = code * 10 + DWORD(*p - L'0');

  HKEY key;
  bool installed = code == 0 || code == 3010 || code == 1641;
  if (framework && installed &&
      RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full", 0, nullptr, 0,
                      KEY_ALL_ACCESS, nullptr, &key, nullptr) == ERROR_SUCCESS) {
    DWORD release = starts_with(name, L"ndp481") ? 533320 : 528040;
    RegSetValueExW(key, L"Release", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&release), sizeof release);
    RegCloseKey(key);
  }

  HANDLE f = CreateFileW(mark, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  const wchar_t* line = GetCommandLineW();
  WriteFile(f, line, lstrlenW(line) * sizeof(wchar_t), &written, nullptr);
  WriteFile(f, L"\n", sizeof(wchar_t), &written, nullptr);
  WriteFile(f, folder, lstrlenW(folder) * sizeof(wchar_t), &written, nullptr);
  CloseHandle(f);
  return int(code);
}
