// The prerequisite step against the prefix's registry, the test servers and
// stand-ins for the framework's installer that mark that they were started:
// signed under a test root the prefix trusts while the tests run
// (tests/servers/sign_stand_ins.sh), and not. What Wine's WinVerifyTrust
// does with them: it checks the signature and the file's digest in it
// (unsigned: TRUST_E_NOSIGNATURE; a byte changed: TRUST_E_BAD_DIGEST), but it
// passes a chain that ends in no trusted root (the self-made certificate
// alone verifies); the step therefore reads the chain's own error bits, its
// root's thumbprint and the signer's name itself, which is what these tests
// show. Revocation cannot be shown: Wine has no revocation cache to consult.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "installer/format/sha256.h"
#include "installer/steps/dotnet.h"
#include "runtime/value/codepage.h"
#include "installer/platform/launch.h"
#include "installer/platform/paths.h"
#include "installer/steps/progress.h"
#include "installer/format/dotnet_pins.h"
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
const char k481Name[] = "ndp481-x86-x64-allos-enu.exe";
const installer::WindowsRelease kWindows10 = {10, 0, 19045, 0};

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
  // The test root and the self-made certificate are roots of the prefix
  // while the tests run: only the pins tell them from Microsoft's.
  static void SetUpTestSuite() {
    ASSERT_TRUE(testsupport::trust_certificate("root.pem", true));
    ASSERT_TRUE(testsupport::trust_certificate("self.pem", true));
  }
  static void TearDownTestSuite() {
    testsupport::trust_certificate("root.pem", false);
    testsupport::trust_certificate("self.pem", false);
  }
  void SetUp() override {
    // The prefix has no framework; a machine that has one is not ours to change.
    if (key_exists(kSetupRoot)) GTEST_SKIP() << "the prefix has .NET Framework setup keys of its own";
    clear_framework();
    temp = installer::temp_directory().str();
    for (const char* name : {kInstallerName, k481Name}) {
      std::error_code ec;
      fs::remove(temp + name, ec);
      fs::remove(temp + name + ".ran", ec);
    }
    SetEnvironmentVariableW(L"TARNEL_NDP_EXIT", nullptr);
  }
  void TearDown() override {
    clear_framework();
    SetEnvironmentVariableW(L"TARNEL_NDP_EXIT", nullptr);
    for (const char* name : {kInstallerName, k481Name}) {
      std::error_code ec;
      // The stand-in may still be running for a moment after leaving its mark.
      for (int i = 0; i < 100 && fs::exists(temp + name) && !fs::remove(temp + name, ec); ++i) Sleep(100);
      fs::remove(temp + name + ".ran", ec);
    }
  }
  void clear_framework() {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSetupRoot);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kSetupRoot);
  }

  // A file published by nginx under `name` in a folder of this test; its address.
  std::string publish(const std::string& folder, const std::string& bytes, const std::string& name = kInstallerName) {
    auto servers = testsupport::http_servers();
    if (!servers) return "";
    std::string dir = servers->nginx_root + "\\" + folder;
    fs::create_directories(dir);
    EXPECT_TRUE(testsupport::write_file(dir + "\\" + name, bytes));
    return servers->nginx_url("/" + folder + "/" + name);
  }
  std::string folder(const std::string& what) { return "dotnet-" + what + "-" + std::to_string(GetCurrentProcessId()); }

  // Pins as the shipped ones but for the test root: only a stand-in signed
  // under it as "Microsoft Corporation" is proven by its signature.
  installer::format::DotnetPins test_pins(const std::string& url48, const std::string& url481 = "") {
    installer::format::DotnetPins pins;
    pins.url48 = url48;
    pins.url481 = url481;
    pins.roots = {testsupport::stand_in_thumbprint("root")};
    pins.signer = "Microsoft Corporation";
    return pins;
  }

  bool ran(const char* name = kInstallerName) { return fs::exists(temp + name + ".ran"); }

  std::string temp;
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
  installer::format::DotnetPins pins = test_pins("http://127.0.0.1:1/never-asked.exe");
  EXPECT_EQ(installer::ensure_dotnet("", view, pins, kWindows10), PrerequisiteOutcome::kContinue);
  DWORD release = 528040;
  make_key(kV4Full, &release);
  EXPECT_EQ(installer::ensure_dotnet("4.8", view, pins, kWindows10), PrerequisiteOutcome::kContinue);
  make_key(kV4Full);  // 4.0
  EXPECT_EQ(installer::ensure_dotnet("4.0", view, pins, kWindows10), PrerequisiteOutcome::kContinue);
  EXPECT_TRUE(view.calls.empty());
  EXPECT_FALSE(fs::exists(temp + kInstallerName));
}

