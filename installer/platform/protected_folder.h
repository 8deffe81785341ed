// Folders an elevated program makes where a person could otherwise change
// them: created with an explicit, protected access list (nothing inherited
// from a folder the person controls), relative to a held folder.
#pragma once

#include <string>
#include <string_view>

#include "runtime/win/confined.h"

namespace installer {

enum class FolderAccess {
  kInstalled,  // Administrators and SYSTEM full control, Users read and run
  kPrivate,    // Administrators and SYSTEM only (an elevated run's working folder)
  kPersonal,   // this program's user, Administrators and SYSTEM (a person's own run's working folder)
};

// The access list as SDDL (tests read it back).
std::wstring folder_access_sddl(FolderAccess access);
// A new folder `name` in `parent` with that access list; never one that
// exists (a folder or link prepared under the name is refused: kExists).
rt::win::Folder make_protected_folder(const rt::win::Folder& parent, std::u16string_view name, FolderAccess access,
                                      rt::win::FileStatus* status = nullptr, bool deletable = false);
// Gives an existing folder, through its hold, that access list (its own
// entries replace what it inherited).
bool protect_folder(const rt::win::Folder& folder, FolderAccess access);

// A new folder `<prefix><16 hex digits>` of an unpredictable name in
// `parent`, with the access list `access`, held; a name that exists is never
// taken, so a folder or link prepared by someone else is never used. Empty
// when none could be made. (Held without the right to delete it: a program
// that runs in it must still be able to make it its working folder. It is
// removed through `parent` once let go.)
rt::win::Folder make_unique_folder(const rt::win::Folder& parent, const char16_t* prefix, FolderAccess access);

// The mark every working folder holds from its first moment: a folder this
// product made, which a later run may remove if the one that made it is
// killed.
inline constexpr char16_t kWorkingFolderMarker[] = u"~tarnel-setup.run";
// A new working folder `<prefix><16 hex digits>` (make_unique_folder in
// working_parent(), with working_access()), marked.
rt::win::Folder make_working_folder(const char16_t* prefix);
// Removes the working folders ("setup-…", "uninst-…") that runs killed
// before their end (or ended: a self-removal copy's) left beside this one's:
// only folders named as this product names them, carrying its marker and
// kept for administrators (or, for a person's own run, that person) alone by
// their access list, each held and emptied through its handle, never through
// a link. A folder a running program still uses keeps the file it holds, and
// so itself.
void remove_stale_working_folders();

// Told of every protected folder made (tests: Wine keeps no access lists, so
// which folders were made so is asked here); null by default.
using ProtectedFolderWatcher = void (*)(const std::u16string& path, FolderAccess access);
void watch_protected_folders(ProtectedFolderWatcher watcher);

// Whether the process runs with administrator rights in full (elevated).
bool running_elevated();

// Where this program makes its working folders: for an elevated program the
// Windows temporary folder (others may make folders there, but cannot touch
// one of an administrator's with a protected list), else the person's
// temporary folder; held. Empty when it cannot be held.
rt::win::Folder working_parent();
// The access list of a working folder of this program.
FolderAccess working_access();

}  // namespace installer
