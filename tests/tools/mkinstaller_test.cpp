// The mkinstaller command line, run as a publisher runs it, on files made
// here: what it writes, what it prints, and how it refuses bad input.
// Built natively and for Windows (the Windows tool under Wine, which cannot
// pack).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#endif

#include "installer/format/cipher.h"
#include "installer/format/sha256.h"
#include "runtime/value/codepage.h"
#include "mkinstaller/pe_resources.h"
#include "tests/support/fake_pe.h"
#include "tests/support/paths.h"
#include "tests/support/zip_maker.h"

using testing::HasSubstr;
using testing::Not;

namespace fs = std::filesystem;

namespace {

std::string u8(const char8_t* s) { return reinterpret_cast<const char*>(s); }

const std::string kPng(
    "\x89\x50\x4E\x47\x0D\x0A\x1A\x0A\x00\x00\x00\x0D\x49\x48\x44\x52\x00\x00\x00\x01\x00\x00\x00\x01\x08\x06\x00\x00"
    "\x00\x1F\x15\xC4\x89\x00\x00\x00\x0D\x49\x44\x41\x54\x78\xDA\x63\x64\x60\xF8\x5F\x0F\x00\x02\x87\x01\x80\xEB\x47"
    "\xBA\x92\x00\x00\x00\x00\x49\x45\x4E\x44\xAE\x42\x60\x82",
    70);

struct ToolRun {
  int status;
  std::string out, err;
};

class MkinstallerTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = testsupport::scratch_dir("mkinstaller");
    home_ = dir_ + "/home";
    fs::create_directories(home_);
#ifdef _WIN32
    SetEnvironmentVariableW(L"MKINSTALLER_HOME", rt::wide_path(home_).c_str());
#else
    ::setenv("MKINSTALLER_HOME", home_.c_str(), 1);
#endif
    write("stub.exe", testsupport::make_fake_program());
    write("logo.png", kPng);
  }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  void write(const std::string& name, const std::string& bytes) {
    fs::create_directories(fs::path(path(name)).parent_path());
    ASSERT_TRUE(testsupport::write_file(path(name), bytes));
  }
  std::string read(const std::string& name) const { return testsupport::read_file(path(name)); }

  // Runs the tool in the scratch folder.
  ToolRun run(const std::string& args) {
#ifdef _WIN32
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE out = CreateFileW(rt::wide_path(path("out.txt")).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS,
                             0, nullptr);
    HANDLE err = CreateFileW(rt::wide_path(path("err.txt")).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS,
                             0, nullptr);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = out;
    si.hStdError = err;
    std::wstring cmd = L"\"" + rt::wide_path(testsupport::native_path(MKINSTALLER_PATH)) + L"\" " +
                       std::wstring(rt::wide_path(rt::cp936_from_utf8(args)));
    PROCESS_INFORMATION pi{};
    DWORD code = static_cast<DWORD>(-1);
    if (CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, rt::wide_path(dir_).c_str(), &si,
                       &pi)) {
      WaitForSingleObject(pi.hProcess, 120000);
      GetExitCodeProcess(pi.hProcess, &code);
      CloseHandle(pi.hThread);
      CloseHandle(pi.hProcess);
    }
    CloseHandle(out);
    CloseHandle(err);
    // Text mode writes CR LF, as Windows programs do.
    auto lines = [&](std::string t) {
      t.erase(std::remove(t.begin(), t.end(), '\r'), t.end());
      return t;
    };
    return ToolRun{static_cast<int>(code), lines(read("out.txt")), lines(read("err.txt"))};
#else
    std::string cmd = "cd '" + dir_ + "' && '" MKINSTALLER_PATH "' " + args + " >out.txt 2>err.txt";
    int raw = std::system(cmd.c_str());
    return ToolRun{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read("out.txt"), read("err.txt")};
