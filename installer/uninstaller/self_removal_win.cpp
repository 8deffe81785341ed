// uninst.exe's removal of itself once it has ended. Windows keeps a running
// program's file, so a copy of this program, in a new folder of its own that
// only administrators (for a person's own uninstaller, that person) can
// write, started from its held file, waits for this one to end and removes
// it and its folders through the handles this program held on them since it
// started: it receives the handles themselves, so no name is looked up again
// and no path or command interpreter is involved.
#include <windows.h>

#include <string>
#include <vector>

#include "installer/platform/launch.h"
#include "installer/platform/protected_folder.h"
#include "installer/uninstaller/uninstall.h"
#include "runtime/value/codepage.h"
#include "runtime/win/confined.h"
#include "runtime/win/handles.h"

namespace installer {

namespace {

// How long the copy tries to remove this program after its end.
constexpr DWORD kRemovalTries = 30;
constexpr char16_t kCopyFolderPrefix[] = u"uninst-";
constexpr char16_t kCopyName[] = u"cleanup.exe";

// A handle the copy inherits: a duplicate of ours, closed here once the copy
// has its own.
rt::win::Kernel inheritable(HANDLE handle) {
  HANDLE copy = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS))
    return rt::win::Kernel();
  return rt::win::Kernel(copy);
}

std::u16string number(unsigned long n) { return rt::wide_from_cp936(std::to_string(n)); }

}  // namespace

bool schedule_self_removal(void* program, const std::vector<FolderToRemove>& folders) {
  rt::win::Folder folder = make_working_folder(kCopyFolderPrefix);
  if (!folder) return false;
  // The copy is read from this program's own held file, never by its name.
  rt::win::File writer = folder.create_file(kCopyName, GENERIC_WRITE | DELETE, FILE_SHARE_READ);
  LARGE_INTEGER start = {};
  bool copied = writer && SetFilePointerEx(static_cast<HANDLE>(program), start, nullptr, FILE_BEGIN);
  std::vector<char> buffer(1 << 16);
  for (DWORD got = 1; copied && got > 0;) {
    DWORD put = 0;
    copied = ReadFile(static_cast<HANDLE>(program), buffer.data(), DWORD(buffer.size()), &got, nullptr) &&
             (got == 0 || (WriteFile(writer.get(), buffer.data(), got, &put, nullptr) && put == got));
  }
  if (!copied) {
    if (writer) rt::win::delete_through(writer.get());
    writer.reset();
    folder.remove_self();
    return false;
  }
  rt::win::File copy = rt::win::reopen_for_reading(writer);
  if (!copy) return false;

  // The handles, then the end of the pipe when this program ends: the copy
  // reads them, and the end of its input tells it this program has gone.
  std::vector<rt::win::Kernel> given;
  given.push_back(inheritable(static_cast<HANDLE>(program)));
  for (const FolderToRemove& f : folders) given.push_back(inheritable(const_cast<HANDLE>(f.above)));
  SECURITY_ATTRIBUTES pipe_inherited = {sizeof pipe_inherited, nullptr, TRUE};
  HANDLE read_end = nullptr, write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &pipe_inherited, 1 << 16)) return false;
  rt::win::Kernel reader(read_end);
  rt::win::Kernel writer_end(write_end);
  SetHandleInformation(write_end, HANDLE_FLAG_INHERIT, 0);
  // One line each: the program's handle, then each folder's: the handle of
  // the folder above it, a tab, its name.
  std::u16string message;
  rt::win::ProgramStart how;
  for (std::size_t i = 0; i < given.size(); ++i) {
    if (!given[i]) return false;
    message += number(static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(given[i].get())));
    if (i > 0) message += u'\t' + folders[i - 1].name;
    message += u'\n';
    how.inherit.push_back(given[i].get());
  }
  DWORD put = 0;
  if (!WriteFile(write_end, message.data(), DWORD(message.size() * sizeof(char16_t)), &put, nullptr)) return false;
  how.arguments = u"/cleanup";
  how.input = read_end;
  how.flags = CREATE_NO_WINDOW;
  // Its working folder must not be one it removes.
  how.system_folder_as_working = true;
  rt::win::Kernel started = rt::win::start_held_program(folder, kCopyName, copy.get(), how);
  if (!started) return false;
  writer_end.release();  // held open until this process ends
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
  struct Line {
    HANDLE handle;
    std::u16string name;
  };
  std::vector<Line> lines;
  for (std::size_t at = 0; at < received.size();) {
    std::size_t end = received.find(u'\n', at);
    if (end == std::u16string::npos) break;
    unsigned long value = 0;
    std::size_t i = at;
    for (; i < end && received[i] >= u'0' && received[i] <= u'9'; ++i) value = value * 10 + (received[i] - u'0');
    std::u16string name = i < end && received[i] == u'\t' ? received.substr(i + 1, end - i - 1) : std::u16string();
    lines.push_back({reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(value)), std::move(name)});
    at = end + 1;
  }
  if (lines.empty()) return 1;
  // A program's file may stay busy a moment after its end.
  rt::win::Kernel program(lines[0].handle);
  for (DWORD i = 0; i < kRemovalTries && rt::win::delete_through(program.get()) != rt::win::FileStatus::kOk; ++i)
    Sleep(1000);
  program.reset();
  // Each folder in order, once what it held has gone: only an empty folder
  // goes, named in the folder above it, never through a link.
  for (std::size_t i = 1; i < lines.size(); ++i) {
    rt::win::Folder above = rt::win::Folder::adopt(lines[i].handle);
    if (above) above.remove_folder(lines[i].name);
  }

  // This copy, its folder's mark and its folder: Windows removes them at its next start (only
  // an administrator may ask that, and only an administrator can write where
  // an elevated uninstaller put the copy); the temporary folder's cleaning
  // otherwise.
  wchar_t own[MAX_PATH * 2] = {};
  if (GetModuleFileNameW(nullptr, own, MAX_PATH * 2) && running_elevated()) {
    std::wstring self(own);
    MoveFileExW(self.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    std::size_t slash = self.rfind(L'\\');
    if (slash != std::wstring::npos) {
      const std::wstring folder = self.substr(0, slash);
      MoveFileExW((folder + L"\\" + reinterpret_cast<const wchar_t*>(kWorkingFolderMarker)).c_str(), nullptr,
                  MOVEFILE_DELAY_UNTIL_REBOOT);
      MoveFileExW(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
  }
  return 0;
}

}  // namespace installer
