#include "ui/window_frame.h"

#include "runtime/services/registry_services.h"
#include "runtime/services/system_services.h"
#include "runtime/units/units.h"

namespace ui {

namespace {

constexpr char kEnable[] = "AD_WinEx_Enable";
constexpr char kDefProc[] = "AD_WinEx_DefProc";
constexpr char kResizable[] = "AD_WinEx_Resizable";
constexpr char kMenu[] = "AD_WinEx_menu";
constexpr char kTheme[] = "AD_WindowTheme";
constexpr char kHookId[] = "AD_WinEx_hookid";
constexpr char kTimeId[] = "AD_WinEx_timeid";
constexpr char kIsMove[] = "AD_WinEx_isMove";

constexpr int kResizeBorder = 8;  // design units: scaled by the window's DPI
constexpr UINT kSnapHoverMs = 600;

UINT_PTR prop(HWND hwnd, const char* name) { return reinterpret_cast<UINT_PTR>(GetPropA(hwnd, name)); }
void set_prop(HWND hwnd, const char* name, UINT_PTR value) {
  SetPropA(hwnd, name, reinterpret_cast<HANDLE>(value));
}

// The routine counts as present only above 10: small integers are flags
// that callers pass where no routine is meant.
ThemeChangedRoutine theme_routine(UINT_PTR address) {
  return address > 10 ? reinterpret_cast<ThemeChangedRoutine>(address) : nullptr;
}

// dwmapi.dll and uxtheme.dll are absent on some systems; load them on demand.
template <typename F>
F system_function(const wchar_t* dll, const char* name) {
  HMODULE module = GetModuleHandleW(dll);
  // By its full system path: never looked for beside the program.
  wchar_t path[MAX_PATH + 32] = {};
  UINT n = GetSystemDirectoryW(path, MAX_PATH);
  if (!module && n > 0 && n < MAX_PATH) {
    lstrcatW(path, L"\\");
    lstrcatW(path, dll);
    module = LoadLibraryExW(path, nullptr, 0);
  }
  return module ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

struct Margins {
  int left, right, top, bottom;
};

void extend_frame(HWND hwnd, int margin) {
  using Fn = HRESULT(WINAPI*)(HWND, const Margins*);
  static Fn fn = system_function<Fn>(L"dwmapi.dll", "DwmExtendFrameIntoClientArea");
  Margins m{margin, margin, margin, margin};
  if (fn) fn(hwnd, &m);
}

void set_corner_preference(HWND hwnd, DWORD preference) {
  using Fn = HRESULT(WINAPI*)(HWND, DWORD, const void*, DWORD);
  static Fn fn = system_function<Fn>(L"dwmapi.dll", "DwmSetWindowAttribute");
  constexpr DWORD kCornerPreference = 33;
  if (fn) fn(hwnd, kCornerPreference, &preference, sizeof preference);
}

void set_window_theme(HWND hwnd, const wchar_t* sub_app) {
  using Fn = HRESULT(WINAPI*)(HWND, const wchar_t*, const wchar_t*);
  static Fn fn = system_function<Fn>(L"uxtheme.dll", "SetWindowTheme");
  if (fn) fn(hwnd, sub_app, nullptr);
}

void default_key_sender(BYTE vk, DWORD flags) { keybd_event(vk, 0, flags, 0); }
KeySender g_key_sender = default_key_sender;

LRESULT pass_on(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto former = reinterpret_cast<WNDPROC>(prop(hwnd, kDefProc));
  return former ? CallWindowProcW(former, hwnd, message, wParam, lParam)
                : DefWindowProcW(hwnd, message, wParam, lParam);
}

int resize_border(HWND hwnd) { return rt::to_pixels(kResizeBorder, rt::window_dpi(hwnd)); }

LRESULT hit_test(HWND hwnd, WPARAM wParam, LPARAM lParam) {
  LRESULT h = pass_on(hwnd, WM_NCHITTEST, wParam, lParam);
  if (h == HTNOWHERE || (h >= HTLEFT && h <= HTBOTTOMRIGHT)) return h;
  if (prop(hwnd, kResizable) == 1) {
    POINT pt{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    ScreenToClient(hwnd, &pt);
    if (pt.y > 0 && pt.y < resize_border(hwnd)) return HTTOP;
  }
  return HTCAPTION;
}

void client_rectangle(HWND hwnd, LPARAM lParam) {
  auto* params = reinterpret_cast<NCCALCSIZE_PARAMS*>(lParam);
  RECT r = params->rgrc[0];
  int e = prop(hwnd, kResizable) == 1 ? resize_border(hwnd) : 0;
  params->rgrc[0] = RECT{r.left + e, r.top, r.right - e, r.bottom - e};
  params->rgrc[1] = r;
  InvalidateRect(hwnd, nullptr, FALSE);
}

void window_menu(HWND hwnd, WPARAM wParam, LPARAM lParam) {
  POINT cursor{};
  GetCursorPos(&cursor);
  HMENU menu = GetSystemMenu(hwnd, FALSE);
  pass_on(hwnd, WM_NCLBUTTONDOWN, wParam, lParam);
  pass_on(hwnd, WM_NCLBUTTONUP, wParam, lParam);
  TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_RIGHTBUTTON | TPM_VERPOSANIMATION, cursor.x, cursor.y, 0, hwnd, nullptr);
}

void translate_system_command(HWND hwnd, WPARAM wParam) {
  switch (wParam) {
    case SC_MINIMIZE: CloseWindow(hwnd); break;
    case SC_MAXIMIZE: PostMessageW(hwnd, WM_SYSCOMMAND, SC_MAXIMIZE, 0); break;
    case SC_RESTORE: PostMessageW(hwnd, WM_SYSCOMMAND, SC_RESTORE, 0); break;
    case SC_CLOSE: PostMessageW(hwnd, WM_CLOSE, 0, 0); break;
    case SC_MOVE: PostMessageW(hwnd, WM_SYSCOMMAND, SC_MOVE, 0); break;
    case SC_SIZE: PostMessageW(hwnd, WM_SYSCOMMAND, SC_SIZE, 0); break;
    default: break;
  }
}

// The window procedures are Unicode (installed with SetWindowLongPtrW): an
// ANSI subclass would push every Chinese window text through the system's
// ANSI code page. WM_SETTINGCHANGE therefore carries a UTF-16 text.
void theme_notification(HWND hwnd, LPARAM lParam) {
  auto* area = reinterpret_cast<const wchar_t*>(lParam);
  if (!area || lstrcmpW(area, L"ImmersiveColorSet") != 0) return;
  if (ThemeChangedRoutine routine = theme_routine(prop(hwnd, kTheme))) routine(IsAppsDarkTheme());
}

}  // namespace

KeySender SetSnapKeySender(KeySender sender) {
  KeySender old = g_key_sender;
  g_key_sender = sender ? sender : default_key_sender;
  return old;
}

bool IsAppsDarkTheme() {
  // Key and value as one text; the runtime's read splits it at the last backslash.
  constexpr int kCurrentUser = 3;
  return rt::read_registry_number(
             kCurrentUser, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize\\AppsUseLightTheme") == 0;
}

bool EnableWindowFrame(const rt::WindowDesign& form, const WindowFrameOptions& options) {
  HWND hwnd = rt::form_handle(form);
  return hwnd ? EnableWindowFrame(hwnd, options) : false;
}

bool EnableWindowFrame(HWND hwnd, const WindowFrameOptions& options) {
  RECT rect;
  if (!IsWindow(hwnd) || !GetWindowRect(hwnd, &rect)) return false;

  auto former = GetWindowLongPtrW(hwnd, GWLP_WNDPROC);
  set_prop(hwnd, kEnable, 1);
  set_prop(hwnd, kDefProc, static_cast<UINT_PTR>(former));
  set_prop(hwnd, kResizable, options.resizable ? 1 : 0);
  set_prop(hwnd, kMenu, options.noSystemMenu ? 0 : 1);
  set_prop(hwnd, kTheme, options.themeChanged);
  if (!former) return false;
  if (!SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(FrameWindowProc))) return false;

  set_window_theme(hwnd, L"LightMode_Explorer");
  InvalidateRect(hwnd, nullptr, TRUE);

  if (options.resizable) {
    SetWindowLongPtrW(hwnd, GWL_STYLE, options.shown ? 0x14CF0000 : 0x00CF0000);
  } else if (options.shown) {
    SetWindowLongPtrW(hwnd, GWL_STYLE, 0x16CA0000);
  } else {
    SetWindowLongPtrW(hwnd, GWL_STYLE, 0x00CA0000);
    LONG_PTR style = GetWindowLongPtrW(hwnd, GWL_STYLE);
    SetWindowLongPtrW(hwnd, GWL_STYLE, style & ~static_cast<LONG_PTR>(WS_MAXIMIZEBOX));
  }

  RECT client;
  GetClientRect(hwnd, &client);
  int width = client.right - client.left, height = client.bottom - client.top;
  if (options.resizable) {
    width += 2 * resize_border(hwnd);
    height += resize_border(hwnd);
  }
  GetWindowRect(hwnd, &rect);
  set_corner_preference(hwnd, options.smallCorners ? 3 : 2);
  if (options.shown) MoveWindow(hwnd, rect.left, rect.top - 1, width + 1, height, TRUE);
  MoveWindow(hwnd, rect.left, rect.top, width, height, TRUE);
  SetForegroundWindow(hwnd);

  if (ThemeChangedRoutine routine = theme_routine(options.themeChanged)) routine(IsAppsDarkTheme());

  if (options.snapButton && IsWindow(options.snapButton)) {
    LONG_PTR old = SetWindowLongPtrW(options.snapButton, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SnapHoverProc));
    set_prop(options.snapButton, kHookId, static_cast<UINT_PTR>(old));
  }
  return true;
}

LRESULT CALLBACK FrameWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      BeginPaint(hwnd, &ps);
      EndPaint(hwnd, &ps);
      break;
    }
    case WM_SIZE:
      extend_frame(hwnd, prop(hwnd, kResizable) == 1 ? 0 : 1);
      break;
    case WM_ERASEBKGND:
      return 1;
    case WM_NCCALCSIZE:
      if (!wParam) break;
      client_rectangle(hwnd, lParam);
      return 0;
    case WM_NCPAINT:
      return DefWindowProcW(hwnd, message, wParam, lParam);
    case WM_NCHITTEST:
      return hit_test(hwnd, wParam, lParam);
    case WM_NCRBUTTONUP:
      if (wParam == HTCAPTION && prop(hwnd, kMenu) == 1) window_menu(hwnd, wParam, lParam);
      break;
    case WM_COMMAND:
      translate_system_command(hwnd, wParam);
      break;
    case WM_SETTINGCHANGE:
      theme_notification(hwnd, lParam);
      break;
    default:
      break;
  }
  return pass_on(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK SnapHoverProc(HWND button, UINT message, WPARAM wParam, LPARAM lParam) {
  UINT_PTR timer = prop(button, kTimeId);
  auto former = reinterpret_cast<WNDPROC>(prop(button, kHookId));
  bool moving = prop(button, kIsMove) == 1;
  if (message == WM_MOUSEMOVE) {
    POINT cursor{};
    GetCursorPos(&cursor);
    bool over = WindowFromPoint(cursor) == button;
    if (over != moving) {
      set_prop(button, kIsMove, over ? 1 : 0);
      if (over) {
        // A timer id of 0 is ambiguous with a window handle; use 1 then.
        UINT_PTR id = timer ? timer : 1;
        if (SetTimer(button, id, kSnapHoverMs, SnapTimerProc)) set_prop(button, kTimeId, id);
      } else {
        KillTimer(button, timer);
        ReleaseCapture();
      }
      return 1;
    }
    SetCapture(button);
  }
  return former ? CallWindowProcW(former, button, message, wParam, lParam)
                : DefWindowProcW(button, message, wParam, lParam);
}

void CALLBACK SnapTimerProc(HWND button, UINT, UINT_PTR timerId, DWORD) {
  SetForegroundWindow(GetAncestor(button, GA_ROOTOWNER));
  rt::delay(10);
  g_key_sender(VK_LWIN, 0);
  g_key_sender('Z', 0);
  g_key_sender(VK_LWIN, KEYEVENTF_KEYUP);
  g_key_sender('Z', KEYEVENTF_KEYUP);
  rt::delay(50);
  g_key_sender(VK_MENU, 0);
  g_key_sender(VK_MENU, KEYEVENTF_KEYUP);
  KillTimer(button, timerId);
}

}  // namespace ui
