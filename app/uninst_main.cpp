// uninst.exe: a thin program over the installer library's uninstaller.
// "/S" (any case) removes without asking or showing anything; the exit code
// tells the result.
#include <windows.h>
#include <shellapi.h>

#include "installer/uninstaller/uninstall.h"
#include "installer/platform/library_search.h"

namespace {

bool silent_requested() {
  int count = 0;
  LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!args) return false;
  bool silent = false;
  for (int i = 1; i < count; ++i) silent = silent || lstrcmpiW(args[i], L"/S") == 0;
  LocalFree(args);
  return silent;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // Before anything can load a library: the system folder only.
  installer::restrict_library_search();
  return installer::run_uninstaller(silent_requested());
}