#endif
  }

  std::string config(const std::string& type = "disk", const std::string& extra = "") {
    return u8(u8"{\n  \"softname\": \"测试软件\",\n  \"softversion\": \"1.2\",\n  \"mainfile\": \"app.exe\",\n") +
           "  \"installtype\": \"" + type + "\",\n  \"urlremote\": \"http://127.0.0.1:8080/app.zip\"" + extra + "\n}\n";
  }

  // An application folder: a program, a sub-folder and a Chinese file name.
  void make_app(bool with_uninstaller) {
    write("app/app.exe", "MZ program");
    write("app/sub/data.txt", "data");
    write(u8(u8"app/说明.txt"), "readme");
    if (with_uninstaller) write("app/uninst.exe", "own uninstaller");
  }

  // A package as a ZIP tool makes it, UTF-8 names flagged.
  std::string package(bool complete) {
    std::vector<testsupport::ZipMakerEntry> entries = {
        {"{app}/other.exe", "MZ"}, {"{app}/sub/", ""}, {u8(u8"{app}/说明.txt"), "readme"}};
    if (complete) {
      entries.emplace_back("{app}/app.exe", "MZ program");
      entries.emplace_back("{app}/uninst.exe", "MZ uninstaller");
    }
    for (auto& e : entries) e.flags = 1 << 11;
    return testsupport::make_zip(entries);
  }

  std::string dir_, home_;
};

#ifdef MKINSTALLER_HAS_PACK
// Entry names of an archive, read from its central directory, and whether
// each is flagged as UTF-8.
std::vector<std::pair<std::string, bool>> zip_names(const std::string& zip) {
  std::vector<std::pair<std::string, bool>> names;
  auto u16 = [&](std::size_t o) {
    return static_cast<std::size_t>(static_cast<unsigned char>(zip[o]) | static_cast<unsigned char>(zip[o + 1]) << 8);
  };
  for (std::size_t at = zip.find("PK\x01\x02"); at != std::string::npos && at + 46 <= zip.size();
       at = zip.find("PK\x01\x02", at + 46)) {
    names.emplace_back(zip.substr(at + 46, u16(at + 28)), (u16(at + 8) & (1 << 11)) != 0);
  }
  return names;
}
#endif

rt::PeResources load(const std::string& bytes) {
  rt::PeResources pe;
  std::string error;
  EXPECT_TRUE(pe.load(bytes, &error)) << error;
  return pe;
}

std::string system_resource(const rt::PeResources& pe, const char* name) {
  const std::string* data = pe.find(rt::ResourceId::of_text("SYSTEM"), rt::ResourceId::of_text(name), 0);
  return data ? *data : "<missing>";
}

// The decrypted configuration record (code page 936).
std::string record(const rt::PeResources& pe) {
  return installer::decrypt_record(rt::Bytes(system_resource(pe, "102")), "Tarnel", true).str();
}

TEST_F(MkinstallerTest, HelpInTheStyleOfCommonTools) {
  ToolRun main = run("--help");
  EXPECT_EQ(main.status, 0);
  EXPECT_THAT(main.out, HasSubstr("Usage: mkinstaller <command> [options]"));
  for (const char* command : {"build", "pack", "inspect", "list"}) {
    EXPECT_THAT(main.out, HasSubstr(std::string("  ") + command));
    ToolRun sub = run(std::string(command) + " --help");
    EXPECT_EQ(sub.status, 0) << command;
    EXPECT_THAT(sub.out, HasSubstr(std::string("Usage: mkinstaller ") + command)) << command;
    EXPECT_EQ(run(std::string("help ") + command).out, sub.out) << command;
  }
  EXPECT_THAT(run("build -h").out, HasSubstr("--package-dir DIR"));
  EXPECT_EQ(run("--version").status, 0);

  ToolRun none = run("");
  EXPECT_EQ(none.status, 1);
  EXPECT_THAT(none.err, HasSubstr("Usage:"));
  ToolRun unknown = run("frob");
  EXPECT_EQ(unknown.status, 1);
  EXPECT_THAT(unknown.err, HasSubstr("unknown command 'frob'"));
  EXPECT_THAT(unknown.err, HasSubstr("Try 'mkinstaller --help'"));
  ToolRun option = run("build --colour red");
  EXPECT_EQ(option.status, 1);
  EXPECT_THAT(option.err, HasSubstr("unknown option '--colour'\nTry 'mkinstaller build --help'"));
}

