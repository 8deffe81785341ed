// Installers made by mkinstaller from a publisher's files, run under Wine and
// clicked through: a signed one (made by the Linux tool; the Windows tool
// makes the same contents) installs its package, which passes the digest the
// tool recorded; its uninstaller, signed by `pack`, stays the very file that
// was signed and still verifies once installed (the list goes beside it, in
// uninst.dat), and removes everything; an installation whose uninstaller is
// not signed keeps the list in it and uninstalls too; one downloads a package
// that is not the published one and refuses it.
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "installer/format/cipher.h"
#include "installer/format/installed_list.h"
#include "installer/format/sha256.h"
#include "installer/platform/authenticode.h"
#include "runtime/value/codepage.h"
#include "mkinstaller/pe_resources.h"
#include "installer/steps/host.h"
#include "tests/e2e/support/installer_fixture.h"
#include "tests/support/http_servers.h"
#include "tests/support/paths.h"
#include "tests/support/zip_writer.h"

namespace {

std::string u8(const char8_t* s) { return reinterpret_cast<const char*>(s); }

// Runs the Windows mkinstaller in `dir`; its exit code.
DWORD mkinstaller(const std::string& args, const std::string& dir) {
  e2e::Process tool = e2e::Process::start(testsupport::native_path(MKINSTALLER_EXE_PATH), args, dir);
  DWORD code = 99;
  if (!tool.wait(60000, &code)) return 99;
  return code;
}

// A sealed installed-file list, opened.
// The listed paths, the installation's own properties ("|name=", "|scope=")
// aside: installer_test checks those.
std::string format_list(const std::string& sealed) {
  std::string list = installer::format::open_installed_list(rt::Bytes(sealed)).str(), paths;
  for (std::size_t at = 0; at < list.size();) {
    std::size_t end = list.find('\n', at);
    end = end == std::string::npos ? list.size() : end + 1;
    if (list[at] != '|') paths += list.substr(at, end - at);
    at = end;
  }
  return paths;
}

std::string stub_option() { return " --stub \"" + testsupport::native_path(SETUP_EXE_PATH) + "\""; }

// The test root trusted by the prefix (the current user's roots, where Wine
// takes new ones) while an object of this lives.
class TrustedRoot {
 public:
  explicit TrustedRoot(const std::string& pem_path) {
    std::string pem = e2e::read_all(pem_path);
    DWORD size = 0;
    if (pem.empty() || !CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr))
      return;
    der_.assign(size, '\0');
    if (!CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, reinterpret_cast<BYTE*>(der_.data()), &size,
                              nullptr, nullptr))
      return;
    ok_ = change(true);
  }
  ~TrustedRoot() {
    if (ok_) change(false);
  }
  bool ok() const { return ok_; }

 private:
  bool change(bool add) {
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
    if (!store) return false;
    PCCERT_CONTEXT added = nullptr;
    bool done = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der_.data()),
                                                 DWORD(der_.size()), CERT_STORE_ADD_REPLACE_EXISTING, &added) != FALSE;
    if (done && !add) done = CertDeleteCertificateFromStore(added) != FALSE;  // frees `added`
    else if (added) CertFreeCertificateContext(added);
    return CertCloseStore(store, 0) && done;
  }
  std::string der_;
  bool ok_ = false;
};

// Whether Windows verifies the file's signature, whole chain to a trusted root.
bool signature_verifies(const std::string& path) {
  std::wstring wide = rt::wide_path(path);
  HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  installer::SignatureFacts facts = installer::verify_file_signature(file, std::u16string(wide.begin(), wide.end()));
  CloseHandle(file);
  return facts.verified && installer::chain_whole(facts.chain_errors) && facts.signer == "Example Publisher";
}

// Installs from the custom page into `target`, then ends on the finish
// button (which starts the main program, a marker that leaves "<it>.ran").
void install(const std::string& installer, const std::string& target) {
  e2e::Installer setup(installer);
  ASSERT_TRUE(setup.ok()) << "the installer window did not show";
  setup.set_text("安装目录", target);
  setup.click("立即安装");
  ASSERT_TRUE(setup.wait_page(3, 60000)) << "no finish page; page " << setup.page();
  setup.click("安装完成");
  DWORD code = 99;
  ASSERT_TRUE(setup.wait_exit(30000, &code));
  EXPECT_EQ(code, 0u);
}

