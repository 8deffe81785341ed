// The confined file layer: every open relative to a held folder through
// NtCreateFile, every rename through the item's own handle with the target
// folder's handle, every deletion through the item's own handle.
#include <windows.h>
#include <sddl.h>
#include <winternl.h>

#include <cstddef>
#include <cstring>
#include <utility>

#include "runtime/win/confined.h"

#ifndef FILE_OPEN_REPARSE_POINT
#define FILE_OPEN_REPARSE_POINT 0x00200000
#endif

namespace rt::win {

namespace {

constexpr NTSTATUS kNameNotFound = NTSTATUS(0xC0000034);
constexpr NTSTATUS kPathNotFound = NTSTATUS(0xC000003A);
constexpr NTSTATUS kNameCollision = NTSTATUS(0xC0000035);
constexpr NTSTATUS kSharingViolation = NTSTATUS(0xC0000043);
constexpr NTSTATUS kNotADirectory = NTSTATUS(0xC0000103);
constexpr NTSTATUS kIsADirectory = NTSTATUS(0xC00000BA);
constexpr NTSTATUS kNameInvalid = NTSTATUS(0xC0000033);
constexpr NTSTATUS kNoMoreFiles = NTSTATUS(0x80000006);
constexpr ULONG kCreateDisposition = 2;  // FILE_CREATE
constexpr ULONG kOpenDisposition = 1;    // FILE_OPEN
constexpr int kFileRenameInformation = 10;
constexpr int kFileDirectoryInformation = 1;
constexpr int kFileInternalInformation = 6;
constexpr int kFileBothDirectoryInformation = 3;

// A folder is held with listing, reading its attributes and its access list;
// others may read and write in it, never rename or delete it.
constexpr DWORD kHoldAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;
constexpr DWORD kHoldShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kAllShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// ntdll is in every process before the program's first instruction, so
// nothing can be planted in its place; its functions are looked up rather
// than imported, so the import table keeps only the usual system libraries.
struct NtCalls {
  using Create = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER, ULONG,
                                  ULONG, ULONG, ULONG, PVOID, ULONG);
  using SetInformation = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, int);
  using QueryDirectory = NTSTATUS(NTAPI*)(HANDLE, HANDLE, PVOID, PVOID, PIO_STATUS_BLOCK, PVOID, ULONG, int, BOOLEAN,
                                          PUNICODE_STRING, BOOLEAN);
  using QueryInformation = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, int);
  using ToDosError = ULONG(NTAPI*)(NTSTATUS);
  Create create = nullptr;
  SetInformation set_information = nullptr;
  QueryDirectory query_directory = nullptr;
  QueryInformation query_information = nullptr;
  ToDosError to_dos_error = nullptr;
};

