// Start-up of setup.exe: runtime and process-wide state, module start-up,
// the installer window, the message loop.
#pragma once

namespace installer {

// OLE (and so COM, a single-threaded apartment) for the calling thread while
// this lives. The window thread needs it before its window loads: the folder
// dialog's new style and the shell calls require it on Windows.
class WindowThreadOle {
 public:
  WindowThreadOle();
  ~WindowThreadOle();
  WindowThreadOle(const WindowThreadOle&) = delete;
  WindowThreadOle& operator=(const WindowThreadOle&) = delete;
  bool ok() const { return result_ >= 0; }

 private:
  long result_;
};

// Runs the installer and returns the process exit code: 0 only when the
// installation completed.
int run_setup();

}  // namespace installer
