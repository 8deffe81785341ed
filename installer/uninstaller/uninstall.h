// The uninstaller (uninst.exe): what the package step recorded inside it, what
// it may remove, and the program's flow. It removes only what its installed-
// file list names, the folders those files made, the two shortcuts named after
// the software and its own uninstall entry, and finally itself and its folder.
// It deletes only inside the installation folder (and, for the installation's
// own temporary entries, the temporary folder), never through a link. When a
// running program holds installed files it removes nothing and keeps its
// entry and itself.
// It knows its installation from what the installation stored with its list:
// the software's name and whom it was made for (the person, or the machine).
// Its own entry is the entry of that name in that scope's list of programs,
// and only when its "UninstallString" names this program: an installation
// for the machine never takes an entry of the person's own list. A list
// from before lists said so falls back to the machine's entry naming this
// program, then the person's. Without an entry no shortcut is touched and
// messages name the folder.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "installer/platform/paths.h"
#include "runtime/value/value.h"

namespace installer {

// Exit codes of uninst.exe (what /S callers look at).
enum UninstallExit : int {
  kUninstallDone = 0,        // everything found was removed
  kUninstallIncomplete = 1,  // something could not be removed (it was reported)
  kUninstallCancelled = 2,   // the person said no
  kUninstallNothing = 3,     // no installed-file list and no uninstall entry: nothing to do
  kUninstallInUse = 4,       // a running program holds installed files: the entry and uninst.exe stay
  kUninstallNoList = 5,      // an entry but no usable installed-file list: the entry and uninst.exe stay
  kUninstallBusy = 6,        // an installation or uninstallation of the software runs now
  kUninstallUsage = 8,       // the log asked for (/LOG=) cannot be written: nothing was done
};

// The installed-file list (installed_list.h), split into files and folders.
// Paths that are not plain drive paths (written relative to wherever the
// installer ran, which is not known now, or with a "." or "..", a device or
// a stream) cannot be removed safely and are kept in `unusable`.
struct InstalledFiles {
  rt::Array<rt::Text> files;
  rt::Array<rt::Text> folders;  // without their trailing backslash
  rt::Array<rt::Text> unusable;
  std::map<std::string, std::string> marks;  // a file's mark by its path's comparison key
  std::string scope;                         // the list's "scope" property
  rt::Text software_name;                    // its "name" property
  rt::Text made_above;                       // its "made" property: a folder made above the installation's
};
InstalledFiles parse_installed_files(const rt::Text& list);

// The folders to try to remove, deepest first and each once: the listed
// folders, and every folder between a listed entry and the installation
// folder (the package made them, even without a folder entry of its own).
// The installation folder itself is left to the final clean-up.
rt::Array<rt::Text> folders_to_remove(const InstalledFiles& installed, const rt::Text& install_folder);

// The result message's list of what remained: at most `max_lines` lines, the
// rest counted in a last line.
rt::Text remaining_summary(const rt::Array<rt::Text>& remaining, std::size_t max_lines);

// The prompt window (Windows): the title, the message, 确定 and, when asked
// for, 取消. True when 确定 was pressed.
bool uninstall_prompt(const rt::Text& title, const rt::Text& message, bool with_cancel);

// Removes this program (`program`: a handle on its file with delete access,
// held since it started) and then the folders, in order, each when empty,
// once it has ended (Windows keeps a running program's file): each folder
// named in the folder above it (a handle held since it started). A copy of
// this program, made in a new folder only administrators (or, for a
// person's own uninstaller, that person) can write and started from its
// held file, receives the handles themselves. False when that could not be
// set going.
struct FolderToRemove {
  const void* above;  // a held folder's handle
  std::u16string name;
};
bool schedule_self_removal(void* program, const std::vector<FolderToRemove>& folders);

// The copy's part (uninst.exe /cleanup): reads the handles it was given from
// its input, waits for the end of that input (the program has ended),
// deletes the program's file and then each folder that is empty, through
// those handles.
int run_self_removal();

// The whole program (Windows): `silent` asks nothing and shows nothing.
// Returns the exit code.
// `elevated_child`: started by an unelevated uninst.exe with administrator
// rights for an installation for the machine; it never asks for them again.
// `log`: the open run log's path, which that copy continues.
int run_uninstaller(bool silent, bool elevated_child = false, const std::u16string& log = std::u16string());
// The same with the log its command line asks for ("/LOG=<file>", made a
// full path against the caller's folder; the elevated copy continues its
// starter's log): a log that cannot be written ends it before anything.
int run_logged_uninstaller(bool silent, bool elevated_child);

}  // namespace installer
