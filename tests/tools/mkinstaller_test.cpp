// The mkinstaller command line, run as a publisher runs it, on files made
// here: what it writes, what it prints, and how it refuses bad input.
// Built natively and for Windows (the Windows tool under Wine, which cannot
// pack).
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "installer/format/cipher.h"
#include "installer/format/dotnet_pins.h"
#include "installer/format/installed_list.h"
#include "installer/format/record.h"
#include "installer/format/sha256.h"
#include "runtime/value/codepage.h"
#include "mkinstaller/checks.h"
#include "mkinstaller/pe_resources.h"
#include "tests/support/fake_pe.h"
#include "tests/support/paths.h"
#include "tests/support/zip_maker.h"
#include <nlohmann/json.hpp>

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

// A small program with the resources of our setup.exe: the standard logo,
// the empty record and the empty archive.
std::string our_stub() {
  rt::PeResources pe;
  std::string error, bytes;
  EXPECT_TRUE(pe.load(testsupport::make_fake_program(), &error)) << error;
  const rt::ResourceId system = rt::ResourceId::of_text("SYSTEM");
  pe.set(system, rt::ResourceId::of_text("101"), 0, kPng);
  pe.set(system, rt::ResourceId::of_text("102"), 0, "");
  pe.set(system, rt::ResourceId::of_text("103"), 0, std::string("PK\x05\x06", 4) + std::string(18, '\0'));
  EXPECT_TRUE(pe.save(&bytes, &error)) << error;
  return bytes;
}

int count_type(const rt::PeResources& pe, const rt::ResourceId& type) {
  int n = 0;
  for (const rt::ResourceInfo& r : pe.list()) n += r.type == type ? 1 : 0;
  return n;
}

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
    write("stub.exe", our_stub());
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
    // Files of this run's own: under Wine a run's inherited error file can
    // stay open after it ends (the next run could not create it again and
    // would read the last one's messages).
    const std::string n = std::to_string(++runs_);
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE out = CreateFileW(rt::wide_path(path("out" + n + ".txt")).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa,
                             CREATE_NEW, 0, nullptr);
    HANDLE err = CreateFileW(rt::wide_path(path("err" + n + ".txt")).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa,
                             CREATE_NEW, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE || err == INVALID_HANDLE_VALUE) return ToolRun{-1, "", "cannot make the output files"};
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
    return ToolRun{static_cast<int>(code), lines(read("out" + n + ".txt")), lines(read("err" + n + ".txt"))};
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
  int runs_ = 0;
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
  for (const char* help : {"help --help", "help help", "help -h"}) {
    ToolRun r = run(help);
    EXPECT_EQ(r.status, 0) << help << ": " << r.err;
    EXPECT_THAT(r.out, HasSubstr("Usage: mkinstaller help [COMMAND]")) << help;
  }

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
  EXPECT_THAT(r.out, HasSubstr("4 files, 1 folder, with the uninstaller added as {app}/uninst.exe"));
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
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("error: app: the folder has no uninst.exe, and there is none next to mkinstaller or in "
                               "$MKINSTALLER_HOME to add: the installed files could not be uninstalled; add one, or "
                               "give --no-uninstaller when a package without an uninstaller is meant"));
  EXPECT_FALSE(fs::exists(path("pkg3.zip")));
  // Unless a package without an uninstaller is meant.
  write("home/uninst.exe", "our uninstaller");
  r = run("pack app --out=pkg3.zip --no-uninstaller");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(zip_names(read("pkg3.zip")).size(), 4u);
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

// The stub's .NET pins decide what an installer downloads for "framework":
// build refuses a stub that could never start the framework's installer,
// warns for one that does not say, and build and inspect name the
// installer and its proof.
TEST_F(MkinstallerTest, BuildAndInspectSayWhichDotnetInstallerIsDownloadedAndHowItIsProven) {
  auto stub_with = [&](const std::string& name, const installer::format::DotnetPins* pins) {
    rt::PeResources pe = load(our_stub());
    // Anywhere in the program's bytes, as the compiler leaves it in setup.exe.
    if (pins) pe.set(rt::ResourceId::of_number(10), rt::ResourceId::of_text("PINS"), 0,
                     installer::format::dotnet_pins_text(*pins) + std::string(1, '\0'));
    std::string bytes, error;
    ASSERT_TRUE(pe.save(&bytes, &error)) << error;
    write(name, bytes);
  };
  installer::format::DotnetPins pins;
  pins.url48 = "https://example.invalid/NDP48-x86-x64-AllOS-ENU.exe";
  pins.url481 = "https://example.invalid/ndp481-x86-x64-allos-enu.exe";
  pins.roots = {"8F43288AD272F3103B6FB1428485EA3014C0BCFE"};
  pins.signer = "Microsoft Corporation";
  stub_with("pinned.exe", &pins);
  installer::format::DotnetPins no_481 = pins;
  no_481.url481.clear();
  stub_with("no481.exe", &no_481);
  installer::format::DotnetPins no_proof = pins;
  no_proof.roots.clear();
  stub_with("noproof.exe", &no_proof);

  struct Row {
    const char* framework;
    const char* stub;
    int status;
    std::string out, err;  // expected within the output
  } rows[] = {
      {"4.81", "pinned.exe", 0, "downloads the .NET Framework 4.8.1 offline installer from " + pins.url481 +
                                    ", started only when its Authenticode signature verifies, by \"Microsoft Corporation\"",
       ""},
      {"4.72", "pinned.exe", 0, "downloads the .NET Framework 4.8 offline installer from " + pins.url48, ""},
      {"4.81", "no481.exe", 1, "", "no481.exe: this setup.exe has no address for the .NET Framework 4.8.1 offline installer"},
      {"4.8", "no481.exe", 0, "4.8 offline installer from " + pins.url48, ""},
      {"4.8", "noproof.exe", 1, "", "noproof.exe: this setup.exe pins no signature and no digest"},
      {"4.8", "stub.exe", 0, ".NET Framework 4.8: not known",
       "stub.exe: the program carries no .NET Framework download settings"},
  };
  write("pkg.zip", package(/*complete=*/true));
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.framework) + " " + r.stub);
    write("app.json", config("disk", ",\n  \"framework\": \"" + std::string(r.framework) + "\""));
    ToolRun built = run("build --config app.json --package pkg.zip --stub " + std::string(r.stub) + " --out dn.exe");
    EXPECT_EQ(built.status, r.status) << built.err;
    if (!r.out.empty()) {
      EXPECT_THAT(built.out, HasSubstr(r.out));
    }
    if (!r.err.empty()) {
      EXPECT_THAT(built.err, HasSubstr(r.err));
    }
    if (r.status != 0) {
      EXPECT_FALSE(fs::exists(path("dn.exe")));
    }
    fs::remove(path("dn.exe"));
  }
  // inspect names the pinned roots themselves.
  write("app.json", config("disk", ",\n  \"framework\": \"4.8\""));
  ASSERT_EQ(run("build --config app.json --package pkg.zip --stub pinned.exe --out dn.exe").status, 0);
  EXPECT_THAT(run("inspect dn.exe").out,
              HasSubstr("dotnet: .NET Framework 4.8: when the machine has less, downloads the .NET Framework 4.8 "
                        "offline installer from " + pins.url48 + ", started only when its Authenticode signature "
                        "verifies, by \"Microsoft Corporation\", with a chain ending in root "
                        "8F43288AD272F3103B6FB1428485EA3014C0BCFE\n"));
  // Without a requirement nothing is downloaded, and build says nothing of it.
  write("app.json", config());
  ToolRun none = run("build --config app.json --package pkg.zip --stub pinned.exe --out none.exe");
  ASSERT_EQ(none.status, 0) << none.err;
  EXPECT_THAT(none.out, Not(HasSubstr(".NET")));
  EXPECT_THAT(run("inspect none.exe").out, HasSubstr("dotnet: none required"));
}

TEST_F(MkinstallerTest, BuildWritesRecordLogoAndPackageThatReadBack) {
  write("pkg.zip", package(/*complete=*/true));
  write("app.json", config());
  ToolRun r =
      run("build --config app.json --logo logo.png --package pkg.zip --scope machine --stub stub.exe --out setup.exe");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "") << "no warnings for a complete package";
  EXPECT_THAT(r.out, HasSubstr(u8(u8"\"测试软件\" 1.2, install type disk, package ZIP archive, 5 entries")));

  rt::PeResources pe = load(read("setup.exe"));
  EXPECT_EQ(system_resource(pe, "101"), kPng);
  EXPECT_EQ(system_resource(pe, "103"), read("pkg.zip"));
  // Reproducible: the same inputs give the same bytes (the package streamed
  // in, the checksum summed on the way).
  fs::create_directories(path("again"));
  ASSERT_EQ(run("build --config app.json --logo logo.png --package pkg.zip --scope machine --stub stub.exe "
                "--out again/setup.exe")
                .status,
            0);
  EXPECT_TRUE(read("again/setup.exe") == read("setup.exe"));
  std::string digest = installer::sha256_hex(read("pkg.zip"));
  EXPECT_EQ(record(pe),
            rt::cp936_from_utf8(config("disk", ",\n  \"sha256\": \"" + digest + "\",\n  \"scope\": \"machine\"")))
      << "the record is the file's text in code page 936, the package's digest and the scope added";
  EXPECT_EQ(count_type(pe, rt::ResourceId::of_text("SYSTEM")), 3);

  ToolRun inspect = run("inspect setup.exe");
  EXPECT_EQ(inspect.status, 0) << inspect.err;
  EXPECT_THAT(inspect.out, HasSubstr("logo (SYSTEM/101): PNG image 1 x 1, 70 bytes"));
  EXPECT_THAT(inspect.out, HasSubstr("package (SYSTEM/103): ZIP archive, 5 entries"));
  EXPECT_THAT(inspect.out, HasSubstr(u8(u8"  {app}/说明.txt\n")));
  EXPECT_THAT(inspect.out, HasSubstr(u8(u8"\"softname\": \"测试软件\"")));

  // Building again from the built installer replaces, never duplicates.
  write("app.json", config("net"));
  r = run("build -c app.json --sha256 " + digest + " -s setup.exe -o setup2.exe");
  ASSERT_EQ(r.status, 0) << r.err;
  rt::PeResources again = load(read("setup2.exe"));
  EXPECT_EQ(again.list().size(), pe.list().size() - 1);
  EXPECT_EQ(system_resource(again, "101"), kPng) << "the stub's logo stays without --logo";
  EXPECT_EQ(system_resource(again, "103"), "<missing>") << "a \"net\" installer carries no package, not even an empty one";
  ToolRun net = run("inspect setup2.exe");
  EXPECT_EQ(net.status, 0) << net.out;
  EXPECT_THAT(net.out, Not(HasSubstr("package (SYSTEM/103)")));
  EXPECT_THAT(net.out, HasSubstr("sha256: " + digest + ", the downloaded package must have it"));
}

