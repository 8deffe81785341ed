// Configured installers for end-to-end tests: a copy of setup.exe with the
// configuration record, logo and package written into its resources, and the
// installer's windows found and driven by their design names.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/e2e/support/harness.h"

namespace e2e {

// What the installer says when it cannot get or check its package.
inline constexpr char kNetworkMessage[] = "检测到网络异常，必要组件无法加载，请检查网络后重试。";

// Configuration keys and values (code page 936), written as a JSON object.
using Config = std::vector<std::pair<std::string, std::string>>;
std::string config_json(const Config& config);

// Copies setup.exe into `dir` as `name` and writes "102" (the record, encrypted
// with `pass_phrase`), "103" (the package, when given) and "101" (the logo,
// when given) as type "SYSTEM". Returns the path, "" on failure.
std::string make_installer(const std::string& dir, const std::string& record_plain, const std::string* package,
                           const std::string& name = "setup.exe", const std::string* logo = nullptr,
                           const std::string& pass_phrase = "Tarnel", const std::string& source = "");

// A running installer and its main window.
class Installer {
 public:
  explicit Installer(const std::string& exe, const std::string& args = "");
  bool ok() const { return window_ != nullptr; }
  HWND window() const { return window_; }
  Process& process() { return process_; }

  // A unit of the window, waited for. The custom page's units are made when
  // that page first shows: asked for on the home page before it has, the
  // page is visited as a person would (自定义安装, then 返回首页).
  HWND unit(const std::string& name, DWORD timeout_ms = 10000) const;
  // Clicks a unit (left button down and up at its centre, as posted input).
  void click(const std::string& name) const;
  void press(const std::string& name) const;    // left button down only
  void release(const std::string& name) const;  // left button up only
  std::string text(const std::string& name) const { return window_text(unit(name)); }
  bool visible(const std::string& name) const;
  bool checked(const std::string& name) const;
  int progress(const std::string& name) const;
  void set_text(const std::string& name, const std::string& text) const;
  // The current page: the index of the page whose action unit is visible.
  int page() const;
  bool wait_page(int page, DWORD timeout_ms) const;

  // The prompt window (PromptWindow), if open.
  HWND prompt(DWORD timeout_ms) const;
  void answer_prompt(bool ok, DWORD timeout_ms = 10000) const;
  // A system message box of the installer process: its text, then OK.
  std::string answer_message_box(DWORD timeout_ms = 20000) const;

  bool wait_exit(DWORD timeout_ms, DWORD* code = nullptr) { return process_.wait(timeout_ms, code); }
  bool shot(const std::string& file) const;

 private:
  Process process_;
  HWND window_ = nullptr;
};

// Types `folder` on the custom page, clears the desktop shortcut and presses
// its install button; returns at once (false when the page did not show).
bool start_from_custom_page(Installer& setup, const std::string& folder);
// Installs into `folder` from the custom page, without a desktop shortcut,
// and waits for the finish or the failure page, answering message boxes on
// the way. Returns the page, -1 when neither showed; *message gets the last
// message box's text.
int install_from_custom_page(Installer& setup, const std::string& folder, std::string* message,
                             int timeout_ms = 90000);

// Answers the next prompt window of a process (the installer's or the
// uninstaller's) with 确定 or 取消, clicked as a person would, once its
// message is filled; returns the message, "(...)" when none showed. With a
// name, a screenshot <name>.png of the prompt goes to screenshot_dir().
std::string answer_prompt(const Process& process, bool ok, const std::string& shot = "", DWORD timeout_ms = 60000);

// The folder for screenshots: <build>\screenshots.
std::string screenshot_dir();
// Removes the mark "<program>.ran" a started marker program leaves, once it
// is there and the program has let go of it (it holds it while writing);
// false when that did not happen in time.
bool remove_mark(const std::string& mark);
// Its text once the program has written it whole (empty when it did not in time).
std::string read_mark(const std::string& mark);
// A Unicode (code page 936) file test.
bool path_exists(const std::string& path);
std::string read_all(const std::string& path);
bool write_all(const std::string& path, const std::string& bytes);
// A Unix symbolic link `link` -> `target`, which Wine shows as a reparse
// point (a junction on Windows): made by running ln, as Wine's
// CreateSymbolicLinkW does nothing and reports success.
bool make_link(const std::string& link, const std::string& target);

}  // namespace e2e
