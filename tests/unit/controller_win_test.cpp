// The controller's decisions and the order of the install sequence, with a
// fake window and fake steps: which page ends each road, what runs and what
// does not.
#include "installer/platform/protected_folder.h"
#include "installer/setup/controller.h"

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <algorithm>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "installer/steps/download.h"
#include "installer/steps/progress.h"
#include "installer/format/sha256.h"
#include "installer/setup/installer_window.h"
#include "installer/setup/startup.h"
#include "installer/platform/windows_version.h"
#include "installer/setup/session.h"
#include "runtime/value/codepage.h"
#include "tests/support/paths.h"

namespace {

using installer::PackageOutcome;
using installer::format::InstallType;
using installer::PrerequisiteOutcome;
using testing::ElementsAre;

class FakeView final : public installer::ControllerView {
 public:
  bool agreement = true;
  bool desktop = true;
  rt::Text directory = "C:\\Apps\\Foo";
  rt::Text answer = "cancel";
  std::atomic<int> page{0};
  // Runs while a message shows, as the window's messages do under a message box.
  std::function<void()> while_message;

  std::vector<std::string> log() {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
  }
  void clear_log() {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.clear();
  }
  void record(std::string entry) {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.push_back(std::move(entry));
  }

  bool agreement_ticked() override { return agreement; }
  bool desktop_shortcut_ticked() override { return desktop; }
  rt::Text install_directory() override { return directory; }
  void show_header(bool visible) override { record(visible ? "header shown" : "header hidden"); }
  void show_page(int p) override {
    page = p;
    record("page " + std::to_string(p));
  }
  void set_status(const rt::Text& text) override { record("status " + text.str()); }
  void set_progress_timer(int ms) override { record("timer " + std::to_string(ms)); }
  void set_progress_bar(int position) override { record("bar " + std::to_string(position)); }
  void show_network_message() override { record("network message"); }
  void show_failure_message(const rt::Text& text) override {
    record("message " + text.str());
    if (while_message) while_message();
  }
  rt::Text ask_user(const rt::Text& text, const rt::Text& mode) override {
    record("ask " + text.str() + " mode " + mode.str());
    return answer;
  }
  int current_page() override { return page; }
  void destroy_window() override { record("destroyed"); }
  void show_finish_note(const rt::Text& text) override { record("note " + text.str()); }
  void post_close() override { record("close posted"); }

