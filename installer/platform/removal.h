// The removal engine of both programs: a folder they may change things in,
// held from the moment it is named, and every path below it reached level by
// level through held handles, never through a link (uninst.exe removing an
// installation, setup.exe taking back an interrupted run). Paths read from
// disk or the registry are taken only in their plain form: one with a "." or
// "..", a device or a stream is refused before anything is opened.
// Windows only; paths are code page 936 texts (or UTF-16 where noted).
#pragma once

#include <map>
#include <optional>
#include <string>

#include "runtime/value/value.h"
#include "runtime/win/confined.h"

namespace installer {

// This program's own file as the system names it (long names: a program
// started through its 8.3 name must still recognise its entry).
rt::Text own_program_path();
// Whether something lies at `path`, looked at through a hold on its folder.
bool path_exists(const rt::Text& path);

// A folder the programs may change things in: held, with every folder
// above it, while this object lives.
class Root {
 public:
  Root() = default;
  // Holds `folder` (a plain path); not held() when it cannot be. `deletable`:
  // the hold may also delete the folder itself.
  static Root hold(const std::u16string& folder, bool deletable = false);
  static Root hold(const rt::Text& folder, bool deletable = false);
  bool held() const { return bool(root_); }
  const rt::win::Folder& folder() const { return root_; }
  // Where the system says the folder is (long names).
  rt::Text path() const;
  // Whether `path` lies below the root, as the path was given or as the
  // system names it. Never for a path that is not plain.
  bool covers(const std::u16string& path) const;
  bool covers(const rt::Text& path) const;

  // Where a path below the root lies: its held folder and its last name.
  // The levels between are opened on the way and stay held (a bounded
  // number of them); with `make`, a missing level is made, `making` told of
  // it first (false stops). kMissing when a level is missing.
  struct Place {
    rt::win::Folder folder;
    std::u16string name;
  };
  std::optional<Place> place(const std::u16string& path, rt::win::FileStatus* status = nullptr);
  std::optional<Place> place(const rt::Text& path, rt::win::FileStatus* status = nullptr);
  // The held folder `path` names (the root itself included).
  rt::win::Folder folder_at(const std::u16string& path, rt::win::FileStatus* status = nullptr);
  // Lets go of the holds on `path` and every folder below it (before it is
  // deleted or renamed: a hold of ours would refuse that too).
  void let_go(const std::u16string& path);

 private:
  // The names below the root, when `path` lies below it.
  bool names_below(const std::u16string& path, std::vector<std::u16string_view>* names) const;

  rt::win::Folder root_;
  std::u16string given_;                               // as named by the caller
  std::map<std::u16string, rt::win::Folder> levels_;  // by their names below the root, upper-cased
};

// Folders held by their paths, each opened once, relative to the nearest
// one above already held (a batch of paths in a few folders costs a few
// opens, not a walk from the drive for every path).
class HeldFolders {
 public:
  rt::win::Folder at(const std::u16string& folder);
  // The held folder a plain path lies in and its last name.
  std::optional<Root::Place> place(const std::u16string& path);

 private:
  std::map<std::u16string, rt::win::Folder> held_;  // by path, upper-cased
};

enum class Removal { kGone, kFailed, kInUse, kRefused };
Removal removal_of(rt::win::FileStatus status);
// Removes a file (a read-only one too) or an empty folder below the root
// through one handle opened on it: a link is removed, never what it points
// to. A missing path is already removed; one not below the root is refused.
Removal remove_inside(const rt::Text& path, Root& root);
Removal remove_inside(const std::u16string& path, Root& root);
// The mark of the file open as `file`, for the installed-file list: its
// index on its volume and when it was made ("id=<hex>:<hex>").
// Nobody can give another file that mark without reading that file's own.
std::string file_mark(HANDLE file);
// Removes the file `path` below the root only when it is the very file
// `mark` names (a file the installation made outside its folder); any other
// is refused.
Removal remove_marked(const rt::Text& path, const std::string& mark, Root& root);
// Renames `from` (a file or folder below the root) to `to` below the root,
// where nothing may be yet. kGone: moved (or `from` was missing).
Removal move_inside(const std::u16string& from, const std::u16string& to, Root& root);
// Names in a folder below (or at) the root other than "." and "..", up to
// `limit` of them.
rt::Array<rt::Text> folder_contents(const rt::Text& folder, Root& root, std::size_t limit);
// Copies the plain file `name` of `from` into a new file `to_name` of `to`
// (never what a link in its place points to; never over a file that exists).
bool copy_file(const rt::win::Folder& from, std::u16string_view name, const rt::win::Folder& to,
               std::u16string_view to_name);
// Copies the plain file `name` of `from` into the file open as `target`
// (writing), from its start.
bool copy_into(const rt::win::Folder& from, std::u16string_view name, HANDLE target);
// A file some program holds: it cannot be written (a running program's own
// file cannot) or deleted. Nothing is changed.
bool in_use(const rt::Text& path, HeldFolders& folders);
bool in_use(const rt::Text& path, Root& root);

// The shortcut `name` of `folder`: the file it starts, read from its bytes
// through a handle on it; empty when it cannot be read.
rt::Text shortcut_target(const rt::win::Folder& folder, std::u16string_view name);

}  // namespace installer