template <typename F>
void resolve(HMODULE module, const char* name, F* f) {
  *f = module ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

const NtCalls& nt() {
  static const NtCalls calls = [] {
    NtCalls c;
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    resolve(ntdll, "NtCreateFile", &c.create);
    resolve(ntdll, "NtSetInformationFile", &c.set_information);
    resolve(ntdll, "NtQueryDirectoryFile", &c.query_directory);
    resolve(ntdll, "NtQueryInformationFile", &c.query_information);
    resolve(ntdll, "RtlNtStatusToDosError", &c.to_dos_error);
    return c;
  }();
  return calls;
}

FileStatus status_of(NTSTATUS s) {
  if (s >= 0) return FileStatus::kOk;
  if (nt().to_dos_error) SetLastError(nt().to_dos_error(s));
  switch (s) {
    case kNameNotFound:
    case kPathNotFound: return FileStatus::kMissing;
    case kNameCollision: return FileStatus::kExists;
    case kSharingViolation: return FileStatus::kInUse;
    case kNotADirectory:
    case kIsADirectory:
    case kNameInvalid: return FileStatus::kRefused;
    default: return FileStatus::kFailed;
  }
}

void tell(FileStatus* out, FileStatus s) {
  if (out) *out = s;
}

// One NtCreateFile of `name` relative to `root` (or of an absolute NT name
// when `root` is null). Reparse points are opened as themselves.
FileStatus nt_open(HANDLE root, std::u16string_view name, ACCESS_MASK access, ULONG share, ULONG disposition,
                   ULONG options, ULONG attributes, PSECURITY_DESCRIPTOR descriptor, File& out) {
  if (!nt().create) return FileStatus::kFailed;
  UNICODE_STRING text;
  text.Buffer = const_cast<PWSTR>(reinterpret_cast<const wchar_t*>(name.data()));
  text.Length = text.MaximumLength = USHORT(name.size() * sizeof(wchar_t));
  OBJECT_ATTRIBUTES object;
  InitializeObjectAttributes(&object, &text, OBJ_CASE_INSENSITIVE, root, descriptor);
  IO_STATUS_BLOCK io = {};
  HANDLE raw = nullptr;
  NTSTATUS s = nt().create(&raw, access | SYNCHRONIZE, &object, &io, nullptr, attributes, share, disposition,
                           options | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT, nullptr, 0);
  if (s < 0) return status_of(s);
  out.reset(raw);
  return FileStatus::kOk;
}

bool same_text(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() &&
         CompareStringOrdinal(reinterpret_cast<LPCWCH>(a.data()), int(a.size()), reinterpret_cast<LPCWCH>(b.data()),
                              int(b.size()), TRUE) == CSTR_EQUAL;
}

std::u16string child_path(const std::u16string& folder, std::u16string_view name) {
  std::u16string path = folder;
  if (path.empty() || path.back() != u'\\') path += u'\\';
  path += name;
  return path;
}

// A handle of its own on a folder to list it: a listing keeps its search
// expression on the handle it was first made through (Wine's does), so a
// held folder's own handle is never listed through.
File lister(HANDLE folder) {
  return File(ReOpenFile(folder, FILE_LIST_DIRECTORY | SYNCHRONIZE, kAllShare, FILE_FLAG_BACKUP_SEMANTICS));
}

// The directory entry `name` names in the folder open as `folder` (`name`
// may be its short 8.3 alias): its long name and attributes, as the folder
// lists them.
bool entry_of(HANDLE folder, std::u16string_view name, std::u16string* long_name, DWORD* attributes) {
  File listing = lister(folder);
  if (!nt().query_directory || !listing) return false;
  // FILE_BOTH_DIR_INFORMATION, up to its long name.
  struct Record {
    ULONG next;
    ULONG index;
    LARGE_INTEGER times[4];
    LARGE_INTEGER end_of_file;
    LARGE_INTEGER allocation;
    ULONG attributes;
    ULONG name_length;
    ULONG ea_size;
    CCHAR short_length;
    WCHAR short_name[12];
    WCHAR name[1];
  };
  alignas(8) unsigned char buffer[sizeof(Record) + 512 * sizeof(WCHAR)];
  UNICODE_STRING mask;
  mask.Buffer = const_cast<PWSTR>(reinterpret_cast<const wchar_t*>(name.data()));
  mask.Length = mask.MaximumLength = USHORT(name.size() * sizeof(wchar_t));
  IO_STATUS_BLOCK io = {};
  if (nt().query_directory(listing.get(), nullptr, nullptr, nullptr, &io, buffer, sizeof buffer,
                           kFileBothDirectoryInformation, TRUE, &mask, TRUE) < 0)
    return false;
  const auto* r = reinterpret_cast<const Record*>(buffer);
  if (long_name) long_name->assign(reinterpret_cast<const char16_t*>(r->name), r->name_length / sizeof(wchar_t));
  if (attributes) *attributes = r->attributes;
  return true;
}

std::u16string long_name(HANDLE folder, std::u16string_view name) {
  std::u16string found;
  return entry_of(folder, name, &found, nullptr) ? found : std::u16string();
}

// Whether an item opened as `name` below the held folder is where it was
// asked for: its real place is that very name in that very folder. A link
// that was followed lands elsewhere (Wine opens what a Unix link points to),
// even when it points to a folder beside it. With `plain`, it must also be
// no reparse point itself (Windows opens a link as itself).
bool in_place(HANDLE item, HANDLE folder_handle, const std::u16string& folder, std::u16string_view name, bool plain,
              std::u16string* where = nullptr) {
  if (plain) {
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    if (!GetFileInformationByHandleEx(item, FileAttributeTagInfo, &tag, sizeof tag) ||
        (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
      return false;
  }
  std::u16string real = final_path(item);
  std::size_t cut = real.rfind(u'\\');
  if (cut == std::u16string::npos) return false;
  std::u16string_view parent(real.data(), cut == 2 ? 3 : cut);  // "C:\x" lies in "C:\"
  if (!same_text(parent, folder)) return false;
  // The name it is known by: the one asked for, or the long name of a
  // short one.
  std::u16string_view last = std::u16string_view(real).substr(cut + 1);
  if (!same_text(last, name) && !same_text(last, long_name(folder_handle, name))) return false;
  if (where) *where = std::move(real);
  return true;
}

}  // namespace

struct Folder::Node {
  File handle;
  std::u16string path;
  Folder above;  // holds the folders above, as long as this one is held
  LONG count = 1;
};

Folder::Folder(const Folder& other) : node_(other.node_) {
  if (node_) InterlockedIncrement(&node_->count);
}

Folder::~Folder() {
  if (node_ && InterlockedDecrement(&node_->count) == 0) delete node_;
}

HANDLE Folder::handle() const { return node_ ? node_->handle.get() : INVALID_HANDLE_VALUE; }

const std::u16string& Folder::path() const {
  static const std::u16string kNone;
  return node_ ? node_->path : kNone;
}

std::u16string final_path(HANDLE item) {
  wchar_t buffer[1024];
  DWORD n = GetFinalPathNameByHandleW(item, buffer, 1024, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (n == 0 || n >= 1024) return {};
  std::u16string path(reinterpret_cast<const char16_t*>(buffer), n);
  if (path.compare(0, 4, u"\\\\?\\") == 0) path.erase(0, 4);
  if (path.size() > 3 && path.back() == u'\\') path.pop_back();
  return path;
}

Folder Folder::open(std::u16string_view path, FileStatus* status, bool deletable) {
  std::vector<std::u16string_view> names;
  if (!split_plain_path(path, &names)) {
    tell(status, FileStatus::kRefused);
    return {};
  }
  // The drive's root is the one absolute name opened; every level below is
  // opened relative to the one above.
  std::u16string root = u"\\??\\";
  root += path.substr(0, 2);
  root += u'\\';
  Folder folder(new Node);
  DWORD access = names.empty() && deletable ? kHoldAccess | DELETE : kHoldAccess;
  FileStatus s = nt_open(nullptr, root, access, kHoldShare, kOpenDisposition, FILE_DIRECTORY_FILE, 0, nullptr,
                         folder.node_->handle);
  if (s != FileStatus::kOk) {
    tell(status, s);
    return {};
  }
  folder.node_->path = final_path(folder.handle());
  if (folder.node_->path.size() < 3) {
    tell(status, FileStatus::kFailed);
    return {};
  }
  for (std::size_t i = 0; i < names.size() && folder; ++i)
    folder = folder.open_folder(names[i], status, deletable && i + 1 == names.size());
  if (folder) tell(status, FileStatus::kOk);
  return folder;
}

Folder Folder::open_followed(std::u16string_view path, FileStatus* status) {
  if (!plain_path(path)) {
    tell(status, FileStatus::kRefused);
    return {};
  }
  // The one open that follows links: where the folder is now, read through
  // the handle that followed them, then held level by level and checked to
  // be that very folder.
  std::wstring name(reinterpret_cast<const wchar_t*>(path.data()), path.size());
  File followed(CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES, kAllShare, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!followed) {
    tell(status, GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND ? FileStatus::kMissing
                                                                                                   : FileStatus::kFailed);
    return {};
  }
  Folder held = open(final_path(followed.get()), status);
  if (held && !same_file(held.handle(), followed.get())) {
    tell(status, FileStatus::kRefused);
    return {};
  }
  return held;
}

Folder Folder::open_folder(std::u16string_view name, FileStatus* status, bool deletable) const {
  if (!node_ || !plain_name(name)) {
    tell(status, FileStatus::kRefused);
    return {};
  }
  Folder below(new Node);
  Node* node = below.node_;
  FileStatus s = nt_open(handle(), name, deletable ? kHoldAccess | DELETE : kHoldAccess, kHoldShare,
                         kOpenDisposition, FILE_DIRECTORY_FILE, 0, nullptr, node->handle);
  if (s == FileStatus::kOk && !in_place(node->handle.get(), handle(), node_->path, name, true, &node->path))
    s = FileStatus::kRefused;
  tell(status, s);
  if (s != FileStatus::kOk) return {};
  node->above = *this;
  return below;
}

Folder Folder::make_folder(std::u16string_view name, const wchar_t* sddl, FileStatus* status, bool deletable) const {
  if (!node_ || !plain_name(name)) {
    tell(status, FileStatus::kRefused);
    return {};
  }
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (sddl && !ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr)) {
    tell(status, FileStatus::kFailed);
    return {};
  }
  Folder made(new Node);
  Node* node = made.node_;
  DWORD access = (deletable ? kHoldAccess | DELETE : kHoldAccess) | (descriptor ? WRITE_DAC : 0);
  FileStatus s = nt_open(handle(), name, access, kHoldShare, kCreateDisposition, FILE_DIRECTORY_FILE,
                         FILE_ATTRIBUTE_NORMAL, descriptor, node->handle);
  // Said once more through the new folder's handle: Windows took it at
  // creation, Wine keeps only what is set afterwards.
  if (s == FileStatus::kOk && descriptor)
    SetKernelObjectSecurity(node->handle.get(), DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                            descriptor);
  if (descriptor) LocalFree(descriptor);
  tell(status, s);
  if (s != FileStatus::kOk) return {};
  node->path = child_path(node_->path, name);
  node->above = *this;
  return made;
}

Folder Folder::above() const { return node_ ? node_->above : Folder(); }

Folder Folder::adopt(HANDLE handle) {
  Folder folder(new Node);
  folder.node_->handle.reset(handle);
  folder.node_->path = final_path(handle);
  if (folder.node_->path.empty()) return {};
  return folder;
}

File Folder::reopen(DWORD access) const {
  if (!node_) return File();
  return File(ReOpenFile(handle(), access, kAllShare, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT));
}

File Folder::open_file(std::u16string_view name, DWORD access, DWORD share, FileStatus* status) const {
  File file;
  if (!node_ || !plain_name(name)) {
    tell(status, FileStatus::kRefused);
    return file;
  }
  FileStatus s = nt_open(handle(), name, access | FILE_READ_ATTRIBUTES, share, kOpenDisposition,
                         FILE_NON_DIRECTORY_FILE, 0, nullptr, file);
  if (s == FileStatus::kOk && !in_place(file.get(), handle(), node_->path, name, true)) {
    file.reset();
    s = FileStatus::kRefused;
  }
  tell(status, s);
  return file;
}

File Folder::create_file(std::u16string_view name, DWORD access, DWORD share, DWORD attributes,
                         FileStatus* status) const {
  File file;
  if (!node_ || !plain_name(name)) {
    tell(status, FileStatus::kRefused);
    return file;
  }
  tell(status, nt_open(handle(), name, access, share, kCreateDisposition, FILE_NON_DIRECTORY_FILE,
                       attributes ? attributes : FILE_ATTRIBUTE_NORMAL, nullptr, file));
  return file;
}

FileStatus Folder::look(std::u16string_view name, DWORD* attributes) const {
  if (!node_ || !plain_name(name)) return FileStatus::kRefused;
  // Only a look, through a handle on the item as itself: what is acted on
  // later is opened, and checked, anew.
  File item;
  FileStatus s = nt_open(handle(), name, FILE_READ_ATTRIBUTES, kAllShare, kOpenDisposition, 0, 0, nullptr, item);
  if (s != FileStatus::kOk) return s;
  FILE_ATTRIBUTE_TAG_INFO tag = {};
  if (!GetFileInformationByHandleEx(item.get(), FileAttributeTagInfo, &tag, sizeof tag)) return FileStatus::kFailed;
  if (attributes) *attributes = tag.FileAttributes;
  return FileStatus::kOk;
}

FileStatus delete_through(HANDLE item) {
  FILE_BASIC_INFO basic = {};
  if (GetFileInformationByHandleEx(item, FileBasicInfo, &basic, sizeof basic) &&
      (basic.FileAttributes & FILE_ATTRIBUTE_READONLY)) {
    basic.FileAttributes &= ~DWORD(FILE_ATTRIBUTE_READONLY);
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    SetFileInformationByHandle(item, FileBasicInfo, &basic, sizeof basic);
  }
  FILE_DISPOSITION_INFO disposition = {TRUE};
  if (SetFileInformationByHandle(item, FileDispositionInfo, &disposition, sizeof disposition)) return FileStatus::kOk;
  DWORD error = GetLastError();
  // A running program's file and a file mapped by another refuse deletion.
  if (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED) return FileStatus::kInUse;
  if (error == ERROR_DIR_NOT_EMPTY) return FileStatus::kExists;
  return FileStatus::kFailed;
}

namespace {

FileStatus remove_below(const Folder& folder, std::u16string_view name, ULONG kind) {
  if (!folder || !plain_name(name)) return FileStatus::kRefused;
  File item;
  FileStatus s = nt_open(folder.handle(), name, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, kAllShare,
                         kOpenDisposition, kind, 0, nullptr, item);
  if (s != FileStatus::kOk) return s;
  // A link opened as itself lies here and goes alone; one that was followed
  // lies elsewhere and is refused.
  if (!in_place(item.get(), folder.handle(), folder.path(), name, false)) return FileStatus::kRefused;
  return delete_through(item.get());
}

}  // namespace

FileStatus Folder::remove(std::u16string_view name) const { return remove_below(*this, name, 0); }

FileStatus Folder::remove_folder(std::u16string_view name) const {
  return remove_below(*this, name, FILE_DIRECTORY_FILE);
}

FileStatus Folder::remove_self() const {
  if (!node_) return FileStatus::kRefused;
  return delete_through(handle());
}

FileStatus rename_through(HANDLE item, const Folder& to, std::u16string_view name, bool replace) {
  if (!to || !plain_name(name) || !nt().set_information) return FileStatus::kRefused;
  // The name is relative to the target folder's handle, and
  // zero-terminated as Wine reads it. Called through ntdll: the Win32 form
  // may take the name as a path of its own.
  std::vector<unsigned char> record(offsetof(FILE_RENAME_INFO, FileName) + (name.size() + 1) * sizeof(wchar_t), 0);
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(record.data());
  info->ReplaceIfExists = replace ? TRUE : FALSE;
  info->RootDirectory = to.handle();
  info->FileNameLength = DWORD(name.size() * sizeof(wchar_t));
  std::memcpy(info->FileName, name.data(), name.size() * sizeof(wchar_t));
  IO_STATUS_BLOCK io = {};
  NTSTATUS s = nt().set_information(item, &io, record.data(), ULONG(record.size()), kFileRenameInformation);
  if (s >= 0) return FileStatus::kOk;
  FileStatus status = status_of(s);
  return status == FileStatus::kFailed && GetLastError() == ERROR_ACCESS_DENIED ? FileStatus::kInUse : status;
}

FileStatus Folder::rename(std::u16string_view name, const Folder& to, std::u16string_view to_name,
                          bool replace) const {
  if (!node_ || !plain_name(name)) return FileStatus::kRefused;
  File item;
  FileStatus s = nt_open(handle(), name, DELETE | FILE_READ_ATTRIBUTES, kAllShare, kOpenDisposition, 0, 0, nullptr,
                         item);
  if (s != FileStatus::kOk) return s;
  if (!in_place(item.get(), handle(), node_->path, name, false)) return FileStatus::kRefused;
  return rename_through(item.get(), to, to_name, replace);
}

std::vector<Folder::Entry> Folder::list(std::size_t limit) const {
  std::vector<Entry> entries;
  File listing = node_ ? lister(handle()) : File();
  if (!listing || !nt().query_directory) return entries;
  // FILE_DIRECTORY_INFORMATION: offsets, times, sizes, attributes, the name.
  struct Record {
    ULONG next;
    ULONG index;
    LARGE_INTEGER times[4];
    LARGE_INTEGER end_of_file;
    LARGE_INTEGER allocation;
    ULONG attributes;
    ULONG name_length;
    WCHAR name[1];
  };
  std::vector<unsigned char> buffer(64 * 1024);
  bool restart = true;
  while (entries.size() < limit) {
    IO_STATUS_BLOCK io = {};
    NTSTATUS s = nt().query_directory(listing.get(), nullptr, nullptr, nullptr, &io, buffer.data(), ULONG(buffer.size()),
                                      kFileDirectoryInformation, FALSE, nullptr, restart ? TRUE : FALSE);
    restart = false;
    if (s == kNoMoreFiles || s < 0 || io.Information == 0) break;
    for (std::size_t at = 0; at < io.Information && entries.size() < limit;) {
      const auto* r = reinterpret_cast<const Record*>(buffer.data() + at);
      std::u16string name(reinterpret_cast<const char16_t*>(r->name), r->name_length / sizeof(wchar_t));
      if (name != u"." && name != u"..") entries.push_back({std::move(name), r->attributes});
      if (r->next == 0) break;
      at += r->next;
    }
  }
  return entries;
}

File reopen_for_reading(File& file) {
  if (!file) return File();
  // A first reading handle that tolerates the writer, then the writer goes,
  // then the one kept, which tolerates no writer from here on: its opening
  // fails if anyone opened the file for writing in between.
  File bridge(ReOpenFile(file.get(), GENERIC_READ, kAllShare, 0));
  if (!bridge) return File();
  file.reset();
  return File(ReOpenFile(bridge.get(), GENERIC_READ, FILE_SHARE_READ, 0));
}

bool file_index(HANDLE item, unsigned long long* index) {
  LARGE_INTEGER internal = {};
  IO_STATUS_BLOCK io = {};
  if (!nt().query_information ||
      nt().query_information(item, &io, &internal, sizeof internal, kFileInternalInformation) < 0)
    return false;
  *index = static_cast<unsigned long long>(internal.QuadPart);
  return true;
}

bool same_file(HANDLE a, HANDLE b) {
  unsigned long long x = 0, y = 0;
  return file_index(a, &x) && file_index(b, &y) && x == y;
}

Kernel start_held_program(const Folder& folder, std::u16string_view name, HANDLE program, const ProgramStart& how) {
  // The name must still open the held file (it cannot be renamed away while
  // held, but the caller may have handed in another one).
  File check;
  if (!folder || nt_open(folder.handle(), name, FILE_READ_ATTRIBUTES, kAllShare, kOpenDisposition,
                         FILE_NON_DIRECTORY_FILE, 0, nullptr, check) != FileStatus::kOk ||
      !in_place(check.get(), folder.handle(), folder.path(), name, true) || !same_file(check.get(), program)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return Kernel();
  }
  check.reset();
  std::wstring file(reinterpret_cast<const wchar_t*>(child_path(folder.path(), name).c_str()));
  std::wstring working(reinterpret_cast<const wchar_t*>(folder.path().c_str()));
  if (how.system_folder_as_working) {
    wchar_t system[MAX_PATH + 1] = {};
    UINT n = GetSystemDirectoryW(system, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return Kernel();
    working = system;
  }
  std::wstring arguments(reinterpret_cast<const wchar_t*>(how.arguments.c_str()));
  if (how.through_shell) {
    SHELLEXECUTEINFOW run = {};
    run.cbSize = sizeof run;
    run.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    run.lpVerb = L"open";
    run.lpFile = file.c_str();
    run.lpParameters = arguments.empty() ? nullptr : arguments.c_str();
    run.lpDirectory = working.c_str();
    run.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&run)) return Kernel();
    return Kernel(run.hProcess);
  }
  std::wstring line = L"\"" + file + L"\"";
  if (!arguments.empty()) line += L" " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  if (how.input) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = how.input;
  }
  const bool inherit = how.input || !how.inherit.empty();
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(file.c_str(), line.data(), nullptr, nullptr, inherit ? TRUE : FALSE, how.flags, nullptr,
                      working.c_str(), &startup, &process))
    return Kernel();
  Kernel thread(process.hThread);
  return Kernel(process.hProcess);
}

}  // namespace rt::win
