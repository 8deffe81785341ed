#include "installer/startup.h"

#include <windows.h>

#include <cstdlib>
#include <string>

#include "runtime/codepage.h"

namespace installer {

namespace {

constexpr wchar_t kWindowClass[] = L"TarnelSetupWindow";

// Process-wide state lives from start-up to exit; the exit routine frees it.
void free_process_state() {}

LRESULT CALLBACK skeleton_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      RECT rc;
      GetClientRect(hwnd, &rc);
      std::wstring text = rt::wide_path("正在准备安装程序...");
      SetBkMode(dc, TRANSPARENT);
      DrawTextW(dc, text.c_str(), -1, &rc, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

HWND load_installer_window() {
  HINSTANCE inst = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = skeleton_proc;
  wc.hInstance = inst;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  wc.lpszClassName = kWindowClass;
  RegisterClassExW(&wc);
  std::wstring caption = rt::wide_path("安装程序");
  HWND hwnd = CreateWindowExW(0, kWindowClass, caption.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                              CW_USEDEFAULT, 560, 400, nullptr, nullptr, inst, nullptr);
  if (hwnd) {
    ShowWindow(hwnd, SW_SHOWNORMAL);
    UpdateWindow(hwnd);
  }
  return hwnd;
}

}  // namespace

int run_setup() {
  // 1. Runtime and process-wide state, with the exit routine that frees it;
  //    then the modules' own start-up.
  std::atexit(free_process_state);

  // 2. The installer window, non-modal and top-level.
  HWND window = load_installer_window();
  if (!window) return 1;

  // 3. The message loop; the program ends when the window is destroyed.
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}

}  // namespace installer
