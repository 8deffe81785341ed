// The second peer of the start-up benchmark: the minimal window program with
// the installer's imports and manifest (so the same system libraries load,
// common controls 6 among them) and nothing else. Between it and the minimal
// window lies what loading those libraries costs; between it and setup.exe,
// what the installer's own start-up does.
#include <windows.h>
#include <commctrl.h>
#include <gdiplus.h>
#include <objbase.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <wininet.h>
#include <zlib.h>

#include "bench/minimal_window.h"

// Referenced, never called: each keeps its library among the imports.
void* volatile g_imports[] = {
    reinterpret_cast<void*>(&Gdiplus::GdiplusStartup), reinterpret_cast<void*>(&CoInitialize),
    reinterpret_cast<void*>(&SysAllocString),          reinterpret_cast<void*>(&SHGetFolderPathW),
    reinterpret_cast<void*>(&PathFileExistsW),         reinterpret_cast<void*>(&InternetOpenW),
    reinterpret_cast<void*>(&InitCommonControlsEx),    reinterpret_cast<void*>(&RegOpenKeyExW),
    reinterpret_cast<void*>(&CreateFontW),             reinterpret_cast<void*>(&zlibVersion),
};

int main() { return minimal_window(); }
