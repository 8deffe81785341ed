// The second peer of the start-up benchmark: the minimal window program with
// the libraries setup.exe imports at load time and its manifest, and nothing
// else. (GDI+, WinINet and the common controls are not among them: setup.exe
// loads those when it first uses them.) Between it and the minimal window
// lies what loading those libraries costs; between it and setup.exe, what the
// installer's own start-up does.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <zlib.h>

#include "bench/minimal_window.h"

// Referenced, never called: each keeps its library among the imports.
void* volatile g_imports[] = {
    reinterpret_cast<void*>(&CoInitialize),  reinterpret_cast<void*>(&SysAllocString),
    reinterpret_cast<void*>(&SHGetFolderPathW), reinterpret_cast<void*>(&PathFileExistsW),
    reinterpret_cast<void*>(&RegOpenKeyExW), reinterpret_cast<void*>(&CreateFontW),
    reinterpret_cast<void*>(&zlibVersion),
};

int main() { return minimal_window(); }
