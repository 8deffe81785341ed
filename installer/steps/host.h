// What the install steps may ask of the installer window, and the pages they
// may show. The controller implements both views and carries every call to
// the window thread in order; the steps never touch a window themselves.
#pragma once

#include <atomic>
#include <string>
#include <vector>

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

// The other failures each say what went wrong, with the same caption and
// style; then the failure page, whose "重新安装" tries again.
// The package is not the one published, or cannot be read.
inline constexpr const char* kDamagedPackageMessage = "安装包已损坏或与发布的不一致，请重新下载安装程序后重试。";
// A file of the package cannot be written: "无法写入文件“<path>”，" + this.
inline constexpr const char* kFileMessageStart = "无法写入文件“";
inline constexpr const char* kFileMessageEnd = "”，请关闭正在使用它的程序，或取消它的只读属性后点击重新安装。";
// The installation folder cannot be made or used: "安装目录“<path>”" + this.
inline constexpr const char* kFolderMessageStart = "无法使用安装目录“";
inline constexpr const char* kFolderMessageEnd = "”，请选择其他文件夹后点击重新安装。";
// The .NET Framework's installer was downloaded but could not be started.
inline constexpr const char* kDotnetStartMessage = "无法启动 .NET Framework 安装程序，请检查杀毒软件的拦截后重试。";
// The installer's own configuration cannot be read: nothing is installed.
inline constexpr const char* kDamagedInstallerMessage = "安装程序已损坏，无法安装，请重新下载安装程序。";

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
  // Any other failure's text, with kNetworkCaption and kNetworkMessageStyle,
  // task-modal; returns when the person has closed it. The default shows it
  // with no owner, as the network message is shown.
  virtual void show_failure_message(const rt::Text& text);
  virtual void show_page(int page) = 0;
  // A note on the finish page under its button (the restart the .NET
  // Framework needs). The default shows nothing.
  virtual void show_finish_note(const rt::Text& text) {}
};

// ---- Stopping a run and taking it back --------------------------------------
//
// The window asks the worker to stop (the person confirmed closing while it
// runs) with request_install_cancel(); the steps look at the flag at safe
// points only (between two reads of a download, between two entries of the
// package), stop there, and the worker then takes back what the run made
// (undo_this_run) before it ends: no shortcut and no uninstall entry follow.
// Waiting for the worker's end is the window's business.
inline std::atomic<bool>& cancel_requested() {
  static std::atomic<bool> flag{false};
  return flag;
}
inline void request_install_cancel() { cancel_requested() = true; }
inline bool install_cancel_requested() { return cancel_requested().load(); }
// A new run (the first, or "重新安装") starts with the flag down and an empty record.
void begin_install_run();

// What this run created, in order: folders it made and files it wrote (the
// package file among them), as the full UTF-16 paths given to the file calls.
// Nothing that existed before the run is ever noted.
class RunRecord {
 public:
  struct Item {
    std::u16string path;
    bool folder = false;
  };
  void created_folder(const std::u16string& path) { items_.push_back({path, true}); }
  void created_file(const std::u16string& path) { items_.push_back({path, false}); }
  const std::vector<Item>& items() const { return items_; }
  void clear() { items_.clear(); }

 private:
  std::vector<Item> items_;
};
// The record of the current run; written by the worker only.
RunRecord& this_run();
// Removes what the record holds, newest first: each file, then each folder
// once it is empty (a file a person put there keeps its folder). Clears the
// record, so a second call does nothing. True when everything went.
bool undo_this_run();

// How the step went. The step itself always ends on the finish page; the
// controller uses this to show the failure page instead when the package
// could not be read or an entry could not be written.
struct PackageOutcome {
  bool opened = false;         // the package was a readable ZIP archive
  bool all_extracted = false;  // opened, and every entry extracted with result 0
  int entries = 0;
  int failed = 0;              // entries whose extraction gave a non-zero result
  bool list_recorded = false;  // the list reached the uninstaller's resources
  bool cancelled = false;      // stopped between two entries at the window's request
  bool damaged = false;        // an entry's data was damaged (CRC, size, method)
  // The first target that could not be written (full path, as shown to the person).
  rt::Text unwritable_file;
  bool succeeded() const { return opened && all_extracted; }
};

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
