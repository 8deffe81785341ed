#include <windows.h>

#include "installer/startup.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return installer::run_setup(); }
