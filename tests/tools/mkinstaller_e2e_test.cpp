// Installers made by mkinstaller from a publisher's files, run under Wine and
// clicked through: a signed one (made by the Linux tool; the Windows tool
// makes the same contents) installs its package, which passes the digest the
// tool recorded, and the installed-file list in the uninstaller reads back
// with our reader; one downloads a package that is not the published one and
// refuses it.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "installer/format/cipher.h"
#include "installer/format/sha256.h"
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

std::string stub_option() { return " --stub \"" + testsupport::native_path(SETUP_EXE_PATH) + "\""; }

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

  // The signed installer installs.
  e2e::Installer setup(inputs + "\\signed-setup.exe");
  ASSERT_TRUE(setup.ok()) << "the installer window did not show";
  EXPECT_EQ(e2e::window_text(setup.window()), "构建工具测试");
  std::string target = dir + "\\安装";  // fresh: the prefix outlives test runs
  setup.set_text("安装目录", target);
  setup.click("立即安装");
  ASSERT_TRUE(setup.wait_page(3, 60000)) << "no finish page; page " << setup.page();
  EXPECT_EQ(e2e::read_all(target + "\\文档\\说明.txt"), "readme");

  rt::PeResources uninst;
  ASSERT_TRUE(uninst.load(e2e::read_all(target + "\\uninst.exe"), &error)) << error;
  const std::string* list = uninst.find(rt::ResourceId::of_text("install"), rt::ResourceId::of_text("list"));
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(installer::decrypt_record(rt::Bytes(*list), "Tarnel", true).str(),
            target + "\\Tool.exe\r\n" + target + "\\uninst.exe\r\n" + target + "\\文档\\\r\n" + target +
                "\\文档\\说明.txt\r\n");
  setup.process().kill();
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
      dir + "\\config.json", u8(u8"{\"softname\": \"校验测试\", \"mainfile\": \"Tool.exe\", \"installtype\": \"net\", "
                                u8"\"urlremote\": \"") + servers->nginx_url("/" + file) + "\"}"));
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