#ifndef _WIN32
// Every command's exit status says so when what it prints cannot all be
// written (a full disk, here /dev/full): a report cut short is no success.
// And pack on a full disk names the package it could not write.
TEST_F(MkinstallerTest, OutputThatCannotBeWrittenIsAnError) {
  write("pkg.zip", package(/*complete=*/true));
  write("app.json", config());
  ASSERT_EQ(run("build --config app.json --package pkg.zip --scope machine --stub stub.exe --out setup.exe").status, 0);
  write("l/uninst.dat", std::string(installer::format::seal_installed_list(rt::Text("C:\\A\\a.txt\r\n")).view()));
  auto full = [&](const std::string& args) {
    std::string cmd = "cd '" + dir_ + "' && '" MKINSTALLER_PATH "' " + args + " >/dev/full 2>err.txt";
    int raw = std::system(cmd.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  };
  for (const std::string args :
       {"inspect setup.exe", "inspect --json setup.exe", "check --config app.json --package pkg.zip --stub stub.exe",
        "build --config app.json --package pkg.zip --stub stub.exe --out again.exe", "list l/uninst.dat", "--help",
        "help build", "inspect --help", "--version"}) {
    EXPECT_EQ(full(args), 1) << args;
    EXPECT_THAT(read("err.txt"), HasSubstr("mkinstaller: error: cannot write the output")) << args;
  }

  // 64 KiB of bytes that do not compress, and room for 16 KiB (the file
  // size limit stands in for a full disk; its signal is ignored, so that
  // writing fails instead).
  std::string noise(64 << 10, '\0');
  std::uint32_t x = 12345;
  for (char& c : noise) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
  write("big/noise.bin", noise);
  write("home/uninst.exe", "our uninstaller");
  std::string cmd = "cd '" + dir_ + "' && trap '' XFSZ && ulimit -f 32 && '" MKINSTALLER_PATH
                    "' pack big --out big.zip >out.txt 2>err.txt";
  int raw = std::system(cmd.c_str());
  EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 1);
  EXPECT_THAT(read("err.txt"), HasSubstr("mkinstaller: error: big.zip: cannot write the file (disk full?)"));
  EXPECT_THAT(read("err.txt"), Not(HasSubstr("noise.bin")));
  EXPECT_FALSE(fs::exists(path("big.zip")));
}
#endif

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
  write("one-line.json", u8(u8"{\"softname\": \"空\", \"softversion\": \"1\", \"installtype\": \"disk\"}"));
  ASSERT_EQ(run("build --config one-line.json --allow-empty" + tail).status, 0);
  const std::string empty = installer::sha256_hex(std::string("PK\x05\x06", 4) + std::string(18, '\0'));
  EXPECT_EQ(record(load(read("setup.exe"))),
            rt::cp936_from_utf8(u8(u8"{\"softname\": \"空\", \"softversion\": \"1\", \"installtype\": \"disk\", "
                                   u8"\"sha256\": \"") + empty + "\"}"));

  // "net": the digest of a package the tool does not have, or of the one it
  // is shown (none at all is refused: see BadInputIsRefusedByName...).
  write("net.json", config("net"));
  r = run("build --config net.json --sha256 " + upper + tail);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(record(load(read("setup.exe"))), HasSubstr("\"sha256\": \"" + digest + "\"\n}"));
  EXPECT_THAT(run("inspect setup.exe").out, HasSubstr("sha256: " + digest + ", the downloaded package must have it"));
  r = run("build --config net.json --package pkg.zip" + tail);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(record(load(read("setup.exe"))), HasSubstr("\"sha256\": \"" + digest + "\""));

  // Installers made otherwise: one whose carried package differs from its
  // record, and a "net" one (older builders made them) without a digest.
  auto made = [&](const std::string& name, const std::string& config_text) {
    rt::PeResources pe = load(testsupport::make_fake_program());
    rt::Bytes plain = installer::encrypt_text(rt::Text(rt::cp936_from_utf8(config_text)), "Tarnel", true);
    pe.set(rt::ResourceId::of_text("SYSTEM"), rt::ResourceId::of_text("102"), 0, std::string(plain.view()));
    std::string bytes, error;
    ASSERT_TRUE(pe.save(&bytes, &error)) << error;
    write(name, bytes);
  };
  made("mismatch.exe", read("own.json"));
  EXPECT_THAT(run("inspect mismatch.exe").out,
              HasSubstr("sha256: " + digest + ", but the carried package has " + installer::sha256_hex("") +
                        ": this installer will refuse its package"));
  made("unchecked.exe", config("net"));
  EXPECT_THAT(run("inspect unchecked.exe").out, HasSubstr("sha256: none, the package is not checked"));
}

TEST_F(MkinstallerTest, BuildWarnsAboutWhatThePackageLacks) {
  write("pkg.zip", package(/*complete=*/false));
  write("app.json", config());
  write("bare.exe", testsupport::make_fake_program());
  ToolRun r = run("build --config app.json --package pkg.zip --stub bare.exe --out setup.exe");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.err, HasSubstr("warning: pkg.zip: the package has no \"{app}/uninst.exe\""));
  EXPECT_THAT(r.err,
              HasSubstr("warning: pkg.zip: the package has no \"{app}/app.exe\", the configuration's \"mainfile\""));
  EXPECT_THAT(r.err, HasSubstr("no --logo"));
  EXPECT_THAT(run("inspect setup.exe").out, HasSubstr("  {app}/other.exe\n"));

  // Entries the installer writes outside the installation folder: below
  // "{tmp}/" a warning; without a macro only when that is asked for
  // (EntriesAreConfinedAndNamedAsWindowsCanHoldThemOnce), with a warning.
  write("outside.zip", testsupport::make_zip({{"{app}/app.exe", "MZ"}, {"{tmp}/x.dll", "x"}, {"readme.txt", "r"}}));
  r = run("build --config app.json --package outside.zip --stub stub.exe --out outside.exe");
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("error: outside.zip: the entry \"readme.txt\" is not below \"{app}/\""));
  EXPECT_FALSE(fs::exists(path("outside.exe")));
  r = run("build --config app.json --package outside.zip --allow-relative-entries --stub stub.exe --out outside.exe");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.err, HasSubstr("warning: outside.zip: the entry \"{tmp}/x.dll\" is not below \"{app}/\""));
  EXPECT_THAT(r.err, HasSubstr("warning: outside.zip: the entry \"readme.txt\" is not below \"{app}/\""));

  // An installer that installs nothing only when that is meant (refused
  // otherwise: BadInputIsRefusedByName...).
  write("app.json", config("disk"));
  r = run("build --config app.json --stub stub.exe --allow-empty --out empty.exe");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.err, Not(HasSubstr("without a package")));
}

// Entries the installer would write outside the folders it knows, refuse
// as damaged, or that Windows cannot hold (or holds as one) are refused by
// check, build and pack, naming the entry, before anything is written.
TEST_F(MkinstallerTest, EntriesAreConfinedAndNamedAsWindowsCanHoldThemOnce) {
  write("app.json", config());
  struct Case {
    std::vector<std::string> names;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"{app}/../../evil.txt"},
       "the entry \"{app}/../../evil.txt\" has a \"..\" component (Windows reads it as the folder above): the "
       "installer refuses the package as damaged"},
      {{"C:/evil.txt"}, "the entry \"C:/evil.txt\" names a drive (\"C:\")"},
      {{"/etc/evil.txt"}, "the entry \"/etc/evil.txt\" begins with \"/\" (the root of a drive or a network share)"},
      {{"{app}/con.txt"}, "the entry \"{app}/con.txt\" names a device (\"con.txt\""},
      {{"evil.txt"},
       "the entry \"evil.txt\" is not below \"{app}/\" (the installation folder) or \"{tmp}/\": the installer would "
       "write it below the folder it was started from, where uninstalling leaves it; name it \"{app}/evil.txt\", or "
       "give --allow-relative-entries when that is meant"},
      {{"{app}/a/{tmp}/b.txt"}, "the entry \"{app}/a/{tmp}/b.txt\" has \"{tmp}/\" inside it"},
      {{"{app}/what?.txt"}, "the entry \"{app}/what?.txt\" has the character \"?\" (U+003F), which Windows does not "
                            "allow in a name"},
      {{"{app}/a*b.txt"}, "the entry \"{app}/a*b.txt\" has the character \"*\" (U+002A)"},
      {{"{app}/a<b>.txt"}, "the entry \"{app}/a<b>.txt\" has the character \"<\" (U+003C)"},
      {{"{app}/a\tb.txt"}, "has the character U+0009, which Windows does not allow in a name"},
      {{"{app}/dot."}, "the entry \"{app}/dot.\" has a name ending in a dot (\"dot.\"), which Windows drops"},
      {{"{app}/space /x.txt"}, "the entry \"{app}/space /x.txt\" has a name ending in a space (\"space \")"},
      {{"{app}/" + std::string(256, 'n') + "/x.txt"},
       "has a name of 256 characters; Windows allows at most 255 in one file or folder name"},
      {{"{app}/" + std::string(100, 'd') + "/" + std::string(160, 'f')},
       "bytes long in code page 936; the installer reads at most 259"},
      {{"{app}/UPPER.txt", "{app}/upper.txt"},
       "the entries \"{app}/UPPER.txt\" and \"{app}/upper.txt\" name the same file on Windows, which does not tell "
       "upper and lower case apart: one would be lost"},
      {{u8(u8"{app}/ΣΩ.txt"), u8(u8"{app}/σω.txt")}, "name the same file on Windows"},
      {{u8(u8"{app}/Дом/a.txt"), u8(u8"{app}/дом\\A.TXT")}, "name the same file on Windows"},
      {{u8(u8"{app}/Ａ.txt"), u8(u8"{app}/ａ.txt")}, "name the same file on Windows"},
      {{"{app}/sub/", "{app}/SUB"}, "name the same file on Windows"},
      {{"{app}/twice.txt", "{app}/twice.txt"}, "the entry \"{app}/twice.txt\" appears twice"},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    std::vector<testsupport::ZipMakerEntry> entries = {{"{app}/app.exe", "MZ"}};
    for (const std::string& n : c.names) {
      entries.emplace_back(n, "x");
      entries.back().flags = 1 << 11;
    }
    const std::string zip = "bad" + std::to_string(i) + ".zip";
    write(zip, testsupport::make_zip(entries));
    for (const std::string command : {"check", "build"}) {
      ToolRun r = run(command + " --config app.json --package " + zip + " --stub stub.exe --out bad.exe");
      EXPECT_EQ(r.status, 1) << c.names[0];
      EXPECT_THAT(r.err, HasSubstr("mkinstaller: error: " + zip + ": ")) << command;
      EXPECT_THAT(r.err, HasSubstr(c.message)) << command;
      EXPECT_FALSE(fs::exists(path("bad.exe")));
    }
  }
  // Names that differ in more than case pass, and so does a name of 259 bytes.
  write("fine.zip", testsupport::make_zip({{"{app}/app.exe", "MZ"}, {u8(u8"{app}/Σ/α.txt"), "x"},
                                           {u8(u8"{app}/Σ/β.txt"), "x"}, {"{app}/" + std::string(253, 'n'), "x"},
                                           {"{tmp}/setup.log", "x"}, {"{app}/.hidden", "x"}}));
  ToolRun r = run("check --config app.json --package fine.zip --stub stub.exe");
  EXPECT_EQ(r.status, 0) << r.err;
  // A name without a macro keeps the installer's meaning when asked for.
  write("bare.zip", testsupport::make_zip({{"{app}/app.exe", "MZ"}, {"readme.txt", "r"}}));
  r = run("check --config app.json --package bare.zip --allow-relative-entries --stub stub.exe");
  EXPECT_EQ(r.status, 0) << r.err;
  // ... but never a "..", a drive or a device: the installer refuses those whatever the option.
  r = run("check --config app.json --package bad0.zip --allow-relative-entries --stub stub.exe");
  EXPECT_EQ(r.status, 1);
  // A softname of 64 characters is taken.
  write("name64.json", "{\"softname\": \"" + u8(u8"软") + std::string(63, 'B') + "\", \"softversion\": \"1\", "
                       "\"installtype\": \"disk\"}");
  r = run("check --config name64.json --allow-empty --stub stub.exe");
  EXPECT_EQ(r.status, 0) << r.err;