// Downloaded into a folder of its own, proven by its signature under the
// pinned root, started from there (never the installer's folder), waited
// for, and its exit code read.
TEST_F(DotnetTest, AGenuineInstallerIsStartedAndItsExitCodeRead) {
  std::string url = publish(folder("genuine"), testsupport::read_file(testsupport::stand_in("genuine.exe")));
  ASSERT_FALSE(url.empty());
  struct Row {
    const char* code;
    PrerequisiteOutcome outcome;
    std::string message;  // empty: none
  } rows[] = {
      {"0", PrerequisiteOutcome::kContinue, ""},
      {"3010", PrerequisiteOutcome::kContinueRestartNeeded, ""},
      {"1641", PrerequisiteOutcome::kContinueRestartNeeded, ""},
      {"1602", PrerequisiteOutcome::kStopAfterMessage, installer::dotnet_exit_message(1602).str()},
      {"5100", PrerequisiteOutcome::kStopAfterMessage, installer::dotnet_exit_message(5100).str()},
      {"1", PrerequisiteOutcome::kStopAfterMessage, installer::dotnet_exit_message(1).str()},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.code);
    clear_framework();
    DWORD release = 528039;  // 4.72
    make_key(kV4Full, &release);
    fs::remove(temp + kInstallerName + ".ran");
    view.calls.clear();
    SetEnvironmentVariableW(L"TARNEL_NDP_EXIT", rt::wide_path(r.code).c_str());
    EXPECT_EQ(installer::ensure_dotnet("4.8", view, test_pins(url), kWindows10), r.outcome);
    std::vector<std::string> expected = {"timer 1000", "bar 0", "timer 0"};
    if (!r.message.empty()) expected.insert(expected.end(), {"message " + r.message, "page 4"});
    EXPECT_EQ(view.calls, expected);
    // Waited for: its mark is there as soon as the step returns.
    ASSERT_TRUE(ran());
    std::string mark = testsupport::read_file(temp + kInstallerName + ".ran");
    std::u16string text(reinterpret_cast<const char16_t*>(mark.data()), mark.size() / 2);
    std::string started_in = rt::cp936_from_wide(text.substr(text.find(u'\n') + 1));
    // In a working folder of the run where only administrators can write.
    EXPECT_TRUE(installer::same_path(installer::parent_folder(rt::Text(started_in)),
                                     rt::text_concat({installer::special_folder(installer::kFolderWindows).view(), "Temp"})))
        << started_in;
    EXPECT_EQ(installer::file_name_of(rt::Text(started_in), true).str().rfind("setup-", 0), 0u) << started_in;
    EXPECT_FALSE(fs::exists(fs::path(rt::wide_path(started_in))));  // the run's folder is gone again
  }
  EXPECT_EQ(installer::download_progress().snapshot().percent, 100);

  // Exit code 0 but the framework still missing (4.81 is asked for, the
  // 4.8 stand-in installed 4.8): a message of its own.
  clear_framework();
  view.calls.clear();
  SetEnvironmentVariableW(L"TARNEL_NDP_EXIT", nullptr);
  installer::WindowsRelease windows11 = {10, 0, 22000, 0};
  EXPECT_EQ(installer::ensure_dotnet("4.81", view, test_pins("", url), windows11), PrerequisiteOutcome::kStopAfterMessage);
  EXPECT_EQ(view.calls.back(), "page 4");
  EXPECT_EQ(view.calls[view.calls.size() - 2], std::string("message ") + installer::kDotnetMissingMessage);
}

