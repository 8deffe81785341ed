// The prerequisite step against the prefix's registry, the test servers and
// a stand-in for the framework's installer that marks that it was started.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "installer/format/sha256.h"
#include "installer/steps/dotnet.h"
#include "runtime/value/codepage.h"
#include "installer/platform/launch.h"
#include "installer/steps/progress.h"
#include "tests/support/dotnet_url.h"
#include "tests/support/http_servers.h"
#include "tests/support/paths.h"

namespace {

namespace fs = std::filesystem;
using installer::PrerequisiteOutcome;

const wchar_t kV4Full[] = L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full";
const wchar_t kV35[] = L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v3.5";
const wchar_t kSetupRoot[] = L"SOFTWARE\\Microsoft\\NET Framework Setup";
const char kInstallerName[] = "NDP48-x86-x64-AllOS-ENU.exe";

class FakeView : public installer::InstallView {
 public:
  void set_progress_timer(int period_ms) override { calls.push_back("timer " + std::to_string(period_ms)); }
  void set_progress_bar(int position) override { calls.push_back("bar " + std::to_string(position)); }
  void set_status(const rt::Text&) override {}
  void show_network_message() override { calls.push_back("message"); }
  void show_failure_message(const rt::Text& text) override { calls.push_back("message " + text.str()); }
  void show_page(int page) override { calls.push_back("page " + std::to_string(page)); }
  std::vector<std::string> calls;
};

bool key_exists(const wchar_t* path) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

void make_key(const wchar_t* path, const DWORD* release = nullptr) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  if (release) RegSetValueExW(key, L"Release", 0, REG_DWORD, reinterpret_cast<const BYTE*>(release), sizeof *release);
  RegCloseKey(key);
}

class DotnetTest : public testing::Test {
 protected:
  void SetUp() override {
    // The prefix has no framework; a machine that has one is not ours to change.
    if (key_exists(kSetupRoot)) GTEST_SKIP() << "the prefix has .NET Framework setup keys of its own";
    clear_framework();
    temp_file = installer::temp_directory().str() + kInstallerName;
    std::error_code ec;
    fs::remove(temp_file, ec);
    fs::remove(temp_file + ".ran", ec);
  }
  void TearDown() override {
    clear_framework();
    std::error_code ec;
    // The stand-in may still be running for a moment after leaving its mark.
    for (int i = 0; i < 100 && fs::exists(temp_file) && !fs::remove(temp_file, ec); ++i) Sleep(100);
    fs::remove(temp_file + ".ran", ec);
  }
  void clear_framework() {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSetupRoot);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kSetupRoot);
  }

  // The stand-in installer published by nginx under a folder of this test.
  std::string publish(const std::string& folder, const std::string* contents = nullptr) {
    auto servers = testsupport::http_servers();
    if (!servers) return "";
    std::string dir = servers->nginx_root + "\\" + folder;
    fs::create_directories(dir);
    std::string target = dir + "\\" + kInstallerName;
    std::error_code ec;
    fs::remove(target, ec);  // MinGW's copy_file does not overwrite
    if (contents)
      testsupport::write_file(target, *contents);
    else
      fs::copy_file(testsupport::native_path(NDP_STUB_PATH), target);
    return servers->nginx_url("/" + folder + "/" + kInstallerName);
  }

  bool stand_in_started() {
    for (int i = 0; i < 600; ++i) {
      if (fs::exists(temp_file + ".ran")) return true;
      Sleep(50);
    }
    return false;
  }

  std::string temp_file;
  FakeView view;
};

TEST_F(DotnetTest, DetectsTheVersionFromTheRegistry) {
  EXPECT_EQ(installer::detect_dotnet_version(), 0.0f);
  make_key(kV35);
  EXPECT_EQ(installer::detect_dotnet_version(), 3.5f);
  make_key(kV4Full);  // no Release value
  EXPECT_EQ(installer::detect_dotnet_version(), 4.0f);
  DWORD release = 528040;
  make_key(kV4Full, &release);
  EXPECT_EQ(installer::detect_dotnet_version(), 4.8f);
  release = 528039;
  make_key(kV4Full, &release);
  EXPECT_EQ(installer::detect_dotnet_version(), 4.72f);
}

TEST_F(DotnetTest, PresentFrameworkOrNoRequirementDownloadsNothing) {
  const char* unreachable = "http://127.0.0.1:1/never-asked.exe";
  EXPECT_EQ(installer::ensure_dotnet("", view, unreachable), PrerequisiteOutcome::kContinue);
  DWORD release = 528040;
  make_key(kV4Full, &release);
  EXPECT_EQ(installer::ensure_dotnet("4.8", view, unreachable), PrerequisiteOutcome::kContinue);
  make_key(kV4Full);  // 4.0
  EXPECT_EQ(installer::ensure_dotnet("4.0", view, unreachable), PrerequisiteOutcome::kContinue);
  EXPECT_TRUE(view.calls.empty());
  EXPECT_FALSE(fs::exists(temp_file));
}

