// The demo application that `make demo` installs: one window showing its
// name and version, so that a person (and the demo's screenshot) sees that the
// installed program runs.
#include <windows.h>

#include <string>

#include "runtime/value/codepage.h"

namespace {

constexpr char kName[] = "演示程序";
constexpr char kVersion[] = "版本 1.0.0";

LRESULT CALLBACK demo_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      RECT rc;
      GetClientRect(hwnd, &rc);
      HBRUSH back = CreateSolidBrush(RGB(248, 249, 252));
      FillRect(dc, &rc, back);
      DeleteObject(back);
      SetBkMode(dc, TRANSPARENT);
      std::wstring face = rt::wide_path("微软雅黑");
      HFONT big = CreateFontW(-32, 0, 0, 0, 400, 0, 0, 0, DEFAULT_CHARSET, 0, 0, CLEARTYPE_QUALITY, 0, face.c_str());
      HFONT small = CreateFontW(-16, 0, 0, 0, 400, 0, 0, 0, DEFAULT_CHARSET, 0, 0, CLEARTYPE_QUALITY, 0, face.c_str());
      HGDIOBJ old = SelectObject(dc, big);
      SetTextColor(dc, RGB(32, 68, 174));
      RECT top = rc;
      top.bottom = rc.bottom / 2;
      std::wstring name = rt::wide_path(kName), version = rt::wide_path(kVersion);
      DrawTextW(dc, name.c_str(), -1, &top, DT_CENTER | DT_BOTTOM | DT_SINGLELINE);
      SelectObject(dc, small);
      SetTextColor(dc, RGB(96, 102, 112));
      RECT bottom = rc;
      bottom.top = rc.bottom / 2 + 12;
      DrawTextW(dc, version.c_str(), -1, &bottom, DT_CENTER | DT_TOP | DT_SINGLELINE);
      SelectObject(dc, old);
      DeleteObject(big);
      DeleteObject(small);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = demo_proc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.lpszClassName = L"TarnelDemoApp";
  RegisterClassExW(&wc);
  std::wstring caption = rt::wide_path(std::string(kName) + " " + kVersion);
  HWND hwnd = CreateWindowExW(0, wc.lpszClassName, caption.c_str(), WS_OVERLAPPEDWINDOW, 200, 200, 480, 300, nullptr,
                              nullptr, instance, nullptr);
  if (!hwnd) return 1;
  ShowWindow(hwnd, show);
  UpdateWindow(hwnd);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
