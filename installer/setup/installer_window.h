// The installer window with its header and five pages, its handlers, the
// prompt it asks through (ui/prompt_window.h), and the controller's view of them.
#pragma once

#include "runtime/units/units.h"

namespace installer {

extern const rt::WindowDesign kInstallerWindow;  // "InstallerWindow"

// Loads the installer window (non-modal, top-level) and connects the
// controller to it. False when the window could not be made.
bool load_installer_window();

// The prompt slots: 0 the text, 1 the answer ("ok"/"cancel", never
// cleared), 2 the mode ("1": OK only).
rt::Text& prompt_slot(int index);
// Shows the prompt window modally; the answer is left in slot 1.
void ask_user(const rt::Text& text, const rt::Text& mode);

// Handlers.
void load_configuration();  // installer window created
bool confirm_close();       // installer window close requested
void on_close_button();     // 关闭
void browse_for_folder();   // 浏览
void drag_window();         // 选择夹1, left button pressed
void show_custom_page();    // 自定义安装, left button pressed
void show_home_page();      // 返回首页, left button released

// The folder the folder dialog's choice makes: a trailing backslash added
// unless there is one.
rt::Text folder_with_backslash(const rt::Text& folder);

}  // namespace installer
