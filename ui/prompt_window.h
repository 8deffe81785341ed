// The prompt window: the one look of every question and result the programs
// show (the installer's, the uninstaller's, the sample's). A borderless white
// window with a pale title bar, the message, a blue "确定" and, when asked
// for, a red "取消". Short messages keep 420 x 210; a message with line
// breaks (a list) widens the window to 600 and makes it taller.
#pragma once

#include <windows.h>

#include "runtime/units/units.h"
#include "runtime/value/value.h"

namespace ui {

struct Prompt {
  rt::Text title = "提示信息";  // the window's caption and its title bar
  rt::Text message;
  bool with_cancel = true;
  HWND over = nullptr;  // centred over this window; null: over the work area
};

enum class PromptAnswer { Closed, Ok, Cancel };  // Closed: neither button (Alt+F4)

// Shows the prompt modally, owned by the calling thread's active window, and
// returns when it has closed.
PromptAnswer ask(const Prompt& prompt);
// The answer of the prompt shown last (set the moment a button is pressed,
// before ask returns): what a caller waiting for an open prompt gets.
PromptAnswer last_answer();

extern const rt::WindowDesign kPromptWindow;  // "PromptWindow"

// Where a window of this size opens centred over another's rectangle.
rt::Rect centred_over(const rt::Rect& owner, int width, int height);

}  // namespace ui
