#include <windows.h>
#include <sddl.h>

#include "installer/platform/protected_folder.h"
#include "runtime/win/handles.h"

namespace installer {

const wchar_t* folder_access_sddl(FolderAccess access) {
  // P: protected, nothing inherited. OICI: files and folders below inherit.
  // FA: full control; 0x1200a9: read, list and run.
  return access == FolderAccess::kInstalled ? L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)"
                                            : L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";
}

namespace {
ProtectedFolderWatcher g_watcher = nullptr;
}  // namespace

void watch_protected_folders(ProtectedFolderWatcher watcher) { g_watcher = watcher; }

bool create_protected_folder(const std::u16string& path, FolderAccess access) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(folder_access_sddl(access), SDDL_REVISION_1, &descriptor,
                                                            nullptr))
    return false;
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
  const wchar_t* name = reinterpret_cast<const wchar_t*>(path.c_str());
  BOOL made = CreateDirectoryW(name, &attributes);
  DWORD error = GetLastError();
  if (made) {
    // Said once more through a handle on the new folder itself: Windows took
    // it at creation, Wine keeps only what is set afterwards.
    rt::win::File folder(CreateFileW(name, READ_CONTROL | WRITE_DAC, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (folder)
      SetKernelObjectSecurity(folder.get(), DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, descriptor);
  }
  LocalFree(descriptor);
  if (made && g_watcher) g_watcher(path, access);
  SetLastError(error);
  return made != FALSE;
}

std::u16string make_unique_folder(const std::u16string& parent, const char16_t* prefix, bool protect) {
  if (parent.empty()) return {};
  for (int attempt = 0; attempt < 16; ++attempt) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    unsigned long long mix = (unsigned long long)now.QuadPart * 6364136223846793005ull ^
                             (unsigned long long)GetCurrentProcessId() << 32 ^ GetTickCount() ^ attempt;
    wchar_t name[32];
    wsprintfW(name, L"%08lx%08lx", (unsigned long)(mix >> 32), (unsigned long)mix);
    std::u16string folder = parent + prefix + reinterpret_cast<const char16_t*>(name);
    bool made = protect ? create_protected_folder(folder, FolderAccess::kPrivate)
                        : CreateDirectoryW(reinterpret_cast<const wchar_t*>(folder.c_str()), nullptr) != FALSE;
    if (made) return folder;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return {};
  }
  return {};
}

bool running_elevated() {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return false;
  rt::win::Kernel token(raw);
  TOKEN_ELEVATION elevation = {};
  DWORD size = 0;
  return GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size) &&
         elevation.TokenIsElevated != 0;
}

}  // namespace installer
