#include <windows.h>

#include "installer/setup/startup.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return installer::run_setup(); }
