// The removal engine: paths named, checked and removed inside a root, never
// through a link.
#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <string>
#include <vector>

#include "installer/platform/paths.h"
#include "installer/platform/removal.h"
#include "runtime/value/codepage.h"
#include "runtime/win/com.h"
#include "runtime/win/handles.h"

namespace installer {

namespace {

rt::Text from_wide(const std::wstring& w) { return rt::Text(rt::cp936_from_wchar(w.c_str())); }

}  // namespace

// The long form of an existing path (a program started through its 8.3 name
// must still recognise its entry); other paths come back unchanged.
rt::Text long_path(const rt::Text& path) {
  std::wstring wide = rt::wide_path(path.view());
  DWORD n = GetLongPathNameW(wide.c_str(), nullptr, 0);
  if (n == 0) return path;
  std::wstring out(n, L'\0');
  n = GetLongPathNameW(wide.c_str(), out.data(), n);
  if (n == 0 || n >= out.size()) return path;
  out.resize(n);
  return from_wide(out);
}

rt::Text own_program_path() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) {
      buffer.resize(n);
      return long_path(from_wide(buffer));
    }
    buffer.resize(buffer.size() * 2);
  }
}

bool path_exists(const rt::Text& path) {
  return GetFileAttributesW(rt::wide_path(path.view()).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Names in a folder other than "." and "..", up to `limit` of them.
rt::Array<rt::Text> folder_contents(const rt::Text& folder, std::size_t limit) {
  rt::Array<rt::Text> names;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(rt::wide_path(rt::text_concat({folder.view(), "\\*"}).view()).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") names.push_back(from_wide(name));
  } while (names.count() < limit && FindNextFileW(search, &found));
  FindClose(search);
  return names;
}

// The file a shortcut starts; empty when it cannot be read. The item list
// comes first: the stored path text may hold only the ANSI form of a name
// (Wine keeps it so), while the item list resolves to the real path.
rt::Text shortcut_target(const rt::Text& link_path) {
  // The identifiers are spelt out here: libuuid's object holding them brings
  // some hundred kilobytes of others along.
  static constexpr GUID kShellLinkClass = {0x00021401, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
  IShellLinkW* raw_link = nullptr;
  if (FAILED(CoCreateInstance(kShellLinkClass, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IShellLinkW),
                              reinterpret_cast<void**>(&raw_link))))
    return {};
  rt::ComPtr<IShellLinkW> link(raw_link);
  IPersistFile* raw_file = nullptr;
  if (FAILED(link->QueryInterface(__uuidof(IPersistFile), reinterpret_cast<void**>(&raw_file)))) return {};
  rt::ComPtr<IPersistFile> file(raw_file);
  if (FAILED(file->Load(rt::wide_path(link_path.view()).c_str(), STGM_READ))) return {};
  wchar_t target[MAX_PATH + 1] = {};
  PIDLIST_ABSOLUTE items = nullptr;
  if (SUCCEEDED(link->GetIDList(&items)) && items) {
    BOOL resolved = SHGetPathFromIDListW(items, target);
    CoTaskMemFree(items);
    if (resolved && target[0]) return from_wide(target);
  }
  if (FAILED(link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH))) return {};
  return from_wide(target);
}

// Removes a shortcut (a read-only one too); a missing one is already removed.
bool remove_link(const rt::Text& path) {
  std::wstring wide = rt::wide_path(path.view());
  DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(wide.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  DeleteFileW(wide.c_str());
  return !path_exists(path);
}

// A path as the system resolves it: ".", "..", trailing dots and blanks
// gone, and (when it exists) short names made long.
rt::Text canonical_path(const rt::Text& path) {
  std::wstring wide = rt::wide_path(path.view());
  DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (n == 0) return {};
  std::wstring full(n, L'\0');
  n = GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
  if (n == 0 || n >= full.size()) return {};
  full.resize(n);
  return normalize_path(long_path(from_wide(full)));
}

namespace {

// The path a handle really reaches, with "\\?\" taken off; empty when the
// system cannot say.
rt::Text handle_path(HANDLE handle) {
  wchar_t buffer[1024];
  DWORD n = GetFinalPathNameByHandleW(handle, buffer, 1024, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (n == 0 || n >= 1024) return {};
  std::wstring path(buffer, n);
  if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) {
    path = L"\\" + path.substr(7);
  } else if (path.compare(0, 4, L"\\\\?\\") == 0) {
    path = path.substr(4);
  }
  return normalize_path(from_wide(path));
}

}  // namespace

Root make_root(const rt::Text& folder) {
  Root root{canonical_path(folder), {}};
  rt::win::File handle(CreateFileW(rt::wide_path(root.path.view()).c_str(), FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (handle) root.real = handle_path(handle.get());
  return root;
}

bool no_link_between(const rt::Text& path, const Root& root) {
  for (rt::Text up = parent_folder(path); path_is_inside(up, root.path); up = parent_folder(up)) {
    DWORD attributes = GetFileAttributesW(rt::wide_path(up.view()).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
  }
  return true;
}

// Removes a file (a read-only one too) or an empty folder below the root
// through one handle opened on the path itself: a link is removed, never
// what it points to, and the handle's real place is checked before anything
// goes. A missing path is already removed.
namespace {

// Opens `path` (below the root) as itself for `access`: kGone when it is
// missing, kRefused when the handle reaches outside the root; else the
// handle in `out` and kFailed left for the caller to decide.
Removal open_inside(const rt::Text& path, const Root& root, DWORD access, rt::win::File& out) {
  HANDLE raw = CreateFileW(rt::wide_path(path.view()).c_str(), access,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (raw == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return Removal::kGone;
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? Removal::kInUse : Removal::kFailed;
  }
  out.reset(raw);
  if (!root.real.empty()) {
    rt::Text real = handle_path(raw);
    if (!real.empty() && !path_is_inside(real, root.real)) return Removal::kRefused;
  }
  return Removal::kFailed;
}

// Clears a read-only bit and sets the delete disposition through the handle.
Removal delete_through(HANDLE handle) {
  FILE_BASIC_INFO basic = {};
  if (GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) &&
      (basic.FileAttributes & FILE_ATTRIBUTE_READONLY)) {
    basic.FileAttributes &= ~FILE_ATTRIBUTE_READONLY;
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic);
  }
  FILE_DISPOSITION_INFO disposition = {TRUE};
  if (SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition)) return Removal::kGone;
  DWORD error = GetLastError();
  return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ? Removal::kInUse : Removal::kFailed;
}

}  // namespace

Removal remove_inside(const rt::Text& path, const Root& root) {
  if (!path_is_inside(path, root.path) || !no_link_between(path, root)) return Removal::kRefused;
  if (GetFileAttributesW(rt::wide_path(path.view()).c_str()) == INVALID_FILE_ATTRIBUTES) return Removal::kGone;
  rt::win::File handle;
  Removal opened = open_inside(path, root, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, handle);
  if (!handle) return opened;
  if (opened == Removal::kRefused) return opened;
  Removal removed = delete_through(handle.get());
  if (removed != Removal::kGone) return removed;
  handle.reset();
  return path_exists(path) ? Removal::kFailed : Removal::kGone;
}

bool delete_plain_file(const std::u16string& path) {
  rt::win::File file(CreateFileW(reinterpret_cast<const wchar_t*>(path.c_str()),
                                 DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
  return delete_through(file.get()) == Removal::kGone;
}

bool copy_plain_file(const std::u16string& from, const std::u16string& to) {
  rt::win::File source(CreateFileW(reinterpret_cast<const wchar_t*>(from.c_str()), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!source || !GetFileInformationByHandle(source.get(), &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)))
    return false;
  rt::win::File target(CreateFileW(reinterpret_cast<const wchar_t*>(to.c_str()), GENERIC_WRITE, 0, nullptr,
                                   CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!target) return false;
  std::vector<char> buffer(1 << 16);
  for (;;) {
    DWORD got = 0, put = 0;
    if (!ReadFile(source.get(), buffer.data(), DWORD(buffer.size()), &got, nullptr)) return false;
    if (got == 0) return true;
    if (!WriteFile(target.get(), buffer.data(), got, &put, nullptr) || put != got) return false;
  }
}

Removal move_inside(const rt::Text& from, const rt::Text& to, const Root& root) {
  if (!path_is_inside(from, root.path) || !path_is_inside(to, root.path) || !no_link_between(from, root) ||
      !no_link_between(to, root))
    return Removal::kRefused;
  rt::win::File handle;
  Removal opened = open_inside(from, root, DELETE | FILE_READ_ATTRIBUTES, handle);
  if (!handle || opened == Removal::kRefused) return opened;
  HANDLE raw = handle.get();
  // The file opened is the one renamed, whatever the name meanwhile means.
  std::wstring target = rt::wide_path(to.view());
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t));
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = FALSE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = DWORD(target.size() * sizeof(wchar_t));
  std::copy(target.begin(), target.end(), rename->FileName);
  if (!SetFileInformationByHandle(raw, FileRenameInfo, rename, DWORD(buffer.size()))) {
    DWORD error = GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ? Removal::kInUse : Removal::kFailed;
  }
  return Removal::kGone;
}

// A file some program holds: it cannot be written (a running program's own
// file cannot) or deleted. Nothing is changed.
bool in_use(const rt::Text& path) {
  HANDLE raw = CreateFileW(rt::wide_path(path.view()).c_str(), FILE_WRITE_DATA | DELETE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (raw != INVALID_HANDLE_VALUE) {
    CloseHandle(raw);
    return false;
  }
  DWORD error = GetLastError();
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

}  // namespace installer
