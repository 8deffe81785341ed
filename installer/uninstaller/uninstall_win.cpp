// The uninstaller's Windows side: its own file, list and uninstall entry, the
// removals, the clean-up of itself after it has ended, and the messages.
// Paths and names are code page 936 texts and reach Windows through the wide
// functions.
#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <memory>
#include <string>

#include "installer/format/cipher.h"
#include "installer/platform/launch.h"
#include "installer/platform/registry.h"
#include "installer/platform/resources.h"
#include "installer/uninstaller/uninstall.h"
#include "runtime/value/codepage.h"
#include "runtime/win/com.h"
#include "runtime/win/handles.h"

namespace installer {

namespace {

// The installer writes its entry under the explicit WOW6432Node path on
// 64-bit Windows and under the plain path otherwise; both are searched (from
// this 32-bit program on 64-bit Windows they are the same key).
constexpr const char* kUninstallBases[] = {format::kUninstallKey32On64, format::kUninstallKey};

// How long files that could not be removed are tried again.
constexpr DWORD kBusyRetryMs = 3000;

// How many remaining items the result message lists by name.
constexpr std::size_t kMessageLines = 15;

rt::Text from_wide(const std::wstring& w) { return rt::Text(rt::cp936_from_wchar(w.c_str())); }

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

rt::Text registry_text(const rt::Text& key, const char* name) {
  RegistryValue value = registry_read_value(kLocalMachine, key, name);
  if (value.type != REG_SZ && value.type != REG_EXPAND_SZ) return {};
  std::string_view data = value.data.view();
  return rt::Text(data.substr(0, data.find('\0')));
}

struct OwnEntry {
  rt::Text key;  // empty when none names this program
  rt::Text software_name;
};

// The entry whose "UninstallString" names this very program: several
// products of this installer may be installed side by side.
OwnEntry find_own_entry(const rt::Text& own_path) {
  const std::size_t prefix = sizeof format::kUninstallKeyPrefix - 1;
  for (const char* base : kUninstallBases) {
    rt::Array<rt::Text> names;
    registry_list_subkeys(kLocalMachine, base, names);
    for (const rt::Text& name : names) {
      if (name.size() < prefix || _strnicmp(name.c_str(), format::kUninstallKeyPrefix, prefix) != 0) continue;
      rt::Text key = rt::text_concat({base, name.view()});
      rt::Text program = command_program(registry_text(key, "UninstallString"));
      if (program.empty() || !same_path(long_path(program), own_path)) continue;
      rt::Text software = registry_text(key, "DisplayName");
      if (software.empty()) software = rt::Text(name.view().substr(prefix));
      return {key, software};
    }
  }
  return {};
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

// A folder the uninstaller may delete in: the installation folder, or the
// temporary folder for the installation's own "{tmp}" entries. `real` is
// where the system says it is (it may itself lie behind a link the person
// made, which is theirs to make).
struct Root {
  rt::Text path;
  rt::Text real;
};

Root make_root(const rt::Text& folder) {
  Root root{canonical_path(folder), {}};
  rt::win::File handle(CreateFileW(rt::wide_path(root.path.view()).c_str(), FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (handle) root.real = handle_path(handle.get());
  return root;
}

// No folder between the root and the path is a link (junction, symbolic
// link, mount point): a deletion below one would land elsewhere.
bool no_link_between(const rt::Text& path, const Root& root) {
  for (rt::Text up = parent_folder(path); path_is_inside(up, root.path); up = parent_folder(up)) {
    DWORD attributes = GetFileAttributesW(rt::wide_path(up.view()).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
  }
  return true;
}

enum class Removal { kGone, kFailed, kInUse, kRefused };

// Removes a file (a read-only one too) or an empty folder below the root
// through one handle opened on the path itself: a link is removed, never
// what it points to, and the handle's real place is checked before anything
// goes. A missing path is already removed.
Removal remove_inside(const rt::Text& path, const Root& root) {
  if (!path_is_inside(path, root.path) || !no_link_between(path, root)) return Removal::kRefused;
  std::wstring wide = rt::wide_path(path.view());
  if (GetFileAttributesW(wide.c_str()) == INVALID_FILE_ATTRIBUTES) return Removal::kGone;
  HANDLE raw = CreateFileW(wide.c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (raw == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return Removal::kGone;
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? Removal::kInUse : Removal::kFailed;
  }
  rt::win::File handle(raw);
  if (!root.real.empty()) {
    rt::Text real = handle_path(raw);
    if (!real.empty() && !path_is_inside(real, root.real)) return Removal::kRefused;
  }
  FILE_BASIC_INFO basic = {};
  if (GetFileInformationByHandleEx(raw, FileBasicInfo, &basic, sizeof basic) &&
      (basic.FileAttributes & FILE_ATTRIBUTE_READONLY)) {
    basic.FileAttributes &= ~FILE_ATTRIBUTE_READONLY;
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    SetFileInformationByHandle(raw, FileBasicInfo, &basic, sizeof basic);
  }
  FILE_DISPOSITION_INFO disposition = {TRUE};
  if (!SetFileInformationByHandle(raw, FileDispositionInfo, &disposition, sizeof disposition)) {
    DWORD error = GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ? Removal::kInUse : Removal::kFailed;
  }
  handle.reset();
  return path_exists(path) ? Removal::kFailed : Removal::kGone;
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

struct Installation {
  rt::Text program;  // this uninstaller
  rt::Text folder;   // its folder: the installation folder
  Root install_root;
  Root temp_root;
  bool has_list = false;
  InstalledFiles installed;       // only what lies inside the two roots
  rt::Array<rt::Text> outside;    // listed, existing, and outside: refused
  OwnEntry entry;
};

struct Outcome {
  rt::Array<rt::Text> remaining;  // what should have gone and did not
  rt::Array<rt::Text> kept;       // folders that still hold something, kept
  rt::Array<rt::Text> in_use;     // files a running program holds
};

const Root* root_of(const Installation& inst, const rt::Text& path) {
  if (path_is_inside(path, inst.install_root.path)) return &inst.install_root;
  if (!inst.temp_root.path.empty() && path_is_inside(path, inst.temp_root.path)) return &inst.temp_root;
  return nullptr;
}

// The list as far as it may be acted on: each path made canonical and kept
// only when it lies inside the installation folder (or, for the
// installation's own temporary entries, inside the temporary folder). A
// forged or stale line naming anything else is refused; an existing one is
// reported.
void confine(Installation& inst) {
  auto keep = [&](rt::Array<rt::Text>& paths) {
    rt::Array<rt::Text> inside;
    for (const rt::Text& listed : paths) {
      rt::Text path = canonical_path(listed);
      if (!path.empty() && root_of(inst, path)) {
        inside.push_back(path);
      } else if (path_exists(listed)) {
        inst.outside.push_back(listed);
      }
    }
    paths = std::move(inside);
  };
  keep(inst.installed.files);
  keep(inst.installed.folders);
}

// The shortcuts are removed only when they still start something in the
// installation folder: a person's own shortcut of the same name stays.
void remove_shortcuts(const Installation& inst, Outcome& out) {
  if (inst.entry.software_name.empty()) return;
  for (int kind : {kFolderDesktop, kFolderPrograms}) {
    rt::Text folder = special_folder(kind);
    if (folder.empty()) continue;
    rt::Text link = rt::text_concat({folder.view(), inst.entry.software_name.view(), ".lnk"});
    if (!path_exists(link) || !path_is_inside(shortcut_target(link), inst.folder)) continue;
    if (!remove_link(link)) out.remaining.push_back(link);
  }
}

// The listed files a running program holds (this program aside).
rt::Array<rt::Text> files_in_use(const Installation& inst) {
  rt::Array<rt::Text> busy;
  for (const rt::Text& file : inst.installed.files)
    if (!same_path(file, inst.program) && in_use(file)) busy.push_back(file);
  return busy;
}

void remove_files(const Installation& inst, Outcome& out) {
  rt::Array<rt::Text> busy;
  auto remove = [&](const rt::Text& file) {
    Removal r = remove_inside(file, *root_of(inst, file));
    if (r == Removal::kRefused) {
      out.remaining.push_back(file);
      return true;
    }
    return r == Removal::kGone;
  };
  for (const rt::Text& file : inst.installed.files) {
    // This program goes last, after it has ended.
    if (same_path(file, inst.program)) continue;
    if (!remove(file)) busy.push_back(file);
  }
  // A program the person has just closed may still be ending: its files get
  // a few more tries before they count as remaining.
  const DWORD start = GetTickCount();
  while (!busy.empty() && GetTickCount() - start < kBusyRetryMs) {
    Sleep(200);
    rt::Array<rt::Text> still;
    for (const rt::Text& file : busy)
      if (!remove(file)) still.push_back(file);
    busy = std::move(still);
  }
  for (const rt::Text& file : busy) out.in_use.push_back(file);
  for (const rt::Text& entry : inst.installed.unusable) out.remaining.push_back(entry);
  // Folders go only when empty: whatever a person added to them stays, and
  // so do the folders holding it.
  for (const rt::Text& folder : folders_to_remove(inst.installed, inst.folder)) {
    const Root* root = root_of(inst, folder);
    if (root && remove_inside(folder, *root) == Removal::kGone) continue;
    if (folder_contents(folder, 1).empty()) {
      out.remaining.push_back(folder);
    } else {
      out.kept.push_back(folder);
    }
  }
}

void remove_entry(const Installation& inst, Outcome& out) {
  if (inst.entry.key.empty()) return;
  registry_delete_tree(kLocalMachine, inst.entry.key);
  if (registry_key_exists(kLocalMachine, inst.entry.key))
    out.remaining.push_back(rt::text_concat({"HKEY_LOCAL_MACHINE\\", inst.entry.key.view()}));
}

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
    L"if exist \"%TARNEL_UNINST_FILE%\" ping -n 2 127.0.0.1 >nul 2>&1";

bool schedule_self_removal(const rt::Text& program, const rt::Text& folder) {
  wchar_t system[MAX_PATH + 1] = {};
  UINT n = GetSystemDirectoryW(system, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return false;
  SetEnvironmentVariableW(L"TARNEL_UNINST_FILE", rt::wide_path(program.view()).c_str());
  SetEnvironmentVariableW(L"TARNEL_UNINST_DIR", rt::wide_path(folder.view()).c_str());

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

Installation read_installation() {
  Installation inst;
  inst.program = own_program_path();
  inst.folder = parent_folder(inst.program);
  inst.install_root = make_root(inst.folder);
  if (inst.install_root.path.empty()) inst.install_root.path = inst.folder;
  rt::Text temp = temp_directory();
  if (!temp.empty()) inst.temp_root = make_root(temp);
  rt::Bytes encrypted = load_resource_bytes(format::kListResourceType, format::kListResourceName);
  inst.has_list = !encrypted.empty();
  if (inst.has_list) inst.installed = parse_installed_files(decrypt_record(encrypted, format::kRecordPassPhrase, true));
  confine(inst);
  inst.entry = find_own_entry(inst.program);
  return inst;
}

bool lists_program(const Installation& inst) {
  for (const rt::Text& file : inst.installed.files)
    if (same_path(file, inst.program)) return true;
  return false;
}

// Which program to close: the listed programs among the files in use, else
// the software itself.
rt::Text program_to_close(const rt::Text& name, const rt::Array<rt::Text>& busy) {
  std::string programs;
  for (const rt::Text& file : busy) {
    rt::Text extension = extension_of(file);
    if (_stricmp(extension.c_str(), "exe") != 0 && _stricmp(extension.c_str(), ".exe") != 0) continue;
    if (!programs.empty()) programs += "、";
    programs += rt::text_concat({"“", file_name_of(file, true).view(), "”"}).view();
  }
  if (programs.empty()) programs = rt::text_concat({"“", name.view(), "”"}).str();
  return rt::Text(programs);
}

rt::Text in_use_message(const rt::Text& name, const rt::Array<rt::Text>& busy, bool started) {
  return rt::text_concat({started ? "卸载未完成：" : "", "以下文件正在使用中，请先关闭", program_to_close(name, busy).view(),
                          "，然后重新运行卸载程序。卸载信息已保留。\r\n\r\n",
                          remaining_summary(busy, kMessageLines).view()});
}

rt::Text result_message(const rt::Text& name, const Outcome& out, const rt::Array<rt::Text>& outside) {
  std::string text;
  if (!out.in_use.empty()) {
    text = in_use_message(name, out.in_use, true).str();
    if (!out.remaining.empty())
      text += rt::text_concat({"\r\n\r\n以下项目未能删除：\r\n", remaining_summary(out.remaining, kMessageLines).view()})
                  .view();
  } else if (out.remaining.empty()) {
    text = rt::text_concat({"“", name.view(), "”已从您的计算机中卸载。"}).str();
  } else {
    text = rt::text_concat({"“", name.view(), "”已卸载，但以下项目未能删除，您可以手动删除它们：\r\n\r\n",
                            remaining_summary(out.remaining, kMessageLines).view()})
               .str();
  }
  if (!out.kept.empty()) {
    text += rt::text_concat({"\r\n\r\n以下文件夹中还有其他文件，已保留：\r\n",
                             remaining_summary(out.kept, kMessageLines).view()})
                .view();
  }
  if (!outside.empty()) {
    text += rt::text_concat({"\r\n\r\n以下项目不在安装文件夹中，未删除：\r\n",
                             remaining_summary(outside, kMessageLines).view()})
                .view();
  }
  return rt::Text(text);
}

}  // namespace

int run_uninstaller(bool silent) {
  rt::ComApartment com;
  Installation inst = read_installation();
  // Our own folder must be free to go, whatever folder we were started in.
  rt::Text temp = temp_directory();
  if (!temp.empty()) SetCurrentDirectoryW(rt::wide_path(temp.view()).c_str());

  rt::Text name = inst.entry.software_name;
  if (name.empty()) name = file_name_of(inst.folder, true);
  rt::Text caption = rt::text_concat({name.view(), " 卸载"});
  if (!inst.has_list && inst.entry.key.empty()) {
    if (!silent) uninstall_prompt(caption, "找不到安装信息，无法卸载。", false);
    return kUninstallNothing;
  }
  if (!silent && !uninstall_prompt(caption, rt::text_concat({"确定要卸载“", name.view(), "”及其所有组件吗？"}), true))
    return kUninstallCancelled;

  // A running program holds files: nothing is removed that could not be
  // finished; the person closes it and tries again.
  rt::Array<rt::Text> busy = files_in_use(inst);
  if (!busy.empty()) {
    if (!silent) uninstall_prompt(caption, in_use_message(name, busy, false), false);
    return kUninstallInUse;
  }

  Outcome out;
  // Shortcuts first: nobody should start the program while its files go.
  remove_shortcuts(inst, out);
  remove_files(inst, out);
  // A file still held (the program was started meanwhile): the entry and this
  // program stay, so that the uninstallation can be run again.
  if (out.in_use.empty()) {
    remove_entry(inst, out);
    // This program and its folder only when they belong to the installation.
    if (lists_program(inst) || !inst.entry.key.empty()) {
      rt::Array<rt::Text> left = folder_contents(inst.folder, 2);
      bool only_program = left.count() == 1 && same_path(left[1], file_name_of(inst.program, true));
      if (!left.empty() && !only_program) out.kept.push_back(inst.folder);
      if (!schedule_self_removal(inst.program, inst.folder)) out.remaining.push_back(inst.program);
    }
  }

  if (!silent) uninstall_prompt(caption, result_message(name, out, inst.outside), false);
  if (!out.in_use.empty()) return kUninstallInUse;
  return out.remaining.empty() ? kUninstallDone : kUninstallIncomplete;
}

}  // namespace installer