#ifdef MKINSTALLER_HAS_PACK
  // pack refuses such names while it lists the folder: nothing is written.
  write("home/uninst.exe", "our uninstaller");
  write("dev/app.exe", "MZ");
  write("dev/sub/con.txt", "x");
  write("lt/a<b>.txt", "x");
  write("case/UPPER.txt", "x");
  write("case/upper.txt", "x");
  write("slash/a\\b.txt", "x");
  write("dot/readme.", "x");
  const std::vector<std::pair<std::string, std::string>> packs = {
      {"dev", "dev/sub/con.txt: the entry \"{app}/sub/con.txt\" names a device"},
      {"lt", "lt/a<b>.txt: the entry \"{app}/a<b>.txt\" has the character \"<\" (U+003C)"},
      {"case", "case: the entries \"{app}/UPPER.txt\" and \"{app}/upper.txt\" name the same file on Windows"},
      {"slash", "slash/a\\b.txt: the character \"\\\" (U+005C) of the file name is a folder separator on Windows"},
      {"dot", "dot/readme.: the entry \"{app}/readme.\" has a name ending in a dot"},
  };
  for (const auto& [folder, message] : packs) {
    ToolRun p = run("pack " + folder + " --out " + folder + ".zip");
    EXPECT_EQ(p.status, 1) << folder;
    EXPECT_THAT(p.err, HasSubstr("mkinstaller: error: " + message));
    EXPECT_FALSE(fs::exists(path(folder + ".zip")));
    p = run("build --config app.json --package-dir " + folder + " --stub stub.exe --out " + folder + ".exe");
    EXPECT_THAT(p.err, HasSubstr("mkinstaller: error: " + message));
    EXPECT_FALSE(fs::exists(path(folder + ".exe")));
  }
#endif
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
  write("longname.json", "{\"softname\": \" " + std::string(299, 'A') + "\", \"softversion\": \"1\", \"installtype\": \"disk\"}");
  // 64 characters pass (BuildWritesRecordLogoAndPackageThatReadBack), 65 do not, in characters, not bytes.
  write("name65.json", "{\"softname\": \"" + u8(u8"软") + std::string(64, 'B') + "\", \"softversion\": \"1\", "
                       "\"installtype\": \"disk\"}");
  write("device.json", "{\"softname\": \"Con\", \"softversion\": \"1\", \"installtype\": \"disk\"}");
  write("tab.json", "{\"softname\": \"A\\tB\", \"softversion\": \"1\", \"installtype\": \"disk\"}");
  write("noname.json", u8(u8"{\"installtype\": \"disk\"}"));
  // The mistake that once built an installer showing the version
  // 1.2.0" + line break + "urlremote: a missing comma.
  write("comma.json", "{\n  \"softname\": \"A\",\n  \"softversion\": \"1.2.0\"\n  \"urlremote\": \"\",\n"
                      "  \"installtype\": \"disk\"\n}\n");
  write("trailing.json", "{\"softname\": \"A\", \"installtype\": \"disk\",}");
  write("comment.json", "{\"softname\": \"A\", // the name\n\"installtype\": \"disk\"}");
  write("twice.json", "{\"softname\": \"A\",\n\"installtype\": \"disk\",\n\"softname\": \"B\"}");
  write("framework.json", config("disk", ",\n  \"framework\": \"4.7.2\""));
  write("version.json", u8(u8"{\"softname\": \"A\", \"installtype\": \"disk\", \"softversion\": \"v2\"}"));
  write("protocol.json", config("disk", ",\n  \"protocol\": \"javascript:alert(1)\""));
  write("escape.json", config("disk", ",\n  \"companyname\": \"\\ud83d\\ude00\""));
  // Texts the strict parser and the installer's own would read apart: setup.exe
  // leaves \u escapes as written and reads \n as CR LF. A lone surrogate is
  // not JSON to the strict parser, nor is a number a text.
  write("uescape.json", config("disk", ",\n  \"companyname\": \"\\u793a\\u4f8b\""));
  write("zero.json", config("disk", ",\n  \"companyname\": \"A\\u0000B\""));
  write("newline.json", config("disk", ",\n  \"companyname\": \"A\\nB\""));
  write("ukey.json", "{\"soft\\u006eame\": \"A\", \"softversion\": \"1.0\", \"installtype\": \"disk\"}");
  // A version Windows could not show: none, empty, or a tag's "v1.2.3".
  write("noversion.json", u8(u8"{\"softname\": \"A\", \"installtype\": \"disk\"}"));
  write("emptyversion.json", u8(u8"{\"softname\": \"A\", \"softversion\": \"\", \"installtype\": \"disk\"}"));
  write("vversion.json", u8(u8"{\"softname\": \"A\", \"softversion\": \"v1.2.3\", \"installtype\": \"disk\"}"));
  write("scope.json", config("disk", ",\n  \"scope\": \"all\""));
  write("userscope.json", config("disk", ",\n  \"scope\": \"user\""));
  // Names the installed-file list (code page 936) cannot spell: Windows
  // would write "¹" as "1" and "º" as "o", naming another file.
  for (const auto& [zip, name] : std::vector<std::pair<std::string, std::string>>{
           {"sup.zip", u8(u8"{app}/a¹bº.txt")}, {"ord.zip", u8(u8"{app}/cºn.txt")}, {"emoji.zip", u8(u8"{app}/😀.txt")}}) {
    testsupport::ZipMakerEntry e(name, "x");
    e.flags = 1 << 11;
    write(zip, testsupport::make_zip({e}));
  }
  write("surrogate.json", config("disk", ",\n  \"companyname\": \"\\ud800\""));
  write("unsafe.zip", testsupport::make_zip({{"{app}/ok.txt", "ok"}, {"{app}/sub/COM1.txt", "device"}}));
  write("stream.zip", testsupport::make_zip({{"{app}/a.txt:hidden", "stream"}}));
  write("not.ico", "not an icon");
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
  const std::string tail = " --allow-empty --stub stub.exe --out out.exe";
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
      // A name the installer's folder could not take: too long, a space first, a device.
      {"build --config longname.json" + tail,
       "longname.json:1: \"softname\" \" " + std::string(299, 'A') + "\" cannot be a folder name (no \\ / : * ? \" < > | "
       "or control character, no space at the start or the end, no final dot, not a device name such as CON or NUL)"},
      {"build --config name65.json" + tail, "name65.json:1: \"softname\" has 65 characters; at most 64 are allowed"},
      {"build --config device.json" + tail, "device.json:1: \"softname\" \"Con\" cannot be a folder name"},
      {"build --config tab.json" + tail, "tab.json:1: \"softname\" \"A\\tB\" cannot be a folder name"},
      {"build --config noname.json" + tail, "noname.json: \"softname\" is missing or empty"},
      {"build --config comma.json" + tail, "comma.json:4: not valid JSON: a comma (,) is missing before this (column 3)"},
      {"build --config trailing.json" + tail, "trailing.json:1: not valid JSON: a comma before } or ] is not allowed"},
      {"build --config comment.json" + tail, "comment.json:1: not valid JSON: comments are not allowed in JSON"},
      {"build --config twice.json" + tail, "twice.json:3: the key \"softname\" appears twice"},
      {"build --config framework.json" + tail,
       "framework.json:7: \"framework\" must be a .NET Framework version the installer knows"},
      {"build --config version.json" + tail,
       "version.json:1: \"softversion\" must begin with a version of the form 1, 1.2, 1.2.3 or 1.2.3.4"},
      {"build --config protocol.json" + tail,
       "protocol.json:7: \"protocol\" must be an http:// or https:// address, not \"javascript:alert(1)\""},
      {"build --config escape.json" + tail, "escape.json:7: \"companyname\" holds a character that code page 936"},
      {"build --config uescape.json" + tail,
       u8(u8"uescape.json:7: the installer would read \"companyname\" as \"\\\\u793a\\\\u4f8b\", not as \"示例\": "
          u8"write the characters themselves, not \\u escapes")},
      {"build --config zero.json" + tail,
       "zero.json:7: the installer would read \"companyname\" as \"A\\\\u0000B\", not as \"A\\u0000B\""},
      {"build --config newline.json" + tail,
       "newline.json:7: the installer would read \"companyname\" as \"A\\r\\nB\", not as \"A\\nB\": the installer "
       "reads \\n as \\r\\n"},
      {"build --config ukey.json" + tail,
       "ukey.json: the installer would read \"softname\" as \"\", not as \"A\": write the key itself"},
      {"build --config noversion.json" + tail,
       "noversion.json: \"softversion\" is missing or empty; it must begin with a version of the form 1, 1.2, 1.2.3 "
       "or 1.2.3.4"},
      {"build --config emptyversion.json" + tail, "emptyversion.json:1: \"softversion\" is missing or empty"},
      {"build --config vversion.json" + tail,
       "vversion.json:1: \"softversion\" must begin with a version of the form 1, 1.2, 1.2.3 or 1.2.3.4 (numbers up "
       "to 65535; a text such as \" beta\" may follow), not \"v1.2.3\" (leave out the leading \"v\")"},
      {"build --config ok.json --stub stub.exe --out out.exe",
       "ok.json: install type \"disk\" without a package: the installer would install nothing; give --package "
       "PKG.zip or --package-dir DIR, or --allow-empty when that is meant"},
      {"build --config ok.json --scope everyone" + tail, "--scope is user or machine, not 'everyone'"},
      {"build --config scope.json" + tail, "scope.json:7: \"scope\" must be \"user\" or \"machine\", not \"all\""},
      {"build --config userscope.json --scope machine" + tail,
       "userscope.json: \"scope\" is \"user\" but --scope gives machine; they must agree"},
      {"build --config ok.json --scope user" + tail,
       "stub.exe: its manifest names no requestedExecutionLevel, so a \"user\" installer made from it could still "
       "ask for administrator rights"},
      {"build --config ok.json --package sup.zip" + tail,
       u8(u8"sup.zip: the entry \"{app}/a¹bº.txt\" has a name code page 936 cannot spell exactly (the character "
          u8"\"¹\" (U+00B9)): the installer writes its list of installed files in code page 936 and refuses such a "
          u8"package as damaged")},
      {"build --config ok.json --package ord.zip" + tail,
       u8(u8"ord.zip: the entry \"{app}/cºn.txt\" has a name code page 936 cannot spell exactly (the character "
          u8"\"º\" (U+00BA))")},
      {"check --config ok.json --package emoji.zip --stub stub.exe",
       u8(u8"emoji.zip: the entry \"{app}/😀.txt\" has a name code page 936 cannot spell exactly (the character "
          u8"\"😀\" (U+1F600))")},
      {"build --config ok.json --no-uninstaller" + tail, "--no-uninstaller goes with --package-dir"},
      {"build --config ok.json --sign-pkcs12 cs.p12" + tail,
       "--sign-pkcs12 needs its password: --sign-password-file FILE or --sign-password-env NAME, or "
       "--sign-no-password for a .p12 without one"},
      {"build --config ok.json --sign-pkcs12 cs.p12 --sign-no-password --sign-password-file ok.json" + tail,
       "give one of --sign-password-file, --sign-password-env and --sign-no-password"},
      {"build --config ok.json --sign-ca-file ok.json" + tail, "--sign-ca-file goes with --sign-pkcs12 or --sign-command"},
      {"build --dry-run=yes --config ok.json" + tail, "option '--dry-run' takes no value"},
      {"build --config surrogate.json" + tail, "surrogate.json:7: not valid JSON: "},
      {"build --config ok.json --package unsafe.zip" + tail,
       "unsafe.zip: the entry \"{app}/sub/COM1.txt\" names a device (\"COM1.txt\": Windows opens CON, PRN, AUX, "
       "NUL, COM1-9 and LPT1-9 in any folder, whatever follows the dot): the installer refuses the package as "
       "damaged"},
      {"build --config ok.json --package stream.zip" + tail,
       "stream.zip: the entry \"{app}/a.txt:hidden\" has a \":\" (Windows would write a hidden stream)"},
      {"build --config ok.json --icon not.ico" + tail, "not.ico: not an icon file (.ico)"},
      {"build --config ok.json --allow-empty --stub stub.exe --out ok.json", "ok.json: is also an input (ok.json)"},
      {"build --config ok.json --allow-empty --stub stub.exe --out stub.exe", "stub.exe: is also an input (stub.exe)"},
      {"build --config ok.json --allow-empty --stub stub.exe --out home", "home: is a folder"},
      {"build --config ok.json --allow-empty --stub stub.exe --out nowhere/out.exe", "nowhere/out.exe: its folder does not exist"},
      {"build --config ok.json --sign-command signtool" + tail, "--sign-command needs {file}"},
      {"build --config ok.json --sign-password-env X" + tail, "--sign-password-file, --sign-password-env, --sign-no-password and --sign-timestamp go with --sign-pkcs12"},
      {"build --config net.json --package-dir app" + tail, "install type \"net\" downloads its package: pack the"},
