// uninst.exe: a thin program over the installer library's uninstaller.
// "/S" (any case) removes without asking or showing anything; the exit code
// tells the result. "/LOG=<file>" writes every step to a log. "/elevated"
// marks the copy it started with administrator rights, "/cleanup" the copy
// that removes it after its end.
#include <windows.h>
#include <shellapi.h>

#include "installer/uninstaller/uninstall.h"
#include "installer/platform/library_search.h"

namespace {

bool requested(const wchar_t* option) {
  int count = 0;
  LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!args) return false;
  bool found = false;
  for (int i = 1; i < count; ++i) found = found || lstrcmpiW(args[i], option) == 0;
  LocalFree(args);
  return found;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // Before anything can load a library: the system folder only.
  installer::restrict_library_search();
  if (requested(L"/cleanup")) return installer::run_self_removal();
  return installer::run_logged_uninstaller(requested(L"/S"), requested(L"/elevated"));
}
