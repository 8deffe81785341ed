// System services under Wine: the program folder, environment, waiting with
// messages flowing, message boxes and threads.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "runtime/value/codepage.h"
#include "runtime/services/system_services.h"

namespace {

TEST(SystemServicesTest, RunDirectoryIsTheProgramsFolderWithoutBackslash) {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::string path = rt::cp936_from_wchar(self);
  rt::Text dir = rt::run_directory();
  EXPECT_EQ(dir.str(), path.substr(0, path.rfind('\\')));
  EXPECT_NE(dir.str().back(), '\\');
}

TEST(SystemServicesTest, ReadEnvConvertsChineseValues) {
  SetEnvironmentVariableW(L"TARNEL_\u53D8\u91CF", L"\u503C=1");
  EXPECT_EQ(rt::read_env("TARNEL_变量"), "值=1");
  EXPECT_EQ(rt::read_env("TARNEL_NOT_SET_ANYWHERE"), "");
}

std::atomic<int> g_messages{0};
LRESULT CALLBACK count_proc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_APP + 1) {
    ++g_messages;
    return 0;
  }
  return DefWindowProcW(w, msg, wp, lp);
}

HWND make_window() {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = count_proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"TarnelServicesTest";
  RegisterClassW(&wc);
  return CreateWindowW(L"TarnelServicesTest", L"test", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                       wc.hInstance, nullptr);
}

TEST(SystemServicesTest, DelayWaitsAndKeepsMessagesFlowing) {
  HWND w = make_window();
  ASSERT_NE(w, nullptr);
  g_messages = 0;
  PostMessageW(w, WM_APP + 1, 0, 0);
  // A message that arrives while waiting is dispatched too.
  std::thread poster([w] {
    Sleep(30);
    PostMessageW(w, WM_APP + 1, 0, 0);
  });
  DWORD start = GetTickCount();
  rt::delay(200);
  DWORD elapsed = GetTickCount() - start;
  poster.join();
  EXPECT_GE(elapsed, 190u);  // tick granularity
  EXPECT_EQ(g_messages, 2);
  start = GetTickCount();
  rt::delay(0);
  rt::delay(-5);
  EXPECT_LT(GetTickCount() - start, 1000u);
  DestroyWindow(w);
}

TEST(SystemServicesTest, ProcessEventsLeavesQuitForTheMessageLoop) {
  HWND w = make_window();
  g_messages = 0;
  PostMessageW(w, WM_APP + 1, 0, 0);
  PostMessageW(w, WM_APP + 1, 0, 0);
  rt::process_events();
  EXPECT_EQ(g_messages, 2);
  PostQuitMessage(3);
  PostMessageW(w, WM_APP + 1, 0, 0);
  rt::process_events();
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(msg.wParam, 3u);
  DestroyWindow(w);
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

struct BoxSeen {
  std::string text;
  bool found = false;
  bool owner_disabled = false;
};

// Waits for this process's message box with the caption, notes what it shows,
// and presses the button.
void answer_box(const std::string& caption, int button, HWND watched, BoxSeen* seen) {
  std::wstring wide_caption = rt::wide_path(caption);
  for (int i = 0; i < 600 && !seen->found; ++i) {
    HWND box = FindWindowW(L"#32770", wide_caption.c_str());
    DWORD pid = 0;
    if (box) GetWindowThreadProcessId(box, &pid);
    if (box && pid == GetCurrentProcessId() && IsWindowVisible(box)) {
      wchar_t text[256] = {};
      GetDlgItemTextW(box, 0xFFFF, text, 256);
      seen->text = rt::cp936_from_wchar(text);
      seen->owner_disabled = watched && !IsWindowEnabled(watched);
      seen->found = true;
      PostMessageW(box, WM_COMMAND, button, 0);
      return;
    }
    Sleep(50);
  }
}

TEST(MessageBoxTest, InformationBoxIsTaskModalAndOkGivesZero) {
  HWND w = make_window();
  BoxSeen seen;
  std::thread answer(answer_box, "信息：", IDOK, w, &seen);
  int pressed = rt::message_box("安装完成", MB_ICONINFORMATION);
  answer.join();
  ASSERT_TRUE(seen.found);
  EXPECT_EQ(pressed, rt::kOk);
  EXPECT_EQ(seen.text, "安装完成");
  // Task-modal without an owner: the thread's other windows were disabled.
  EXPECT_TRUE(seen.owner_disabled);
  EXPECT_TRUE(IsWindowEnabled(w));
  DestroyWindow(w);
}

TEST(MessageBoxTest, ButtonsMapToTheirCodes) {
  BoxSeen seen;
  std::thread answer(answer_box, "确认", IDNO, nullptr, &seen);
  EXPECT_EQ(rt::message_box("继续吗？", MB_YESNO, "确认"), rt::kNo);
  answer.join();
  BoxSeen retry;
  std::thread answer2(answer_box, "重试", IDRETRY, nullptr, &retry);
  EXPECT_EQ(rt::message_box("失败", MB_RETRYCANCEL | MB_SYSTEMMODAL, "重试"), rt::kRetry);
  answer2.join();
}

unsigned long RT_STDCALL store_parameter(void* p) {
  static_cast<void>(p);
  return static_cast<unsigned long>(reinterpret_cast<INT_PTR>(p)) + 1;
}

std::atomic<int> g_thread_parameter{0};
unsigned long RT_STDCALL signal_parameter(void* p) {
  g_thread_parameter = static_cast<int>(reinterpret_cast<INT_PTR>(p));
  return 0;
}

TEST(ThreadTest, StartThreadWithAndWithoutAHandle) {
  void* handle = nullptr;
  ASSERT_TRUE(rt::start_thread(store_parameter, 41, &handle));
  ASSERT_NE(handle, nullptr);
  ASSERT_EQ(WaitForSingleObject(handle, 30000), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeThread(handle, &code);
  EXPECT_EQ(code, 42u);
  EXPECT_TRUE(rt::close_thread_handle(handle));

  g_thread_parameter = 0;
  ASSERT_TRUE(rt::start_thread(signal_parameter, 7));
  for (int i = 0; i < 3000 && g_thread_parameter != 7; ++i) Sleep(10);
  EXPECT_EQ(g_thread_parameter, 7);
  EXPECT_FALSE(rt::close_thread_handle(nullptr));
}

std::int32_t WINAPI add3(std::int32_t a, std::int32_t b, std::int32_t c) { return a * 100 + b * 10 + c; }
std::int32_t WINAPI seven() { return 7; }

TEST(ThreadTest, CallSubroutinePassesArgumentsInOrder) {
  EXPECT_EQ(rt::call_subroutine(reinterpret_cast<void*>(&add3), {1, 2, 3}), 123);
  EXPECT_EQ(rt::call_subroutine(reinterpret_cast<void*>(&seven)), 7);
}

TEST(SystemServicesTest, SetCaptureReturnsThePreviousWindow) {
  HWND a = make_window();
  rt::set_capture(a);
  EXPECT_EQ(rt::set_capture(a), a);
  ReleaseCapture();
  DestroyWindow(a);
}

}  // namespace
