// What the install steps may ask of the installer window, and the pages they
// may show. The controller implements both views and carries every call to
// the window thread in order; the steps never touch a window themselves.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "installer/platform/run_journal.h"
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
// Every other failure's message shows the error icon.
inline constexpr int kFailureMessageStyle = 0x10;  // MB_ICONERROR

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
  // The status label under the bar ("正在安装中 N%，请稍侯...").
  virtual void set_status(const rt::Text& text) = 0;
  // kNetworkMessage with kNetworkCaption and kNetworkMessageStyle, task-modal;
  // returns when the person has closed it.
  virtual void show_network_message() = 0;
  // Any other failure's text, with kNetworkCaption and kFailureMessageStyle;
  // returns when the person has closed it. The installer window owns it; the
  // default (no window) shows it task-modal with no owner.
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

// What this run changed, so that a failed or cancelled run can be taken
// back. Inside the installation folder that is the run's journal (written
// before each change, kept on disk, so that a killed run is taken back by the
// next); elsewhere (the levels made above the installation folder, the run's
// own working files) a list in memory of what it created, each with a hold
// on the folder it was made in, kept until the run ends, so that taking it
// back removes exactly that item. Nothing that existed before the run is
// ever removed.
class RunRecord {
 public:
  // A hold on the folder an item was made in (run_file.h makes them).
  struct Hold {
    virtual ~Hold() = default;
  };
  struct Item {
    std::u16string path;
    bool folder = false;
    // Null: the folder is opened again, as itself, when the item is taken back.
    std::unique_ptr<Hold> parent;
  };
  void created(const std::u16string& path, bool folder, std::unique_ptr<Hold> parent = nullptr) {
    items_.push_back({path, folder, std::move(parent)});
  }
  // Notes a folder or file before it is made: in the journal when it lies in
  // the installation folder, else in memory. False when it could not be noted.
  bool creating(const std::u16string& path, bool folder);
  const std::vector<Item>& items() const { return items_; }
  // Hands the items over (the record keeps none).
  std::vector<Item> take_items() { return std::move(items_); }
  RunJournal& journal() { return journal_; }
  // The run is over and stays: nothing of it is taken back any more.
  void clear() { items_.clear(); }

 private:
  std::vector<Item> items_;
  RunJournal journal_;
};
// The record of the current run; written by the worker only.
RunRecord& this_run();
// Takes the run back: its journal (restoring every file it replaced and
// removing what it made, newest first), then what the list in memory holds,
// newest first: each file, then each folder once it is empty (a file a
// person put there keeps its folder). Clears the record, so a second call does
// nothing. True when everything went.
bool undo_this_run();

// How the step went. The step itself always ends on the finish page; the
// controller uses this to show the failure page instead when the package
// could not be read or an entry could not be written.
struct PackageOutcome {
  bool opened = false;         // the package was a readable ZIP archive
  bool all_extracted = false;  // opened, and every entry extracted with result 0
  int entries = 0;
  int failed = 0;              // entries whose extraction gave a non-zero result
  bool list_recorded = false;  // the list reached the uninstaller (false too when the package has none)
  bool cancelled = false;      // stopped between two entries at the window's request
  bool damaged = false;        // an entry's data was damaged (CRC, size, method)
  // The first target that could not be written (full path, as shown to the
  // person), or the uninstaller (or the list file beside a signed one) that
  // could not take the list.
  rt::Text unwritable_file;
  // Programs holding files the step would replace: the message that asks to
  // close them ("请先关闭“App.exe”后点击重新安装。"). Nothing was changed.
  rt::Text held_by;
  bool succeeded() const { return opened && all_extracted && unwritable_file.empty(); }
};

// What the package step reports while it works: the sequence shows it on
// the bar and in the status label.
class PackageStepHost {
 public:
  virtual ~PackageStepHost() = default;
  // The progress bar's position, 0-100.
  virtual void set_progress(int percent) = 0;
};

}  // namespace installer
