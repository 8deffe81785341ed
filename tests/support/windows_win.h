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
// The same, started with the person's own rights: the limited token linked
// to this (elevated) one. Wine gives every program an elevated token, so a
// person's road is tried this way. -1 as above, or when there is none.
long run_unelevated(std::wstring command_line, DWORD timeout_ms = 120000);

// A Unix symbolic link `link` -> `target` (code page 936 paths), which Wine
// shows as a reparse point (a junction on Windows): made by running ln, as
// Wine's CreateSymbolicLinkW does nothing and reports success.
bool make_link(const std::string& link, const std::string& target);
// Lets everyone write `folder` (code page 936 path), as a Unix mode 0777:
// what Wine shows as an access list granting Everyone full control. Waits
// until the folder's own access list says so.
bool let_everyone_write(const std::string& folder);

}  // namespace testsupport