// Uninstalls quietly, and nothing of the installation is left.
void uninstall_leaves_nothing(const std::string& target) {
  // What the program the finish button started wrote is its own, not the
  // installation's.
  EXPECT_TRUE(e2e::remove_mark(target + "\\Tool.exe.ran"));
  e2e::Process uninstaller = e2e::Process::start(target + "\\uninst.exe", "/S");
  DWORD code = 99;
  ASSERT_TRUE(uninstaller.wait(60000, &code));
  EXPECT_EQ(code, 0u);
  EXPECT_TRUE(e2e::wait_until([&] { return !e2e::path_exists(target); }, 60000)) << "something is left in " << target;
}

TEST(MkinstallerEndToEnd, TheSignedInstallerItBuildsInstallsThePackage) {
  // The publisher's files and the signed installer the Linux tool made of
  // them (tests/tools/signed_setup.sh).
  const std::string inputs = testsupport::native_path(SIGNED_SETUP_DIR);
  std::string dir = testsupport::scratch_dir("e2e-mkinstaller");
  // The Windows tool, on the same files, makes the same installer (the
  // signature and the images it scales aside).
  ASSERT_EQ(mkinstaller("build --config \"" + inputs + "\\config.json\" --logo \"" + inputs + "\\logo.png\" --package \"" +
                            inputs + "\\package.zip\" --copyright \"(c) 2026 Example\"" + stub_option() +
                            " --out setup.exe",
                        dir),
            0u);
  rt::PeResources ours, signed_one;
  std::string error;
  ASSERT_TRUE(ours.load(e2e::read_all(dir + "\\setup.exe"), &error)) << error;
  ASSERT_TRUE(signed_one.load(e2e::read_all(inputs + "\\signed-setup.exe"), &error)) << error;
  EXPECT_NE(signed_one.header().certificate_size, 0u) << "the installer is signed";
  for (const char* name : {"101", "102", "103"}) {
    const rt::ResourceId system = rt::ResourceId::of_text("SYSTEM"), id = rt::ResourceId::of_text(name);
    ASSERT_TRUE(ours.find(system, id) && signed_one.find(system, id)) << name;
    EXPECT_EQ(*ours.find(system, id), *signed_one.find(system, id)) << name;
  }

  // Windows reads the signed installer's identity.
  std::wstring file = rt::wide_path(inputs + "\\signed-setup.exe");
  DWORD handle = 0, size = GetFileVersionInfoSizeW(file.c_str(), &handle);
  std::vector<char> data(size);
  ASSERT_TRUE(size && GetFileVersionInfoW(file.c_str(), 0, size, data.data()));
  wchar_t* text = nullptr;
  UINT n = 0;
  ASSERT_TRUE(VerQueryValueW(data.data(), L"\\StringFileInfo\\080404b0\\FileDescription", reinterpret_cast<void**>(&text), &n));
  EXPECT_EQ(rt::utf8_from_wide(std::u16string(reinterpret_cast<const char16_t*>(text))), u8(u8"构建工具测试 安装程序"));
  EXPECT_EQ(ExtractIconExW(file.c_str(), -1, nullptr, nullptr, 0), 1u);

  // The signed installer installs. Its uninstaller, signed when packed, is
  // installed as the very file that was signed and still verifies: the list
  // of installed files (itself and the list file included) went beside it.
  const std::string target = dir + "\\安装";  // fresh: the prefix outlives test runs
  ASSERT_NO_FATAL_FAILURE(install(inputs + "\\signed-setup.exe", target));
  EXPECT_EQ(e2e::read_all(target + "\\文档\\说明.txt"), "readme");
  const std::string packed = e2e::read_all(inputs + "\\packed-uninst.exe");
  ASSERT_FALSE(packed.empty());
  EXPECT_TRUE(e2e::read_all(target + "\\uninst.exe") == packed) << "the installed uninstaller was changed";
  {
    TrustedRoot root(inputs + "\\ca.pem");
    ASSERT_TRUE(root.ok());
    EXPECT_TRUE(signature_verifies(target + "\\uninst.exe"));
  }
  EXPECT_EQ(format_list(e2e::read_all(target + "\\uninst.dat")),
            target + "\\Tool.exe\r\n" + target + "\\文档\\\r\n" + target + "\\文档\\说明.txt\r\n" + target +
                "\\uninst.exe\r\n" + target + "\\uninst.dat\r\n");
  rt::PeResources uninst;
  ASSERT_TRUE(uninst.load(e2e::read_all(target + "\\uninst.exe"), &error)) << error;
  EXPECT_EQ(uninst.find(rt::ResourceId::of_text("install"), rt::ResourceId::of_text("list")), nullptr);
  ASSERT_NO_FATAL_FAILURE(uninstall_leaves_nothing(target));

  // An installation whose uninstaller is not signed keeps the list in the
  // uninstaller's resources, as every earlier installation did, and still
  // uninstalls.
  const std::string old_target = dir + "\\旧式";
  ASSERT_NO_FATAL_FAILURE(install(inputs + "\\oldstyle-setup.exe", old_target));
  EXPECT_FALSE(e2e::path_exists(old_target + "\\uninst.dat"));
  rt::PeResources old_uninst;
  ASSERT_TRUE(old_uninst.load(e2e::read_all(old_target + "\\uninst.exe"), &error)) << error;
  const std::string* list = old_uninst.find(rt::ResourceId::of_text("install"), rt::ResourceId::of_text("list"));
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(format_list(*list), old_target + "\\Tool.exe\r\n" + old_target + "\\文档\\\r\n" + old_target +
                                    "\\文档\\说明.txt\r\n" + old_target + "\\uninst.exe\r\n");
  ASSERT_NO_FATAL_FAILURE(uninstall_leaves_nothing(old_target));
}