#ifdef MKINSTALLER_HAS_PACK
TEST_F(MkinstallerTest, PackNamesEveryFileBelowAppWithUtf8Names) {
  make_app(/*with_uninstaller=*/false);
  write("home/uninst.exe", "our uninstaller");
  ToolRun r = run("pack app --out pkg.zip");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("4 files, 1 folders, with the uninstaller added as {app}/uninst.exe"));
  std::vector<std::pair<std::string, bool>> expected = {{"{app}/app.exe", true},
                                                        {"{app}/sub/", true},
                                                        {"{app}/sub/data.txt", true},
                                                        {u8(u8"{app}/说明.txt"), true},
                                                        {"{app}/uninst.exe", true}};
  EXPECT_EQ(zip_names(read("pkg.zip")), expected);

  // A folder with its own uninstaller keeps it, and without any to add the
  // tool says so.
  fs::remove(path("home/uninst.exe"));
  write("app/uninst.exe", "own");
  r = run("pack app -o pkg2.zip");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(zip_names(read("pkg2.zip")).size(), 5u);
  EXPECT_THAT(r.out, Not(HasSubstr("uninstaller added")));
  fs::remove(path("app/uninst.exe"));
  r = run("pack app --out=pkg3.zip");
  EXPECT_EQ(r.status, 0);
  EXPECT_THAT(r.err, HasSubstr("warning: app: no uninst.exe"));
}

TEST_F(MkinstallerTest, BuildPacksAFolder) {
  make_app(/*with_uninstaller=*/true);
  write("app.json", config());
  ToolRun r = run("build --config app.json --package-dir app --stub stub.exe --out setup.exe");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("package ZIP archive, 5 entries"));
  EXPECT_THAT(run("inspect setup.exe").out, HasSubstr("  {app}/sub/data.txt\n"));
  EXPECT_FALSE(fs::exists(path("setup.exe.package.zip"))) << "no temporary file left";
}
#else
TEST_F(MkinstallerTest, PackIsNotAvailableInTheWindowsBuild) {
  write("app/app.exe", "MZ");
  ToolRun r = run("pack app --out pkg.zip");
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("pack is not available in this Windows build"));
  EXPECT_THAT(run("pack --help").out, HasSubstr("cannot pack"));
  EXPECT_FALSE(fs::exists(path("pkg.zip")));
}
#endif

TEST_F(MkinstallerTest, BuildWritesRecordLogoAndPackageThatReadBack) {
  write("pkg.zip", package(/*complete=*/true));
  write("app.json", config());
  ToolRun r = run("build --config app.json --logo logo.png --package pkg.zip --stub stub.exe --out setup.exe");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "") << "no warnings for a complete package";
  EXPECT_THAT(r.out, HasSubstr(u8(u8"\"测试软件\" 1.2, install type disk, package ZIP archive, 5 entries")));

  rt::PeResources pe = load(read("setup.exe"));
  EXPECT_EQ(system_resource(pe, "101"), kPng);
  EXPECT_EQ(system_resource(pe, "103"), read("pkg.zip"));
  std::string digest = installer::sha256_hex(read("pkg.zip"));
  EXPECT_EQ(record(pe), rt::cp936_from_utf8(config("disk", ",\n  \"sha256\": \"" + digest + "\"")))
      << "the record is the file's text in code page 936, the package's digest added";
  EXPECT_EQ(pe.list().size(), 3u);

  ToolRun inspect = run("inspect setup.exe");
  EXPECT_EQ(inspect.status, 0) << inspect.err;
  EXPECT_THAT(inspect.out, HasSubstr("logo (SYSTEM/101): PNG image 1 x 1, 70 bytes"));
  EXPECT_THAT(inspect.out, HasSubstr("package (SYSTEM/103): ZIP archive, 5 entries"));
  EXPECT_THAT(inspect.out, HasSubstr(u8(u8"  {app}/说明.txt\n")));
  EXPECT_THAT(inspect.out, HasSubstr(u8(u8"\"softname\": \"测试软件\"")));

  // Building again from the built installer replaces, never duplicates.
  write("app.json", config("net"));
  r = run("build -c app.json -s setup.exe -o setup2.exe");
  ASSERT_EQ(r.status, 0) << r.err;
  rt::PeResources again = load(read("setup2.exe"));
  EXPECT_EQ(again.list().size(), 3u);
  EXPECT_EQ(system_resource(again, "101"), kPng) << "the stub's logo stays without --logo";
  EXPECT_EQ(system_resource(again, "103").size(), 22u) << "the empty archive";
}

