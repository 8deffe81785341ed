// The uninstaller's question and result, in the prompt window every program
// shows (ui/prompt_window.h), centred on the screen.
#include "installer/uninstaller/uninstall.h"
#include "ui/prompt_window.h"

namespace installer {

bool uninstall_prompt(const rt::Text& title, const rt::Text& message, bool with_cancel) {
  // Closed any other way (Alt+F4), the answer stays "no".
  return ui::ask({.title = title, .message = message, .with_cancel = with_cancel}) == ui::PromptAnswer::Ok;
}

}  // namespace installer
