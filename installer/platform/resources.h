// Resources of programs: the running program's own (setup.exe's record,
// logo and package; uninst.exe's list), and rewriting one resource of a
// program on disk (the package step records the installed files in uninst.exe).
#pragma once

#include <string>
#include <string_view>

#include "runtime/value/value.h"
#include "runtime/win/confined.h"

namespace installer {

// A copy of the named resource of the program's own file (empty on failure).
rt::Bytes load_resource_bytes(const rt::Text& type, const rt::Text& name);

// Puts one resource into an executable on disk, keeping the others; empty
// data deletes the resource of that type and name. Windows rewrites the file
// by its name: only ever given a copy in a folder nobody else can change
// (the run's own working folder).
bool write_resource(const rt::Text& executable, const rt::Text& type, const rt::Text& name, int language,
                    const rt::Bytes& data);

// The installed-file list of an installation, opened: the list file beside
// its uninstaller (uninst.dat, kept there when the uninstaller is signed),
// else the uninstaller's own resource, read where it lies in the file
// through a hold on its folder; empty when there is none.
rt::Text read_installed_list(const rt::Text& uninstaller_path);
// The same for the uninstaller `program` of the held folder `folder`.
rt::Text read_installed_list(const rt::win::Folder& folder, std::u16string_view program);
// The same for the running uninstaller: the list file beside it, else its
// own resource.
// `folder`, when given, is the program's folder, held.
rt::Text own_installed_list(const rt::Text& own_path, const rt::win::Folder* folder = nullptr);
// Seals `list` into the uninstaller on disk (a copy in the run's working
// folder, as for write_resource); false when it could not be written.
bool write_installed_list(const rt::Text& uninstaller_path, const rt::Text& list);
// The list file beside an uninstaller ("<folder>\uninst.dat").
rt::Text list_file_beside(const rt::Text& uninstaller_path);
// Whether the program `program` of `folder` carries an Authenticode
// signature (a security directory); writing a resource would break it. Read
// through a handle on the file itself.
bool carries_signature(const rt::win::Folder& folder, std::u16string_view program);

}  // namespace installer
