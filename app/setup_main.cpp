#include <windows.h>

#include "installer/setup/startup.h"
#include "installer/platform/library_search.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // Before anything can load a library: the system folder only.
  installer::restrict_library_search();
  return installer::run_setup();
}
