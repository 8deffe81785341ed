// Stands in for the .NET Framework offline installer in the tests: started,
// it writes its command line and its working folder to "<temp>\<its file
// name>.ran", records .NET Framework 4.8 in the registry as the real one
// would, and ends.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  wchar_t self[MAX_PATH] = {}, mark[MAX_PATH + 8] = {}, folder[MAX_PATH] = {};
  DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return 1;
  const wchar_t* name = self;
  for (const wchar_t* p = self; *p; ++p)
    if (*p == L'\\') name = p + 1;
  GetTempPathW(MAX_PATH, mark);
  lstrcatW(mark, name);
  lstrcatW(mark, L".ran");
  GetCurrentDirectoryW(MAX_PATH, folder);

  HKEY key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full", 0, nullptr, 0,
                      KEY_ALL_ACCESS, nullptr, &key, nullptr) == ERROR_SUCCESS) {
    DWORD release = 528040;
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
  return 0;
}
