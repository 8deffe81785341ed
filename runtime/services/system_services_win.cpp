// System services: the program's folder, the environment, waiting with the
// window messages flowing, message boxes and threads.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "runtime/value/codepage.h"
#include "runtime/services/system_services.h"
#include "runtime/services/text_services.h"

namespace rt {

Text run_directory() {
  std::vector<wchar_t> buf(MAX_PATH);
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) break;
    buf.resize(buf.size() * 2);  // the path was cut off
  }
  std::wstring path(buf.data());
  std::size_t slash = path.find_last_of(L'\\');
  if (slash != std::wstring::npos) path.resize(slash);
  return Text(cp936_from_wchar(path.c_str()));
}

Text read_env(const Text& name) {
  std::wstring wide_name = wide_path(name.view());
  DWORD n = GetEnvironmentVariableW(wide_name.c_str(), nullptr, 0);
  if (n == 0) return {};
  std::wstring value(n, L'\0');
  n = GetEnvironmentVariableW(wide_name.c_str(), value.data(), n);
  if (n == 0) return {};
  return Text(cp936_from_wchar(value.c_str()));
}

std::uint32_t tick_count() { return GetTickCount(); }

void process_events() {
  MSG msg;
  // WM_QUIT stays in the queue for the message loop that owns it.
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE) && msg.message != WM_QUIT) {
    if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) break;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void delay(int ms) {
  if (ms <= 0) return;
  DWORD start = GetTickCount();
  for (;;) {
    process_events();
    DWORD elapsed = GetTickCount() - start;  // wraps correctly after 49 days
    if (elapsed >= static_cast<DWORD>(ms)) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(ms) - elapsed, QS_ALLINPUT);
  }
}

namespace {

// The window a message box is to be centred on, and the hook (on the
// showing thread only) that moves it there as it is first shown: MessageBox
// itself centres on the screen, away from the window it speaks for. Plain
// statics, not thread_local, which would link a threads library into the
// stub; boxes are task-modal, one at a time.
HWND t_box_owner = nullptr;
HHOOK t_box_hook = nullptr;

LRESULT CALLBACK centre_box_on_owner(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HCBT_ACTIVATE && t_box_hook) {
    HWND box = reinterpret_cast<HWND>(wparam);
    RECT over{}, self{};
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (IsWindowVisible(t_box_owner) && !IsIconic(t_box_owner) && GetWindowRect(t_box_owner, &over) &&
        GetWindowRect(box, &self) &&
        GetMonitorInfoW(MonitorFromWindow(t_box_owner, MONITOR_DEFAULTTONEAREST), &monitor)) {
      const LONG w = self.right - self.left, h = self.bottom - self.top;
      // Kept whole on the owner's screen.
      const LONG x = std::max(monitor.rcWork.left,
                              std::min(over.left + (over.right - over.left - w) / 2, monitor.rcWork.right - w));
      const LONG y = std::max(monitor.rcWork.top,
                              std::min(over.top + (over.bottom - over.top - h) / 2, monitor.rcWork.bottom - h));
      SetWindowPos(box, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    UnhookWindowsHookEx(t_box_hook);
    t_box_hook = nullptr;
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

// The widest line of a message box's text, in columns (a two-byte character
// takes two): 28 Chinese characters, which Wine's box (some 340 pixels of
// text at most) takes without breaking them again.
constexpr std::size_t kBoxLineColumns = 56;

}  // namespace

int message_box(const Text& message, int style, const Text& caption, void* owner) {
  UINT flags = static_cast<UINT>(style);
  if (!(flags & MB_SYSTEMMODAL)) flags |= MB_TASKMODAL;
  t_box_owner = static_cast<HWND>(owner);
  if (owner && !t_box_hook) t_box_hook = SetWindowsHookExW(WH_CBT, centre_box_on_owner, nullptr, GetCurrentThreadId());
  int pressed = MessageBoxW(static_cast<HWND>(owner), wide_path(break_long_lines(message, kBoxLineColumns).view()).c_str(),
                            wide_path(caption.view()).c_str(), flags);
  if (t_box_hook) UnhookWindowsHookEx(t_box_hook);
  t_box_hook = nullptr;
  // IDOK 1 ... IDNO 7 become 0 ... 6; a failed box gives -1.
  return pressed - 1;
}

bool start_thread(ThreadRoutine routine, int parameter, void** handle) {
  HANDLE thread = CreateThread(nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(routine),
                               reinterpret_cast<void*>(static_cast<INT_PTR>(parameter)), 0, nullptr);
  if (handle) *handle = thread;
  if (!thread) return false;
  if (!handle) CloseHandle(thread);
  return true;
}

bool close_thread_handle(void* handle) { return CloseHandle(handle) != FALSE; }

std::int32_t call_subroutine(void* routine, std::initializer_list<std::int32_t> arguments) {
  using I = std::int32_t;
  const I* a = arguments.begin();
  // The callee clears its own arguments (stdcall), so each count needs its own type.
  switch (arguments.size()) {
    case 0: return reinterpret_cast<I(WINAPI*)()>(routine)();
    case 1: return reinterpret_cast<I(WINAPI*)(I)>(routine)(a[0]);
    case 2: return reinterpret_cast<I(WINAPI*)(I, I)>(routine)(a[0], a[1]);
    case 3: return reinterpret_cast<I(WINAPI*)(I, I, I)>(routine)(a[0], a[1], a[2]);
    case 4: return reinterpret_cast<I(WINAPI*)(I, I, I, I)>(routine)(a[0], a[1], a[2], a[3]);
    case 5: return reinterpret_cast<I(WINAPI*)(I, I, I, I, I)>(routine)(a[0], a[1], a[2], a[3], a[4]);
    case 6: return reinterpret_cast<I(WINAPI*)(I, I, I, I, I, I)>(routine)(a[0], a[1], a[2], a[3], a[4], a[5]);
    case 7:
      return reinterpret_cast<I(WINAPI*)(I, I, I, I, I, I, I)>(routine)(a[0], a[1], a[2], a[3], a[4], a[5], a[6]);
    case 8:
      return reinterpret_cast<I(WINAPI*)(I, I, I, I, I, I, I, I)>(routine)(a[0], a[1], a[2], a[3], a[4], a[5],
                                                                          a[6], a[7]);
    case 9:
      return reinterpret_cast<I(WINAPI*)(I, I, I, I, I, I, I, I, I)>(routine)(a[0], a[1], a[2], a[3], a[4], a[5],
                                                                             a[6], a[7], a[8]);
    case 10:
      return reinterpret_cast<I(WINAPI*)(I, I, I, I, I, I, I, I, I, I)>(routine)(a[0], a[1], a[2], a[3], a[4],
                                                                                a[5], a[6], a[7], a[8], a[9]);
    default: rt_error(kArgumentType);
  }
}

void* set_capture(void* window) { return SetCapture(static_cast<HWND>(window)); }

}  // namespace rt
