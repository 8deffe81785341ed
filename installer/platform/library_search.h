// Where the programs may take libraries from: the system folder only. The
// programs run elevated from folders others can write (Downloads, the
// installation folder), where a planted DLL would otherwise be loaded.
#pragma once

#include <string>

namespace installer {

// The first statement of both programs: every later load (delay-loaded
// imports, libraries loaded by name, and their own dependencies) searches the
// system folder only. Without SetDefaultDllDirectories (Windows 7 lacking
// its update) the current folder at least is taken out of the search. The
// imaging codecs and the property system, which GDI+ loads by bare name, are
// then loaded from the system folder.
void restrict_library_search();

// A file of the system folder by its full path ("C:\Windows\system32\<name>").
std::wstring system_file(const wchar_t* name);

}  // namespace installer
