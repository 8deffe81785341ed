// Stands in for programs the installer starts. Started, it writes its command
// line and its working folder to "<its path>.ran" and ends. Named as the .NET
// Framework offline installer ("NDP..."), it writes that mark to
// "<temp>\<its file name>.ran" instead (its own folder is the installer's
// run folder, which goes afterwards) and records .NET Framework 4.8 in the
// registry as the real one would.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  wchar_t self[MAX_PATH] = {}, mark[MAX_PATH + 8] = {}, folder[MAX_PATH] = {};
  DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return 1;
  const wchar_t* name = self;
  for (const wchar_t* p = self; *p; ++p)
    if (*p == L'\\') name = p + 1;
  bool framework = name[0] == L'N' && name[1] == L'D' && name[2] == L'P';
  if (framework) {
    GetTempPathW(MAX_PATH, mark);
    lstrcatW(mark, name);
  } else {
    lstrcpyW(mark, self);
  }
  lstrcatW(mark, L".ran");
  GetCurrentDirectoryW(MAX_PATH, folder);

  HKEY key;
  if (framework && RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full", 0, nullptr, 0,
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