// Anything that is not proven is never started, and says so. The self-made
// certificate is a root of the prefix too: its chain is whole, only the
// pinned thumbprint refuses it. The genuine stand-in is refused by pins that
// hold only Microsoft's roots (the shipped ones), though the prefix trusts
// its root. And a pinned root the machine does not trust proves nothing
// (Wine's WinVerifyTrust passes that chain; its error bits refuse it). The
// trusted roots stay as they are while the process runs: Wine's chain
// engine keeps the stores it read first.
TEST_F(DotnetTest, AnInstallerThatIsNotProvenIsNeverStarted) {
  enum Pins { kTestRoot, kMicrosoft, kStranger };
  struct Row {
    const char* file;
    Pins pins;
  } rows[] = {{"self-made.exe", kTestRoot}, {"other-name.exe", kTestRoot}, {"unsigned.exe", kTestRoot},
              {"tampered.exe", kTestRoot},  {"genuine.exe", kMicrosoft},   {"stranger.exe", kStranger},
              // Signed by Microsoft under the pinned root, but its own version
              // information names another program: not the framework's installer.
              {"other-microsoft.exe", kTestRoot}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.file);
    std::string url = publish(folder("refused"), testsupport::read_file(testsupport::stand_in(r.file)));
    ASSERT_FALSE(url.empty());
    installer::format::DotnetPins pins = r.pins == kMicrosoft ? installer::built_in_dotnet_pins() : test_pins(url);
    pins.url48 = url;
    if (r.pins == kStranger) pins.roots = {testsupport::stand_in_thumbprint("stranger")};
    view.calls.clear();
    EXPECT_EQ(installer::ensure_dotnet("4.5", view, pins, kWindows10), PrerequisiteOutcome::kStopAfterMessage);
    EXPECT_EQ(view.calls, (std::vector<std::string>{"timer 1000", "bar 0", "timer 0",
                                                    std::string("message ") + installer::kDotnetUnverifiedMessage,
                                                    "page 4"}));
    EXPECT_FALSE(ran());
  }
  // A digest that is not the file's proves nothing either.
  std::string url = publish(folder("refused"), testsupport::read_file(testsupport::stand_in("unsigned.exe")));
  installer::format::DotnetPins pins;
  pins.url48 = url;
  pins.digests = {std::string(64, '0')};
  view.calls.clear();
  EXPECT_EQ(installer::ensure_dotnet("4.5", view, pins, kWindows10), PrerequisiteOutcome::kStopAfterMessage);
  EXPECT_EQ(view.calls[3], std::string("message ") + installer::kDotnetUnverifiedMessage);
  EXPECT_FALSE(ran());
}

// The second way: an unsigned stand-in whose digest is pinned is started.
TEST_F(DotnetTest, ADigestPinnedInstallerIsStarted) {
  std::string bytes = testsupport::read_file(testsupport::stand_in("unsigned.exe"));
  installer::format::DotnetPins pins;
  pins.url48 = publish(folder("digest"), bytes);
  pins.digests = {std::string(64, '1'), installer::sha256_hex(bytes)};
  EXPECT_EQ(installer::ensure_dotnet("4.8", view, pins, kWindows10), PrerequisiteOutcome::kContinue);
  EXPECT_TRUE(ran());
  EXPECT_EQ(installer::detect_dotnet_version(), 4.8f);
  // Its command line, as the stand-in wrote it in its mark.
  auto arguments = [&] {
    std::string mark = testsupport::read_file(temp + kInstallerName + ".ran");
    std::u16string text(reinterpret_cast<const char16_t*>(mark.data()), mark.size() / 2);
    std::string line = rt::cp936_from_wide(text.substr(0, text.find(u'\n')));
    return line.substr(line.rfind('"') + 1);
  };
  EXPECT_EQ(arguments(), "");
  // Unattended (setup.exe /S), it runs without its window and restarts nothing.
  clear_framework();
  EXPECT_EQ(installer::ensure_dotnet("4.8", view, pins, kWindows10, installer::shipped_download_patience(), true), PrerequisiteOutcome::kContinue);
  EXPECT_EQ(arguments(), " /q /norestart");
}

// "4.81" fetches the 4.8.1 installer, and only where Windows can run it.
TEST_F(DotnetTest, Framework481FetchesThe481InstallerWhereWindowsCanRunIt) {
  std::string genuine = testsupport::read_file(testsupport::stand_in("genuine.exe"));
  std::string url48 = publish(folder("48"), genuine);
  std::string url481 = publish(folder("481"), genuine, k481Name);
  installer::WindowsRelease windows11 = {10, 0, 22000, 0};
  EXPECT_EQ(installer::ensure_dotnet("4.81", view, test_pins(url48, url481), windows11), PrerequisiteOutcome::kContinue);
  EXPECT_TRUE(ran(k481Name));
  EXPECT_FALSE(ran(kInstallerName));
  EXPECT_EQ(installer::detect_dotnet_version(), 4.81f);

  // Too old a Windows: said at once, nothing downloaded or started.
  clear_framework();
  fs::remove(temp + k481Name + ".ran");
  struct Row {
    const char* framework;
    installer::WindowsRelease windows;
  } rows[] = {{"4.81", {10, 0, 19043, 0}}, {"4.81", {6, 1, 7601, 1}}, {"4.8", {6, 1, 7600, 0}}};
  for (const Row& r : rows) {
    view.calls.clear();
    EXPECT_EQ(installer::ensure_dotnet(r.framework, view, test_pins(url48, url481), r.windows),
              PrerequisiteOutcome::kStopAfterMessage);
    EXPECT_EQ(view.calls,
              (std::vector<std::string>{
                  "message " + installer::dotnet_windows_message(installer::required_framework_version(r.framework)).str(),
                  "page 4"}));
  }
  EXPECT_FALSE(ran(k481Name));
  EXPECT_FALSE(ran(kInstallerName));
}

