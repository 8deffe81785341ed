// The uninstaller's flow: its own file, list and uninstall entry, what it
// removes in which order, and the messages (removal_win.cpp does the removing).
// Paths and names are code page 936 texts and reach Windows through the
// confined file layer.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <memory>
#include <string>

#include "installer/format/format.h"
#include "installer/format/installed_list.h"
#include "installer/platform/launch.h"
#include "installer/platform/registry.h"
#include "installer/platform/resources.h"
#include "installer/platform/run_journal.h"
#include "installer/platform/run_log.h"
#include "installer/platform/single_run.h"
#include "installer/platform/paths.h"
#include "installer/platform/protected_folder.h"
#include "installer/platform/removal.h"
#include "installer/uninstaller/uninstall.h"
#include "runtime/value/codepage.h"
#include "runtime/win/com.h"
#include "runtime/win/confined.h"
#include "runtime/win/handles.h"

namespace installer {

namespace {

// How long files that could not be removed are tried again.
constexpr DWORD kBusyRetryMs = 3000;

// How many remaining items the result message lists by name.
constexpr std::size_t kMessageLines = 15;

std::u16string wide(const rt::Text& t) { return rt::wide_from_cp936(t.view()); }

struct OwnEntry {
  int root = kLocalMachine;  // the person's list (an installation for one person) or the machine's
  rt::Text key;              // empty when none names this program
  rt::Text software_name;
};

struct EntryPlace {
  int root;
  const char* base;
};
constexpr EntryPlace kPersonsList[] = {{kCurrentUser, format::kUninstallKey}};
constexpr EntryPlace kMachinesList[] = {{kLocalMachine, format::kUninstallKey32On64},
                                        {kLocalMachine, format::kUninstallKey}};

bool names_this_program(int root, const rt::Text& key, const rt::Text& own_path) {
  rt::Text program = command_program(registry_read_text(root, key, "UninstallString"));
  if (program.empty()) return false;
  if (same_path(program, own_path)) return true;
  // The entry may name it in short form: the long form of the folder it names.
  std::u16string folder, name;
  if (!rt::win::split_plain_parent(wide(program), &folder, &name)) return false;
  rt::win::Folder held = rt::win::Folder::open(folder);
  return held && same_path(rt::Text(rt::cp936_from_wide(held.path() + u"\\" + name)), own_path);
}

// The entry of `name` in one scope's lists, when it names this very program.
OwnEntry entry_named(const rt::Text& name, const EntryPlace* places, std::size_t count, const rt::Text& own_path) {
  if (name.empty() || name.view().find('\\') != std::string_view::npos) return {};
  for (std::size_t i = 0; i < count; ++i) {
    rt::Text key = rt::text_concat({places[i].base, format::kUninstallKeyPrefix, name.view()});
    if (names_this_program(places[i].root, key, own_path)) return {places[i].root, key, name};
  }
  return {};
}

// A list from before lists said whom they were made for: the entry whose
// "UninstallString" names this program, the machine's list first (an entry
// in the person's own list never takes over an installation for the
// machine). The software's name is the entry's own key name, not a text the
// entry carries.
OwnEntry entry_naming(const rt::Text& own_path) {
  const std::size_t prefix = sizeof format::kUninstallKeyPrefix - 1;
  for (const auto* places : {&kMachinesList[0], &kMachinesList[1], &kPersonsList[0]}) {
    rt::Array<rt::Text> names;
    registry_list_subkeys(places->root, places->base, names);
    for (const rt::Text& name : names) {
      if (name.size() <= prefix || _strnicmp(name.c_str(), format::kUninstallKeyPrefix, prefix) != 0) continue;
      rt::Text key = rt::text_concat({places->base, name.view()});
      if (names_this_program(places->root, key, own_path)) return {places->root, key, rt::Text(name.view().substr(prefix))};
    }
  }
  return {};
}

// Whom the installation was made for, as its list says.
enum class Scope { kPerson, kMachine, kUnknown };
Scope scope_of(const std::string& scope) {
  if (scope == format::kScopeUser) return Scope::kPerson;
  if (scope == format::kScopeMachine || scope.empty()) return Scope::kMachine;  // "" is the older layout: the machine's entry
  return Scope::kUnknown;
}

OwnEntry own_entry(const InstalledFiles& listed, bool has_list, const rt::Text& own_path) {
  if (!has_list || listed.software_name.empty()) return entry_naming(own_path);
  switch (scope_of(listed.scope)) {
    case Scope::kPerson: return entry_named(listed.software_name, kPersonsList, 1, own_path);
    case Scope::kMachine: return entry_named(listed.software_name, kMachinesList, 2, own_path);
    case Scope::kUnknown: break;
  }
  return {};
}

// Whether this process may remove its machine-wide entry (an administrator's
// process may; a person's, on Windows with its access lists, may not).
bool may_change_entry(const OwnEntry& own) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, rt::wide_path(own.key.view()).c_str(), 0, KEY_SET_VALUE | DELETE, &key) !=
      ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

// This program again, with administrator rights (Windows asks the person,
// naming the program); its exit code is this one's. The person saying no is
// a cancel.
int run_elevated_copy(const rt::Text& program, bool silent, const std::u16string& log) {
  std::wstring file = rt::wide_path(program.view());
  std::wstring parameters = silent ? L"/S /elevated" : L"/elevated";
  // The copy continues the log; this program lets go of it meanwhile.
  if (!log.empty()) {
    log_line({"administrator rights asked for: the elevated copy continues this log"});
    close_run_log();
    parameters += L" \"/LOG=" + std::wstring(log.begin(), log.end()) + L"\"";
  }
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
  info.lpVerb = L"runas";
  info.lpFile = file.c_str();
  info.lpParameters = parameters.c_str();
  info.nShow = SW_SHOWNORMAL;
  if (!ShellExecuteExW(&info) || !info.hProcess)
    return GetLastError() == ERROR_CANCELLED ? kUninstallCancelled : kUninstallIncomplete;
  rt::win::Kernel process(info.hProcess);
  WaitForSingleObject(process.get(), INFINITE);
  DWORD code = kUninstallIncomplete;
  GetExitCodeProcess(process.get(), &code);
  if (!log.empty() && open_run_log(log, true)) log_line({"the elevated copy ended with code ", log_number(code)});
  return int(code);
}

// A message for the person (none when silent), and always the log's line.
void tell(bool silent, const rt::Text& caption, const rt::Text& message) {
  log_line({message.view()});
  if (!silent) uninstall_prompt(caption, message, false);
}

struct Installation {
  rt::Text program;       // this uninstaller
  rt::Text folder;        // its folder: the installation folder
  rt::Text running_copy;  // where the running program's file is now
  Recovery recovery = Recovery::kNone;
  Root install_root;  // held, deletable, from the start to the end
  Root temp_root;
  rt::win::File own_file;  // this program's file, to delete it through once it has ended
  bool has_list = false;
  bool damaged_list = false;
  InstalledFiles installed;     // only what lies inside the two roots
  rt::Array<rt::Text> outside;  // listed, existing, and outside (or unmarked in the temporary folder): refused
  OwnEntry entry;
  bool person = false;  // its list says it was made for one person
  // The folders an interrupted first installation, taken back, had made:
  // the installation folder and those above it, deepest first.
  std::vector<std::u16string> made_by_run;
};

struct Outcome {
  rt::Array<rt::Text> remaining;  // what should have gone and did not
  rt::Array<rt::Text> kept;       // folders that still hold something, kept
  rt::Array<rt::Text> in_use;     // files a running program holds
};

Root* root_of(Installation& inst, const rt::Text& path) {
  if (inst.install_root.covers(path)) return &inst.install_root;
  if (inst.temp_root.covers(path)) return &inst.temp_root;
  return nullptr;
}

const std::string* mark_of(const Installation& inst, const rt::Text& path) {
  auto found = inst.installed.marks.find(format::listed_path_key(path.view()));
  return found == inst.installed.marks.end() ? nullptr : &found->second;
}

// The list as far as it may be acted on: each path kept only when it lies
// inside the installation folder, or is a file the installation made in the
// temporary folder (its mark says which file). A forged or stale line naming
// anything else is refused; an existing one is reported.
void confine(Installation& inst) {
  auto keep = [&](rt::Array<rt::Text>& paths, bool files) {
    rt::Array<rt::Text> inside;
    for (const rt::Text& path : paths) {
      bool ours = inst.install_root.covers(path) ||
                  (files && inst.temp_root.covers(path) && mark_of(inst, path));
      if (ours) inside.push_back(path);
      else if (path_exists(path)) inst.outside.push_back(path);
    }
    paths = std::move(inside);
  };
  keep(inst.installed.files, true);
  keep(inst.installed.folders, false);
}

// The shortcuts are removed only when they still start something in the
// installation folder: a person's own shortcut of the same name stays. The
// name is the software's, and must be one plain name.
void remove_shortcuts(const Installation& inst, Outcome& out) {
  // The entry's name, or the list's when a run ended before writing the entry.
  const rt::Text& software = inst.entry.software_name.empty() ? inst.installed.software_name : inst.entry.software_name;
  if (software.empty()) return;
  const std::u16string name = wide(software) + u".lnk";
  if (!rt::win::plain_name(name)) return;
  // The person's and every user's: an installation for the machine makes
  // the latter. Each is removed only when it starts something of ours.
  for (int csidl : {0x10 /* desktop */, 0x02 /* programs */, kCsidlCommonDesktop, kCsidlCommonPrograms}) {
    rt::Text folder = special_folder(0, csidl, true);
    if (folder.empty()) continue;
    rt::win::Folder held = rt::win::Folder::open_followed(wide(folder));
    if (!held || held.look(name, nullptr) != rt::win::FileStatus::kOk) continue;
    if (!path_is_inside(shortcut_target(held, name), inst.folder)) continue;
    if (removal_of(held.remove(name)) != Removal::kGone)
      out.remaining.push_back(rt::text_concat({folder.view(), rt::cp936_from_wide(name)}));
  }
}

// The listed files a running program holds (this program aside).
rt::Array<rt::Text> files_in_use(Installation& inst) {
  rt::Array<rt::Text> busy;
  for (const rt::Text& file : inst.installed.files) {
    Root* root = root_of(inst, file);
    if (root && !same_path(file, inst.program) && in_use(file, *root)) busy.push_back(file);
  }
  return busy;
}

void remove_files(Installation& inst, Outcome& out) {
  rt::Array<rt::Text> busy;
  auto remove = [&](const rt::Text& file) {
    Root* root = root_of(inst, file);
    const std::string* mark = mark_of(inst, file);
    Removal r = !root ? Removal::kRefused
                : root == &inst.temp_root && !inst.install_root.covers(file) ? remove_marked(file, mark ? *mark : "", *root)
                                                                              : remove_inside(file, *root);
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
    Root* root = root_of(inst, folder);
    if (root && remove_inside(folder, *root) == Removal::kGone) continue;
    if (!root || folder_contents(folder, *root, 1).empty()) {
      out.remaining.push_back(folder);
    } else {
      out.kept.push_back(folder);
    }
  }
}

void remove_entry(const Installation& inst, Outcome& out) {
  if (inst.entry.key.empty()) return;
  registry_delete_tree(inst.entry.root, inst.entry.key);
  if (registry_key_exists(inst.entry.root, inst.entry.key))
    out.remaining.push_back(rt::text_concat(
        {inst.entry.root == kCurrentUser ? "HKEY_CURRENT_USER\\" : "HKEY_LOCAL_MACHINE\\", inst.entry.key.view()}));
}

bool lists_program(const Installation& inst) {
  for (const rt::Text& file : inst.installed.files)
    if (same_path(file, inst.program)) return true;
  return false;
}

// The list as the installation recorded it. An install run killed before
// its end is taken back first (its journal in this folder): the earlier
// uninstaller is then back in this program's place, with its list, and this
// program, still running, was moved aside (`running_copy`).
void read_installation(Installation& inst) {
  std::vector<rt::Text> displaced;
  inst.recovery = recover_interrupted_run(inst.install_root, inst.folder, &displaced, &inst.made_by_run);
  inst.running_copy = displaced.empty() ? inst.program : displaced.front();
  // This program's file, moved aside: held again by its new name, as the
  // same file (a handle opened before the move may still name the old place
  // to the system: Wine's does).
  if (!displaced.empty() && inst.install_root.held() && inst.own_file) {
    std::u16string run, moved;
    rt::win::Folder run_folder = inst.install_root.folder().open_folder(kRunFolderName);
    rt::win::File again =
        run_folder && rt::win::split_plain_parent(wide(displaced.front()), &run, &moved)
            ? run_folder.open_file(moved, DELETE | SYNCHRONIZE | FILE_READ_DATA, FILE_SHARE_READ | FILE_SHARE_DELETE)
            : rt::win::File();
    if (again && rt::win::same_file(again.get(), inst.own_file.get())) inst.own_file = std::move(again);
  }
  rt::Text temp = temp_directory();
  if (!temp.empty()) inst.temp_root = Root::hold(temp);
  // Through the hold on the installation folder: it is held so that no
  // other hold (of ours either) may be opened on it.
  std::u16string folder, own;
  rt::win::split_plain_parent(wide(inst.program), &folder, &own);
  rt::Text list;
  if (inst.install_root.held())
    list = displaced.empty() ? own_installed_list(inst.program, &inst.install_root.folder())
                             : read_installed_list(inst.install_root.folder(), own);
  inst.has_list = !list.empty();
  if (inst.has_list) inst.installed = parse_installed_files(list);
  // A list that names no file, or not the uninstaller that carries it, is
  // not the one the package step recorded.
  inst.damaged_list = inst.has_list && !lists_program(inst);
  confine(inst);
}

// This program once it has ended, and its folders when empty: the
// installation folder, and those above it down from `made_above` (the
// outermost one the installation made), through the holds kept since the
// start. The program running now is this file, or the copy the taking back
// of an interrupted run moved into the run folder (which then goes too).
void remove_self_and_folders(Installation& inst, const rt::Text& made_above, Outcome& out) {
  std::vector<FolderToRemove> folders;
  const rt::win::Folder& held = inst.install_root.folder();
  if (!same_path(parent_folder(inst.running_copy), inst.folder)) {
    if (remove_inside(inst.program, inst.install_root) != Removal::kGone) out.remaining.push_back(inst.program);
    folders.push_back({held.handle(), kRunFolderName});
  }
  const bool made = !made_above.empty() && rt::win::plain_path(wide(made_above)) && path_is_inside(inst.folder, made_above);
  for (rt::win::Folder level = held; level;) {
    std::u16string above, name;
    rt::win::Folder parent = level.above();
    if (!parent || !rt::win::split_plain_parent(level.path(), &above, &name)) break;
    folders.push_back({parent.handle(), name});
    const rt::Text path(rt::cp936_from_wide(level.path()));
    if (!made || same_path(path, made_above) || !path_is_inside(path, made_above)) break;
    level = parent;
  }
  if (!inst.own_file || !schedule_self_removal(inst.own_file.get(), folders))
    out.remaining.push_back(inst.running_copy);
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

int run_uninstaller(bool silent, bool elevated_child, const std::u16string& log) {
  rt::ComApartment com;
  // Our own folder must be free to go, whatever folder we were started in.
  wchar_t system[MAX_PATH + 1] = {};
  if (GetSystemDirectoryW(system, MAX_PATH)) SetCurrentDirectoryW(system);
  Installation inst;
  inst.program = own_program_path();
  inst.folder = parent_folder(inst.program);
  // What the installation stored with its list says whose it is.
  rt::Text name;
  {
    rt::Text list = own_installed_list(inst.program);
    InstalledFiles listed = list.empty() ? InstalledFiles() : parse_installed_files(list);
    inst.entry = own_entry(listed, !list.empty(), inst.program);
    inst.person = !list.empty() && scope_of(listed.scope) == Scope::kPerson;
    name = listed.software_name;
  }
  // An installation for one person is removed with the person's rights; one
  // for the machine needs an administrator's, asked for only when missing.
  if (!elevated_child && !inst.entry.key.empty() && inst.entry.root == kLocalMachine && !may_change_entry(inst.entry))
    return run_elevated_copy(inst.program, silent, log);
  // The software's name: its entry's, else its list's (a run killed before
  // it wrote the entry), else its folder's.
  if (!inst.entry.software_name.empty()) name = inst.entry.software_name;
  if (name.empty()) name = file_name_of(inst.folder, true);
  rt::Text caption = rt::text_concat({name.view(), " 卸载"});
  log_line({"uninstaller of ", name.view(), " in ", inst.folder.view(),
            inst.entry.key.empty() ? ", no uninstall entry" : ", its uninstall entry found"});
  // One installation or uninstallation of the software at a time, from
  // before an interrupted run is taken back.
  SoftwareRunLock lock;
  if (!lock.acquire(name, inst.entry.root == kCurrentUser || inst.person ? LockScope::kUser : LockScope::kMachine)) {
    tell(silent, caption, another_run_message(name));
    return kUninstallBusy;
  }
  // The installation folder (with every folder above it) and this
  // program's file, held from here to the end: what goes last (this
  // program, its folder) goes through these holds.
  inst.install_root = Root::hold(inst.folder);
  if (inst.install_root.held()) {
    std::u16string folder, own;
    rt::win::split_plain_parent(wide(inst.program), &folder, &own);
    inst.own_file = inst.install_root.folder().open_file(own, DELETE | SYNCHRONIZE | FILE_READ_DATA,
                                                         FILE_SHARE_READ | FILE_SHARE_DELETE);
  }
  // What runs killed before their end left among the working folders.
  remove_stale_working_folders();
  read_installation(inst);
  if (inst.recovery == Recovery::kTakenBack) log_line({"an interrupted installation was taken back"});
  if (inst.has_list) log_line({"installed-file list: files ", log_number(inst.installed.files.count())});
  else log_line({"no installed-file list"});

  if (inst.recovery == Recovery::kFailed) {
    tell(silent, caption, "上次安装被中断，且无法恢复到安装前的状态，请关闭正在使用安装文件夹的程序后重试。卸载信息已保留。");
    return kUninstallIncomplete;
  }
  // A first installation interrupted before its end, taken back just now:
  // nothing of it is left but this program (its file, moved aside) and the
  // folders the run made.
  if (inst.recovery == Recovery::kTakenBack && !inst.has_list && inst.install_root.held()) {
    Outcome out;
    const rt::Text outermost(inst.made_by_run.empty() ? std::string() : rt::cp936_from_wide(inst.made_by_run.back()));
    remove_self_and_folders(inst, outermost, out);
    tell(silent, caption, result_message(name, out, inst.outside));
    return out.remaining.empty() ? kUninstallDone : kUninstallIncomplete;
  }
  if (!inst.has_list && inst.entry.key.empty()) {
    tell(silent, caption, "找不到安装信息，无法卸载。");
    return kUninstallNothing;
  }
  // Without its list the uninstaller cannot know what to remove: it says so
  // and keeps its entry and itself, so that reinstalling can mend it.
  if (!inst.has_list || inst.damaged_list || !inst.install_root.held()) {
    tell(silent, caption,
         rt::text_concat({"“", name.view(), "”的安装文件列表丢失或已损坏，无法卸载。卸载信息已保留，请重新运行安装程序后再卸载。"}));
    return kUninstallNoList;
  }
  if (!silent && !uninstall_prompt(caption, rt::text_concat({"确定要卸载“", name.view(), "”及其所有组件吗？"}), true))
    return kUninstallCancelled;

  // A running program holds files: nothing is removed that could not be
  // finished; the person closes it and tries again.
  rt::Array<rt::Text> busy = files_in_use(inst);
  if (!busy.empty()) {
    tell(silent, caption, in_use_message(name, busy, false));
    return kUninstallInUse;
  }

  Outcome out;
  log_line({silent ? "removing (/S)" : "removing: the person agreed"});
  // Shortcuts first: nobody should start the program while its files go.
  remove_shortcuts(inst, out);
  remove_files(inst, out);
  // A file still held (the program was started meanwhile): the entry and this
  // program stay, so that the uninstallation can be run again.
  if (out.in_use.empty()) {
    remove_entry(inst, out);
    // This program and its folder only when they belong to the installation.
    if (lists_program(inst) || !inst.entry.key.empty()) {
      rt::Array<rt::Text> left = folder_contents(inst.folder, inst.install_root, 2);
      rt::Text run_folder = parent_folder(inst.running_copy);
      const bool displaced = !same_path(run_folder, inst.folder);
      bool only_program = left.count() == 1 && (same_path(left[1], file_name_of(inst.program, true)) ||
                                                (displaced && same_path(rt::text_concat({inst.folder.view(), "\\", left[1].view()}),
                                                                        run_folder)));
      if (!left.empty() && !only_program) out.kept.push_back(inst.folder);
      remove_self_and_folders(inst, inst.installed.made_above, out);
    }
  }

  log_line({"removed; left: items ", log_number(out.remaining.count()), ", in use ", log_number(out.in_use.count())});
  tell(silent, caption, result_message(name, out, inst.outside));
  if (!out.in_use.empty()) return kUninstallInUse;
  return out.remaining.empty() ? kUninstallDone : kUninstallIncomplete;
}

int run_logged_uninstaller(bool silent, bool elevated_child) {
  // The log asked for, opened before the current folder changes; the
  // elevated copy is given its full path.
  std::u16string log;
  bool log_usable = true;
  int count = 0;
  if (LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count)) {
    const wchar_t* asked = nullptr;  // the last one given
    for (int i = 1; i < count; ++i)
      if (CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, args[i], 5, L"/LOG=", 5) == CSTR_EQUAL) asked = args[i] + 5;
    if (asked) log_usable = open_run_log(reinterpret_cast<const char16_t*>(asked), elevated_child);
    LocalFree(args);
  }
  if (!log_usable) return kUninstallUsage;
  if (run_log_open()) log = run_log_path();
  const int code = run_uninstaller(silent, elevated_child, log);
  log_end(code);
  return code;
}

}  // namespace installer
