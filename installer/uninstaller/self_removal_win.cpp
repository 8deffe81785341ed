// uninst.exe's removal of itself once it has ended.
#include <windows.h>

#include <string>

#include "installer/uninstaller/uninstall.h"
#include "runtime/value/codepage.h"
#include "runtime/win/handles.h"

namespace installer {

namespace {

// A hidden command processor removes this program once it has ended (Windows
// keeps a running program's file), then its folder if that is empty. Its
// commands are its command line: no script file exists that anyone could
// rewrite before it runs. It waits by reading its input, a pipe whose
// writing end only this process holds: the read ends when the process has
// ended. It then tries for about half a minute, since a program's file may
// stay busy a moment after its end. The paths reach it through the
// environment, so that any character in them survives; every command after
// "do" is the loop's body, so the folder is tried each time too, and goes as
// soon as it is empty.
constexpr wchar_t kCleanupCommands[] =
    L"set /p TARNEL_UNINST_WAIT= & for /l %i in (1,1,30) do "
    L"del /f /q \"%TARNEL_UNINST_FILE%\" >nul 2>&1 & rd \"%TARNEL_UNINST_DIR%\" >nul 2>&1 & "
    L"rd \"%TARNEL_UNINST_DIR2%\" >nul 2>&1 & "
    L"if exist \"%TARNEL_UNINST_FILE%\" ping -n 2 127.0.0.1 >nul 2>&1";

}  // namespace

bool schedule_self_removal(const rt::Text& program, const std::vector<rt::Text>& folders) {
  if (folders.empty() || folders.size() > 2) return false;
  wchar_t system[MAX_PATH + 1] = {};
  UINT n = GetSystemDirectoryW(system, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return false;
  SetEnvironmentVariableW(L"TARNEL_UNINST_FILE", rt::wide_path(program.view()).c_str());
  // The second folder, when there is one, holds the first.
  SetEnvironmentVariableW(L"TARNEL_UNINST_DIR", rt::wide_path(folders[0].view()).c_str());
  SetEnvironmentVariableW(L"TARNEL_UNINST_DIR2", rt::wide_path(folders.back().view()).c_str());

  SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &inheritable, 0)) return false;
  rt::win::Kernel reader(read_end);
  rt::win::Kernel writer(write_end);  // closed by the end of this process at the latest
  SetHandleInformation(write_end, HANDLE_FLAG_INHERIT, 0);

  std::wstring cmd = std::wstring(system) + L"\\cmd.exe";
  // cmd takes the outer quotes off and runs what lies between them.
  std::wstring line = L"\"" + cmd + L"\" /d /q /c \"" + kCleanupCommands + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = read_end;
  PROCESS_INFORMATION process = {};
  // Its working folder must not be the one it removes.
  if (!CreateProcessW(cmd.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, system, &startup,
                      &process))
    return false;
  rt::win::Process started(process);
  writer.release();  // held open until this process ends
  return true;
}

}  // namespace installer
