// What the install steps may ask of the installer window, and the pages they
// may show. The controller implements both views and carries every call to
// the window thread in order; the steps never touch a window themselves.
#pragma once

#include <atomic>

#include "runtime/value/value.h"

namespace installer {

// Tab pages of the installer window.
enum Page : int {
  kHomePage = 0,        // "首页安装"
  kCustomPage = 1,      // "选择文件夹"
  kInstallingPage = 2,  // "正在安装"
  kFinishPage = 3,      // "安装完成"
  kFailurePage = 4,     // "网络错误"
};

// The network failure message of every download the installer makes.
inline constexpr const char* kNetworkMessage = "检测到网络异常，必要组件无法加载，请检查网络后重试。";
inline constexpr const char* kNetworkCaption = "信息";
inline constexpr int kNetworkMessageStyle = 0x40;  // MB_ICONINFORMATION

// What the prerequisite and download steps show in the installer window.
class InstallView {
 public:
  virtual ~InstallView() = default;
  // The progress timer: 1000 shows the download figures once a second, 0 stops it.
  virtual void set_progress_timer(int period_ms) = 0;
  virtual void set_progress_bar(int position) = 0;
  // kNetworkMessage with kNetworkCaption and kNetworkMessageStyle, task-modal;
  // returns when the person has closed it.
  virtual void show_network_message() = 0;
  virtual void show_page(int page) = 0;
};

// How the step went. The step itself always ends on the finish page; the
// controller uses this to show the failure page instead when the package
// could not be read or an entry could not be written.
struct PackageOutcome {
  bool opened = false;         // the package was a readable ZIP archive
  bool all_extracted = false;  // opened, and every entry extracted with result 0
  int entries = 0;
  int failed = 0;              // entries whose extraction gave a non-zero result
  bool list_recorded = false;  // the list reached the uninstaller's resources
  bool succeeded() const { return opened && all_extracted; }
};

// The person's request to stop the installation: set on the window thread
// (closing the window while the worker runs, answered with "确定"), cleared
// when an installation starts. The steps look at it at their safe points,
// between two reads of a download and between two entries of the package,
// where stopping leaves no file half-written.
inline std::atomic<bool>& cancel_requested() {
  static std::atomic<bool> flag{false};
  return flag;
}

// Implemented by the controller, which marshals to the window thread.
class PackageStepHost {
 public:
  virtual ~PackageStepHost() = default;
  // The installation directory as the install-path box shows it now.
  virtual rt::Text install_directory() = 0;
  // The progress bar's position, 0-100.
  virtual void set_progress(int percent) = 0;
  // The step is over (the switch to the finish page).
  virtual void package_step_ended(const PackageOutcome& outcome) = 0;
};

}  // namespace installer