#ifdef _WIN32
      {"build --config ok.json --allow-empty --stub stub.exe --out NUL", "NUL: is a device or another special file"},
      {"build --config ok.json --allow-empty --stub stub.exe --out com1.exe", "com1.exe: is a device or another special file"},
#else
      {"build --config ok.json --allow-empty --stub stub.exe --out /dev/null", "/dev/null: is a device or another special file"},
      {"build --config ok.json --allow-empty --stub stub.exe --out link.exe", "link.exe: is a symbolic link"},
      {"pack app --out /dev/full", "/dev/full: is a device"},
#endif
      {"build --config missing.json" + tail, "missing.json: no such file"},
      {"build --config ok.json --logo logo.jpg" + tail, "logo.jpg: not a PNG image; it looks like a JPEG image"},
      {"build --config ok.json --logo cut.png" + tail, "cut.png: a damaged PNG image"},
      {"build --config ok.json --package pkg.txt" + tail, "pkg.txt: not a ZIP archive"},
      {"build --config ok.json --allow-empty --stub stub.txt --out out.exe",
       "stub.txt: not a PE32 program (not a PE file: no MZ signature)"},
      {"build --config ok.json --allow-empty --stub stub64.exe --out out.exe",
       "stub64.exe: not a PE32 program (it is built for another processor)"},
#ifdef MKINSTALLER_HAS_PACK
      {"build --config ok.json --package-dir nowhere" + tail, "nowhere: no such folder"},
      {"pack nowhere --out p.zip", "nowhere: no such folder"},
      {"pack sup --out p.zip",
       u8(u8"sup/a¹bº.txt: the character \"¹\" (U+00B9) of the file name cannot be written exactly in code page "
          u8"936, in which the installer lists what it installs")},
      {"pack ord --out p.zip", u8(u8"ord/cºn.txt: the character \"º\" (U+00BA) of the file name")},
      {"pack emoji --out p.zip", u8(u8"emoji/😀.txt: the character \"😀\" (U+1F600) of the file name")},
      {"pack sup --out p.zip --sign-command signtool", "--sign-command needs {file}"},
      {"pack sup --out p.zip --sign-timestamp http://127.0.0.1:1/", "--sign-password-file, --sign-password-env, "
                                                                     "--sign-no-password and --sign-timestamp go "
                                                                     "with --sign-pkcs12"},
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
      {"build --config net.json" + tail,
       "net.json: install type \"net\" needs the SHA-256 of the package it downloads, so that the installer can "
       "check it: give the package you upload with --package PKG.zip (build computes its digest), or its digest "
       "with --sha256 HEX or as \"sha256\" in the configuration (sha256sum PKG.zip prints it)"},
      {"build --config ok.json --package huge.zip" + tail,
       "huge.zip: the package is 1536 MB; a \"disk\" installer carries at most 1024 MB "
       "(setup.exe is a 32-bit program, which Windows maps whole into its 2 GB of address space). Use install type "
       "\"net\": upload the package and give its address in \"urlremote\""},
      {"build --config netsha.json --sha256 " + pkg_digest + tail,
       "netsha.json: \"sha256\" is " + other + " but --sha256 gives " + pkg_digest + "; they must agree"},
      {"build --config ok.json --stub stub.exe", "missing --out OUT.exe\nTry 'mkinstaller build --help'"},
      {"build --config ok.json --package a.zip --package-dir app" + tail, "give either --package or --package-dir"},
      {"build --config ok.json --config ok.json" + tail, "option '--config' given twice"},
      {"build --config", "option '--config' needs a value"},
      {"inspect stub.txt", "stub.txt: not a PE file: no MZ signature"},
      {"list stub.exe", "stub.exe: no installed-file list (resource \"install\"/\"list\", nor uninst.dat beside it)"},
      {"list", "missing file operand"},
  };
  write("net.json", config("net"));
  // Too large for a "disk" installer, and refused before it is read: a file
  // of that size without data (sparse), as cheap to make as it is to refuse.
  write("huge.zip", "PK");
  fs::resize_file(path("huge.zip"), std::uintmax_t{1536} << 20);
#ifndef _WIN32
  fs::create_symlink("out.exe", path("link.exe"));
#endif
#ifdef MKINSTALLER_HAS_PACK
  write(u8(u8"sup/a¹bº.txt"), "x");
  write(u8(u8"ord/cºn.txt"), "x");
  write(u8(u8"emoji/😀.txt"), "x");
#endif
  write("out.exe", "old");
  for (const Case& c : cases) {
    ToolRun r = run(c.args);
    EXPECT_EQ(r.status, 1) << c.args;
    EXPECT_THAT(r.err, HasSubstr("mkinstaller: error: " + c.message)) << c.args;
    EXPECT_EQ(r.out, "") << c.args;
    EXPECT_EQ(read("out.exe"), "old") << c.args << ": nothing written";
  }
  EXPECT_FALSE(fs::exists(path("p.zip")));
  EXPECT_EQ(read("ok.json"), config()) << "an input named as the output is left alone";
  // No temporary files left behind either.
  for (const auto& e : fs::directory_iterator(dir_))
    EXPECT_EQ(e.path().filename().string().find("tmp"), std::string::npos) << e.path();
}

// The comparison build makes after sealing the record: the installer's
// reading of each key against the strict parser's. A record read otherwise
// in any one key is refused by that key (at its line when the file has it).
TEST(MkinstallerChecks, ARecordReadOtherwiseInOneKeyIsRefusedByThatKey) {
  using installer::format::InstallType;
  using installer::format::Record;
  mkinstaller::Problem problem;
  auto config = mkinstaller::check_config(
      u8(u8"{\"softname\": \"测试\", \"softversion\": \"1.0\",\n\"installtype\": \"net\",\n\"urlremote\": \"http://127.0.0.1/a.zip\"}"),
      &problem);
  ASSERT_TRUE(config) << problem.message;
  const auto record = installer::format::parse_record(config->record_text);
  ASSERT_TRUE(record);
  EXPECT_TRUE(mkinstaller::same_reading(*config, record, &problem)) << problem.message;
  auto sealed = mkinstaller::seal_checked_record(*config, &problem);
  ASSERT_TRUE(sealed) << problem.message;
  EXPECT_EQ(installer::format::open_record(*sealed)->package_url, "http://127.0.0.1/a.zip");

  struct Case {
    const char* key;
    int line;
    void (*change)(Record&);
  };
  const Case cases[] = {
      {"softname", 1, [](Record& r) { r.software_name = "测试 "; }},
      {"installtype", 2, [](Record& r) { r.install_type = InstallType::kDisk; }},
      {"urlremote", 3, [](Record& r) { r.package_url = "http://127.0.0.1/b.zip"; }},
      {"companyname", 0, [](Record& r) { r.company_name = "x"; }},
      {"sha256", 0, [](Record& r) { r.package_sha256 = std::string(64, 'a'); }},
  };
  for (const Case& c : cases) {
    Record changed = *record;
    c.change(changed);
    problem = {};
    EXPECT_FALSE(mkinstaller::same_reading(*config, changed, &problem)) << c.key;
    EXPECT_EQ(problem.line, c.line) << c.key;
    EXPECT_THAT(problem.message, HasSubstr("would read \"" + std::string(c.key) + "\" as ")) << c.key;
  }
  EXPECT_FALSE(mkinstaller::same_reading(*config, std::nullopt, &problem));
  EXPECT_THAT(problem.message, HasSubstr("the installer cannot read this configuration"));
}

// PNG images of 8-bit RGBA pixels, written and read here (filters of every
// kind on reading), independently of the tool's own code.
struct Rgba {
  unsigned width = 0, height = 0;
  std::vector<unsigned char> pixels;
};

void be32(std::string& s, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) s += static_cast<char>((v >> shift) & 0xFF);
}

std::string png_rgba(unsigned w, unsigned h, const std::string& pixels) {
  std::string raw;
  for (unsigned y = 0; y < h; ++y) raw += '\0' + pixels.substr(y * w * 4, w * 4);
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  std::string packed(size, '\0');
  compress(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(raw.data()),
           static_cast<uLong>(raw.size()));
  packed.resize(size);
  std::string png("\x89PNG\r\n\x1A\n", 8);
  auto chunk = [&](const char* type, const std::string& data) {
    be32(png, static_cast<std::uint32_t>(data.size()));
    std::string body = type + data;
    png += body;
    be32(png, static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()),
                                               static_cast<uInt>(body.size()))));
  };
  std::string header;
  be32(header, w);
  be32(header, h);
  chunk("IHDR", header + std::string("\x08\x06\0\0\0", 5));
  chunk("IDAT", packed);
  chunk("IEND", "");
  return png;
}

