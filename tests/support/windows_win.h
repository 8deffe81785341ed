// What Windows tests share: running the window thread's message loop for a
// while, running a program to its end, and making a link under Wine.
#pragma once

#include <windows.h>

#include <string>

namespace testsupport {

// Dispatches every message waiting for this thread.
void pump();
// Pumps for `ms` milliseconds.
void pump_for(DWORD ms);
// Pumps until `done()` holds; false when `timeout_ms` passed first.
template <typename F>
bool pump_until(F&& done, DWORD timeout_ms = 20000) {
  DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > timeout_ms) return false;
    pump();
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
  return true;
}

// Starts a command line and waits for it (up to two minutes); its exit code,
// or -1 when it did not start or did not end.
long run_program(std::wstring command_line, DWORD timeout_ms = 120000);

// A Unix symbolic link `link` -> `target` (code page 936 paths), which Wine
// shows as a reparse point (a junction on Windows): made by running ln, as
// Wine's CreateSymbolicLinkW does nothing and reports success.
bool make_link(const std::string& link, const std::string& target);

}  // namespace testsupport