TEST_F(MkinstallerTest, BuildRecordsTheDigestOfThePackageTheInstallerWillCheck) {
  write("pkg.zip", package(/*complete=*/true));
  const std::string digest = installer::sha256_hex(read("pkg.zip"));
  std::string upper = digest;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const std::string tail = " --stub stub.exe --out setup.exe";

  // The publisher's own digest, in capitals, agrees: the text stays as written.
  write("own.json", config("disk", ",\n  \"sha256\": \"" + upper + "\""));
  ToolRun r = run("build --config own.json --package pkg.zip" + tail);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("\"sha256\" " + digest));
  EXPECT_EQ(record(load(read("setup.exe"))), rt::cp936_from_utf8(read("own.json")));
  ToolRun inspect = run("inspect setup.exe");
  EXPECT_THAT(inspect.out, HasSubstr("package (SYSTEM/103): ZIP archive, 5 entries, " +
                                     std::to_string(read("pkg.zip").size()) + " bytes, sha256 " + digest + "\n"));
  EXPECT_THAT(inspect.out, HasSubstr("sha256: " + digest + ", the carried package has it"));

  // "disk" without a package carries, and so checks, the empty archive.
  write("one-line.json", u8(u8"{\"softname\": \"空\", \"installtype\": \"disk\"}"));
  ASSERT_EQ(run("build --config one-line.json" + tail).status, 0);
  const std::string empty = installer::sha256_hex(std::string("PK\x05\x06", 4) + std::string(18, '\0'));
  EXPECT_EQ(record(load(read("setup.exe"))),
            rt::cp936_from_utf8(u8(u8"{\"softname\": \"空\", \"installtype\": \"disk\", \"sha256\": \"") + empty + "\"}"));

  // "net": the digest of a package the tool does not have, or of the one it
  // is shown; none at all leaves the installer unchecked.
  write("net.json", config("net"));
  r = run("build --config net.json --sha256 " + upper + tail);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(record(load(read("setup.exe"))), HasSubstr("\"sha256\": \"" + digest + "\"\n}"));
  EXPECT_THAT(run("inspect setup.exe").out, HasSubstr("sha256: " + digest + ", the downloaded package must have it"));
  r = run("build --config net.json --package pkg.zip" + tail);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(record(load(read("setup.exe"))), HasSubstr("\"sha256\": \"" + digest + "\""));
  r = run("build --config net.json" + tail);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("no \"sha256\""));
  EXPECT_EQ(record(load(read("setup.exe"))), rt::cp936_from_utf8(config("net")));
  EXPECT_THAT(run("inspect setup.exe").out, HasSubstr("sha256: none, the package is not checked"));

  // An installer whose carried package differs from its record says so.
  rt::PeResources pe = load(read("stub.exe"));
  rt::Bytes wrong = installer::encrypt_text(rt::Text(rt::cp936_from_utf8(read("own.json"))), "Tarnel", true);
  pe.set(rt::ResourceId::of_text("SYSTEM"), rt::ResourceId::of_text("102"), 0, std::string(wrong.view()));
  std::string bytes, error;
  ASSERT_TRUE(pe.save(&bytes, &error)) << error;
  write("mismatch.exe", bytes);
  EXPECT_THAT(run("inspect mismatch.exe").out,
              HasSubstr("sha256: " + digest + ", but the carried package has " + installer::sha256_hex("") +
                        ": this installer will refuse its package"));
}

TEST_F(MkinstallerTest, BuildWarnsAboutWhatThePackageLacks) {
  write("pkg.zip", package(/*complete=*/false));
  write("app.json", config());
  ToolRun r = run("build --config app.json --package pkg.zip --stub stub.exe --out setup.exe");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.err, HasSubstr("warning: pkg.zip: the package has no \"{app}/uninst.exe\""));
  EXPECT_THAT(r.err,
              HasSubstr("warning: pkg.zip: the package has no \"{app}/app.exe\", the configuration's \"mainfile\""));
  EXPECT_THAT(r.err, HasSubstr("no --logo"));
  EXPECT_THAT(run("inspect setup.exe").out, HasSubstr("  {app}/other.exe\n"));

  write("app.json", config("disk"));
  r = run("build --config app.json --stub stub.exe --out empty.exe");
  EXPECT_EQ(r.status, 0);
  EXPECT_THAT(r.err, HasSubstr("install type \"disk\" without --package"));
}