Rgba decode_png_rgba(const std::string& png) {
  Rgba out;
  std::string packed;
  auto be = [&](std::size_t o) {
    return std::uint32_t{static_cast<unsigned char>(png[o])} << 24 | static_cast<unsigned char>(png[o + 1]) << 16 |
           static_cast<unsigned char>(png[o + 2]) << 8 | static_cast<unsigned char>(png[o + 3]);
  };
  for (std::size_t at = 8; at + 12 <= png.size(); at += 12 + be(at)) {
    std::string type = png.substr(at + 4, 4);
    if (type == "IHDR") out.width = be(at + 8), out.height = be(at + 12);
    if (type == "IDAT") packed += png.substr(at + 8, be(at));
  }
  std::size_t stride = out.width * 4;
  std::vector<unsigned char> raw((stride + 1) * out.height);
  uLongf size = static_cast<uLongf>(raw.size());
  if (uncompress(raw.data(), &size, reinterpret_cast<const Bytef*>(packed.data()), static_cast<uLong>(packed.size())) !=
      Z_OK)
    return Rgba{};
  out.pixels.resize(stride * out.height);
  for (unsigned y = 0; y < out.height; ++y) {
    unsigned char filter = raw[y * (stride + 1)];
    for (std::size_t i = 0; i < stride; ++i) {
      int a = i >= 4 ? out.pixels[y * stride + i - 4] : 0;
      int b = y ? out.pixels[(y - 1) * stride + i] : 0;
      int c = i >= 4 && y ? out.pixels[(y - 1) * stride + i - 4] : 0;
      int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
      int predictor = filter == 1 ? a : filter == 2 ? b : filter == 3 ? (a + b) / 2
                      : filter == 4 ? (pa <= pb && pa <= pc ? a : pb <= pc ? b : c) : 0;
      out.pixels[y * stride + i] = static_cast<unsigned char>(raw[y * (stride + 1) + 1 + i] + predictor);
    }
  }
  return out;
}

// An .ico file of one image.
std::string ico(unsigned char size, const std::string& image) {
  std::string d("\0\0\1\0\1\0", 6);
  d += static_cast<char>(size);
  d += static_cast<char>(size);
  d += std::string("\0\0\1\0\x20\0", 6);
  for (std::uint32_t v : {static_cast<std::uint32_t>(image.size()), 22u})
    for (int i = 0; i < 4; ++i) d += static_cast<char>((v >> (8 * i)) & 0xFF);
  return d + image;
}

TEST_F(MkinstallerTest, TheInstallerCarriesItsVersionAndIcon) {
  write("app.json", u8(u8"{\"softname\": \"测试软件\", \"softversion\": \"2.5.1 beta\", \"installtype\": \"disk\", "
                       u8"\"companyname\": \"示例公司\"}"));
  // A logo of 2 x 1 pixels with bytes after its image: carried as a fresh
  // 256 x 256 image, with a note.
  std::string wide_png = png_rgba(2, 1, std::string("\xFF\0\0\xFF\0\0\xFF\xFF", 8));
  write("wide.png", wide_png + "trailing bytes");
  ToolRun r = run("build --config app.json --logo wide.png --copyright \"(c) 2026 Example\" --stub stub.exe "
                  "--allow-empty --out my-setup.exe");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.err, HasSubstr("warning: wide.png: the logo (2 x 1) is not square: the installer carries it scaled "
                               "to 256 x 256"));
  ToolRun inspect = run("inspect my-setup.exe");
  for (const std::string& line :
       {u8(u8"  ProductName: 测试软件\n"), u8(u8"  FileDescription: 测试软件 安装程序\n"),
        u8(u8"  CompanyName: 示例公司\n"), std::string("  FileVersion: 2.5.1.0\n"),
        std::string("  ProductVersion: 2.5.1 beta\n"), std::string("  LegalCopyright: (c) 2026 Example\n"),
        std::string("  OriginalFilename: my-setup.exe\n"), std::string("icon: 16x16 24x24 32x32 48x48 256x256 (PNG)\n"),
        std::string("logo (SYSTEM/101): PNG image 256 x 256"), std::string("signature: not signed\n")})
    EXPECT_THAT(inspect.out, HasSubstr(line));
  rt::PeResources pe = load(read("my-setup.exe"));
  EXPECT_EQ(count_type(pe, rt::ResourceId::of_number(3)), 5) << "one image of each size";
  EXPECT_EQ(count_type(pe, rt::ResourceId::of_number(14)), 1);
  EXPECT_EQ(count_type(pe, rt::ResourceId::of_number(16)), 1);
  // The scaled logo keeps the picture: red on the left, blue on the right,
  // the band between filled, above and below transparent.
  Rgba logo = decode_png_rgba(system_resource(pe, "101"));
  ASSERT_EQ(logo.width, 256u);
  auto at = [&](unsigned x, unsigned y) { return &logo.pixels[(y * 256 + x) * 4]; };
  EXPECT_EQ(at(10, 128)[0], 255);
  EXPECT_EQ(at(10, 128)[3], 255);
  EXPECT_EQ(at(245, 128)[2], 255);
  EXPECT_EQ(at(128, 10)[3], 0);

#ifdef _WIN32
  // What Windows shows in the file's properties and the elevation prompt.
  std::wstring file = rt::wide_path(path("my-setup.exe"));
  DWORD handle = 0, size = GetFileVersionInfoSizeW(file.c_str(), &handle);
  ASSERT_GT(size, 0u);
  std::vector<char> data(size);
  ASSERT_TRUE(GetFileVersionInfoW(file.c_str(), 0, size, data.data()));
  auto value = [&](const wchar_t* name) {
    wchar_t* text = nullptr;
    UINT n = 0;
    std::wstring key = std::wstring(L"\\StringFileInfo\\080404b0\\") + name;
    if (!VerQueryValueW(data.data(), key.c_str(), reinterpret_cast<void**>(&text), &n) || !text) return std::string();
    return rt::utf8_from_wide(std::u16string(reinterpret_cast<const char16_t*>(text)));
  };
  EXPECT_EQ(value(L"ProductName"), u8(u8"测试软件"));
  EXPECT_EQ(value(L"FileDescription"), u8(u8"测试软件 安装程序"));
  EXPECT_EQ(value(L"CompanyName"), u8(u8"示例公司"));
  EXPECT_EQ(value(L"ProductVersion"), "2.5.1 beta");
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT n = 0;
  ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &n));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00020005u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00010000u);
  HICON large = nullptr, small = nullptr;
  EXPECT_EQ(ExtractIconExW(file.c_str(), -1, nullptr, nullptr, 0), 1u) << "one icon";
  ASSERT_EQ(ExtractIconExW(file.c_str(), 0, &large, &small, 1), 2u);
  ICONINFO info{};
  ASSERT_TRUE(GetIconInfo(large, &info));
  BITMAP bitmap{};
  GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
  EXPECT_EQ(bitmap.bmWidth, GetSystemMetrics(SM_CXICON));
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  DestroyIcon(large);
  DestroyIcon(small);
#endif

  // The publisher's own icon replaces the made one; without a logo the
  // icon is made from the logo the stub shows.
  write("app.ico", ico(1, kPng));
  r = run("build --config app.json --icon app.ico --stub stub.exe --allow-empty --out own-icon.exe");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(run("inspect own-icon.exe").out, HasSubstr("icon: 1x1 (PNG)\n"));
  r = run("build --config app.json --stub stub.exe --allow-empty --out standard.exe");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(run("inspect standard.exe").out, HasSubstr("icon: 16x16 24x24 32x32 48x48 256x256 (PNG)\n"));
}

TEST_F(MkinstallerTest, CheckAndDryRunWriteNothingAndStubsAreRecognised) {
  write("pkg.zip", package(/*complete=*/true));
  write("app.json", config());
  const std::string inputs = " --config app.json --package pkg.zip --stub stub.exe";
  ToolRun r = run("check" + inputs);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("checked: the installer would be written"));
  r = run("build --dry-run" + inputs + " --out setup.exe");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("checked: setup.exe would be written"));
  EXPECT_FALSE(fs::exists(path("setup.exe")));
  EXPECT_EQ(run("check --config app.json --package pkg.txt --stub stub.exe").status, 1);

  // A stub that is not our setup.exe, or an installer already configured.
  write("other.exe", testsupport::make_fake_program());
  r = run("build --config app.json --package pkg.zip --stub other.exe --out setup.exe");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.err, HasSubstr("warning: other.exe: not the setup.exe of mkinstaller"));
  r = run("build --config app.json --package pkg.zip --stub setup.exe --out again.exe");
  EXPECT_THAT(r.err, HasSubstr("warning: setup.exe: already a configured installer"));

  // "net" with the package to upload: its digest is recorded, the package is
  // not carried, and the summary says where it comes from.
  write("net.json", config("net"));
  r = run("build --config net.json --package pkg.zip --stub stub.exe --out net.exe");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("install type net, package downloaded from http://127.0.0.1:8080/app.zip, \"sha256\" " +
                               installer::sha256_hex(read("pkg.zip"))));
  EXPECT_THAT(r.out, Not(HasSubstr("22 bytes")));
  EXPECT_EQ(system_resource(load(read("net.exe")), "103"), "<missing>") << "no package, not even the stub's empty one";
  EXPECT_THAT(run("inspect net.exe").out, Not(HasSubstr("22 bytes")));
}

// inspect's exit status sums what it finds wrong (the signature: see
// SignsLast...; the package the installer would refuse; a configuration it
// cannot install), and --json prints what it shows as one object, for CI.
// A "net" package's further addresses: --mirror (repeatable) recorded as
// "mirrors", each checked as "urlremote" is, shown by inspect.
TEST_F(MkinstallerTest, MirrorsAreCheckedRecordedAndShownByInspect) {
  write("pkg.zip", package(/*complete=*/true));
  write("net.json", config("net"));
  write("badmirror.json", config("net", ",\n  \"mirrors\": \"http://ok/a.zip ftp://bad/a.zip\""));
  write("onemirror.json", config("net", ",\n  \"mirrors\": \"http://m1/app.zip\""));
  const std::string tail = " --package pkg.zip --scope machine --stub stub.exe --out mirrored.exe";
  ToolRun r = run("build --config net.json --mirror http://m1/app.zip --mirror https://m2/app.zip" + tail);
  ASSERT_EQ(r.status, 0) << r.err;
  const auto parsed = installer::format::parse_record(record(load(read("mirrored.exe"))));
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->mirrors, "http://m1/app.zip https://m2/app.zip");
  EXPECT_THAT(run("inspect mirrored.exe").out, HasSubstr("\"mirrors\": \"http://m1/app.zip https://m2/app.zip\""));
  EXPECT_THAT(run("inspect --json mirrored.exe").out,
              HasSubstr("\"mirrors\": \"http://m1/app.zip https://m2/app.zip\""));
  EXPECT_EQ(run("build --config onemirror.json --mirror http://m1/app.zip" + tail).status, 0);
  const struct {
    std::string args, error;
  } refused[] = {
      {"build --config net.json --mirror ftp://m/app.zip" + tail,
       "--mirror needs an http:// or https:// address, not 'ftp://m/app.zip'"},
      {"build --config badmirror.json" + tail,
       "badmirror.json:7: \"mirrors\" holds http:// or https:// addresses separated by blanks, not \"ftp://bad/a.zip\""},
      {"build --config onemirror.json --mirror http://m2/app.zip" + tail,
       "onemirror.json: \"mirrors\" is \"http://m1/app.zip\" but --mirror gives \"http://m2/app.zip\"; they must agree"},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.args);
    ToolRun bad = run(c.args);
    EXPECT_EQ(bad.status, 1);
    EXPECT_THAT(bad.err, HasSubstr(c.error));
  }
}

