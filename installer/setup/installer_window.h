// The installer window with its header and five pages, its handlers, the
// prompt it asks through (ui/prompt_window.h), and the controller's view of them.
#pragma once

#include "runtime/units/units.h"

namespace installer {

extern const rt::WindowDesign kInstallerWindow;  // "InstallerWindow"

// Loads the installer window (non-modal, top-level) and connects the
// controller to it. False when the window could not be made.
bool load_installer_window();

// Shows the prompt window modally and returns its answer: "ok" only for
// 确定, "cancel" for 取消, empty when it was closed any other way. While a
// prompt is open a second call waits for it: the same question shares its
// answer, another one is asked afterwards.
rt::Text ask_user(const rt::Text& text, const rt::Text& mode);

// A message box of the installer: captioned as its window is (the
// software's name, or "安装程序已损坏" when the configuration cannot be read)
// and owned by the window, which centres it there. Returns the button.
int show_installer_box(const rt::Text& text, int style);

// Handlers.
void load_configuration();  // installer window created
void on_close_button();     // 关闭
void browse_for_folder();   // 浏览
void drag_window();         // 选择夹1, left button pressed
void show_custom_page();    // 自定义安装, left button pressed
void show_home_page();      // 返回首页, left button released

// The installation folder a folder chosen with 浏览 makes: the software's
// name appended, unless the chosen folder already is named so (ASCII
// letters compared without case).
rt::Text install_folder_in(const rt::Text& folder, const rt::Text& software_name);

}  // namespace installer
