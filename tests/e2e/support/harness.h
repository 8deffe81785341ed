// Drives real installer processes under Wine as a person would: starts them,
// finds their windows and units, clicks, types, takes screenshots.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace e2e {

// The setup.exe this build made (a Windows path).
std::string setup_exe();

class Process {
 public:
  Process() = default;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  Process(Process&& o) noexcept;
  ~Process();  // ends the process if it still runs

  // Starts a program (code page 936 path) with a command line tail.
  static Process start(const std::string& exe, const std::string& args = "", const std::string& cwd = "");
  bool started() const { return info_.hProcess != nullptr; }
  DWORD pid() const { return info_.dwProcessId; }
  // Waits for the end; true when it ended within the time. Exit code in *code.
  bool wait(DWORD ms, DWORD* code = nullptr);
  void kill();

 private:
  PROCESS_INFORMATION info_{};
};

// The first visible top-level window of the process (optionally with this
// caption, code page 936), or null after the timeout.
HWND wait_window(DWORD pid, DWORD timeout_ms, const std::string& caption = "");
// All visible top-level windows of the process.
std::vector<HWND> top_windows(DWORD pid);
// A message box (dialog class #32770) of the process, or null after the timeout.
HWND wait_message_box(DWORD pid, DWORD timeout_ms);
// The text of a message box (its static control), code page 936.
std::string message_box_text(HWND box);
// A message's text without line breaks: as the installer wrote it, before
// the box broke its long lines (rt::break_long_lines adds nothing else).
std::string unbroken(std::string text);

// A unit found by its design name: the window property "Unit_Name" holds a
// global atom of the name.
HWND find_unit(HWND top, const std::string& design_name);
HWND wait_unit(HWND top, const std::string& design_name, DWORD timeout_ms);
std::string window_text(HWND hwnd);
// Whether a control's text, laid out in `font` as DrawText wraps it at the
// control's width, fits its client rectangle: nothing cut off at any edge.
// The font is described, not asked for: another process's font handle means
// nothing in this one.
bool text_fits(HWND control, const LOGFONTW& font);
// The font message boxes write their text in.
LOGFONTW message_box_font();

// Input as a person gives it: a real mouse click in the middle of the window,
// typed text into the focused control.
void click(HWND hwnd);
void type_text(HWND hwnd, const std::string& text);

// Saves a PNG of the screen region of the window (or of the whole screen for
// null). Returns false when nothing could be saved.
bool screenshot(HWND hwnd, const std::string& png_path);

// Polls a condition every 50 ms until it holds or the time runs out.
template <typename F>
bool wait_until(F&& condition, DWORD timeout_ms) {
  DWORD start = GetTickCount();
  for (;;) {
    if (condition()) return true;
    if (GetTickCount() - start > timeout_ms) return false;
    Sleep(50);
  }
}

}  // namespace e2e
