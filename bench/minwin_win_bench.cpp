// The peer of the start-up benchmark: a minimal Win32 program that registers
// a class and opens one window, nothing else.
#include <windows.h>

int main() {
  WNDCLASSW wc{};
  wc.lpfnWndProc = DefWindowProcW;
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