 private:
  std::mutex mutex_;
  std::vector<std::string> log_;
};

class ControllerTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = testsupport::scratch_dir("controller");
    view_.directory = rt::Text(dir_ + "\\target");
    record_.software_name = "Foo";
    record_.main_file = "Foo.exe";
    record_.install_type = InstallType::kDisk;
    installer::set_controller_view(&view_);
    installer::set_controller_session(&session_);
    installer::InstallSteps s;
    s.ensure_dotnet = [this](const rt::Text& framework, installer::InstallView&) {
      view_.record("dotnet " + framework.str());
      return dotnet_;
    };
    s.download_package = [this](const std::vector<rt::Text>& urls, void* file, installer::PartialDownload&) {
      view_.record("download " + urls[0].str());
      std::string body(download_bytes_, 'z');
      DWORD written = 0;
      WriteFile(file, body.data(), DWORD(body.size()), &written, nullptr);
      if (cancel_in_download_) installer::request_install_cancel();
      // As the shipped step does: the digest of what it wrote, when complete.
      installer::DownloadOutcome outcome{download_result_, written, ""};
      if (download_result_ == installer::kDownloadOk) outcome.sha256 = installer::sha256_hex(body);
      return outcome;
    };
    s.package_resource = [](bool) { return std::make_unique<rt::MemoryZipInput>(kEmptyZip); };
    s.unpack_package = [this](std::unique_ptr<rt::ZipInput> package, const installer::InstallPlan& plan, const rt::Text&,
                              installer::PackageStepHost&, rt::Text&) {
      std::string dir = plan.install_directory.str();
      view_.record("unpack into " + dir + " uninstaller " + plan.uninstaller_path.str());
      // A file the step made, which a failed run must take back.
      std::string made = dir + "\\made.txt";
      testsupport::write_file(made, "x");
      installer::this_run().creating(std::u16string(made.begin(), made.end()), false);
      return outcome_;
    };
    s.make_shortcuts = [this](const installer::InstallPlan& plan) {
      view_.record(plan.desktop_shortcut ? "shortcuts with desktop" : "shortcuts");
    };
    s.register_uninstall = [this](const installer::InstallPlan&, const rt::Text&) { view_.record("uninstall entry"); };
    s.launch_file = [this](const rt::Text& path, const rt::Text& params, int mode) {
      view_.record("launch " + path.str() + " mode " + std::to_string(mode));
      return launch_ok_;
    };
    installer::set_install_steps(std::move(s));
    outcome_.opened = outcome_.all_extracted = true;
  }
  void TearDown() override {
    installer::set_controller_view(nullptr);
    installer::set_controller_session(nullptr);
  }

  // The session takes the record as it stands now.
  void open() { session_.open_record(record_); }
  // Presses an install button and waits for the worker to end.
  void install() {
    open();
    installer::on_install_now();
    ASSERT_TRUE(wait_for_worker());
  }
  static bool wait_for_worker() {
    for (int i = 0; i < 400; ++i) {
      if (!installer::worker_running_now()) return true;
      Sleep(25);
    }
    return false;
  }

  FakeView view_;
  installer::format::Record record_;
  installer::SetupSession session_;
  std::string dir_;
  PrerequisiteOutcome dotnet_ = PrerequisiteOutcome::kContinue;
  int download_result_ = 0;
  int download_bytes_ = 4096;
  bool cancel_in_download_ = false;
  bool launch_ok_ = true;
  static inline const std::string kEmptyZip = std::string("PK\x05\x06", 4) + std::string(18, '\0');
  PackageOutcome outcome_;
};

