// File work confined by construction, for programs that run elevated over
// folders other people can write. A path becomes a held folder once: the
// drive's root, then each level opened relative to the one above, as itself
// (never what a link points to), checked through its handle to be where it
// was asked for, and held without delete sharing, so that nobody can rename,
// move or delete it while it is held. Every later create, open, rename and
// delete names one plain item relative to a held folder, and every program
// is started from a file held open with no write or delete sharing: no path
// is ever resolved again after its check.
#pragma once

#include <windows.h>

#include <cstddef>
#include <memory>
#include <utility>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/win/handles.h"
#include "runtime/win/plain_path.h"

namespace rt::win {

enum class FileStatus {
  kOk,
  kMissing,  // nothing of that name (or a level above it is missing)
  kExists,   // something already has the name a new item was to take
  kInUse,    // another program holds it (or, for a deletion, runs from it)
  kRefused,  // not a plain name or path, a link, not where it was asked for, or of the other kind
  kFailed,   // anything else (Windows' error is left in GetLastError)
};

// A folder held open as itself, with every folder above it. Copies share the
// holds; the last copy to go lets them go.
class Folder {
 public:
  Folder() = default;
  Folder(const Folder& other);
  Folder(Folder&& other) noexcept : node_(other.node_) { other.node_ = nullptr; }
  Folder& operator=(Folder other) noexcept {
    std::swap(node_, other.node_);
    return *this;
  }
  ~Folder();
  explicit operator bool() const { return node_ != nullptr; }
  HANDLE handle() const;
  // Where the system says the folder is: long names, no trailing separator
  // but a drive root's ("C:\").
  const std::u16string& path() const;

  // `deletable`: the hold also carries the right to delete the folder itself
  // (remove_self), so nobody can put another folder in its place between
  // letting it go and deleting it.
  static Folder open(std::u16string_view path, FileStatus* status = nullptr, bool deletable = false);
  // A folder of the person's shell (the desktop, the Start menu) that the
  // person may have moved behind a link: the link is followed this once, to
  // where it leads at this moment, and that folder held as itself from its
  // drive down; everything later is done relative to the hold.
  static Folder open_followed(std::u16string_view path, FileStatus* status = nullptr);
  Folder open_folder(std::u16string_view name, FileStatus* status = nullptr, bool deletable = false) const;
  // A new folder, never one that exists (a folder or link someone prepared
  // under the name is refused); with the access list `sddl` when given.
  Folder make_folder(std::u16string_view name, const wchar_t* sddl = nullptr, FileStatus* status = nullptr,
                     bool deletable = false) const;

  // The held folder this one lies in (empty for a drive's root).
  Folder above() const;
  // A folder held through a handle this program was given (inherited from
  // the program that started it): the handle is taken over.
  static Folder adopt(HANDLE folder);

  // A further handle on this very folder (reopened through the hold, never
  // by name), e.g. to change its access list.
  File reopen(DWORD access) const;

  // An existing plain file below, opened as itself.
  File open_file(std::u16string_view name, DWORD access, DWORD share, FileStatus* status = nullptr) const;
  // A new file below (never one that exists).
  File create_file(std::u16string_view name, DWORD access, DWORD share, DWORD attributes = FILE_ATTRIBUTE_NORMAL,
                   FileStatus* status = nullptr) const;
  // What is there under `name`: its attributes, read through a handle on it
  // as itself (on Windows a link shows as a reparse point; Wine opens what a
  // Unix link points to). Only a look: what is acted on later is opened, and
  // checked, anew.
  FileStatus look(std::u16string_view name, DWORD* attributes) const;

  // Removes a file (its read-only bit cleared first) or an empty folder
  // below, through a handle opened on the item itself: a link goes, never
  // what it points to. A missing item is kMissing.
  FileStatus remove(std::u16string_view name) const;
  // Removes the folder `name` below when it is empty (never a file).
  FileStatus remove_folder(std::u16string_view name) const;
  // Removes this folder itself, when empty, through its deletable hold.
  FileStatus remove_self() const;
  // Gives the item `name` the name `to_name` in the held folder `to`.
  FileStatus rename(std::u16string_view name, const Folder& to, std::u16string_view to_name, bool replace) const;

  struct Entry {
    std::u16string name;
    DWORD attributes = 0;
  };
  // What the folder holds ("." and ".." aside), read through its handle.
  std::vector<Entry> list(std::size_t limit = static_cast<std::size_t>(-1)) const;

  struct Node;

 private:
  // Takes over one count of `node`.
  explicit Folder(Node* node) : node_(node) {}
  // Counted by hand: std::shared_ptr would bring the C++ library's exception
  // and thread layers into the programs (about 80 KB).
  Node* node_ = nullptr;
};

// Deletes the file or folder `item` is open on (DELETE access), a
// read-only bit cleared first.
FileStatus delete_through(HANDLE item);
// Gives the file or folder `item` is open on (DELETE access) the name `name`
// in the held folder `to`.
FileStatus rename_through(HANDLE item, const Folder& to, std::u16string_view name, bool replace);
// A reading handle on the file `file` is open on, which refuses writers and
// deletion from its opening on: reopened through the handle, never by name.
// `file` may be the one writing handle: it is closed on the way. Fails while
// anyone else holds the file open for writing.
File reopen_for_reading(File& file);
// The file's index on its volume (asked without the volume's own details).
bool file_index(HANDLE item, unsigned long long* index);
// Whether two handles on the same volume are open on the same file.
bool same_file(HANDLE a, HANDLE b);
// Where the system says the item a handle is open on lies; empty when it
// cannot say.
std::u16string final_path(HANDLE item);

// How a held program is started.
struct ProgramStart {
  std::u16string arguments;     // after the program's quoted path
  bool through_shell = false;   // ShellExecuteEx "open": asks for elevation where the program needs it
  HANDLE input = nullptr;       // the program's standard input (inherited; CreateProcess only)
  std::vector<HANDLE> inherit;  // further inheritable handles the program receives (CreateProcess only)
  DWORD flags = 0;              // CreateProcess creation flags
  bool system_folder_as_working = false;  // else its own folder
};
// Starts the program `name` of `folder` while `program` (a handle on that
// file opened with no write or delete sharing) holds it: the held folders
// and the held file leave the path given to Windows no other meaning. The
// process, or null (GetLastError) when it could not be started or `program`
// is not that file.
Kernel start_held_program(const Folder& folder, std::u16string_view name, HANDLE program, const ProgramStart& how);

}  // namespace rt::win
