// The elevated programs against files and folders an attacker prepared:
// libraries planted beside setup.exe and uninst.exe, an installation folder
// reached through a link, a user's own app.zip beside the installer, and the
// installer's own file replaced while it runs.
// One installer and one installation serve every check.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "installer/format/sha256.h"
#include "installer/steps/host.h"
#include "runtime/value/codepage.h"
#include "tests/e2e/support/installer_fixture.h"
#include "installer/format/dotnet_pins.h"
#include "tests/support/dotnet_url.h"
#include "tests/support/http_servers.h"
#include "tests/support/paths.h"
#include "tests/support/zip_writer.h"

namespace {

using e2e::Installer;
using testsupport::ZipEntrySpec;

std::wstring wide(const std::string& s) { return rt::wide_path(s); }

// The libraries Windows would look for beside a program before its own
// folder (that is what WINEDLLOVERRIDES=name=n,b stands in for), and the
// Script Host's type library. version.dll is left out: Wine's own user32
// imports it at start-up, before any of our code runs, which Windows'
// user32 does not. propsys.dll is in: Wine's GDI+ loads windowscodecs (which
// imports it) by bare name through the search path the process started with,
// so both programs load the pair from the system folder first.
const char* const kPlanted[] = {"wininet.dll",  "uxtheme.dll", "dwmapi.dll",       "cryptbase.dll", "propsys.dll",
                                "windowscodecs.dll", "winmm.dll", "mpr.dll",      "ws2_32.dll",    "iphlpapi.dll",
                                "secur32.dll",  "userenv.dll", "netapi32.dll",     "winhttp.dll",   "urlmon.dll",
                                "msimg32.dll",  "oleacc.dll",  "gdiplus.dll",      "comctl32.dll",  "wshom.ocx"};

void plant(const std::string& folder) {
  std::string marker = e2e::read_all(testsupport::native_path(MARKER_DLL_PATH));
  for (const char* name : kPlanted) ASSERT_TRUE(e2e::write_all(folder + "\\" + name, marker)) << name;
}

std::vector<std::string> loaded(const std::string& folder) {
  std::vector<std::string> found;
  for (const char* name : kPlanted)
    if (e2e::path_exists(folder + "\\" + name + ".loaded")) found.push_back(name);
  return found;
}

void remove_planted(const std::string& folder) {
  for (const char* name : kPlanted) DeleteFileW(wide(folder + "\\" + name).c_str());
}

class HardeningTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = testsupport::scratch_dir("e2e-hardening");
    own_ = dir_ + "\\Downloads";
    CreateDirectoryW(wide(own_).c_str(), nullptr);
    std::vector<ZipEntrySpec>& entries = entries_;
    entries.push_back({.name = "{app}/Demo.exe", .data = e2e::read_all(testsupport::native_path(MARKER_EXE_PATH))});
    entries.push_back({.name = "{app}/uninst.exe", .data = e2e::read_all(testsupport::native_path(UNINST_EXE_PATH))});
    entries.push_back({.name = "{app}/data/readme.txt", .data = "hello", .deflate = true});
    package_ = testsupport::make_zip(entries);
    e2e::Config config = {{"softname", "加固测试"},   {"softversion", "1.0"},     {"urlremote", ""},
                          {"urlfull", ""},           {"framework", ""},          {"mainfile", "Demo.exe"},
                          {"installtype", "disk"},   {"companyname", "示例公司"}, {"companyurl", "http://127.0.0.1/"},
                          {"protocol", "http://127.0.0.1/agreement"}, {"sha256", installer::sha256_hex(package_)}};
    config_ = e2e::config_json(config);
    exe_ = e2e::make_installer(own_, config_, &package_);
  }

  static inline std::string dir_, own_, exe_, package_, config_;
  static inline std::vector<ZipEntrySpec> entries_;
};