TEST_F(ControllerTest, RefusedAgreementAsksThenShowsTheHomePageAndStartsNothing) {
  view_.agreement = false;
  open();
  installer::on_install_now();
  EXPECT_THAT(view_.log(), ElementsAre("ask 请阅读并选中用户使用协议！ mode 0", "header shown", "page 0"));
  EXPECT_FALSE(installer::worker_running_now());
  EXPECT_EQ(GetFileAttributesA((dir_ + "\\target").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(ControllerTest, DiskInstallUnpacksFromTheImageAndEndsOnTheFinishPage) {
  record_.install_type = InstallType::kDisk;
  record_.framework = "4.8";
  install();
  std::string dir = dir_ + "\\target";
  EXPECT_THAT(view_.log(), ElementsAre("header shown", "page 2", "dotnet 4.8",
                                       "unpack into " + dir + " uninstaller " + dir + "\\uninst.exe", "page 3",
                                       "shortcuts with desktop", "uninstall entry"));
  // The worker made the installation folder; no package file was written anywhere.
  EXPECT_NE(GetFileAttributesA(dir.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_EQ(GetFileAttributesA((dir_ + "\\app.zip").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesA((dir + "\\made.txt").c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
}

TEST_F(ControllerTest, NetInstallRunsTheTimerDuringTheDownloadOnly) {
  auto& st = record_;
  st.install_type = InstallType::kNet;
  st.package_url = "http://127.0.0.1:1/app.zip";
  st.package_sha256 = rt::Text(installer::sha256_hex(std::string(4096, 'z')));
  view_.desktop = false;
  install();
  EXPECT_THAT(view_.log(), ElementsAre("header shown", "page 2", "dotnet ", "timer 1000",
                                       "download http://127.0.0.1:1/app.zip", "timer 0", testing::StartsWith("unpack"),
                                       "page 3", "shortcuts", "uninstall entry"));
}

// Each failure says what went wrong, takes back what the run made (here the
// installation folder and a file in it) and ends on the failure page.
TEST_F(ControllerTest, EachFailureHasItsOwnMessageAndLeavesNothingOfTheRun) {
  auto& st = record_;
  std::string dir = dir_ + "\\target";
  struct Case {
    const char* type;
    int download_result, download_bytes;
    bool opened, damaged;
    const char* unwritable;
    const char* digest;
    std::string message;
    bool extracted = false;  // every entry in place: the list failed
  };
  const Case cases[] = {
      {"net", -1, 4096, true, false, "", "", "network message"},
      {"net", 0, 1023, true, false, "", "", "network message"},  // an error page is no package either
      {"disk", 0, 0, false, false, "", "", std::string("message ") + installer::kDamagedPackageMessage},
      {"disk", 0, 0, true, true, "", "", std::string("message ") + installer::kDamagedPackageMessage},
      {"disk", 0, 0, true, false, "C:\\x\\held.dll", "",
       "message 无法写入文件“C:\\x\\held.dll”，请关闭正在使用它的程序，或取消它的只读属性后点击重新安装。"},
      {"disk", 0, 0, true, false, "C:\\x\\uninst.dat", "",
       "message 无法写入文件“C:\\x\\uninst.dat”，请关闭正在使用它的程序，或取消它的只读属性后点击重新安装。", true},
      {"disk", 0, 0, true, false, "", "0000000000000000000000000000000000000000000000000000000000000000",
       std::string("message ") + installer::kDamagedPackageMessage},
      // The digest the download step took of what it wrote is the one checked.
      {"net", 0, 4096, true, false, "", "0000000000000000000000000000000000000000000000000000000000000000",
       std::string("message ") + installer::kDamagedPackageMessage},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message + " " + c.type);
    view_.clear_log();
    st.install_type = installer::format::install_type_of(c.type);
    // A "net" record always has its digest (without one it is damaged, below).
    const bool net = std::string(c.type) == "net";
    st.package_sha256 = *c.digest || !net ? rt::Text(c.digest) : rt::Text(installer::sha256_hex(std::string(4096, 'z')));
    download_result_ = c.download_result;
    download_bytes_ = c.download_bytes;
    outcome_ = PackageOutcome();
    outcome_.opened = c.opened;
    outcome_.damaged = c.damaged;
    outcome_.unwritable_file = c.unwritable;
    outcome_.all_extracted = c.extracted;
    install();
    auto log = view_.log();
    EXPECT_THAT(log, testing::Contains(c.message));
    EXPECT_EQ(log.back(), "page 4");
    EXPECT_THAT(log, testing::Not(testing::Contains(testing::StartsWith("shortcuts"))));
    EXPECT_THAT(log, testing::Not(testing::Contains("uninstall entry")));
    EXPECT_EQ(GetFileAttributesA(dir.c_str()), INVALID_FILE_ATTRIBUTES);
  }
}

TEST_F(ControllerTest, CancelledDownloadTakesBackTheRunButNotWhatWasThereBefore) {
  auto& st = record_;
  st.install_type = InstallType::kNet;
  st.package_sha256 = rt::Text(installer::sha256_hex(std::string(4096, 'z')));
  std::string dir = dir_ + "\\target";
  CreateDirectoryA(dir.c_str(), nullptr);
  testsupport::write_file(dir + "\\mine.txt", "earlier");
  cancel_in_download_ = true;
  download_result_ = installer::kDownloadCancelled;
  install();
  EXPECT_THAT(view_.log(), ElementsAre("header shown", "page 2", "dotnet ", "timer 1000", testing::StartsWith("download")));
  EXPECT_EQ(testsupport::read_file(dir + "\\mine.txt"), "earlier");

  // A fresh run starts with the flag down; a folder made by a cancelled run goes.
  RemoveDirectoryA(dir.c_str());
  DeleteFileA((dir + "\\mine.txt").c_str());
  RemoveDirectoryA(dir.c_str());
  view_.clear_log();
  install();
  EXPECT_EQ(GetFileAttributesA(dir.c_str()), INVALID_FILE_ATTRIBUTES);
  cancel_in_download_ = false;
  download_result_ = 0;
  install();
  EXPECT_THAT(view_.log(), testing::Contains("page 3"));
}

TEST_F(ControllerTest, PrerequisiteStopEndsTheSequence) {
  record_.install_type = InstallType::kDisk;
  dotnet_ = PrerequisiteOutcome::kStopSilently;
  install();
  EXPECT_THAT(view_.log(), ElementsAre("header shown", "page 2", "dotnet "));
}

// An install type other than exactly "net" or "disk" is a damaged
// configuration: nothing is read, downloaded or unpacked.
// A "net" record without the package's digest, and a scope of neither known
// name, are damaged the same way: nothing would be checked or known. Such a
// record marks the installer damaged when its window opens (below); a run
// started with one anyway is refused by the sequence.
TEST_F(ControllerTest, UnknownInstallTypeInstallsNothing) {
  using installer::format::Scope;
  const struct {
    const char* type;
    Scope scope;
  } records[] = {{"NET", Scope::kDefault}, {"", Scope::kDefault}, {"Disk", Scope::kDefault},
                 {"net", Scope::kDefault}, {"disk", Scope::kUnknown}};
  for (const auto& r : records) {
    SCOPED_TRACE(r.type);
    view_.clear_log();
    auto& record = record_;
    record.install_type = installer::format::install_type_of(r.type);
    record.package_sha256 = rt::Text();
    record.scope = r.scope;
    EXPECT_FALSE(installer::record_installable(record));
    EXPECT_EQ(session_.open_record(record), installer::SetupSession::Opened::kDamaged);
    EXPECT_EQ(installer::run_install_sequence(installer::make_install_plan(record, view_.directory, true),
                                              installer::default_install_steps(), view_),
              installer::SequenceEnd::kDamaged);
    EXPECT_THAT(view_.log(), ElementsAre(std::string("message ") + installer::kDamagedInstallerMessage, "page 4"));
    EXPECT_EQ(GetFileAttributesA((dir_ + "\\target").c_str()), INVALID_FILE_ATTRIBUTES);
  }
}

// A damaged installer offers nothing: its install buttons start nothing, and
// its close (which its window asks for as soon as it shows) asks no question
// but says why it cannot install, then lets the window close; a close asked
// for meanwhile waits for that answer.
TEST_F(ControllerTest, ADamagedInstallerInstallsNothingAndItsCloseSaysWhy) {
  session_.open_record(std::nullopt);
  installer::on_install_now();
  EXPECT_THAT(view_.log(), testing::IsEmpty());
  EXPECT_FALSE(installer::worker_running_now());

  bool closed_meanwhile = true;
  view_.while_message = [&] { closed_meanwhile = installer::on_close_requested(); };
  EXPECT_TRUE(installer::on_close_requested());
  EXPECT_FALSE(closed_meanwhile);
  EXPECT_THAT(view_.log(), ElementsAre(std::string("message ") + installer::kDamagedInstallerMessage));
  EXPECT_EQ(installer::setup_exit_code(), installer::kSetupDamaged);
  EXPECT_EQ(GetFileAttributesA((dir_ + "\\target").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(ControllerTest, TheRightDigestInCapitalsPasses) {
  auto& st = record_;
  st.install_type = InstallType::kDisk;
  std::string digest = installer::sha256_hex(kEmptyZip);
  for (char& c : digest) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  st.package_sha256 = rt::Text(digest);
  install();
  EXPECT_THAT(view_.log(), testing::Contains("page 3"));
}

TEST_F(ControllerTest, ProgressTickShowsThePercentage) {
  installer::on_download_progress(1000, 420, 10);
  installer::on_progress_tick();
  EXPECT_THAT(view_.log(), ElementsAre("bar 42", "status 正在安装中 42%，请稍侯..."));
  EXPECT_EQ(installer::progress_status_text(0), "正在安装中 0%，请稍侯...");
}

TEST_F(ControllerTest, FinishStartsTheMainFileAndDestroysTheWindow) {
  record_.install_type = InstallType::kDisk;
  install();
  EXPECT_EQ(installer::setup_exit_code(), 0);
  view_.clear_log();
  installer::on_finish();
  EXPECT_THAT(view_.log(), ElementsAre("launch " + dir_ + "\\target\\Foo.exe mode 0", "destroyed"));
}

// An elevated installer whose desktop shell does not answer starts nothing
// with its administrator rights: the finish page says where to start the
// program, and the next press ends the installer.
TEST_F(ControllerTest, AProgramTheShellCouldNotStartAsThePersonIsNamedInsteadOfStarted) {
  ASSERT_TRUE(installer::running_elevated()) << "Wine's programs are elevated";
  record_.install_type = InstallType::kDisk;
  record_.software_name = "Foo";
  install();
  view_.clear_log();
  launch_ok_ = false;
  installer::on_finish();
  EXPECT_THAT(view_.log(), ElementsAre("launch " + dir_ + "\\target\\Foo.exe mode 0",
                                       "note 无法以您的身份启动“Foo”，请从开始菜单启动它。"));
  view_.clear_log();
  installer::on_finish();
  EXPECT_THAT(view_.log(), ElementsAre("destroyed"));
}

// A step of the worker held until the test lets it go.
class Gate {
 public:
  Gate() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)), reached_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~Gate() {
    CloseHandle(event_);
    CloseHandle(reached_);
  }
  void pass() {
    SetEvent(reached_);
    WaitForSingleObject(event_, 20000);
  }
  bool reached() { return WaitForSingleObject(reached_, 20000) == WAIT_OBJECT_0; }
  void open() { SetEvent(event_); }

 private:
  HANDLE event_, reached_;
};

// The finish button pressed while the worker still makes the shortcuts and
// the entry: nothing starts until it has ended, and it takes the folder and
// the box as they were when the installation started, not as the window
// shows them later.
TEST_F(ControllerTest, FinishWaitsForTheWorkerWhichUsesTheChoicesTakenAtTheStart) {
  record_.install_type = InstallType::kDisk;
  Gate gate;
  installer::InstallSteps s;
  s.ensure_dotnet = [](const rt::Text&, installer::InstallView&) { return PrerequisiteOutcome::kContinue; };
  s.package_resource = [](bool) { return std::make_unique<rt::MemoryZipInput>(kEmptyZip); };
  s.unpack_package = [this](std::unique_ptr<rt::ZipInput>, const installer::InstallPlan&, const rt::Text&,
                            installer::PackageStepHost& host, rt::Text&) {
    host.set_progress(50);
    view_.directory = "C:\\Elsewhere";  // the window gone or changed
    view_.desktop = false;
    return outcome_;
  };
  s.make_shortcuts = [this, &gate](const installer::InstallPlan& plan) {
    gate.pass();
    view_.record(plan.desktop_shortcut ? "shortcuts with desktop" : "shortcuts");
  };
  s.register_uninstall = [this](const installer::InstallPlan&, const rt::Text&) { view_.record("uninstall entry"); };
  s.launch_file = [this](const rt::Text& path, const rt::Text&, int) {
    view_.record("launch " + path.str());
    return true;
  };
  installer::set_install_steps(s);
  open();
  installer::on_install_now();
  ASSERT_TRUE(gate.reached());
  installer::on_finish();
  installer::on_finish();
  EXPECT_THAT(view_.log(), testing::Not(testing::Contains(testing::StartsWith("launch"))));
  // A close meanwhile is not asked: the window ends with the worker.
  EXPECT_FALSE(installer::on_close_requested());
  gate.open();
  ASSERT_TRUE(wait_for_worker());
  EXPECT_TRUE(session_.completed());
  // The worker asks the window to close just after it has let its handle go.
  for (int i = 0; i < 200 && view_.log().back() != "close posted"; ++i) Sleep(25);
  auto log = view_.log();
  // The package step's progress shows in the bar and in the status text.
  EXPECT_THAT(log, testing::IsSupersetOf({"bar 50", "status 正在安装中 50%，请稍侯..."}));
  EXPECT_THAT(log, testing::Not(testing::Contains(testing::StartsWith("ask"))));
  ASSERT_GE(log.size(), 3u);
  EXPECT_THAT(std::vector<std::string>(log.end() - 3, log.end()),
              ElementsAre("shortcuts with desktop", "uninstall entry", "close posted"));
  view_.clear_log();
  // The posted close finishes: the main file in the folder of the start.
  EXPECT_FALSE(installer::on_close_requested());
  EXPECT_THAT(view_.log(), ElementsAre("launch " + dir_ + "\\target\\Foo.exe", "destroyed"));
  EXPECT_EQ(installer::setup_exit_code(), 0);
}

TEST_F(ControllerTest, CloseQuestionFitsThePageAndOnlyOkCloses) {
  const struct {
    int page;
    bool running;
    const char* question;
  } rows[] = {
      {0, false, "安装尚未开始，点击确定后取消安装，点击取消后继续安装。"},
      {1, false, "安装尚未开始，点击确定后取消安装，点击取消后继续安装。"},
      {2, true, "正在安装中，点击确定后将取消安装，点击取消后继续安装。"},
      {4, true, "正在安装中，点击确定后将取消安装，点击取消后继续安装。"},
      {2, false, "安装未完成，点击确定后退出安装程序，点击取消后返回。"},
      {4, false, "安装未完成，点击确定后退出安装程序，点击取消后返回。"},
      {3, true, "安装已完成，点击确定后退出安装程序，点击取消后返回。"},
      {3, false, "安装已完成，点击确定后退出安装程序，点击取消后返回。"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.page);
    EXPECT_EQ(installer::close_question(row.page, row.running).str(), row.question);
  }
  // With no worker: "ok" closes; "cancel" and a dismissed prompt (no answer) do not.
  open();
  view_.page = 0;
  for (const char* answer : {"cancel", "", "ok"}) {
    view_.answer = answer;
    EXPECT_EQ(installer::on_close_requested(), std::string(answer) == "ok") << answer;
  }
  EXPECT_THAT(view_.log(), testing::Each(testing::StartsWith("ask 安装尚未开始")));
  EXPECT_EQ(installer::setup_exit_code(), installer::kSetupCancelled);
}

// Closing on the installing page asks the worker to stop; the window stays
// until it has ended, and a second close meanwhile asks nothing.
TEST_F(ControllerTest, OkWhileInstallingCancelsTheWorkerAndClosesOnceItHasEnded) {
  record_.install_type = InstallType::kDisk;
  Gate gate;
  auto s = installer::default_install_steps();
  s.ensure_dotnet = [](const rt::Text&, installer::InstallView&) { return PrerequisiteOutcome::kContinue; };
  s.package_resource = [](bool) { return std::make_unique<rt::MemoryZipInput>(kEmptyZip); };
  s.unpack_package = [this, &gate](std::unique_ptr<rt::ZipInput>, const installer::InstallPlan&, const rt::Text&,
                                   installer::PackageStepHost&, rt::Text&) {
    gate.pass();
    view_.record(installer::cancel_requested() ? "unpack saw cancel" : "unpack ran on");
    PackageOutcome stopped;
    return stopped;
  };
  s.make_shortcuts = [this](const installer::InstallPlan&) { view_.record("shortcuts"); };
  s.register_uninstall = [this](const installer::InstallPlan&, const rt::Text&) { view_.record("uninstall entry"); };
  installer::set_install_steps(s);
  open();
  installer::on_install_now();
  ASSERT_TRUE(gate.reached());
  view_.answer = "cancel";
  EXPECT_FALSE(installer::on_close_requested());
  EXPECT_FALSE(installer::cancel_requested());
  view_.answer = "ok";
  EXPECT_FALSE(installer::on_close_requested());
  EXPECT_TRUE(installer::cancel_requested());
  EXPECT_FALSE(installer::on_close_requested());  // a second close: nothing asked
  gate.open();
  ASSERT_TRUE(wait_for_worker());
  for (int i = 0; i < 200 && view_.log().back() != "close posted"; ++i) Sleep(25);
  auto log = view_.log();
  EXPECT_THAT(log, testing::Contains("unpack saw cancel"));
  EXPECT_THAT(log, testing::Contains("status 正在取消安装，请稍侯..."));
  EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const std::string& l) { return l.rfind("ask", 0) == 0; }), 2);
  EXPECT_THAT(log, testing::Contains("ask 正在安装中，点击确定后将取消安装，点击取消后继续安装。 mode 0"));
  EXPECT_THAT(log, testing::Not(testing::Contains("shortcuts")));
  EXPECT_EQ(log.back(), "close posted");
  EXPECT_TRUE(installer::on_close_requested());
  EXPECT_EQ(installer::setup_exit_code(), installer::kSetupCancelled);
}

// The session without a window: a record it cannot use is a damaged
// installer (exit code 3); a usable one gets its scope's default folder; a
// second session of the same software is refused its lock (exit code 6)
// until the first has gone.
TEST(SetupSessionTest, OpensChecksLocksAndProposesTheFolderOfItsScope) {
  using installer::SetupSession;
  using installer::format::Scope;
  SetupSession damaged;
  EXPECT_EQ(damaged.open_record(std::nullopt), SetupSession::Opened::kDamaged);
  EXPECT_EQ(damaged.exit_code(), installer::kSetupDamaged);

  auto folder = [](const wchar_t* variable, const char* below) {
    wchar_t value[MAX_PATH] = {};
    GetEnvironmentVariableW(variable, value, MAX_PATH);
    return rt::cp936_from_wchar(value) + below + "\\会话 测试";
  };
  const struct {
    Scope scope;
    std::string folder;
  } rows[] = {{Scope::kUser, folder(L"LOCALAPPDATA", "\\Programs")},
              {Scope::kMachine, folder(L"ProgramFiles", "")},
              // Unscoped: the roaming data from Windows 8 on, Program Files before.
              {Scope::kDefault, installer::windows_version_code() <= 9 ? folder(L"ProgramFiles", "")
                                                                        : folder(L"APPDATA", "")}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.folder);
    installer::format::Record record;
    record.software_name = "会话 测试";
    record.install_type = InstallType::kDisk;
    record.scope = row.scope;
    SetupSession first, second;
    ASSERT_EQ(first.open_record(record), SetupSession::Opened::kReady);
    EXPECT_EQ(first.default_folder().str(), row.folder);
    EXPECT_EQ(first.exit_code(), installer::kSetupCancelled) << "nothing ran yet";
    ASSERT_TRUE(first.lock_software());
    ASSERT_EQ(second.open_record(record), SetupSession::Opened::kReady);
    EXPECT_FALSE(second.lock_software());
    EXPECT_TRUE(second.refused());
    EXPECT_EQ(second.exit_code(), installer::kSetupBusy);
  }
}

// Wine gives the folder dialog and the shell what they need without it;
// Windows needs the window thread to be an OLE apartment (a single-threaded
// one) before the folder dialog's new style or a shell call is used.
TEST(StartupTest, WindowThreadBecomesASingleThreadedApartment) {
  std::thread([] {
    installer::WindowThreadOle ole;
    ASSERT_TRUE(ole.ok());
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    HRESULT again = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    EXPECT_EQ(again, S_FALSE);
    if (SUCCEEDED(again)) CoUninitialize();
  }).join();
}

TEST(InstallerWindowTest, FolderChosenWithBrowseGetsTheSoftwaresOwnFolder) {
  const struct {
    const char* chosen;
    const char* name;
    const char* folder;
  } rows[] = {
      {"C:\\Users\\me\\Documents", "Foo", "C:\\Users\\me\\Documents\\Foo"},
      {"D:\\", "Foo", "D:\\Foo"},
      {"D:\\Apps\\Foo", "Foo", "D:\\Apps\\Foo"},
      {"D:\\Apps\\foo\\", "Foo", "D:\\Apps\\foo"},
      {"D:\\Apps\\FooBar", "Foo", "D:\\Apps\\FooBar\\Foo"},
      {"D:\\程序\\测试软件", "测试软件", "D:\\程序\\测试软件"},
      // "乗" ends in the byte 0x5C: not a separator.
      {"D:\\乗", "软件", "D:\\乗\\软件"},
      {"D:\\软件乗", "乗", "D:\\软件乗\\乗"},
      {"D:\\Apps", "", "D:\\Apps"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.chosen);
    EXPECT_EQ(installer::install_folder_in(row.chosen, row.name).str(), row.folder);
  }
}

}  // namespace