TEST_F(MkinstallerTest, BadInputIsRefusedByNameAndNothingIsWritten) {
  write("ok.json", config());
  write("unknown.json", config("disk", ",\n  \"softnam\": \"x\""));
  write("number.json", config("disk", ",\n  \"framework\": 4.8"));
  write("type.json", config("cd"));
  write("ftp.json", u8(u8"{\"softname\": \"A\", \"installtype\": \"net\", \"urlremote\": \"ftp://h/a.zip\"}"));
  write("nourl.json", u8(u8"{\"softname\": \"A\", \"installtype\": \"net\"}"));
  write("emoji.json", u8(u8"{\"installtype\": \"disk\",\n\"softname\": \"A😀\"}"));
  write("gbk.json", "{\"softname\": \"\xB2\xE2\xCA\xD4\", \"installtype\": \"disk\"}");
  write("broken.json", "{\"softname\": \"A\", \"installtype\": \"disk\"");
  write("array.json", "[1, 2]");
  write("slash.json", u8(u8"{\"softname\": \"A/B\", \"installtype\": \"disk\"}"));
  write("noname.json", u8(u8"{\"installtype\": \"disk\"}"));
  write("logo.jpg", "\xFF\xD8\xFF\xE0 JFIF");
  write("cut.png", kPng.substr(0, 50));
  write("pkg.txt", "just text, not a zip");
  write("stub.txt", "plain text, no program here");
  std::string pe64 = testsupport::make_fake_program();
  pe64[testsupport::kFakePe + 4] = '\x64';  // machine 0x8664
  pe64[testsupport::kFakePe + 5] = '\x86';
  write("stub64.exe", pe64);

  write("pkg.zip", package(/*complete=*/true));
  const std::string pkg_digest = installer::sha256_hex(read("pkg.zip"));
  const std::string empty_digest = installer::sha256_hex(std::string("PK\x05\x06", 4) + std::string(18, '\0'));
  const std::string other = installer::sha256_hex("another package");
  write("badsha.json", config("disk", ",\n  \"sha256\": \"12ab\""));
  write("othersha.json", config("disk", ",\n  \"sha256\": \"" + other + "\""));
  write("netsha.json", config("net", ",\n  \"sha256\": \"" + other + "\""));

  struct Case {
    std::string args, message;
  };
  const std::string tail = " --stub stub.exe --out out.exe";
  std::vector<Case> cases = {
      {"build --config unknown.json" + tail, "unknown.json:7: unknown key \"softnam\" (known keys: softname,"},
      {"build --config number.json" + tail,
       "number.json:7: \"framework\" must be a text in double quotes, not a number (write \"4.8\")"},
      {"build --config type.json" + tail, "type.json:5: \"installtype\" must be \"net\" or \"disk\", not \"cd\""},
      {"build --config ftp.json" + tail, "ftp.json:1: install type \"net\" needs an http:// or https:// address"},
      {"build --config nourl.json" + tail, "nourl.json:1: install type \"net\" needs an http:// or https://"},
      {"build --config emoji.json" + tail,
       u8(u8"emoji.json:2: the character \"😀\" (U+1F600) cannot be written in code page 936")},
      {"build --config gbk.json" + tail, "gbk.json:1: not UTF-8 text (byte 0xB2)"},
      {"build --config broken.json" + tail, "broken.json:1: not valid JSON"},
      {"build --config array.json" + tail, "array.json: the configuration must be a JSON object"},
      {"build --config slash.json" + tail, "slash.json:1: \"softname\" \"A/B\" cannot be a folder name"},
      {"build --config noname.json" + tail, "noname.json: \"softname\" is missing or empty"},
      {"build --config missing.json" + tail, "missing.json: no such file"},
      {"build --config ok.json --logo logo.jpg" + tail, "logo.jpg: not a PNG image; it looks like a JPEG image"},
      {"build --config ok.json --logo cut.png" + tail, "cut.png: a damaged PNG image"},
      {"build --config ok.json --package pkg.txt" + tail, "pkg.txt: not a ZIP archive"},
      {"build --config ok.json --stub stub.txt --out out.exe",
       "stub.txt: not a PE32 program (not a PE file: no MZ signature)"},
      {"build --config ok.json --stub stub64.exe --out out.exe",
       "stub64.exe: not a PE32 program (it is built for another processor)"},
#ifdef MKINSTALLER_HAS_PACK
      {"build --config ok.json --package-dir nowhere" + tail, "nowhere: no such folder"},
      {"pack nowhere --out p.zip", "nowhere: no such folder"},
#endif
      {"build --config ok.json --sha256 abc" + tail,
       "--sha256 needs 64 hexadecimal digits, not 'abc' (3 characters)\nTry 'mkinstaller build --help'"},
      {"build --config ok.json --sha256 " + std::string(63, 'a') + "g" + tail, "--sha256 needs 64 hexadecimal digits"},
      {"build --config badsha.json" + tail,
       "badsha.json:7: \"sha256\" must be 64 hexadecimal digits (the SHA-256 of the package), not \"12ab\""},
      {"build --config ok.json --package pkg.zip --sha256 " + other + tail,
       "pkg.zip: the package's SHA-256 is " + pkg_digest + ", but --sha256 gives " + other},
      {"build --config othersha.json --package pkg.zip" + tail,
       "pkg.zip: the package's SHA-256 is " + pkg_digest + ", but othersha.json has \"sha256\" " + other},
      {"build --config othersha.json" + tail,
       "othersha.json: the empty package carried without --package has SHA-256 " + empty_digest + ", but"},
      {"build --config netsha.json --sha256 " + pkg_digest + tail,
       "netsha.json: \"sha256\" is " + other + " but --sha256 gives " + pkg_digest + "; they must agree"},
      {"build --config ok.json --stub stub.exe", "missing --out OUT.exe\nTry 'mkinstaller build --help'"},
      {"build --config ok.json --package a.zip --package-dir app" + tail, "give either --package or --package-dir"},
      {"build --config ok.json --config ok.json" + tail, "option '--config' given twice"},
      {"build --config", "option '--config' needs a value"},
      {"inspect stub.txt", "stub.txt: not a PE file: no MZ signature"},
      {"list stub.exe", "stub.exe: no installed-file list (resource \"install\"/\"list\")"},
      {"list", "missing file operand"},
  };
  write("out.exe", "old");
  for (const Case& c : cases) {
    ToolRun r = run(c.args);
    EXPECT_EQ(r.status, 1) << c.args;
    EXPECT_THAT(r.err, HasSubstr("mkinstaller: error: " + c.message)) << c.args;
    EXPECT_EQ(r.out, "") << c.args;
    EXPECT_EQ(read("out.exe"), "old") << c.args << ": nothing written";
  }
  EXPECT_FALSE(fs::exists(path("p.zip")));
  // No temporary files left behind either.
  for (const auto& e : fs::directory_iterator(dir_))
    EXPECT_EQ(e.path().filename().string().find("tmp"), std::string::npos) << e.path();
}

TEST_F(MkinstallerTest, ListPrintsTheDecryptedInstalledFiles) {
  std::string list = rt::cp936_from_utf8(u8(u8"C:\\Apps\\测试\\app.exe\r\nC:\\Apps\\测试\\sub\\\r\n"));
  rt::PeResources pe = load(testsupport::make_fake_program());
  rt::Bytes encrypted = installer::encrypt_text(rt::Text(list), "Tarnel", true);
  pe.set(rt::ResourceId::of_text("install"), rt::ResourceId::of_text("list"), 0, std::string(encrypted.view()));
  std::string bytes, error;
  ASSERT_TRUE(pe.save(&bytes, &error)) << error;
  write("uninst.exe", bytes);
  ToolRun r = run("list uninst.exe");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, u8(u8"C:\\Apps\\测试\\app.exe\nC:\\Apps\\测试\\sub\\\n"));
}

}  // namespace
