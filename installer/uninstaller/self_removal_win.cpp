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
#include "installer/platform/removal.h"
#include "installer/uninstaller/uninstall.h"
#include "runtime/value/codepage.h"
#include "runtime/win/handles.h"

namespace installer {

namespace {

// How long the copy tries to remove this program after its end.
constexpr DWORD kRemovalTries = 30;
constexpr char16_t kCopyFolderPrefix[] = u"uninst-";

const wchar_t* w(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

}  // namespace

bool schedule_self_removal(const rt::Text& program, const std::vector<rt::Text>& folders) {
  // For an elevated program, a folder only administrators and SYSTEM may write.
  std::u16string folder =
      make_unique_folder(rt::wide_from_cp936(temp_directory().view()), kCopyFolderPrefix, running_elevated());
  if (folder.empty()) return false;
  std::u16string copy = folder + u"\\cleanup.exe";
  wchar_t own[MAX_PATH * 2] = {};
  DWORD own_length = GetModuleFileNameW(nullptr, own, MAX_PATH * 2);
  if (own_length == 0 || own_length >= MAX_PATH * 2 ||
      !copy_plain_file(std::u16string(reinterpret_cast<const char16_t*>(own)), copy)) {
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
  std::u16string message = rt::wide_from_cp936(program.view()) + u'\n';
  for (const rt::Text& folder_path : folders) message += rt::wide_from_cp936(folder_path.view()) + u'\n';
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
  for (DWORD i = 0; i < kRemovalTries && !delete_plain_file(paths[0]); ++i) Sleep(1000);
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
