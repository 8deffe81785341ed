// uninst.exe's removal of itself once it has ended. Windows keeps a running
// program's file, so a copy of this program, in a folder of its own under the
// temporary folder, waits for this one to end and removes it and its
// folders. No command interpreter is involved: the paths travel through a
// pipe as UTF-16, so no folder name can ever become a command.
#include <windows.h>

#include <string>
#include <vector>

#include "installer/platform/launch.h"
#include "installer/platform/protected_folder.h"
#include "installer/uninstaller/uninstall.h"
#include "runtime/value/codepage.h"
#include "runtime/win/handles.h"

namespace installer {

namespace {

// How long the copy tries to remove this program after its end.
constexpr DWORD kRemovalTries = 30;
constexpr char16_t kCopyFolderPrefix[] = u"uninst-";

const wchar_t* w(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

// A new folder of an unpredictable name under the temporary folder; for an
// elevated program, one only administrators and SYSTEM may write.
std::u16string make_private_folder() {
  std::u16string temp = rt::wide_from_cp936(temp_directory().view());
  if (temp.empty()) return {};
  const bool elevated = running_elevated();
  for (int attempt = 0; attempt < 16; ++attempt) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    unsigned long long mix = (unsigned long long)now.QuadPart * 6364136223846793005ull ^
                             (unsigned long long)GetCurrentProcessId() << 32 ^ GetTickCount() ^ attempt;
    wchar_t name[32];
    wsprintfW(name, L"%08lx%08lx", (unsigned long)(mix >> 32), (unsigned long)mix);
    std::u16string folder = temp + kCopyFolderPrefix + reinterpret_cast<const char16_t*>(name);
    bool made = elevated ? create_protected_folder(folder, FolderAccess::kPrivate) : CreateDirectoryW(w(folder), nullptr);
    if (made) return folder;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return {};
  }
  return {};
}

// Deletes a plain file through a handle on itself (a link goes, never what
// it points to); true when it is gone.
bool delete_plain(const std::u16string& path) {
  rt::win::File file(CreateFileW(w(path), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
  FILE_BASIC_INFO basic = {};
  if (GetFileInformationByHandleEx(file.get(), FileBasicInfo, &basic, sizeof basic) &&
      (basic.FileAttributes & FILE_ATTRIBUTE_READONLY)) {
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    SetFileInformationByHandle(file.get(), FileBasicInfo, &basic, sizeof basic);
  }
  FILE_DISPOSITION_INFO disposition = {TRUE};
  return SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition, sizeof disposition) != FALSE;
}

// This program's own file, whole, through a handle on it.
bool copy_own_program(const std::u16string& to) {
  wchar_t own[MAX_PATH * 2] = {};
  DWORD n = GetModuleFileNameW(nullptr, own, MAX_PATH * 2);
  if (n == 0 || n >= MAX_PATH * 2) return false;
  rt::win::File source(CreateFileW(own, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  rt::win::File target(CreateFileW(w(to), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!source || !target) return false;
  std::vector<char> buffer(1 << 16);
  for (;;) {
    DWORD got = 0, put = 0;
    if (!ReadFile(source.get(), buffer.data(), DWORD(buffer.size()), &got, nullptr)) return false;
    if (got == 0) return true;
    if (!WriteFile(target.get(), buffer.data(), got, &put, nullptr) || put != got) return false;
  }
}

}  // namespace

bool schedule_self_removal(const rt::Text& program, const std::vector<rt::Text>& folders) {
  std::u16string folder = make_private_folder();
  if (folder.empty()) return false;
  std::u16string copy = folder + u"\\cleanup.exe";
  if (!copy_own_program(copy)) {
    DeleteFileW(w(copy));
    RemoveDirectoryW(w(folder));
    return false;
  }
  // The paths, then the end of the pipe when this program ends: the copy
  // reads them, and the end of its input tells it this program has gone.
  SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
  HANDLE read_end = nullptr, write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &inheritable, 1 << 16)) return false;
  rt::win::Kernel reader(read_end);
  rt::win::Kernel writer(write_end);
  SetHandleInformation(write_end, HANDLE_FLAG_INHERIT, 0);
  std::u16string message;
  for (const rt::Text& path : [&] {
         std::vector<rt::Text> all{program};
         all.insert(all.end(), folders.begin(), folders.end());
         return all;
       }()) {
    message += rt::wide_from_cp936(path.view());
    message += u'\n';
  }
  DWORD put = 0;
  if (!WriteFile(write_end, message.data(), DWORD(message.size() * sizeof(char16_t)), &put, nullptr)) return false;

  wchar_t system[MAX_PATH + 1] = {};
  UINT n = GetSystemDirectoryW(system, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return false;
  std::wstring line = L"\"" + std::wstring(w(copy)) + L"\" /cleanup";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = read_end;
  PROCESS_INFORMATION process = {};
  // Its working folder must not be one it removes.
  if (!CreateProcessW(w(copy), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, system, &startup,
                      &process))
    return false;
  rt::win::Process started(process);
  writer.release();  // held open until this process ends
  return true;
}

int run_self_removal() {
  // Everything the program sent, then the end of its input: it has ended.
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  std::u16string received;
  char16_t buffer[4096];
  DWORD got = 0;
  while (ReadFile(input, buffer, sizeof buffer, &got, nullptr) && got > 0)
    received.append(buffer, got / sizeof(char16_t));
  std::vector<std::u16string> paths;
  for (std::size_t start = 0; start < received.size();) {
    std::size_t end = received.find(u'\n', start);
    if (end == std::u16string::npos) break;
    if (end > start) paths.emplace_back(received.substr(start, end - start));
    start = end + 1;
  }
  if (paths.empty()) return 1;
  // A program's file may stay busy a moment after its end.
  for (DWORD i = 0; i < kRemovalTries && !delete_plain(paths[0]); ++i) Sleep(1000);
  for (std::size_t i = 1; i < paths.size(); ++i) RemoveDirectoryW(w(paths[i]));  // only an empty one goes

  // This copy and its folder: Windows removes them at its next start (an
  // administrator may ask that); the temporary folder's cleaning otherwise.
  wchar_t own[MAX_PATH * 2] = {};
  if (GetModuleFileNameW(nullptr, own, MAX_PATH * 2)) {
    std::wstring self(own);
    MoveFileExW(self.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    std::size_t slash = self.rfind(L'\\');
    if (slash != std::wstring::npos)
      MoveFileExW(self.substr(0, slash).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  }
  return 0;
}

}  // namespace installer