TEST_F(MkinstallerTest, InspectSaysWhatIsWrongInItsExitStatusAndAsJson) {
  write("pkg.zip", package(/*complete=*/true));
  write("app.json", config());
  ASSERT_EQ(run("build --config app.json --package pkg.zip --scope machine --stub stub.exe --out good.exe").status, 0);
  const rt::ResourceId system = rt::ResourceId::of_text("SYSTEM");
  auto changed = [&](const std::string& name, const std::string& from, const char* resource, const std::string& data) {
    rt::PeResources pe = load(from);
    pe.set(system, rt::ResourceId::of_text(resource), 0, data);
    std::string bytes, error;
    ASSERT_TRUE(pe.save(&bytes, &error)) << error;
    write(name, bytes);
  };
  // Another package than the record's "sha256" names; a package that is no
  // ZIP archive, with its own digest; no record, an empty one, a damaged one.
  changed("refused.exe", read("good.exe"), "103", package(/*complete=*/false));
  const std::string damaged = config("disk", ",\n  \"sha256\": \"" + installer::sha256_hex("not a zip") + "\"");
  changed("damaged.exe", read("good.exe"), "102",
          std::string(installer::encrypt_text(rt::Text(rt::cp936_from_utf8(damaged)), "Tarnel", true).view()));
  changed("damaged.exe", read("damaged.exe"), "103", "not a zip");
  write("bare.exe", testsupport::make_fake_program());
  changed("unreadable.exe", read("good.exe"), "102",
          std::string(installer::encrypt_text(rt::Text("not JSON"), "Tarnel", true).view()));
  write("not.exe", "plain text");
  struct Row {
    const char* file;
    int status;
    std::string problem;
  } rows[] = {
      {"good.exe", 0, ""},
      {"refused.exe", 4, "the carried package is not the one the configuration's \"sha256\" names"},
      {"damaged.exe", 4, "the carried package cannot be installed: not a ZIP archive"},
      {"stub.exe", 8, "configuration: empty, the installer is not configured"},
      {"bare.exe", 8, "no configuration: this is not a configured installer"},
      {"unreadable.exe", 8, "configuration: the installer cannot read it (not a JSON object)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.file);
    ToolRun text = run(std::string("inspect ") + row.file);
    EXPECT_EQ(text.status, row.status) << text.err;
    ToolRun json = run(std::string("inspect --json ") + row.file);
    EXPECT_EQ(json.status, row.status) << json.err;
    nlohmann::json parsed = nlohmann::json::parse(json.out, nullptr, /*allow_exceptions=*/false);
    ASSERT_TRUE(parsed.is_object()) << json.out;
    EXPECT_EQ(parsed["exit_status"], row.status);
    if (row.problem.empty()) {
      EXPECT_TRUE(parsed["problems"].empty()) << parsed["problems"].dump();
      EXPECT_THAT(text.out, Not(HasSubstr("problems")));
      continue;
    }
    ASSERT_EQ(parsed["problems"].size(), 1u) << parsed["problems"].dump();
    EXPECT_EQ(parsed["problems"][0], row.problem);
    EXPECT_THAT(text.out, HasSubstr("problems (exit status " + std::to_string(row.status) + "):\n  " + row.problem));
  }
  // The same facts as the text shows.
  nlohmann::json good = nlohmann::json::parse(run("inspect --json good.exe").out);
  EXPECT_EQ(good["signature"]["signed"], false);
  EXPECT_EQ(good["configuration"]["softname"], u8(u8"测试软件"));
  EXPECT_EQ(good["scope"], "machine");
  EXPECT_EQ(good["package"]["entries"].size(), 5u);
  EXPECT_EQ(good["package"]["sha256"], installer::sha256_hex(read("pkg.zip")));
  EXPECT_EQ(good["version"]["ProductVersion"], "1.2");
  // A file that is no program is an error, not a finding.
  ToolRun error = run("inspect --json not.exe");
  EXPECT_EQ(error.status, 1);
  EXPECT_THAT(error.err, HasSubstr("not.exe: not a PE file"));
}

// Who an installation is for: recorded as "scope", and the manifest asks for
// administrator rights only when the installation needs them (the rest of
// the stub's manifest byte for byte). Without a scope the older layout
// stays, with a warning that says what it does.
TEST_F(MkinstallerTest, TheScopeIsRecordedAndTheManifestAsksOnlyForTheRightsItNeeds) {
  const std::string manifest = testsupport::read_file(testsupport::source_dir() + "/app/setup.manifest");
  ASSERT_NE(manifest.find("level=\"requireAdministrator\""), std::string::npos);
  {
    rt::PeResources pe = load(our_stub());
    pe.set(rt::ResourceId::of_number(24), rt::ResourceId::of_number(1), 1033, manifest);
    std::string bytes, error;
    ASSERT_TRUE(pe.save(&bytes, &error)) << error;
    write("manifest.exe", bytes);
  }
  write("pkg.zip", package(/*complete=*/true));
  write("user.json", config("disk", ",\n  \"scope\": \"user\""));
  write("app.json", config());
  struct Row {
    std::string config, option, scope, level, warning;
  } rows[] = {
      {"app.json", "--scope user", "user", "asInvoker", ""},
      {"app.json", "--scope machine", "machine", "requireAdministrator", ""},
      {"user.json", "", "user", "asInvoker", ""},
      {"user.json", "--scope user", "user", "asInvoker", ""},
      {"app.json", "", "", "requireAdministrator",
       u8(u8"warning: app.json: no --scope: the installer keeps the older layout: on Windows 8 and later it installs "
          u8"into the person's roaming profile (%APPDATA%\\测试软件), registers the program for the whole machine and "
          u8"asks for administrator rights; give --scope user (this person only, no administrator rights) or --scope "
          u8"machine (every user, in Program Files)")},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.config + " " + row.option);
    ToolRun r = run("build --config " + row.config + " --package pkg.zip " + row.option +
                    " --stub manifest.exe --out scoped.exe");
    ASSERT_EQ(r.status, 0) << r.err;
    rt::PeResources pe = load(read("scoped.exe"));
    const auto parsed = installer::format::parse_record(record(pe));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(installer::format::scope_text(parsed->scope), row.scope);
    std::string expected = manifest;
    expected.replace(expected.find("requireAdministrator"), 20, row.level);
    const std::string* carried = pe.find(rt::ResourceId::of_number(24), rt::ResourceId::of_number(1), 1033);
    ASSERT_NE(carried, nullptr);
    EXPECT_EQ(*carried, expected) << "only the level changes";
    if (row.warning.empty()) {
      EXPECT_THAT(r.err, Not(HasSubstr("--scope")));
    } else {
      EXPECT_THAT(r.err, HasSubstr(row.warning));
    }
    ToolRun inspect = run("inspect scoped.exe");
    EXPECT_EQ(inspect.status, 0) << inspect.out;
    EXPECT_THAT(inspect.out, HasSubstr("manifest: requestedExecutionLevel " + row.level + " (asks for "));
    EXPECT_THAT(inspect.out, HasSubstr(row.scope == "user"      ? "scope: user: installs for this person only"
                                       : row.scope == "machine" ? "scope: machine: installs for every user"
                                                                : "scope: none: the older layout"));
  }
}

#ifndef _WIN32
TEST_F(MkinstallerTest, PackLeavesOutLinksThatLeadOutOfTheFolder) {
  write("app/app.exe", "MZ");
  write("secret.txt", "outside");
  fs::create_symlink(path("secret.txt"), path("app/stolen.txt"));
  fs::create_symlink("app.exe", path("app/alias.exe"));
  ToolRun r = run("pack app --out pkg.zip --no-uninstaller");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.err, HasSubstr("stolen.txt: a link that leads out of the folder"));
  std::vector<std::string> names;
  for (const auto& [name, utf8] : zip_names(read("pkg.zip"))) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"{app}/alias.exe", "{app}/app.exe"}));
  EXPECT_THAT(r.out, HasSubstr("2 files, 0 folders"));
}

// A file swapped for a link to something outside while pack runs is never
// packed from outside: each file is opened once, from its folder opened
// without following links, and must be the file the listing saw.
TEST_F(MkinstallerTest, AFileSwappedForALinkWhilePackingIsNeverPackedFromOutside) {
  write("home/uninst.exe", "our uninstaller");
  write("secret.txt", "outside");
  write("app/z.txt", "inside");
  // A large first file keeps pack writing for a while after its listing
  // (it does not compress), when the last file is swapped.
  std::string noise(48 << 20, '\0');
  std::uint32_t x = 2463534242u;
  for (std::size_t i = 0; i + 4 <= noise.size(); i += 4) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    std::memcpy(&noise[i], &x, 4);
  }
  write("app/a.bin", noise);
  noise.clear();
  const std::string command =
      "cd '" + dir_ + "' && { '" MKINSTALLER_PATH "' pack app --out pkg.zip >out.txt 2>err.txt; echo $? >rc.txt; } & " +
      "cd '" + dir_ + "' && for i in $(seq 1 1000); do ls pkg.zip.tmp-* >/dev/null 2>&1 && break; sleep 0.01; done; " +
      "ln -s ../secret.txt app/z.new && mv -T app/z.new app/z.txt; wait";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(read("rc.txt"), "1\n") << read("err.txt");
  EXPECT_THAT(read("err.txt"),
              HasSubstr("error: app/z.txt: changed while it was packed (replaced, or made a link); nothing was written"));
  EXPECT_FALSE(fs::exists(path("pkg.zip")));
  for (const auto& e : fs::directory_iterator(dir_))
    EXPECT_EQ(e.path().filename().string().find("tmp"), std::string::npos) << e.path();
}

// The same files give the same package and the same installer whenever they
// were checked out: SOURCE_DATE_EPOCH is every entry's time, in one fixed
// order. Without it the files' own times are kept.
TEST_F(MkinstallerTest, TheSameInputsGiveByteIdenticalPackagesAndInstallers) {
  write("home/uninst.exe", "our uninstaller");
  make_app(/*with_uninstaller=*/false);
  write("app.json", config());
  fs::copy(path("app"), path("copy"), fs::copy_options::recursive);
  ASSERT_EQ(std::system(("find '" + path("copy") + "' -exec touch -d @1000000000 {} +").c_str()), 0);
  ::setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
  ASSERT_EQ(run("pack app --out a.zip").status, 0);
  ASSERT_EQ(run("pack copy --out b.zip").status, 0);
  EXPECT_TRUE(read("a.zip") == read("b.zip"));
  fs::create_directories(path("one"));
  fs::create_directories(path("two"));
  for (const char* build : {"build --config app.json --package a.zip --scope machine --stub stub.exe --out one/setup.exe",
                            "build --config app.json --package b.zip --scope machine --stub stub.exe --out two/setup.exe"})
    ASSERT_EQ(run(build).status, 0) << build;
  EXPECT_TRUE(read("one/setup.exe") == read("two/setup.exe"));
  ::setenv("SOURCE_DATE_EPOCH", "the day", 1);
  ToolRun r = run("pack app --out c.zip");
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("SOURCE_DATE_EPOCH must be a number of seconds since 1970, not 'the day'"));
  ::unsetenv("SOURCE_DATE_EPOCH");
  ASSERT_EQ(run("pack app --out c.zip").status, 0);
  ASSERT_EQ(run("pack copy --out d.zip").status, 0);
  EXPECT_FALSE(read("c.zip") == read("d.zip")) << "the files' times, which differ";
}

