#include "installer/platform/protected_folder.h"

#include <windows.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "installer/platform/folder_access.h"
#include "runtime/win/handles.h"

namespace installer {

namespace {

ProtectedFolderWatcher g_watcher = nullptr;

std::wstring token_user_sid() {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return {};
  rt::win::Kernel token(raw);
  unsigned char buffer[256];
  DWORD size = 0;
  LPWSTR text = nullptr;
  if (!GetTokenInformation(token.get(), TokenUser, buffer, sizeof buffer, &size) ||
      !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text))
    return {};
  std::wstring sid(text);
  LocalFree(text);
  return sid;
}

}  // namespace

std::wstring folder_access_sddl(FolderAccess access) {
  // P: protected, nothing inherited. OICI: files and folders below inherit.
  // FA: full control; 0x1200a9: read, list and run.
  switch (access) {
    case FolderAccess::kInstalled: return L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)";
    case FolderAccess::kPrivate: return L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";
    case FolderAccess::kPersonal: break;
  }
  std::wstring user = token_user_sid();
  if (user.empty()) return L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";
  return L"D:P(A;OICI;FA;;;" + user + L")(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";
}

void watch_protected_folders(ProtectedFolderWatcher watcher) { g_watcher = watcher; }

rt::win::Folder make_protected_folder(const rt::win::Folder& parent, std::u16string_view name, FolderAccess access,
                                      rt::win::FileStatus* status, bool deletable) {
  std::wstring sddl = folder_access_sddl(access);
  rt::win::Folder made = parent.make_folder(name, sddl.c_str(), status, deletable);
  if (made && g_watcher) g_watcher(made.path(), access);
  return made;
}

bool protect_folder(const rt::win::Folder& folder, FolderAccess access) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!folder || !ConvertStringSecurityDescriptorToSecurityDescriptorW(folder_access_sddl(access).c_str(),
                                                                       SDDL_REVISION_1, &descriptor, nullptr))
    return false;
  // The hold reads the access list only: a handle of its own, on the same
  // folder, changes it.
  rt::win::File writer = folder.reopen(WRITE_DAC | READ_CONTROL);
  bool done = writer && SetKernelObjectSecurity(writer.get(), DACL_SECURITY_INFORMATION |
                                                                  PROTECTED_DACL_SECURITY_INFORMATION,
                                                descriptor) != FALSE;
  LocalFree(descriptor);
  if (done && g_watcher) g_watcher(folder.path(), access);
  return done;
}

rt::win::Folder make_unique_folder(const rt::win::Folder& parent, const char16_t* prefix, FolderAccess access) {
  if (!parent) return {};
  for (int attempt = 0; attempt < 16; ++attempt) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    unsigned long long mix = (unsigned long long)now.QuadPart * 6364136223846793005ull ^
                             (unsigned long long)GetCurrentProcessId() << 32 ^ GetTickCount() ^ attempt;
    wchar_t name[32];
    wsprintfW(name, L"%08lx%08lx", (unsigned long)(mix >> 32), (unsigned long)mix);
    rt::win::FileStatus status = rt::win::FileStatus::kOk;
    rt::win::Folder made = make_protected_folder(
        parent, std::u16string(prefix) + reinterpret_cast<const char16_t*>(name), access, &status);
    if (made) return made;
    if (status != rt::win::FileStatus::kExists) return {};
  }
  return {};
}

rt::win::Folder make_working_folder(const char16_t* prefix) {
  rt::win::Folder made = make_unique_folder(working_parent(), prefix, working_access());
  if (made && !made.create_file(kWorkingFolderMarker, GENERIC_WRITE, 0)) return {};
  return made;
}

namespace {

bool is_working_folder_name(const std::u16string& name) {
  for (const char16_t* prefix : {u"setup-", u"uninst-"}) {
    const std::size_t n = std::char_traits<char16_t>::length(prefix);
    if (name.size() != n + 16 || name.compare(0, n, prefix) != 0) continue;
    for (std::size_t i = n; i < name.size(); ++i) {
      char16_t c = name[i];
      if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f'))) return false;
    }
    return true;
  }
  return false;
}

// Empties and removes one stale working folder, held (deletable) as itself.
void remove_stale(const rt::win::Folder& parent, const std::u16string& name, const std::vector<std::string>& trusted) {
  // Held so that it can be deleted: a running program holds its own folder
  // without sharing that, so its folder is never opened here.
  rt::win::Folder stale = parent.open_folder(name, nullptr, true);
  FolderSecurity security;
  if (!stale || !read_security(stale.handle(), &security) || !kept_for(security, trusted)) return;
  std::vector<rt::win::Folder::Entry> contents = stale.list();
  bool marked = false;
  for (const rt::win::Folder::Entry& e : contents) {
    // A run makes no folders in it, and never a link.
    if (e.attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) return;
    marked = marked || e.name == kWorkingFolderMarker;
  }
  // An empty one is a run's that ended before its marker; any other must carry it.
  if (!contents.empty() && !marked) return;
  for (const rt::win::Folder::Entry& e : contents)
    if (e.name != kWorkingFolderMarker && stale.remove(e.name) != rt::win::FileStatus::kOk) return;
  if (marked && stale.remove(kWorkingFolderMarker) != rt::win::FileStatus::kOk) return;
  stale.remove_self();
}

}  // namespace

void remove_stale_working_folders() {
  rt::win::Folder parent = working_parent();
  if (!parent) return;
  const std::vector<std::string> trusted = trusted_owners();
  for (const rt::win::Folder::Entry& e : parent.list()) {
    if ((e.attributes & FILE_ATTRIBUTE_DIRECTORY) && !(e.attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
        is_working_folder_name(e.name))
      remove_stale(parent, e.name, trusted);
  }
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

FolderAccess working_access() { return running_elevated() ? FolderAccess::kPrivate : FolderAccess::kPersonal; }

rt::win::Folder working_parent() {
  wchar_t folder[MAX_PATH + 1] = {};
  if (running_elevated()) {
    UINT n = GetSystemWindowsDirectoryW(folder, MAX_PATH - 6);
    if (n == 0 || n >= MAX_PATH - 6) return {};
    lstrcatW(folder, L"\\Temp");
  } else {
    DWORD n = GetTempPathW(MAX_PATH, folder);
    if (n == 0 || n > MAX_PATH) return {};
  }
  return rt::win::Folder::open(reinterpret_cast<const char16_t*>(folder));
}

}  // namespace installer
