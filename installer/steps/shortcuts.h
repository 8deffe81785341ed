// The shortcut step: a shortcut in the Start menu's Programs folder always,
// one on the desktop when the person left the box ticked. Runs on the install
// worker thread; names and paths may hold Chinese and go to the shell as
// UTF-16.
#pragma once

#include <optional>

#include "runtime/value/value.h"

namespace installer {

struct ShortcutRequest {
  rt::Text software_name;      // the shortcuts' names
  rt::Text install_directory;  // the install-path box's text when the step runs
  rt::Text main_file;          // relative to the installation directory
  bool desktop = false;        // the "创建桌面快捷方式" box is ticked
  bool all_users = false;      // "scope" "machine": every user's desktop and Start menu
};

// Makes the worker thread ready for COM for its whole length, then makes the
// shortcuts, both with the main file's folder as working folder and the same
// icon. Neither failure is reported: a missing shortcut does not stop
// the installation.
void make_shortcuts(const ShortcutRequest& request);

// A desktop shortcut through the Script Host's shell object. `name` may be a
// path (its file name without extension is used, and left in `name`) and may
// carry ".lnk". An existing shortcut of that name is deleted first. No icon
// location means "SHELL32.dll,4" for a target without extension, else the
// target's first icon. The working directory is the target's folder with its
// trailing backslash. False when the target has no folder or the shell's
// shortcut object could not be had; whether "Save" then worked is not known.
bool create_desktop_shortcut(rt::Text& name, const rt::Text& target, const rt::Text& arguments = rt::Text(),
                             const std::optional<rt::Text>& icon_location = std::nullopt, int window_style = 0,
                             const rt::Text& description = rt::Text(), const rt::Text& hotkey = rt::Text(),
                             bool all_users = false);

// A shortcut through the shell link object, shown with SW_SHOW; ".lnk" is
// added when the file name has no extension. `icon_location` is "file,index"
// (a bare file means index 0). True when it was saved. The calling thread
// must have initialised COM.
bool create_shell_link(const rt::Text& link_path, const rt::Text& target,
                       const std::optional<rt::Text>& description = std::nullopt,
                       const std::optional<rt::Text>& arguments = std::nullopt,
                       const std::optional<rt::Text>& working_directory = std::nullopt,
                       const std::optional<rt::Text>& icon_location = std::nullopt);

}  // namespace installer
