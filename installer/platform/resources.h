// Resources of programs: the running program's own (setup.exe's record,
// logo and package; uninst.exe's list), and rewriting one resource of a
// program on disk (the package step records the installed files in uninst.exe).
#pragma once

#include "runtime/value/value.h"

namespace installer {

// A copy of the named resource of the program's own file (empty on failure).
rt::Bytes load_resource_bytes(const rt::Text& type, const rt::Text& name);

// A copy of the named resource of a program on disk, read as data (nothing
// of it runs); empty when the file or the resource is missing.
rt::Bytes read_resource_of(const rt::Text& executable, const rt::Text& type, const rt::Text& name);

// Puts one resource into an executable on disk, keeping the others; empty
// data deletes the resource of that type and name.
bool write_resource(const rt::Text& executable, const rt::Text& type, const rt::Text& name, int language,
                    const rt::Bytes& data);

// The installed-file list an uninstaller on disk carries (an earlier
// installation's), opened; empty when there is none.
rt::Text read_installed_list(const rt::Text& uninstaller_path);
// Seals `list` into the uninstaller on disk; false when it could not be written.
bool write_installed_list(const rt::Text& uninstaller_path, const rt::Text& list);

}  // namespace installer
