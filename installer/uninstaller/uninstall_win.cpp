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

// Removes a file (a read-only one too) or an empty folder; a missing path is
// already removed. True when nothing is left at the path.
bool remove_path(const rt::Text& path) {
  std::wstring wide = rt::wide_path(path.view());
  DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    RemoveDirectoryW(wide.c_str());
  } else {
    if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(wide.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    DeleteFileW(wide.c_str());
  }
  return !path_exists(path);
}

struct Installation {
  rt::Text program;  // this uninstaller
  rt::Text folder;   // its folder: the installation folder
  bool has_list = false;
  InstalledFiles installed;
  OwnEntry entry;
};

struct Outcome {
  rt::Array<rt::Text> remaining;  // what should have gone and did not
  rt::Array<rt::Text> kept;       // folders that still hold something, kept
};

// The shortcuts are removed only when they still start something in the
// installation folder: a person's own shortcut of the same name stays.
void remove_shortcuts(const Installation& inst, Outcome& out) {
  if (inst.entry.software_name.empty()) return;
  for (int kind : {kFolderDesktop, kFolderPrograms}) {
    rt::Text folder = special_folder(kind);
    if (folder.empty()) continue;
    rt::Text link = rt::text_concat({folder.view(), inst.entry.software_name.view(), ".lnk"});
    if (!path_exists(link) || !path_is_inside(shortcut_target(link), inst.folder)) continue;
    if (!remove_path(link)) out.remaining.push_back(link);
  }
}

void remove_files(const Installation& inst, Outcome& out) {
  rt::Array<rt::Text> busy;
  for (const rt::Text& file : inst.installed.files) {
    // This program goes last, after it has ended.
    if (same_path(file, inst.program)) continue;
    if (!remove_path(file)) busy.push_back(file);
  }
  // A program the person has just closed may still be ending: its files get
  // a few more tries before they count as remaining.
  const DWORD start = GetTickCount();
  while (!busy.empty() && GetTickCount() - start < kBusyRetryMs) {
    Sleep(200);
    rt::Array<rt::Text> still;
    for (const rt::Text& file : busy)
      if (!remove_path(file)) still.push_back(file);
    busy = std::move(still);
  }
  for (const rt::Text& file : busy) out.remaining.push_back(file);
  for (const rt::Text& entry : inst.installed.unusable) out.remaining.push_back(entry);
  // Folders go only when empty: whatever a person added to them stays, and
  // so do the folders holding it.
  for (const rt::Text& folder : folders_to_remove(inst.installed, inst.folder)) {
    if (remove_path(folder)) continue;
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

// A hidden command script removes this program once it has ended (Windows
// keeps a running program's file), then its folder if that is empty, then
// itself. It waits by reading its input, a pipe whose writing end only this
// process holds: the read ends when the process has ended. The paths reach
// it through the environment, so that any character in them survives; the
// script itself is plain ASCII. Each line is a simple command: Wine's command
// processor parses parenthesised blocks differently.
constexpr char kCleanupScript[] =
    "@echo off\r\n"
    "set /p TARNEL_UNINST_WAIT=\r\n"
    "set TARNEL_UNINST_TRIES=0\r\n"
    ":again\r\n"
    "del /f /q \"%TARNEL_UNINST_FILE%\" >nul 2>&1\r\n"
    "if not exist \"%TARNEL_UNINST_FILE%\" goto gone\r\n"
    "set /a TARNEL_UNINST_TRIES+=1\r\n"
    "if %TARNEL_UNINST_TRIES% geq 30 goto gone\r\n"
    "ping -n 2 127.0.0.1 >nul 2>&1\r\n"
    "goto again\r\n"
    ":gone\r\n"
    "rd \"%TARNEL_UNINST_DIR%\" >nul 2>&1\r\n"
    "del /f /q \"%~f0\" >nul 2>&1 & exit\r\n";

bool write_new_file(const std::wstring& path, std::string_view bytes) {
  rt::win::File file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  DWORD written = 0;
  return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

bool schedule_self_removal(const rt::Text& program, const rt::Text& folder) {
  rt::Text temp = temp_directory();
  wchar_t system[MAX_PATH + 1] = {};
  UINT n = GetSystemDirectoryW(system, MAX_PATH);
  if (temp.empty() || n == 0 || n >= MAX_PATH) return false;
  wchar_t script_name[40];
  wsprintfW(script_name, L"tarnel-uninst-%lu.cmd", GetCurrentProcessId());
  std::wstring script = rt::wide_path(temp.view()) + script_name;
  if (!write_new_file(script, kCleanupScript)) return false;
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
  // cmd takes the outer quotes off and runs the quoted script path.
  std::wstring line = L"\"" + cmd + L"\" /d /c \"\"" + script + L"\"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = read_end;
  PROCESS_INFORMATION process = {};
  // Its working folder must not be the one it removes.
  if (!CreateProcessW(cmd.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, system, &startup,
                      &process)) {
    DeleteFileW(script.c_str());
    return false;
  }
  rt::win::Process started(process);
  writer.release();  // held open until this process ends
  return true;
}

Installation read_installation() {
  Installation inst;
  inst.program = own_program_path();
  inst.folder = parent_folder(inst.program);
  rt::Bytes encrypted = load_resource_bytes(format::kListResourceType, format::kListResourceName);
  inst.has_list = !encrypted.empty();
  if (inst.has_list) inst.installed = parse_installed_files(decrypt_record(encrypted, format::kRecordPassPhrase, true));
  inst.entry = find_own_entry(inst.program);
  return inst;
}

bool lists_program(const Installation& inst) {
  for (const rt::Text& file : inst.installed.files)
    if (same_path(file, inst.program)) return true;
  return false;
}

rt::Text result_message(const rt::Text& name, const Outcome& out) {
  std::string text;
  if (out.remaining.empty()) {
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

  Outcome out;
  // Shortcuts first: nobody should start the program while its files go.
  remove_shortcuts(inst, out);
  remove_files(inst, out);
  remove_entry(inst, out);
  // This program and its folder only when they belong to the installation.
  if (lists_program(inst) || !inst.entry.key.empty()) {
    rt::Array<rt::Text> left = folder_contents(inst.folder, 2);
    bool only_program = left.count() == 1 && same_path(left[1], file_name_of(inst.program, true));
    if (!left.empty() && !only_program) out.kept.push_back(inst.folder);
    if (!schedule_self_removal(inst.program, inst.folder)) out.remaining.push_back(inst.program);
  }

  if (!silent) uninstall_prompt(caption, result_message(name, out), false);
  return out.remaining.empty() ? kUninstallDone : kUninstallIncomplete;
}

}  // namespace installer
