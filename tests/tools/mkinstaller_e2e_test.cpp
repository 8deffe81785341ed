// Installers made by the Windows build of mkinstaller from a publisher's
// files, run under Wine and clicked through: one installs its package (which
// passes the digest the tool recorded), and the installed-file list in the
// uninstaller reads back with our reader; one downloads a package that is not
// the published one and refuses it.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "installer/format/cipher.h"
#include "installer/format/sha256.h"
#include "runtime/value/codepage.h"
#include "mkinstaller/pe_resources.h"
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

TEST(MkinstallerEndToEnd, TheInstallerItBuildsInstallsThePackage) {
  std::string dir = testsupport::scratch_dir("e2e-mkinstaller");
  std::string marker = e2e::read_all(testsupport::native_path(MARKER_EXE_PATH));
  std::vector<testsupport::ZipEntrySpec> entries;
  entries.push_back({.name = "{app}/Tool.exe", .data = marker, .deflate = true});
  entries.push_back({.name = "{app}/uninst.exe", .data = marker, .deflate = true});
  entries.push_back({.name = u8(u8"{app}/文档/说明.txt"), .data = "readme", .utf8 = true});
  ASSERT_TRUE(testsupport::write_file(dir + "\\package.zip", testsupport::make_zip(entries)));
  // The configuration as a publisher writes it: UTF-8.
  ASSERT_TRUE(testsupport::write_file(
      dir + "\\config.json",
      u8(u8"{\n  \"softname\": \"构建工具测试\",\n  \"softversion\": \"2.0\",\n  \"mainfile\": \"Tool.exe\",\n"
         u8"  \"installtype\": \"disk\",\n  \"companyname\": \"示例公司\"\n}\n")));

  ASSERT_EQ(mkinstaller("build --config config.json --package package.zip" + stub_option() + " --out setup.exe", dir),
            0u);

  e2e::Installer setup(dir + "\\setup.exe");
  ASSERT_TRUE(setup.ok()) << "the installer window did not show";
  EXPECT_EQ(e2e::window_text(setup.window()), "构建工具测试");
  std::string target = setup.text("安装目录");
  setup.click("立即安装");
  ASSERT_TRUE(setup.wait_page(3, 60000)) << "no finish page; page " << setup.page();
  EXPECT_EQ(e2e::read_all(target + "\\文档\\说明.txt"), "readme");

  rt::PeResources uninst;
  std::string error;
  ASSERT_TRUE(uninst.load(e2e::read_all(target + "\\uninst.exe"), &error)) << error;
  const std::string* list = uninst.find(rt::ResourceId::of_text("install"), rt::ResourceId::of_text("list"));
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(installer::decrypt_record(rt::Bytes(*list), "Tarnel", true).str(),
            target + "\\Tool.exe\r\n" + target + "\\uninst.exe\r\n" + target + "\\文档\\说明.txt\r\n");
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
  EXPECT_EQ(setup.answer_message_box(60000), e2e::kNetworkMessage);
  EXPECT_TRUE(setup.wait_page(4, 20000)) << "page " << setup.page();
  EXPECT_FALSE(e2e::path_exists(target + "\\Tool.exe")) << "the refused package was unpacked";
  // Deleted, where a download that broke off would have left it.
  EXPECT_FALSE(e2e::path_exists(dir + "\\app.zip"));
  setup.process().kill();
}

}  // namespace
