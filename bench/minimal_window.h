// The whole of the start-up benchmark's peer programs: register a class, open
// one window, run the message loop until the window is closed.
#pragma once

#include <windows.h>

inline LRESULT CALLBACK minimal_window_proc(HWND w, UINT message, WPARAM wp, LPARAM lp) {
  if (message == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcW(w, message, wp, lp);
}

inline int minimal_window() {
  WNDCLASSW wc{};
  wc.lpfnWndProc = minimal_window_proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"MinimalWindow";
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  RegisterClassW(&wc);
  HWND w = CreateWindowW(L"MinimalWindow", L"minimal", WS_OVERLAPPEDWINDOW, 100, 100, 520, 400, nullptr, nullptr,
                         wc.hInstance, nullptr);
  ShowWindow(w, SW_SHOW);
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0) > 0) DispatchMessageW(&m);
  return 0;
}
