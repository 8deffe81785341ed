// The removal engine of both programs: how a path is named, checked and
// removed inside a folder they may delete in, never through a link (uninst.exe
// removing an installation, setup.exe taking back an interrupted run).
// Windows only; paths are code page 936 texts.
#pragma once

#include <windows.h>

#include <string>

#include "runtime/value/value.h"

namespace installer {

// The long form of an existing path (a program started through its 8.3 name
// must still recognise its entry); other paths come back unchanged.
rt::Text long_path(const rt::Text& path);
// This program's own file, long form.
rt::Text own_program_path();
bool path_exists(const rt::Text& path);
// Names in a folder other than "." and "..", up to `limit` of them.
rt::Array<rt::Text> folder_contents(const rt::Text& folder, std::size_t limit);

// The file a shortcut starts; empty when it cannot be read.
rt::Text shortcut_target(const rt::Text& link_path);
// Removes a shortcut (a read-only one too); a missing one is already removed.
bool remove_link(const rt::Text& path);

// A path as the system resolves it: ".", "..", trailing dots and blanks
// gone, and (when it exists) short names made long.
rt::Text canonical_path(const rt::Text& path);

// A folder the uninstaller may delete in: the installation folder, or the
// temporary folder for the installation's own "{tmp}" entries. `real` is
// where the system says it is (it may itself lie behind a link the person
// made, which is theirs to make).
struct Root {
  rt::Text path;
  rt::Text real;
};
Root make_root(const rt::Text& folder);

// No folder between the root and the path is a link (junction, symbolic
// link, mount point): a deletion below one would land elsewhere.
bool no_link_between(const rt::Text& path, const Root& root);

enum class Removal { kGone, kFailed, kInUse, kRefused };
// Removes a file (a read-only one too) or an empty folder below the root
// through one handle opened on the path itself: a link is removed, never
// what it points to, and the handle's real place is checked before anything
// goes. A missing path is already removed.
Removal remove_inside(const rt::Text& path, const Root& root);
// Renames `from` (a file or folder below the root, never what a link points
// to) to `to` below the root, where nothing may be yet. kGone: moved (or
// `from` was missing).
Removal move_inside(const rt::Text& from, const rt::Text& to, const Root& root);
// Deletes a file (a read-only one too) through a handle on itself: a link
// goes, never what it points to. True when it is gone (or was missing).
bool delete_plain_file(const std::u16string& path);
// Copies a plain file (never what a link in its place points to) into a new
// file `to`, which must not exist yet.
bool copy_plain_file(const std::u16string& from, const std::u16string& to);
// A file some program holds: it cannot be written (a running program's own
// file cannot) or deleted. Nothing is changed.
bool in_use(const rt::Text& path);

}  // namespace installer
