// Installers that download: the package from the test servers on 127.0.0.1
// (a slow one, failing ones) and the .NET Framework offline installer; and
// an installation cancelled mid-download and mid-unpacking.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "installer/format/sha256.h"
#include "installer/steps/dotnet.h"
#include "installer/steps/download.h"
#include "installer/steps/host.h"
#include "installer/setup/command_line.h"
#include "runtime/value/codepage.h"
#include "tests/e2e/support/installer_fixture.h"
#include "tests/support/dotnet_url.h"
#include "tests/support/http_servers.h"
#include "tests/support/paths.h"
#include "tests/support/zip_writer.h"

namespace {

using e2e::Installer;
using testsupport::ZipEntrySpec;

using e2e::kNetworkMessage;

// A "net" record always carries the package's digest (without it the
// installer is damaged): `package` is what the address serves.
e2e::Config net_config(const std::string& name, const std::string& url, const std::string& package,
                       const std::string& framework = "") {
  return {{"softname", name},     {"softversion", "2.0"},  {"urlremote", url},
          {"urlfull", url},       {"framework", framework}, {"mainfile", "App.exe"},
          {"installtype", "net"}, {"companyname", "Net"},   {"companyurl", ""},
          {"protocol", ""},       {"sha256", installer::sha256_hex(package)}};
}

// A package of about `filler` bytes that do not compress.
std::string package_of(std::size_t filler) {
  std::vector<ZipEntrySpec> entries;
  entries.push_back({.name = "{app}/App.exe", .data = "MZ not really a program"});
  entries.push_back({.name = "{app}/payload.bin", .data = testsupport::pattern_bytes(0, filler)});
  return testsupport::make_zip(entries);
}

// A copy of setup.exe whose download waits as `patience` says (the shipped
// text is asserted in download_test.cpp): runs of seconds, not minutes.
std::string impatient_setup(const std::string& dir, const installer::DownloadPatience& patience) {
  std::string program = e2e::read_all(e2e::setup_exe());
  // The program as built carries the shipped patience (30 s, a minute of pauses).
  std::size_t at = program.find(std::string(installer::kPatienceMarker, 16));
  installer::DownloadPatience carried;
  if (at != std::string::npos && program.size() - at >= 16 + sizeof carried)
    std::memcpy(&carried, program.data() + at + 16, sizeof carried);
  EXPECT_EQ(carried.stall_ms, installer::shipped_download_patience().stall_ms);
  EXPECT_EQ(carried.pauses, 5u);
  EXPECT_TRUE(testsupport::set_download_patience(program, patience));
  std::string base = dir + "\\impatient.exe";
  EXPECT_TRUE(e2e::write_all(base, program));
  return base;
}

class InstallerNetTest : public testing::Test {
 protected:
  void SetUp() override {
    auto found = testsupport::http_servers();
    ASSERT_TRUE(found.has_value()) << "the http_servers fixture is not running";
    servers_ = *found;
    dir_ = testsupport::scratch_dir("e2e-net");
  }
  // Puts a file into nginx's web root; returns its path part.
  std::string publish(const std::string& name, const std::string& bytes) {
    EXPECT_TRUE(e2e::write_all(servers_.nginx_root + "\\" + name, bytes));
    return "/" + name;
  }
  testsupport::HttpServers servers_;
  std::string dir_;
};

TEST_F(InstallerNetTest, SlowDownloadMovesTheProgressThenInstalls) {
  // About six seconds at the slow location's 64 KB/s.
  std::string package = package_of(400 * 1024);
  std::string url = servers_.nginx_url("/slow" + publish("slow-" + std::to_string(GetCurrentProcessId()) + ".zip", package));
  std::string exe = e2e::make_installer(dir_, e2e::config_json(net_config("网络安装", url, package)), nullptr);
  Installer setup(exe);
  ASSERT_TRUE(setup.ok());
  std::string target = setup.text("安装目录");
  setup.click("立即安装");
  ASSERT_TRUE(setup.wait_page(2, 10000));
  // Closing mid-download asks whether to cancel; 取消 carries on.
  PostMessageW(setup.window(), WM_CLOSE, 0, 0);
  HWND prompt = setup.prompt(10000);
  ASSERT_NE(prompt, nullptr);
  EXPECT_EQ(e2e::window_text(e2e::wait_unit(prompt, "信息标签", 5000)),
            "正在安装中，点击确定后将取消安装，点击取消后继续安装。");
  setup.answer_prompt(false);

  std::set<int> positions;
  std::set<std::string> statuses;
  bool shot = false;
  e2e::wait_until(
      [&] {
        positions.insert(setup.progress("进度条"));
        statuses.insert(setup.text("更新状态"));
        if (!shot && positions.size() > 2) shot = setup.shot("page2-installing.png");
        return setup.page() == 3;
      },
      60000);
  ASSERT_EQ(setup.page(), 3);
  // Several distinct figures in between: the display followed the download.
  int in_between = 0;
  for (int p : positions) in_between += (p > 0 && p < 100);
  EXPECT_GE(in_between, 2) << "progress bar did not move during the download";
  EXPECT_GE(statuses.size(), 3u);
  EXPECT_TRUE(statuses.count("正在安装中 0%，请稍侯...") || statuses.size() > 3);
  EXPECT_EQ(e2e::read_all(target + "\\payload.bin"), testsupport::pattern_bytes(0, 400 * 1024));
  EXPECT_FALSE(e2e::path_exists(dir_ + "\\app.zip"));
  // On the finish page the question does not say that nothing has started.
  PostMessageW(setup.window(), WM_CLOSE, 0, 0);
  prompt = setup.prompt(10000);
  ASSERT_NE(prompt, nullptr);
  EXPECT_EQ(e2e::window_text(e2e::wait_unit(prompt, "信息标签", 5000)),
            "安装已完成，点击确定后退出安装程序，点击取消后返回。");
  setup.answer_prompt(true);
  DWORD code = 99;
  EXPECT_TRUE(setup.wait_exit(30000, &code));
  EXPECT_EQ(code, 0u) << "the installation completed";
}

std::string special(int csidl) {
  wchar_t buf[MAX_PATH] = {};
  SHGetSpecialFolderPathW(nullptr, buf, csidl, FALSE);
  return rt::cp936_from_wchar(buf);
}

// The run folders (setup-*) in a temporary folder.
int run_folders(const std::string& temp) {
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(rt::wide_path(temp + "\\setup-*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return 0;
  int count = 0;
  do ++count;
  while (FindNextFileW(find, &found));
  FindClose(find);
  return count;
}

// Points TMP and TEMP at a folder while it lives.
class TempFolder {
 public:
  explicit TempFolder(const std::string& folder) {
    for (int i = 0; i < 2; ++i) {
      wchar_t buf[MAX_PATH] = {};
      GetEnvironmentVariableW(kNames[i], buf, MAX_PATH);
      saved_[i] = buf;
      SetEnvironmentVariableW(kNames[i], rt::wide_path(folder).c_str());
    }
  }
  ~TempFolder() {
    for (int i = 0; i < 2; ++i) SetEnvironmentVariableW(kNames[i], saved_[i].empty() ? nullptr : saved_[i].c_str());
  }

 private:
  static constexpr const wchar_t* kNames[2] = {L"TMP", L"TEMP"};
  std::wstring saved_[2];
};

// Closing on the installing page and answering 确定, once while the package
// downloads slowly and once while a "disk" package of thousands of files
// unpacks: setup.exe ends with 1 and the machine is as it was. The new
// folders (two levels below a folder of the person's) are gone with all the
// run wrote; the person's folder and file stay; no run folder in the
// temporary folder, no shortcut, no uninstall entry.
TEST_F(InstallerNetTest, CancellingMidDownloadOrMidUnpackingLeavesTheMachineAsItWas) {
  // 2 MB at the slow location's 64 KB/s: half a minute, stopped in its first seconds.
  const std::string slow_package = package_of(2 * 1024 * 1024);
  std::string slow_url = servers_.nginx_url(
      "/slow" + publish("cancel-" + std::to_string(GetCurrentProcessId()) + ".zip", slow_package));
  std::vector<ZipEntrySpec> many;
  many.push_back({.name = "{app}/App.exe", .data = "MZ not really a program"});
  for (int i = 0; i < 4000; ++i)
    many.push_back({.name = "{app}/d" + std::to_string(i / 400) + "/f" + std::to_string(i) + ".txt",
                    .data = testsupport::pattern_bytes(i, 200), .deflate = true});
  const std::string big_package = testsupport::make_zip(many);
  struct Road {
    const char* name;  // the software's name
    bool net;
  };
  for (const Road road : {Road{"取消下载", true}, Road{"取消解压", false}}) {
    SCOPED_TRACE(road.name);
    const std::string name = road.name;
    const std::string base = dir_ + "\\" + name;
    const std::string mine = base + "\\我的文件夹", temp = base + "\\temp";
    const std::string target = mine + "\\新建\\" + name;
    ASSERT_TRUE(CreateDirectoryW(rt::wide_path(base).c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    CreateDirectoryW(rt::wide_path(mine).c_str(), nullptr);
    CreateDirectoryW(rt::wide_path(temp).c_str(), nullptr);
    ASSERT_TRUE(e2e::write_all(mine + "\\keep.txt", "the person's own"));
    ASSERT_FALSE(e2e::path_exists(mine + "\\新建"));
    // Nothing of an earlier run of this test in the prefix.
    const std::string links[] = {special(CSIDL_DESKTOPDIRECTORY) + "\\" + name + ".lnk",
                                 special(CSIDL_PROGRAMS) + "\\" + name + ".lnk"};
    for (const std::string& link : links) DeleteFileW(rt::wide_path(link).c_str());
    const std::wstring entry =
        rt::wide_path("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarnel" + name);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, entry.c_str());

    e2e::Config config = net_config(name, road.net ? slow_url : "", road.net ? slow_package : big_package);
    if (!road.net) config[6].second = "disk";
    std::string exe = e2e::make_installer(base, e2e::config_json(config), road.net ? nullptr : &big_package);
    ASSERT_FALSE(exe.empty());
    // A temporary folder of this road alone, inherited by setup.exe; the
    // run's own working folder lies where only administrators can write.
    TempFolder own_temp(temp);
    const std::string working = special(CSIDL_WINDOWS) + "\\Temp";
    const int before = run_folders(working);
    Installer setup(exe);
    ASSERT_TRUE(setup.ok());
    setup.press("自定义安装");
    ASSERT_TRUE(setup.wait_page(1, 10000));
    setup.release("自定义安装");
    setup.set_text("安装目录", target);
    ASSERT_TRUE(setup.checked("快捷方式"));  // the desktop shortcut would be made
    setup.click("立即安装2");
    ASSERT_TRUE(setup.wait_page(2, 10000));
    // Under way: bytes arriving into the run's folder, or files unpacked.
    bool under_way = e2e::wait_until(
        [&] {
          return road.net ? setup.progress("进度条") > 0 && run_folders(working) == before + 1
                          : e2e::path_exists(target + "\\d0\\f10.txt");
        },
        30000);
    ASSERT_TRUE(under_way);
    ASSERT_TRUE(e2e::path_exists(target));
    PostMessageW(setup.window(), WM_CLOSE, 0, 0);
    EXPECT_EQ(e2e::answer_prompt(setup.process(), true, "", 10000),
              "正在安装中，点击确定后将取消安装，点击取消后继续安装。");
    DWORD code = 99;
    EXPECT_TRUE(setup.wait_exit(60000, &code));
    EXPECT_EQ(code, DWORD(installer::kSetupCancelled)) << "a cancelled installation did not complete";

    if (!road.net) {
      EXPECT_FALSE(e2e::path_exists(target + "\\d9\\f3999.txt")) << "unpacking was not cut short";
    }
    EXPECT_FALSE(e2e::path_exists(mine + "\\新建")) << "the run's folders were left";
    EXPECT_EQ(e2e::read_all(mine + "\\keep.txt"), "the person's own");
    EXPECT_EQ(run_folders(temp), 0);
    EXPECT_EQ(run_folders(working), before);
    for (const std::string& link : links) EXPECT_FALSE(e2e::path_exists(link)) << link;
    HKEY key;
    EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, entry.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
  }
}

TEST_F(InstallerNetTest, EveryKindOfFailedDownloadShowsTheMessageAndTheFailurePage) {
  const std::string urls[] = {
      "http://127.0.0.1:" + std::to_string(servers_.refused_port) + "/app.zip",  // refused
      servers_.fault_url("/status/404?size=5000"),                              // error page
      servers_.fault_url("/cut?chunks=3&chunk=10240&mode=rst"),                 // cut
  };
  int index = 0;
  for (const std::string& url : urls) {
    SCOPED_TRACE(url);
    std::string number = std::to_string(index++);
    std::string exe = e2e::make_installer(dir_, e2e::config_json(net_config("失败" + number, url, "")), nullptr,
                                          "setup" + number + ".exe", nullptr, "Tarnel",
                                          impatient_setup(dir_, {2000, {100, 200}, 2}));
    Installer setup(exe);
    ASSERT_TRUE(setup.ok());
    setup.click("立即安装");
    EXPECT_EQ(setup.answer_message_box(60000), kNetworkMessage);
    EXPECT_TRUE(setup.wait_page(4, 20000));
    EXPECT_EQ(setup.text("离线网址"), "下载离线安装包");
    if (index == 1) {
      // The reinstall button starts a whole new sequence.
      setup.click("重新安装");
      EXPECT_EQ(setup.answer_message_box(60000), kNetworkMessage);
      EXPECT_TRUE(setup.wait_page(4, 20000));
    }
    setup.process().kill();
  }
}

// A drop at half with no pause left: the network message; "重新安装"
// continues the bytes kept (a Range bound by If-Range) and installs. Then,
// with the shipped patience, a stall mid-body (the server would keep silent
// for 20 s) ended by closing and 确定: setup.exe ends at once.
TEST_F(InstallerNetTest, ReinstallContinuesTheKeptBytesAndACancelDuringAStallEndsAtOnce) {
  const std::string package = package_of(300 * 1024);
  const std::string tag = std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
  const std::string file = "flaky-" + tag + ".zip";
  publish(file, package);
  const std::string url = servers_.fault_url("/flaky/app.zip?file=" + file + "&cuts=50&key=kept-" + tag);
  std::string exe = e2e::make_installer(dir_, e2e::config_json(net_config("续传", url, package)), nullptr,
                                        "resume.exe", nullptr, "Tarnel", impatient_setup(dir_, {2000, {}, 0}));
  {
    Installer setup(exe);
    ASSERT_TRUE(setup.ok());
    const std::string target = dir_ + "\\续传目标";
    setup.set_text("安装目录", target);
    setup.click("立即安装");
    EXPECT_EQ(setup.answer_message_box(30000), kNetworkMessage);
    ASSERT_TRUE(setup.wait_page(4, 20000));
    setup.click("重新安装");
    ASSERT_TRUE(setup.wait_page(3, 30000));
    EXPECT_EQ(e2e::read_all(target + "\\payload.bin"), testsupport::pattern_bytes(0, 300 * 1024));
    setup.process().kill();
  }
  ASSERT_EQ(installer::download_file(rt::Text(servers_.fault_url("/flaky-log?key=kept-" + tag)),
                                     rt::Text(dir_ + "\\kept.log"), nullptr, 0, false),
            0);
  const std::string log = e2e::read_all(dir_ + "\\kept.log");
  const std::size_t second = log.find("\r\n\r\n");
  ASSERT_NE(second, std::string::npos) << log;
  EXPECT_EQ(log.find("\r\n\r\n", second + 4), std::string::npos) << "more than two requests:\n" << log;
  EXPECT_NE(log.find("If-Range: \"v1\"", second), std::string::npos) << log;
  EXPECT_EQ(log.find("Range: bytes=0-"), std::string::npos) << log;

  const std::string stalled = servers_.fault_url("/flaky/app.zip?file=" + file + "&cuts=30&fault=stall&key=stall-" + tag);
  exe = e2e::make_installer(dir_, e2e::config_json(net_config("停滞", stalled, package)), nullptr, "stall.exe");
  Installer setup(exe);
  ASSERT_TRUE(setup.ok());
  setup.set_text("安装目录", dir_ + "\\停滞目标");
  setup.click("立即安装");
  ASSERT_TRUE(e2e::wait_until([&] { return setup.progress("进度条") >= 29; }, 30000));
  PostMessageW(setup.window(), WM_CLOSE, 0, 0);
  EXPECT_EQ(e2e::answer_prompt(setup.process(), true, "", 10000),
            "正在安装中，点击确定后将取消安装，点击取消后继续安装。");
  DWORD code = 99;
  EXPECT_TRUE(setup.wait_exit(10000, &code)) << "the cancel waited for the silent server";
  EXPECT_EQ(code, DWORD(installer::kSetupCancelled));
}

// The publisher's digest of a "net" package is taken of the bytes as they
// are written into the run's file: the published package installs, any
// other is refused before anything is unpacked.
TEST_F(InstallerNetTest, OnlyThePublishedPackageIsUnpacked) {
  const std::string package = package_of(300 * 1024);
  const std::string url =
      servers_.nginx_url(publish("digest-" + std::to_string(GetCurrentProcessId()) + ".zip", package));
  const struct {
    std::string digest;
    int page;
  } cases[] = {{installer::sha256_hex(package), 3}, {installer::sha256_hex(package + "x"), 4}};
  int index = 0;
  for (const auto& c : cases) {
    std::string number = std::to_string(index++);
    SCOPED_TRACE(number);
    e2e::Config config = net_config("摘要" + number, url, "");
    config.back().second = c.digest;
    std::string exe = e2e::make_installer(dir_, e2e::config_json(config), nullptr, "digest" + number + ".exe");
    Installer setup(exe);
    ASSERT_TRUE(setup.ok());
    std::string target = dir_ + "\\摘要目标" + number;
    setup.set_text("安装目录", target);
    setup.click("立即安装");
    if (c.page == 4) {
      EXPECT_EQ(setup.answer_message_box(60000), installer::kDamagedPackageMessage);
    }
    EXPECT_TRUE(setup.wait_page(c.page, 60000));
    EXPECT_EQ(e2e::path_exists(target + "\\payload.bin"), c.page == 3);
    setup.process().kill();
  }
}

// A copy of setup.exe pointed at the test servers and the test root
// (tests/support/dotnet_url.h): a genuine stand-in is started, waited for,
// and its "restart needed" told on the finish page; a stand-in with a byte
// changed after signing is never started, the person is told, page 4.
TEST_F(InstallerNetTest, MissingFrameworkIsDownloadedProvenAndStartedOrRefused) {
  ASSERT_TRUE(testsupport::trust_certificate("root.pem", true));
  struct Row {
    const char* stand_in;
    const char* exit_code;
    int page;
  } rows[] = {{"genuine.exe", "3010", 3}, {"tampered.exe", "0", 4}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.stand_in);
    // No .NET Framework 4 in the prefix: the v4 "Full" key and the v3.5 key removed.
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full");
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\NET Framework Setup\\NDP\\v3.5");

    std::string folder = "ndp-" + std::string(r.stand_in) + "-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryW(rt::wide_path(servers_.nginx_root + "\\" + folder).c_str(), nullptr);
    installer::format::DotnetPins pins;
    pins.url48 = servers_.nginx_url(publish(folder + "/NDP48-x86-x64-AllOS-ENU.exe",
                                            e2e::read_all(testsupport::stand_in(r.stand_in))));
    pins.roots = {testsupport::stand_in_thumbprint("root")};
    pins.signer = "Microsoft Corporation";
    std::string program = e2e::read_all(e2e::setup_exe());
    ASSERT_TRUE(testsupport::point_dotnet_pins_at(program, pins));
    std::string base = dir_ + "\\base.exe";
    ASSERT_TRUE(e2e::write_all(base, program));

    const std::string ndp_package = package_of(1000);
    std::string package_url = servers_.nginx_url(publish("pkg-ndp.zip", ndp_package));
    std::string exe = e2e::make_installer(dir_, e2e::config_json(net_config("框架测试", package_url, ndp_package, "4.8")), nullptr,
                                          "setup.exe", nullptr, "Tarnel", base);
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    std::string downloaded = rt::cp936_from_wchar(temp) + "NDP48-x86-x64-AllOS-ENU.exe";
    DeleteFileA((downloaded + ".ran").c_str());
    SetEnvironmentVariableW(L"TARNEL_NDP_EXIT", rt::wide_path(r.exit_code).c_str());

    Installer setup(exe);
    ASSERT_TRUE(setup.ok());
    setup.click("立即安装");
    if (r.page == 4) {
      EXPECT_EQ(e2e::unbroken(setup.answer_message_box(60000)), installer::kDotnetUnverifiedMessage);
      EXPECT_TRUE(setup.wait_page(4, 60000));
      EXPECT_FALSE(e2e::path_exists(downloaded + ".ran")) << "an unproven framework installer was started";
    } else {
      EXPECT_TRUE(setup.wait_page(3, 60000));
      // Proven, started from a folder of the run and waited for (its mark
      // lies in the temporary folder); the downloaded file went with its folder.
      EXPECT_TRUE(e2e::path_exists(downloaded + ".ran")) << "the downloaded framework installer was not started";
      std::string note = installer::dotnet_restart_note("框架测试").str();
      EXPECT_TRUE(e2e::wait_until([&] { return setup.text("完成提示") == note; }, 10000)) << setup.text("完成提示");
      setup.shot("page3-restart.png");
    }
    EXPECT_FALSE(e2e::path_exists(downloaded));
    setup.process().kill();
  }
  SetEnvironmentVariableW(L"TARNEL_NDP_EXIT", nullptr);
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full");
  testsupport::trust_certificate("root.pem", false);
}

}  // namespace
