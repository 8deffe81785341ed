// System services: the program's folder, environment, ticks, waiting with the
// window messages flowing, message boxes, threads.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "runtime/value/value.h"

namespace rt {

Text run_directory();  // without a trailing backslash
Text read_env(const Text& name);
std::uint32_t tick_count();
// Waits until the tick count passes start + ms, dispatching window messages.
void delay(int ms);
// Dispatches waiting messages of the calling thread (not WM_QUIT).
void process_events();

// Button codes message_box returns.
enum MessageBoxResult : int { kOk = 0, kCancel = 1, kAbort = 2, kRetry = 3, kIgnore = 4, kYes = 5, kNo = 6 };
// Shows `message` with the style plus MB_TASKMODAL (unless MB_SYSTEMMODAL is
// in it); `owner` is a window handle or null. Lines longer than some 28
// Chinese characters are broken (break_long_lines), and a box with a visible
// owner is centred on it.
int message_box(const Text& message, int style, const Text& caption = "信息：", void* owner = nullptr);

#ifdef _WIN32
#define RT_STDCALL __stdcall
#else
#define RT_STDCALL
#endif
using ThreadRoutine = unsigned long(RT_STDCALL*)(void* parameter);
// Starts a thread; without a handle variable the handle is closed at once.
bool start_thread(ThreadRoutine routine, int parameter = 0, void** handle = nullptr);
bool close_thread_handle(void* handle);

// Calls a routine of the program (stdcall, up to 10 arguments of 32 bits) and
// returns its 32-bit result.
std::int32_t call_subroutine(void* routine, std::initializer_list<std::int32_t> arguments = {});
// Captures the mouse for the window; returns the window that had it before.
void* set_capture(void* window);

}  // namespace rt
