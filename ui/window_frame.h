// The window frame extension: a top-level window without a system-drawn border
// or caption whose whole surface is client area, keeping the window manager's
// frame (shadow, rounded corners), dragging by any free spot, the window menu
// on a right click, and optionally a resize frame, a snap-layout hover button
// and a notification when the apps theme switches between light and dark.
//
// All state lives in window properties on the window ("AD_WinEx_*",
// "AD_WindowTheme") and on the snap button; any number of windows can be
// extended independently. dwmapi.dll and uxtheme.dll are loaded at run time,
// so the program still starts where they are missing.
#pragma once

#include <windows.h>

#include <cstdint>

namespace rt {
struct WindowDesign;
}

namespace ui {

using ThemeChangedRoutine = void(__stdcall*)(BOOL dark);

// Six 32-bit fields, in this order. A zero-filled record gives a hidden,
// non-resizable window with normal rounded corners and the window menu.
struct WindowFrameOptions {
  std::int32_t shown = 0;          // the window is already visible
  std::int32_t smallCorners = 0;   // small rounded corners instead of normal ones
  std::int32_t noSystemMenu = 0;   // no window menu on a right click on the caption area
  std::uintptr_t themeChanged = 0; // ThemeChangedRoutine; absent when 10 or less
  std::int32_t resizable = 0;      // keep a resize frame
  HWND snapButton = nullptr;       // child whose hover opens the snap-layout flyout
};
static_assert(sizeof(WindowFrameOptions) == 24, "six 32-bit fields");

// Extends a window (call once, on its own thread, before it is first shown).
// True when the window procedure was replaced.
bool EnableWindowFrame(HWND window, const WindowFrameOptions& options);
// The same for a window loaded from a design (resolved to its handle).
bool EnableWindowFrame(const rt::WindowDesign& form, const WindowFrameOptions& options);

// True when the user's apps use the dark theme ("AppsUseLightTheme" is 0 or missing).
bool IsAppsDarkTheme();

// Installed by the extension; called only by the system.
LRESULT CALLBACK FrameWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK SnapHoverProc(HWND button, UINT message, WPARAM wParam, LPARAM lParam);
void CALLBACK SnapTimerProc(HWND button, UINT message, UINT_PTR timerId, DWORD time);

// Test seam: how the snap timer sends its key chord (default keybd_event).
using KeySender = void (*)(BYTE vk, DWORD flags);
KeySender SetSnapKeySender(KeySender sender);

}  // namespace ui