// Downloaded into a folder of its own, checked against the built-in digest,
// started from there (never the installer's folder) and waited for; the
// framework is then looked for again.
TEST_F(DotnetTest, MissingFrameworkIsDownloadedCheckedStartedAndWaitedFor) {
  DWORD release = 528039;  // 4.72
  make_key(kV4Full, &release);
  std::string url = publish("dotnet-" + std::to_string(GetCurrentProcessId()));
  ASSERT_FALSE(url.empty());
  std::string digest = installer::sha256_hex(testsupport::read_file(testsupport::native_path(NDP_STUB_PATH)));
  EXPECT_EQ(installer::ensure_dotnet("4.8", view, rt::Text(url), rt::Text(digest)), PrerequisiteOutcome::kContinue);
  EXPECT_EQ(view.calls, (std::vector<std::string>{"timer 1000", "bar 0", "timer 0"}));
  // Waited for: its mark is there as soon as the step returns.
  ASSERT_TRUE(fs::exists(temp_file + ".ran"));
  std::string mark = testsupport::read_file(temp_file + ".ran");
  std::u16string text(reinterpret_cast<const char16_t*>(mark.data()), mark.size() / 2);
  std::string folder = rt::cp936_from_wide(text.substr(text.find(u'\n') + 1));
  EXPECT_EQ(folder.rfind(installer::temp_directory().str() + "setup-", 0), 0u) << folder;
  EXPECT_FALSE(fs::exists(fs::path(rt::wide_path(folder))));  // the run's folder is gone again
  EXPECT_EQ(installer::download_progress().snapshot().percent, 100);
  EXPECT_EQ(installer::detect_dotnet_version(), 4.8f);

  // Still missing after its installer ended (4.81 is asked for): a message of its own.
  fs::remove(temp_file + ".ran");
  view.calls.clear();
  EXPECT_EQ(installer::ensure_dotnet("4.81", view, rt::Text(url), rt::Text(digest)),
            PrerequisiteOutcome::kStopAfterMessage);
  EXPECT_EQ(view.calls.back(), "page 4");
  EXPECT_EQ(view.calls[view.calls.size() - 2], std::string("message ") + installer::kDotnetMissingMessage);
}

TEST_F(DotnetTest, AnInstallerThatIsNotTheOneBuiltInIsNeverStarted) {
  std::string url = publish("dotnet-other-" + std::to_string(GetCurrentProcessId()));
  ASSERT_FALSE(url.empty());
  for (const char* digest : {"", "0000000000000000000000000000000000000000000000000000000000000000"}) {
    view.calls.clear();
    EXPECT_EQ(installer::ensure_dotnet("4.5", view, rt::Text(url), rt::Text(digest)),
              PrerequisiteOutcome::kStopAfterMessage);
    EXPECT_EQ(view.calls, (std::vector<std::string>{"timer 1000", "bar 0", "timer 0",
                                                    std::string("message ") + installer::kDamagedPackageMessage,
                                                    "page 4"}));
  }
  EXPECT_FALSE(fs::exists(temp_file + ".ran"));
}

TEST_F(DotnetTest, FailedOrTooShortDownloadShowsTheMessageAndTheErrorPage) {
  auto servers = testsupport::http_servers();
  ASSERT_TRUE(servers);
  std::string small(600, 'x');
  std::string folder = "dotnet-small-" + std::to_string(GetCurrentProcessId());
  std::vector<std::string> urls = {
      publish(folder, &small),                                                          // 600 bytes
      servers->fault_url("/status/404/" + std::string(kInstallerName) + "?size=5000"),  // an error page
      "http://127.0.0.1:" + std::to_string(servers->refused_port) + "/" + kInstallerName,
      servers->fault_url("/cut/" + std::string(kInstallerName) + "?chunks=3&chunk=10240&mode=rst"),
  };
  // An earlier download's figures must not make an empty one pass.
  installer::on_download_progress(5000000, 5000000, 1000);
  urls.push_back(servers->fault_url("/empty/" + std::string(kInstallerName)));
  for (const std::string& url : urls) {
    SCOPED_TRACE(url);
    view.calls.clear();
    EXPECT_EQ(installer::ensure_dotnet("4.5", view, rt::Text(url)), PrerequisiteOutcome::kStopAfterMessage);
    // The timer keeps running behind the failure page.
    EXPECT_EQ(view.calls, (std::vector<std::string>{"timer 1000", "bar 0", "message", "page 4"}));
  }
  EXPECT_FALSE(fs::exists(temp_file + ".ran"));
}

// End-to-end tests point a copy of setup.exe at the test servers this way; a
// program carries the address once, as the prerequisite step reads it.
TEST(DotnetUrlTest, ProgramCopyCanBePointedAtALoopbackAddress) {
  wchar_t self[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
  std::string program = testsupport::read_file(fs::path(self).string());
  ASSERT_FALSE(program.empty());
  std::string url = "http://127.0.0.1:8080/dotnet/NDP48-x86-x64-AllOS-ENU.exe";
  std::string patched = program;
  ASSERT_TRUE(testsupport::point_dotnet_url_at(patched, url));
  EXPECT_EQ(patched.size(), program.size());
  EXPECT_NE(patched.find(url + '\0'), std::string::npos);
  EXPECT_EQ(patched.find(testsupport::built_dotnet_url()), std::string::npos);
  EXPECT_FALSE(testsupport::point_dotnet_url_at(patched, url));  // no longer there
  EXPECT_FALSE(testsupport::point_dotnet_url_at(program, testsupport::built_dotnet_url() + "/longer"));
}

}  // namespace
