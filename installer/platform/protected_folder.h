// Folders an elevated program makes where a person could otherwise change
// them: created with an explicit, protected access list (nothing inherited
// from a folder the person controls).
#pragma once

#include <string>

#include "runtime/value/value.h"

namespace installer {

enum class FolderAccess {
  kInstalled,  // Administrators and SYSTEM full control, Users read and run
  kPrivate,    // Administrators and SYSTEM only (an elevated run's working folder)
};

// The access list as SDDL (tests read it back).
const wchar_t* folder_access_sddl(FolderAccess access);
// CreateDirectoryW with that access list; false (GetLastError) as it gives,
// ERROR_ALREADY_EXISTS for a name that exists, a link included.
bool create_protected_folder(const std::u16string& path, FolderAccess access);

// A new folder `<parent><prefix><16 hex digits>` of an unpredictable name
// (`parent` ends with a separator); a name that exists is never taken, so a
// folder or link prepared by someone else is never used. With `protect`, for
// administrators and SYSTEM alone. Empty when none could be made.
std::u16string make_unique_folder(const std::u16string& parent, const char16_t* prefix, bool protect);

// Told of every protected folder made (tests: Wine keeps no access lists, so
// which folders were made so is asked here); null by default.
using ProtectedFolderWatcher = void (*)(const std::u16string& path, FolderAccess access);
void watch_protected_folders(ProtectedFolderWatcher watcher);

// Whether the process runs with administrator rights in full (elevated).
bool running_elevated();

}  // namespace installer