TEST(MkinstallerEndToEnd, ADownloadedPackageThatIsNotThePublishedOneIsRefused) {
  auto servers = testsupport::http_servers();
  ASSERT_TRUE(servers.has_value()) << "the http_servers fixture is not running";
  std::string dir = testsupport::scratch_dir("e2e-mkinstaller-net");
  // The package the publisher built and gave the digest of, and what the
  // server hands out instead: a sound package too, that would install.
  std::string marker = e2e::read_all(testsupport::native_path(MARKER_EXE_PATH));
  std::string published = testsupport::make_zip({{.name = "{app}/Tool.exe", .data = marker}});
  std::string served = testsupport::make_zip({{.name = "{app}/Tool.exe", .data = marker + "changed"}});
  std::string file = "changed-" + std::to_string(GetCurrentProcessId()) + ".zip";
  ASSERT_TRUE(e2e::write_all(servers->nginx_root + "\\" + file, served));
  ASSERT_TRUE(testsupport::write_file(
      dir + "\\config.json", u8(u8"{\"softname\": \"校验测试\", \"softversion\": \"1.0\", \"mainfile\": \"Tool.exe\", "
                                u8"\"installtype\": \"net\", \"urlremote\": \"") + servers->nginx_url("/" + file) + "\"}"));
  ASSERT_EQ(mkinstaller("build --config config.json --sha256 " + installer::sha256_hex(published) + stub_option() +
                            " --out setup.exe",
                        dir),
            0u);

  e2e::Installer setup(dir + "\\setup.exe");
  ASSERT_TRUE(setup.ok()) << "the installer window did not show";
  std::string target = dir + "\\安装";  // fresh: the prefix outlives test runs
  setup.set_text("安装目录", target);
  setup.click("立即安装");
  // Not the network: the download arrived and is not the published package.
  EXPECT_EQ(setup.answer_message_box(60000), installer::kDamagedPackageMessage);
  EXPECT_TRUE(setup.wait_page(4, 20000)) << "page " << setup.page();
  EXPECT_FALSE(e2e::path_exists(target + "\\Tool.exe")) << "the refused package was unpacked";
  // Deleted, where a download that broke off would have left it.
  EXPECT_FALSE(e2e::path_exists(dir + "\\app.zip"));
  setup.process().kill();
}

}  // namespace