// A whole install and a whole uninstall with marker libraries planted beside
// setup.exe and then beside uninst.exe, Wine told to prefer such copies: none
// is ever loaded, because both programs restrict the search to the system
// folder before anything loads and import nothing else statically.
TEST_F(HardeningTest, PlantedLibrariesAreNeverLoaded) {
  ASSERT_FALSE(exe_.empty());
  plant(own_);
  std::string overrides = "mscoree,mshtml=;winemenubuilder.exe=d";
  std::string names;
  for (const char* name : kPlanted) {
    std::string stem = name;
    stem = stem.substr(0, stem.rfind('.'));
    names += (names.empty() ? "" : ",") + stem;
  }
  overrides += ";" + names + "=n,b";
  SetEnvironmentVariableW(L"WINEDLLOVERRIDES", wide(overrides).c_str());

  std::string target = dir_ + "\\inst";
  {
    Installer setup(exe_);
    std::string message;
    EXPECT_EQ(e2e::install_from_custom_page(setup, target, &message), 3) << message;
    EXPECT_TRUE(e2e::wait_until([&] { return e2e::path_exists(target + "\\data\\readme.txt"); }, 20000));
    setup.click("安装完成");
    EXPECT_TRUE(setup.wait_exit(30000));
  }
  // The application started in its own folder, not in the installer's.
  std::string mark = e2e::read_mark(target + "\\Demo.exe.ran");
  ASSERT_FALSE(mark.empty());
  std::u16string text(reinterpret_cast<const char16_t*>(mark.data()), mark.size() / 2);
  EXPECT_EQ(rt::cp936_from_wide(text.substr(text.find(u'\n') + 1)), target);
  EXPECT_EQ(loaded(own_), std::vector<std::string>());

  plant(target);
  e2e::Process uninstaller = e2e::Process::start(target + "\\uninst.exe", "/S", target);
  DWORD code = 99;
  EXPECT_TRUE(uninstaller.wait(60000, &code));
  EXPECT_EQ(loaded(target), std::vector<std::string>());
  EXPECT_FALSE(e2e::path_exists(target + "\\data\\readme.txt"));
  SetEnvironmentVariableW(L"WINEDLLOVERRIDES", wide("mscoree,mshtml=;winemenubuilder.exe=d").c_str());
  remove_planted(own_);
  remove_planted(target);
}

// The .NET Framework installer's proof loads wintrust and crypt32 (and,
// inside them, cryptnet, imagehlp, dbghelp, rsaenh, bcrypt) on first use:
// planted beside setup.exe, Wine told to prefer them, none is loaded while a
// genuine stand-in is downloaded, proven by its signature and started.
TEST_F(HardeningTest, TrustLibrariesPlantedBesideTheInstallerAreNeverLoaded) {
  const char* const kTrust[] = {"wintrust.dll", "crypt32.dll", "cryptnet.dll", "imagehlp.dll",
                                "dbghelp.dll",  "rsaenh.dll",  "bcrypt.dll"};
  auto servers = testsupport::http_servers();
  ASSERT_TRUE(servers);
  ASSERT_TRUE(testsupport::trust_certificate("root.pem", true));
  const wchar_t kV4Full[] = L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full";
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kV4Full);
  std::string name = "hardening-ndp-" + std::to_string(GetCurrentProcessId()) + ".exe";
  ASSERT_TRUE(e2e::write_all(servers->nginx_root + "\\" + "NDP48-" + name,
                             e2e::read_all(testsupport::stand_in("genuine.exe"))));
  installer::format::DotnetPins pins;
  pins.url48 = servers->nginx_url("/NDP48-" + name);
  pins.roots = {testsupport::stand_in_thumbprint("root")};
  pins.signer = "Microsoft Corporation";
  std::string program = e2e::read_all(e2e::setup_exe());
  ASSERT_TRUE(testsupport::point_dotnet_pins_at(program, pins));
  std::string own = dir_ + "\\TrustDownloads";
  CreateDirectoryW(wide(own).c_str(), nullptr);
  ASSERT_TRUE(e2e::write_all(own + "\\base.exe", program));
  std::string config = config_;
  const std::string no_framework = "\"framework\":\"\"";
  ASSERT_NE(config.find(no_framework), std::string::npos);
  config.replace(config.find(no_framework), no_framework.size(), "\"framework\":\"4.8\"");
  std::string exe = e2e::make_installer(own, config, &package_, "setup.exe", nullptr, "Tarnel", own + "\\base.exe");
  ASSERT_FALSE(exe.empty());

  std::string marker = e2e::read_all(testsupport::native_path(MARKER_DLL_PATH));
  std::string names;
  for (const char* dll : kTrust) {
    ASSERT_TRUE(e2e::write_all(own + "\\" + dll, marker)) << dll;
    std::string stem = dll;
    names += (names.empty() ? "" : ",") + stem.substr(0, stem.rfind('.'));
  }
  SetEnvironmentVariableW(L"WINEDLLOVERRIDES", wide("mscoree,mshtml=;winemenubuilder.exe=d;" + names + "=n,b").c_str());
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  std::string mark = rt::cp936_from_wchar(temp) + "NDP48-" + name + ".ran";
  DeleteFileW(wide(mark).c_str());
  {
    Installer setup(exe);
    std::string message;
    EXPECT_EQ(e2e::install_from_custom_page(setup, dir_ + "\\trust-inst", &message), 3) << message;
    setup.process().kill();
  }
  SetEnvironmentVariableW(L"WINEDLLOVERRIDES", wide("mscoree,mshtml=;winemenubuilder.exe=d").c_str());
  // The proof ran: the stand-in was started.
  EXPECT_TRUE(e2e::path_exists(mark));
  std::vector<std::string> found;
  for (const char* dll : kTrust)
    if (e2e::path_exists(own + "\\" + dll + ".loaded")) found.push_back(dll);
  EXPECT_EQ(found, std::vector<std::string>());
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kV4Full);
  testsupport::trust_certificate("root.pem", false);
}