// A ZIP archive of one stored entry of `size` zero bytes, written piece by
// piece.
void write_zeros_zip(const std::string& file, std::uint32_t size) {
  const std::string name = "{app}/zeros.bin";
  std::string zeros(1 << 20, '\0');
  uLong crc = crc32(0, nullptr, 0);
  for (std::uint32_t done = 0; done < size; done += zeros.size())
    crc = crc32(crc, reinterpret_cast<const Bytef*>(zeros.data()), static_cast<uInt>(std::min<std::uint32_t>(zeros.size(), size - done)));
  auto le = [](std::string& s, std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  auto fields = [&](std::string& s) {
    le(s, 10, 2), le(s, 0, 2), le(s, 0, 2), le(s, 0, 2), le(s, 0x5A21, 2);  // version, flags, stored, time, date
    le(s, static_cast<std::uint32_t>(crc), 4), le(s, size, 4), le(s, size, 4), le(s, static_cast<std::uint32_t>(name.size()), 2), le(s, 0, 2);
  };
  std::string local("PK\x03\x04", 4);
  fields(local);
  local += name;
  std::string central("PK\x01\x02", 4);
  le(central, 20, 2);
  fields(central);
  le(central, 0, 2), le(central, 0, 2), le(central, 0, 2), le(central, 0, 4), le(central, 0, 4);
  central += name;
  std::string end("PK\x05\x06", 4);
  le(end, 0, 4), le(end, 1, 2), le(end, 1, 2), le(end, static_cast<std::uint32_t>(central.size()), 4);
  le(end, static_cast<std::uint32_t>(local.size() + size), 4), le(end, 0, 2);
  std::FILE* f = std::fopen(file.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(local.data(), 1, local.size(), f);
  for (std::uint32_t done = 0; done < size; done += zeros.size())
    std::fwrite(zeros.data(), 1, std::min<std::uint32_t>(zeros.size(), size - done), f);
  std::fwrite(central.data(), 1, central.size(), f);
  std::fwrite(end.data(), 1, end.size(), f);
  std::fclose(f);
}

// inspect reads an installer where it lies, the package piece by piece: its
// memory stays far below the size of what it inspects.
TEST_F(MkinstallerTest, InspectKeepsItsMemorySmallWhateverThePackageSize) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer's shadow memory and quarantine are not the tool's own: measured in the plain tree";
#endif
  const std::uint32_t size = 160u << 20;
  write_zeros_zip(path("big.zip"), size);
  write("app.json", config());
  ToolRun r = run("build --config app.json --package big.zip --scope machine --stub stub.exe --out big.exe");
  ASSERT_EQ(r.status, 0) << r.err;
  const auto zip_size = fs::file_size(path("big.zip"));
  fs::remove(path("big.zip"));
  // In a process of its own, whose children's peak is inspect's alone.
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int rc = std::system(("cd '" + dir_ + "' && '" MKINSTALLER_PATH "' inspect big.exe >out.txt 2>err.txt").c_str());
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    std::FILE* f = std::fopen(path("peak.txt").c_str(), "w");
    if (f) std::fprintf(f, "%ld", usage.ru_maxrss), std::fclose(f);
    _exit(rc == 0 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << read("err.txt");
  EXPECT_THAT(read("out.txt"),
              HasSubstr("package (SYSTEM/103): ZIP archive, 1 entry, " + std::to_string(zip_size) + " bytes"));
  const long peak_kib = std::atol(read("peak.txt").c_str());
  EXPECT_GT(peak_kib, 0);
  EXPECT_LT(peak_kib, 48 * 1024) << "inspect of a " << (size >> 20) << " MB package took " << peak_kib / 1024 << " MB";
}

// The temporary file the tool writes before renaming it onto the output is
// a new file of its own: a link planted under the very name it tries first
// (the shell's `exec` keeps the process number the name is made of) is
// neither followed nor replaced.
TEST_F(MkinstallerTest, PlantedLinksDoNotRedirectTemporaryFiles) {
  make_app(/*with_uninstaller=*/true);
  write("app.json", config());
  write("victim.txt", "precious");
  for (const std::string& out : {std::string("pkg.zip"), std::string("setup.exe")}) {
    std::string command = "cd '" + dir_ + "' && sh -c 'ln -s victim.txt " + out + ".tmp-$$-0 && exec \"$0\" \"$@\"' '" +
                          MKINSTALLER_PATH + "' " +
                          (out == "pkg.zip" ? "pack app --out pkg.zip"
                                            : "build --config app.json --package pkg.zip --stub stub.exe --out setup.exe") +
                          " >out.txt 2>err.txt";
    ASSERT_EQ(std::system(command.c_str()), 0) << read("err.txt");
    EXPECT_EQ(read("victim.txt"), "precious") << out;
    EXPECT_FALSE(fs::is_symlink(path(out))) << out;
    EXPECT_GT(read(out).size(), 100u) << out << ": written all the same";
    for (const auto& e : fs::directory_iterator(dir_))
      if (fs::is_symlink(e.symlink_status())) fs::remove(e.path());
  }
}

// Signing with a certificate authority and code-signing certificates made
// here, offline. Every signing is proven: a signer that signs nothing,
// appends or changes bytes, or signs under a root nobody trusts writes
// nothing; the .p12 file is opened and its certificate checked before
// anything is built (by check too); time-stamp servers are named when they
// do not answer, and a second one is tried.
TEST_F(MkinstallerTest, SignsLastProvesTheSignatureAndInspectVerifies) {
  auto sh = [&](const std::string& command) {
    return std::system(("cd '" + dir_ + "' && (" + command + ") >/dev/null 2>&1").c_str());
  };
  write("ca.cnf",
        "[req]\ndistinguished_name=dn\n[dn]\n[ca]\nbasicConstraints=critical,CA:true\n"
        "keyUsage=critical,keyCertSign\n[cs]\nbasicConstraints=critical,CA:false\n"
        "keyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n[tls]\nbasicConstraints=critical,CA:false\n"
        "keyUsage=critical,digitalSignature\nextendedKeyUsage=serverAuth\n");
  write("pass.txt", "s3cret");
  write("empty.txt", "");
  // A root and its code-signing certificate; one for web servers; one that
  // expired yesterday; one without a password; one under a root of nobody's.
  auto certificate = [&](const std::string& name, const std::string& ca, const std::string& extensions,
                         const std::string& days, const std::string& password) {
    return sh("openssl req -newkey rsa:2048 -nodes -keyout " + name + ".key -out " + name +
              ".csr -subj '/CN=Example Publisher' -config ca.cnf && openssl x509 -req -in " + name + ".csr -CA " + ca +
              ".pem -CAkey " + ca + ".key -CAcreateserial -out " + name + ".pem -days " + days +
              " -extfile ca.cnf -extensions " + extensions + " && openssl pkcs12 -export -out " + name +
              ".p12 -inkey " + name + ".key -in " + name + ".pem -passout " + password);
  };
  for (const std::string ca : {"ca", "other"})
    ASSERT_EQ(sh("openssl req -x509 -newkey rsa:2048 -nodes -keyout " + ca + ".key -out " + ca +
                 ".pem -days 2 -subj '/CN=Test Root' -config ca.cnf -extensions ca"),
              0);
  ASSERT_EQ(certificate("cs", "ca", "cs", "2", "file:pass.txt"), 0);
  ASSERT_EQ(certificate("tls", "ca", "tls", "2", "file:pass.txt"), 0);
  ASSERT_EQ(certificate("old", "ca", "cs", "-1", "file:pass.txt"), 0);
  ASSERT_EQ(certificate("nopass", "ca", "cs", "2", "pass:"), 0);
  ASSERT_EQ(certificate("stranger", "other", "cs", "2", "file:pass.txt"), 0);
  write("pkg.zip", package(/*complete=*/true));
  write("app.json", config());
  const std::string package_inputs = "build --config app.json --package pkg.zip --scope machine --stub stub.exe ";
  const std::string inputs = package_inputs + "--sign-ca-file ca.pem --sign-pkcs12 cs.p12 ";

  ToolRun r = run(inputs + "--sign-password-file pass.txt --out signed.exe");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr(", signed by /CN=Example Publisher): "));
  EXPECT_EQ(sh("osslsigncode verify -in signed.exe -CAfile ca.pem"), 0);
  ToolRun inspect = run("inspect --ca-file ca.pem signed.exe");
  EXPECT_EQ(inspect.status, 0);
  EXPECT_THAT(inspect.out,
              HasSubstr("signature: signed by /CN=Example Publisher; the signature verifies against ca.pem"));
  // Signing came last: the signed file carries what was built.
  EXPECT_THAT(record(load(read("signed.exe"))), HasSubstr("\"sha256\""));

  // A byte changed after signing is caught, and inspect's exit status says so.
  std::string bytes = read("signed.exe");
  bytes[0x1000] ^= 1;
  write("changed.exe", bytes);
  EXPECT_NE(sh("osslsigncode verify -in changed.exe -CAfile ca.pem"), 0);
  inspect = run("inspect --ca-file ca.pem changed.exe");
  EXPECT_EQ(inspect.status, 2);
  EXPECT_THAT(inspect.out, HasSubstr("THE SIGNATURE DOES NOT VERIFY: the file was changed after it was signed"));
  // Without the private root, the signature leads nowhere trusted.
  EXPECT_THAT(run("inspect signed.exe").out, HasSubstr("(name the authority with --ca-file)"));

  // Certificate tables a signer could leave, made from the program built
  // below (the same bytes, signed): only the table differs.
  fs::create_directories(path("good"));
  ASSERT_EQ(run(inputs + "--sign-password-file pass.txt --out good/refused.exe").status, 0);
  const std::string good = read("good/refused.exe");
  const rt::PeHeaderInfo h = load(good).header();
  auto le32 = [](const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
  };
  // Appends `tail`, grows the table's size and its WIN_CERTIFICATE's length.
  auto tampered = [&](const std::string& name, const std::string& tail, std::uint32_t table_growth,
                      std::uint32_t length_growth) {
    std::string bytes = good + tail;
    for (auto [at, growth] : {std::pair<std::size_t, std::uint32_t>{h.certificate_entry + 4, table_growth},
                              {h.certificate_offset, length_growth}}) {
      const std::uint32_t value = le32(bytes, at) + growth;
      for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> 8 * i);
    }
    write(name, bytes);
    return "cp " + name + " {file}";
  };
  const std::string table = good.substr(h.certificate_offset),
                    unverified = "signing failed: the signature does not verify: ";
  // Signers that did not sign what was built, and a signature nobody's root
  // vouches for: refused, nothing written under the name.
  const std::string osslsigncode = "osslsigncode sign -pkcs12 cs.p12 -readpass pass.txt -h sha256 -in {file} -out {file}.s >/dev/null && mv {file}.s {file}";
  struct Signer {
    std::string command, message, file = "";  // the file it copies, of which inspect says the same
  } signers[] = {
      {"true {file}", "signing failed: the signing left the file unsigned (it carries no signature)"},
      {tampered("after.exe", "junk", 0, 0), unverified + "the file carries 4 bytes after its certificate table",
       "after.exe"},
      {"printf X | dd of={file} bs=1 seek=4096 conv=notrunc && " + osslsigncode,
       "signing failed: the signed file is not the program that was built (the signing changed it)"},
      {"osslsigncode sign -pkcs12 stranger.p12 -readpass pass.txt -h sha256 -in {file} -out {file}.s && mv {file}.s {file}",
       "signing failed: the signature does not verify: its certificate does not lead to a trusted authority"},
      {tampered("junk.exe", std::string(4096, '\xAB'), 4096, 4096),
       unverified + "the certificate table holds 4096 bytes after its signature", "junk.exe"},
      {tampered("zeros.exe", std::string(16, '\0'), 16, 16),
       unverified + "the certificate table holds 16 bytes after its signature", "zeros.exe"},
      {tampered("two.exe", table, table.size(), 0),
       unverified + "the certificate table holds more than one certificate", "two.exe"},
      {tampered("past.exe", "", 8, 0), unverified + "the certificate table runs 8 bytes past the end of the file",
       "past.exe"},
      {tampered("short.exe", "", 0, 0u - 16),
       unverified + "the signature runs past the length its WIN_CERTIFICATE gives", "short.exe"},
      {tampered("huge.exe", "", 0, 1u << 31),
       unverified + "the WIN_CERTIFICATE's length (" + std::to_string(le32(table, 0) + (1u << 31)) +
           " bytes) runs past the certificate table (" + std::to_string(table.size()) + " bytes)",
       "huge.exe"},
  };
  for (const Signer& signer : signers) {
    r = run(package_inputs + "--sign-ca-file ca.pem --out refused.exe --sign-command '" + signer.command + "'");
    EXPECT_EQ(r.status, 1) << signer.command;
    EXPECT_THAT(r.err, HasSubstr("refused.exe: " + signer.message)) << signer.command;
    EXPECT_FALSE(fs::exists(path("refused.exe"))) << signer.command;
    if (signer.file.empty()) continue;
    const std::string problem = signer.message.substr(std::strlen("signing failed: "));
    inspect = run("inspect --ca-file ca.pem " + signer.file);
    EXPECT_EQ(inspect.status, 2) << signer.file;
    EXPECT_THAT(inspect.out, HasSubstr("problems (exit status 2):\n  " + problem)) << signer.file;
    nlohmann::json json = nlohmann::json::parse(run("inspect --json --ca-file ca.pem " + signer.file).out);
    EXPECT_EQ(json["signature"]["verifies"], false) << signer.file;
    EXPECT_THAT(json["problems"].dump(), HasSubstr(problem)) << signer.file;
  }
  r = run(package_inputs + "--out refused.exe --sign-command '" + signers[3].command + "'");
  EXPECT_THAT(r.err, HasSubstr("(for a private root, name it with --sign-ca-file)"));
  r = run("build --config app.json --stub stub.exe --allow-empty --out failed.exe --sign-command 'false {file}'");
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("the signing command failed"));
  EXPECT_FALSE(fs::exists(path("failed.exe")));

  // The .p12 file opened and its certificate checked before anything is
  // built: by build, check and --dry-run alike.
  ::setenv("MKINSTALLER_TEST_PASSWORD", "wrong", 1);
  struct Refused {
    std::string args, message;
  } refused[] = {
      {"check --config app.json --package pkg.zip --stub stub.exe --sign-pkcs12 cs.p12 --sign-password-env "
       "MKINSTALLER_TEST_PASSWORD",
       "cs.p12: the password does not open it (a wrong password?)"},
      {"build --dry-run --config app.json --package pkg.zip --stub stub.exe --sign-pkcs12 cs.p12 --sign-password-file "
       "empty.txt",
       "cs.p12: it needs a password: give it with --sign-password-file or --sign-password-env"},
      {inputs + "--sign-password-env MKINSTALLER_TEST_PASSWORD --out refused.exe",
       "cs.p12: the password does not open it (a wrong password?)"},
      {"check --config app.json --package pkg.zip --stub stub.exe --sign-pkcs12 tls.p12 --sign-password-file pass.txt",
       "tls.p12: the certificate of \"Example Publisher\" is not allowed for code signing (its extended key usage "
       "lacks codeSigning)"},
      {"check --config app.json --package pkg.zip --stub stub.exe --sign-pkcs12 old.p12 --sign-password-file pass.txt",
       "old.p12: the certificate of \"Example Publisher\" expired on "},
      {"check --config app.json --package pkg.zip --stub stub.exe --sign-pkcs12 pkg.zip --sign-no-password",
       "pkg.zip: not a PKCS#12 file holding a key and its certificate"},
  };
  for (const Refused& c : refused) {
    r = run(c.args);
    EXPECT_EQ(r.status, 1) << c.args;
    EXPECT_THAT(r.err, HasSubstr("mkinstaller: error: " + c.message)) << c.args;
    EXPECT_EQ(r.out, "") << c.args;
    EXPECT_FALSE(fs::exists(path("refused.exe"))) << c.args;
  }

  // Passwords: from the environment; none, said three ways.
  ::setenv("MKINSTALLER_TEST_PASSWORD", "s3cret", 1);
  r = run(inputs + "--sign-password-env MKINSTALLER_TEST_PASSWORD --out env.exe");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(sh("osslsigncode verify -in env.exe -CAfile ca.pem"), 0);
  ::setenv("MKINSTALLER_TEST_PASSWORD", "", 1);
  for (const std::string none : {"--sign-no-password", "--sign-password-file empty.txt",
                                 "--sign-password-env MKINSTALLER_TEST_PASSWORD"}) {
    r = run(package_inputs + "--sign-ca-file ca.pem --sign-pkcs12 nopass.p12 " + none + " --out nopass.exe");
    EXPECT_EQ(r.status, 0) << none << ": " << r.err;
    EXPECT_EQ(sh("osslsigncode verify -in nopass.exe -CAfile ca.pem"), 0) << none;
    fs::remove(path("nopass.exe"));
  }
  ::unsetenv("MKINSTALLER_TEST_PASSWORD");

  // Time-stamped by a server of the test's own (RFC 3161, on 127.0.0.1),
  // after one that does not answer; that one alone is named.
  write("tsa.cnf", "[req]\ndistinguished_name=dn\n[dn]\n[ext]\nbasicConstraints=critical,CA:false\n"
                   "keyUsage=critical,digitalSignature\nextendedKeyUsage=critical,timeStamping\n[tsa]\n"
                   "default_tsa=t\n[t]\nserial=./tsaserial\nsigner_digest=sha256\ndefault_policy=1.2.3.4.1\n"
                   "digests=sha256\naccuracy=secs:1\ness_cert_id_alg=sha256\n");
  write("tsaserial", "01\n");
  ASSERT_EQ(sh("openssl req -newkey rsa:2048 -nodes -keyout tsa.key -out tsa.csr -subj '/CN=Test TSA' -config tsa.cnf "
               "&& openssl x509 -req -in tsa.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out tsa.pem -days 2 "
               "-extfile tsa.cnf -extensions ext"),
            0);
  ASSERT_EQ(sh("python3 '" SOURCE_DIR "/tests/tools/tsa_server.py' port.txt & echo $! >tsa.pid"), 0);
  ASSERT_EQ(sh("python3 '" SOURCE_DIR "/tests/tools/tsa_server.py' port500.txt 500 & echo $! >tsa500.pid"), 0);
  for (int i = 0; i < 300 && !(fs::exists(path("port.txt")) && fs::exists(path("port500.txt"))); ++i) sh("sleep 0.1");
  // A port nobody listens on: the one a server just gave up.
  ASSERT_EQ(sh("python3 -c 'import socket; s = socket.socket(); s.bind((\"127.0.0.1\", 0)); "
               "print(s.getsockname()[1], end=\"\")' >down.txt"),
            0);
  const std::string down = "http://127.0.0.1:" + read("down.txt"), up = "http://127.0.0.1:" + read("port.txt");
  const std::string failing = "http://127.0.0.1:" + read("port500.txt");
  r = run(inputs + "--sign-password-file pass.txt --sign-timestamp " + down + " --out unstamped.exe");
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("time-stamping failed: no time-stamp server gave a time-stamp: " + down +
                               " did not answer (connection refused); nothing was signed"));
  EXPECT_THAT(r.err, HasSubstr("(give a second server with another --sign-timestamp)"));
  EXPECT_FALSE(fs::exists(path("unstamped.exe")));
  // A server that answers with an error is reported as answering so.
  r = run(inputs + "--sign-password-file pass.txt --sign-timestamp " + failing + " --out unstamped.exe");
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("no time-stamp server gave a time-stamp: " + failing +
                               " answered HTTP 500 (Internal Server Error); nothing was signed"));
  EXPECT_FALSE(fs::exists(path("unstamped.exe")));
  // check asks the servers as signing will: an error when none stamps, a
  // warning naming one passed over.
  const std::string check_inputs = "check --config app.json --package pkg.zip --scope machine --stub stub.exe "
                                   "--sign-ca-file ca.pem --sign-pkcs12 cs.p12 --sign-password-file pass.txt ";
  r = run(check_inputs + "--sign-timestamp " + failing + " --sign-timestamp " + down);
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("error: time-stamping would fail: no time-stamp server gave a time-stamp: " + failing +
                               " answered HTTP 500 (Internal Server Error); " + down + " did not answer"));
  r = run(check_inputs + "--sign-timestamp " + failing + " --sign-timestamp " + up);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.err, HasSubstr("warning: a time-stamp server would be passed over: " + failing + " answered HTTP 500"));
  sh("kill $(cat tsa500.pid)");
  r = run(inputs + "--sign-password-file pass.txt --sign-timestamp " + down + " --sign-timestamp " + up +
          " --out stamped.exe");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr(", time-stamped by " + up + ")"));
  EXPECT_THAT(run("inspect --ca-file ca.pem stamped.exe").out,
              HasSubstr("the signature verifies against ca.pem, time-stamped "));
  sh("kill $(cat tsa.pid)");

  // The uninstaller pack adds is signed with the same options, so that it
  // stays signed once installed.
  write("home/uninst.exe", our_stub());
  make_app(/*with_uninstaller=*/false);
  r = run("pack app --out signed.zip --sign-pkcs12 cs.p12 --sign-password-file pass.txt --sign-ca-file ca.pem");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("with the uninstaller added as {app}/uninst.exe, signed by /CN=Example Publisher\n"));
  ASSERT_EQ(sh("unzip -p signed.zip '{app}/uninst.exe' >packed-uninst.exe"), 0);
  EXPECT_EQ(sh("osslsigncode verify -in packed-uninst.exe -CAfile ca.pem"), 0);
  EXPECT_EQ(read("home/uninst.exe"), our_stub()) << "a copy is signed, never the tool's own";
  r = run("pack app --out unsigned.zip --sign-command 'true {file}' --sign-ca-file ca.pem");
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("uninst.exe: signing failed: the signing left the file unsigned"));
  EXPECT_FALSE(fs::exists(path("unsigned.zip")));
}
#endif

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
  // A signed uninstaller keeps its list in uninst.dat beside it, which is
  // read first, named through the uninstaller or by itself.
  write("uninst.dat", std::string(installer::format::seal_installed_list(
                          rt::Text(rt::cp936_from_utf8(u8(u8"C:\\Apps\\测试\\签名.exe\r\n")))).view()));
  for (const char* named : {"list uninst.exe", "list uninst.dat"}) {
    r = run(named);
    EXPECT_EQ(r.status, 0) << named << ": " << r.err;
    EXPECT_EQ(r.out, u8(u8"C:\\Apps\\测试\\签名.exe\n")) << named;
  }
}

}  // namespace