TEST_F(DotnetTest, FailedOrTooShortDownloadShowsTheMessageAndTheErrorPage) {
  auto servers = testsupport::http_servers();
  ASSERT_TRUE(servers);
  std::vector<std::string> urls = {
      publish(folder("small"), std::string(600, 'x')),                                  // 600 bytes
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
    // Its tries (a second of silence, one short pause) end in the same message.
    EXPECT_EQ(installer::ensure_dotnet("4.5", view, test_pins(url), kWindows10, {1000, {50}, 1}),
              PrerequisiteOutcome::kStopAfterMessage);
    // The timer keeps running behind the failure page.
    EXPECT_EQ(view.calls, (std::vector<std::string>{"timer 1000", "bar 0", "message", "page 4"}));
  }
  EXPECT_FALSE(ran());
}

// End-to-end tests point a copy of setup.exe at the test servers and the
// test root this way; a program carries its pins once, as the step reads them.
TEST(DotnetPinsTest, ProgramCopyCanBePointedAtALoopbackAddressAndATestRoot) {
  wchar_t self[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
  std::string program = testsupport::read_file(fs::path(self).string());
  ASSERT_FALSE(program.empty());
  auto built = installer::format::find_dotnet_pins(program);
  ASSERT_TRUE(built);
  installer::format::DotnetPins pins;
  pins.url48 = "http://127.0.0.1:8080/dotnet/NDP48-x86-x64-AllOS-ENU.exe";
  pins.roots = {std::string(40, 'A')};
  pins.signer = "Microsoft Corporation";
  std::string patched = program;
  ASSERT_TRUE(testsupport::point_dotnet_pins_at(patched, pins));
  EXPECT_EQ(patched.size(), program.size());
  auto read = installer::format::find_dotnet_pins(patched);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->url48, pins.url48);
  EXPECT_EQ(read->roots, pins.roots);
  EXPECT_TRUE(read->url481.empty());
  pins.url48 = built->url48 + "/" + std::string(400, 'x');  // longer than the text it would replace
  EXPECT_FALSE(testsupport::point_dotnet_pins_at(patched, pins));
}

// What ships: dist/setup.exe, as `make build` leaves it, carries Microsoft's
// addresses and proofs, so that it can install the framework on a real
// machine (a build whose pins were lost would refuse every download).
TEST(DotnetPinsTest, TheShippedSetupCarriesMicrosoftsPins) {
  std::string program = testsupport::read_file(testsupport::native_path(SOURCE_DIR "/dist/setup.exe"));
  ASSERT_FALSE(program.empty()) << "no dist/setup.exe: run make build";
  auto pins = installer::format::find_dotnet_pins(program);
  ASSERT_TRUE(pins) << "dist/setup.exe carries no readable .NET pins";
  EXPECT_TRUE(pins->any_proof());
  EXPECT_EQ(pins->url48,
            "https://download.microsoft.com/download/f/3/a/f3a6af84-da23-40a5-8d1c-49cc10c8e76f/NDP48-x86-x64-AllOS-ENU.exe");
  EXPECT_EQ(pins->url481.substr(0, 8), "https://");
  EXPECT_EQ(pins->signer, "Microsoft Corporation");
  EXPECT_EQ(pins->roots, (std::vector<std::string>{"8F43288AD272F3103B6FB1428485EA3014C0BCFE",
                                                   "3B1EFD3A66EA28B16697394703A72CA340A05BD5"}));
  EXPECT_EQ(pins->digests,
            (std::vector<std::string>{"0a3a390c47e639d0f7fc65b21195fee6b7f65b066f80f70c60fab191d14b7e40"}));
}

}  // namespace