// An installation folder that is a link, or whose parent is one (a Unix
// symbolic link, which Wine shows as a reparse point, stands in for a
// junction), is refused with the folder message before anything is written:
// the link's target stays empty.
TEST_F(HardeningTest, AnInstallationFolderReachedThroughALinkIsRefused) {
  std::string elsewhere = dir_ + "\\elsewhere";
  std::string link = dir_ + "\\link";
  ASSERT_TRUE(CreateDirectoryW(wide(elsewhere).c_str(), nullptr));
  ASSERT_TRUE(e2e::make_link(link, elsewhere));
  DWORD attributes = GetFileAttributesW(wide(link).c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  ASSERT_NE(attributes & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
  for (const std::string& folder : {link, link + "\\app"}) {
    Installer setup(exe_);
    std::string message;
    EXPECT_EQ(e2e::install_from_custom_page(setup, folder, &message), 4) << folder;
    EXPECT_EQ(e2e::unbroken(message), std::string(installer::kFolderMessageStart) + folder + installer::kFolderMessageEnd);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(wide(elsewhere + "\\*").c_str(), &found);
    std::vector<std::wstring> written;
    if (search != INVALID_HANDLE_VALUE) {
      do
        if (std::wstring(found.cFileName) != L"." && std::wstring(found.cFileName) != L"..") written.push_back(found.cFileName);
      while (FindNextFileW(search, &found));
      FindClose(search);
    }
    EXPECT_TRUE(written.empty()) << folder << ": " << written.size() << " entries written through the link";
    setup.process().kill();
  }
}

// The package is read where it lies in the installer: a user's own app.zip
// beside it is neither read, nor overwritten, nor deleted, and no package
// file appears there.
TEST_F(HardeningTest, AnAppZipBesideTheInstallerIsLeftAlone) {
  std::string mine = testsupport::empty_zip() + "the user's own";
  ASSERT_TRUE(e2e::write_all(own_ + "\\app.zip", mine));
  std::string target = dir_ + "\\inst2";
  Installer setup(exe_);
  std::string message;
  EXPECT_EQ(e2e::install_from_custom_page(setup, target, &message), 3) << message;
  EXPECT_EQ(e2e::read_all(own_ + "\\app.zip"), mine);
  EXPECT_TRUE(e2e::path_exists(target + "\\data\\readme.txt"));
  setup.process().kill();
}

// The package is read from the installer's file, through a handle that keeps
// the file as it is, not from the started image: a file of the same length
// put in the installer's place after it started, carrying a valid package
// that is not the published one, fails the publisher's digest and nothing
// of it is unpacked.
TEST_F(HardeningTest, AnInstallerFileReplacedWhileItRunsIsNeverUnpacked) {
  std::string folder = dir_ + "\\swap", target = dir_ + "\\inst3";
  CreateDirectoryW(wide(folder).c_str(), nullptr);
  std::string exe = e2e::make_installer(folder, config_, &package_);
  ASSERT_FALSE(exe.empty());
  std::vector<ZipEntrySpec> entries = entries_;
  entries[0].data.back() ^= 1;  // another main program of the same size
  std::string other = testsupport::make_zip(entries), impostor = e2e::read_all(exe);
  std::size_t at = impostor.find(package_);
  ASSERT_NE(at, std::string::npos);
  ASSERT_EQ(other.size(), package_.size());
  impostor.replace(at, other.size(), other);

  Installer setup(exe);
  ASSERT_TRUE(setup.ok());
  ASSERT_TRUE(MoveFileW(wide(exe).c_str(), wide(exe + ".started").c_str()));
  ASSERT_TRUE(e2e::write_all(exe, impostor));
  std::string message;
  EXPECT_EQ(e2e::install_from_custom_page(setup, target, &message), 4);
  EXPECT_EQ(message, installer::kDamagedPackageMessage);
  EXPECT_FALSE(e2e::path_exists(target + "\\Demo.exe"));
  setup.process().kill();
}

}  // namespace
