// Installers made with hostile packages, records, servers and folders, run
// under Wine. Each case checks that the installer lives on, ends on the page
// it must, writes nothing outside the installation directory, the temporary
// directory and its own folder, and keeps what existed before.
#include <winsock2.h>
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "installer/format/cipher.h"
#include "installer/steps/host.h"
#include "installer/platform/windows_version.h"
#include "installer/format/sha256.h"
#include "runtime/value/codepage.h"
#include "tests/e2e/support/installer_fixture.h"
#include "tests/support/paths.h"
#include "tests/support/zip_maker.h"
#include "tests/support/zip_writer.h"

namespace {

using e2e::Installer;
using testsupport::ZipEntrySpec;

const char* const kNetworkMessage = "检测到网络异常，必要组件无法加载，请检查网络后重试。";

// A literal's bytes, zero bytes included.
template <std::size_t N>
std::string bytes_of(const char (&literal)[N]) {
  return std::string(literal, N - 1);
}

std::string pid_text() { return std::to_string(GetCurrentProcessId()); }

e2e::Config config(const std::string& name, const std::string& type, const std::string& url = "") {
  return {{"softname", name},      {"softversion", "1.0"}, {"urlremote", url},
          {"urlfull", url},        {"framework", ""},      {"mainfile", "App.exe"},
          {"installtype", type},   {"companyname", "Hostile"}, {"companyurl", ""},
          {"protocol", ""}};
}

// Every file and folder below `root` with its contents, except below the
// folders in `skip` (full paths).
using Tree = std::map<std::string, std::string>;
void scan(const std::string& root, const std::vector<std::string>& skip, Tree& out) {
  WIN32_FIND_DATAW found;
  HANDLE h = FindFirstFileW(rt::wide_path(root + "\\*").c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return;
  do {
    std::string name = rt::cp936_from_wchar(found.cFileName);
    if (name == "." || name == "..") continue;
    std::string path = root + "\\" + name;
    bool skipped = false;
    for (const std::string& s : skip) skipped = skipped || lstrcmpiA(s.c_str(), path.c_str()) == 0;
    if (skipped) continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      out[path] = "<folder>";
      scan(path, skip, out);
    } else {
      out[path] = e2e::read_all(path);
    }
  } while (FindNextFileW(h, &found));
  FindClose(h);
}

// Absolute places a hostile name might reach: the drive roots, the Windows
// folder, the Linux /tmp seen through drive Z:.
std::vector<std::string> far_places(const std::string& stem) {
  char windows[MAX_PATH] = {};
  GetWindowsDirectoryA(windows, MAX_PATH);
  return {"C:\\" + stem, std::string(windows) + "\\" + stem, "Z:\\tmp\\" + stem, "C:\\users\\" + stem};
}

// One hostile situation: a scratch folder with the installer in own\, the
// installation directory box\inst (chosen on the custom page) and files that
// must survive in box\ and at the top.
class HostileTest : public testing::Test {
 protected:
  void SetUp() override {
    root_ = testsupport::scratch_dir("e2e-hostile");
    own_ = root_ + "\\own";
    box_ = root_ + "\\box";
    inst_ = box_ + "\\inst";
    CreateDirectoryW(rt::wide_path(own_).c_str(), nullptr);
    CreateDirectoryW(rt::wide_path(box_).c_str(), nullptr);
    ASSERT_TRUE(e2e::write_all(box_ + "\\keep.txt", "keep me"));
    ASSERT_TRUE(e2e::write_all(root_ + "\\keep.txt", "keep me too"));
  }

  Tree outside() const {
    Tree t;
    scan(root_, {own_, inst_}, t);
    return t;
  }

  std::string make(const std::string& record, const std::string* package) {
    return e2e::make_installer(own_, record, package);
  }

  // The installer still runs (it did not crash) and everything outside its
  // three places is as it was.
  void expect_contained(Installer& setup, const Tree& before, const std::string& stem) {
    EXPECT_FALSE(setup.wait_exit(0)) << "the installer ended by itself";
    Tree after = outside();
    for (const auto& [path, content] : before) {
      auto it = after.find(path);
      EXPECT_TRUE(it != after.end() && it->second == content) << path << " was changed or lost";
    }
    for (const auto& [path, content] : after)
      EXPECT_TRUE(before.count(path)) << path << " was written outside the installer's folders";
    for (const std::string& place : far_places(stem)) EXPECT_FALSE(e2e::path_exists(place)) << place;
  }

  std::string root_, own_, box_, inst_;
};

ZipEntrySpec entry(const std::string& name, const std::string& data, bool deflate = false) {
  return {.name = name, .data = data, .deflate = deflate};
}

// Sets the general-purpose flag bit of entry `index`'s local and central
// headers (a make_zip archive: entries in order, no extra fields).
void set_flag(std::string& zip, int index, std::uint16_t bit) {
  auto patch = [&](std::uint32_t signature, std::size_t flag_offset) {
    std::size_t at = 0;
    for (int seen = 0;; ++at) {
      at = zip.find(std::string(reinterpret_cast<const char*>(&signature), 4), at);
      if (at == std::string::npos) return;
      if (seen++ == index) break;
    }
    zip[at + flag_offset] = static_cast<char>(zip[at + flag_offset] | (bit & 0xFF));
  };
  patch(0x04034b50, 6);
  patch(0x02014b50, 8);
}

// One hostile package installed into box\inst from the custom page: the page
// it must end on, what must and must not be in the installation afterwards,
// and whether everything outside the installer's own places is unchanged.
struct PackageCase {
  const char* what;
  const char* softname;
  std::function<std::string(const std::string& stem)> package;
  int page;                 // 3 finished, 4 failed (after a message that says why)
  std::map<std::string, std::string> files = {};  // below inst, with their contents
  std::vector<std::string> absent = {};           // below inst
  bool contained = true;    // nothing outside changed, nothing written far away
  // Optional: prepares the installation folder; its result undoes that after.
  std::function<std::function<void()>(const std::string& inst)> prepare = nullptr;
  // Optional: further checks of the installation folder.
  std::function<void(const std::string& inst)> check = nullptr;
  // The failure message's start, when not the damaged-package message.
  std::string message = installer::kDamagedPackageMessage;
};
void PrintTo(const PackageCase& c, std::ostream* os) { *os << c.what; }

std::string zip_of(std::vector<ZipEntrySpec> entries) { return testsupport::make_zip(entries); }

const PackageCase kPackageCases[] = {
    {.what = "climbing, absolute, drive and share names are a damaged package",
     .softname = "越界名称",
     .package = [](const std::string& stem) {
       return zip_of({entry("{app}/good.txt", "good"), entry("{app}/../../" + stem + "-3.txt", "x"),
                      entry("{app}/..\\..\\keep.txt", "overwritten"),
                      entry("{app}/sub/../../../" + stem + "-4.txt", "x"), entry("C:\\" + stem, "x"),
                      entry("C:" + stem, "x"), entry("\\\\127.0.0.1\\C$\\" + stem, "x"), entry("/tmp/" + stem, "x"),
                      entry("Z:/tmp/" + stem, "x"), entry("{tmp}/../../" + stem + "-5.txt", "x")});
     },
     // Never quietly moved elsewhere by the clean-up: the package is damaged
     // and nothing of it is written.
     .page = 4,
     .absent = {"good.txt"}},
    {.what = "names that would still climb or name a stream are refused",
     .softname = "拒绝名称",
     .package = [](const std::string& stem) {
       return zip_of({entry("{app}/good.txt", "good"), entry("{app}/good.txt:hidden", "stream"),
                      entry("{app}/..", "x"), entry("{app}/.. /" + stem, "x"), entry("{app}/.../" + stem, "x"),
                      entry("..", "x"), entry("../" + stem + "-1.txt", "x"), entry("..\\" + stem + "-2.txt", "x"),
                      entry(bytes_of("{app}/..\0/") + stem, "x")});
     },
     // A refused entry fails the package: the failure page, and what the run
     // wrote before it is taken back.
     .page = 4,
     .absent = {"good.txt"}},
    {.what = "device names are refused (Windows would open the device)",
     .softname = "设备名称",
     .package = [](const std::string&) {
       return zip_of({entry("{app}/good.txt", "good"), entry("{app}/CON", "x"), entry("{app}/NUL", "x"),
                      entry("{app}/COM1", "x"), entry("{app}/aux.txt", "x"), entry("{app}/LPT1.log", "x")});
     },
     .page = 4,
     .absent = {"good.txt"}},
    {.what = "a lying size, damaged deflate data and an encrypted entry fail alone",
     .softname = "坏条目",
     .package = [](const std::string&) {
       std::string package = zip_of({
           entry("{app}/good.txt", "good"),
           // A "bomb": 8 MB of zeros declared as 1000 bytes.
           {.name = "{app}/bomb.bin", .data = std::string(8 << 20, '\0'), .deflate = true, .claimed_size = 1000},
           entry("{app}/damaged.txt", std::string(20000, 'd') + "tail", true),
           entry("{app}/secret.txt", "secret"),
       });
       // The damaged entry's deflate stream: bytes in its middle overwritten.
       std::size_t damaged = package.find("{app}/damaged.txt") + 17;
       for (std::size_t i = damaged + 4; i < damaged + 12; ++i) package[i] = static_cast<char>(0xFF);
       set_flag(package, 3, 1);  // encrypted, and no password is given
       return package;
     },
     .page = 4,
     .absent = {"good.txt"},
     .check = [](const std::string& inst) {
       EXPECT_LE(e2e::read_all(inst + "\\bomb.bin").size(), 1000u) << "more than the entry declared";
       EXPECT_NE(e2e::read_all(inst + "\\damaged.txt"), std::string(20000, 'd') + "tail");
       EXPECT_NE(e2e::read_all(inst + "\\secret.txt"), "secret");
     }},
    {.what = "a truncated central directory installs nothing",
     .softname = "截断目录",
     .package = [](const std::string&) {
       std::string whole = zip_of({entry("{app}/a.txt", "a"), entry("{app}/b.txt", "b")});
       // The end record still points at the directory, half of which is gone.
       std::size_t end = whole.size() - 22, central = whole.find("PK\x01\x02");
       return whole.substr(0, central + (end - central) / 2) + whole.substr(end);
     },
     .page = 4,
     .absent = {"a.txt"}},
    {.what = "a comment of 65,535 bytes installs all",
     .softname = "长注释",
     .package = [](const std::string&) {
       return testsupport::make_zip({entry("{app}/a.txt", "a"), entry("{app}/b.txt", "b")}, std::string(65535, 'c'));
     },
     .page = 3,
     .files = {{"b.txt", "b"}},
     .contained = false},
    {.what = "overlapping entries (26 names for one deflated megabyte) install nothing",
     .softname = "重叠条目",
     .package = [](const std::string&) {
       std::string one = zip_of({entry("{app}/bomb.bin", std::string(1 << 20, '\0'), true)});
       return testsupport::zip_with_shared_records(one, 26);
     },
     .page = 4,
     .absent = {"bomb.bia", "bomb.bin"}},
    {.what = "a read-only file is kept and the install reports failure",
     .softname = "只读文件",
     .package = [](const std::string&) {
       return zip_of({entry("{app}/good.txt", "good"), entry("{app}/readonly.txt", "new")});
     },
     .page = 4,
     .files = {{"readonly.txt", "old read-only"}},
     .absent = {"good.txt"},
     .contained = false,
     .prepare = [](const std::string& inst) -> std::function<void()> {
       CreateDirectoryW(rt::wide_path(inst).c_str(), nullptr);
       e2e::write_all(inst + "\\readonly.txt", "old read-only");
       SetFileAttributesW(rt::wide_path(inst + "\\readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY);
       return [inst] { SetFileAttributesW(rt::wide_path(inst + "\\readonly.txt").c_str(), FILE_ATTRIBUTE_NORMAL); };
     },
     .message = "无法写入文件“"},
    // Found before anything is written: the person is asked to close it.
    {.what = "a held file is named before anything is written",
     .softname = "占用文件",
     .package = [](const std::string&) {
       return zip_of({entry("{app}/good.txt", "good"), entry("{app}/held.txt", "new")});
     },
     .page = 4,
     .files = {{"held.txt", "old held"}},
     .absent = {"good.txt"},
     .contained = false,
     .prepare = [](const std::string& inst) -> std::function<void()> {
       CreateDirectoryW(rt::wide_path(inst).c_str(), nullptr);
       e2e::write_all(inst + "\\held.txt", "old held");
       HANDLE held = CreateFileW(rt::wide_path(inst + "\\held.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                                 nullptr);
       EXPECT_NE(held, INVALID_HANDLE_VALUE);
       return [held] { CloseHandle(held); };
     },
     .message = "请先关闭“held.txt”后点击重新安装。"},
    {.what = "an installation path that is a file is kept",
     .softname = "路径是文件",
     .package = [](const std::string&) { return zip_of({entry("{app}/good.txt", "good")}); },
     .page = 4,
     .contained = false,
     .prepare = [](const std::string& inst) -> std::function<void()> {
       e2e::write_all(inst, "a file, not a folder");
       return nullptr;
     },
     .check = [](const std::string& inst) { EXPECT_EQ(e2e::read_all(inst), "a file, not a folder"); },
     .message = "无法使用安装目录“"},
};

class HostilePackageTest : public HostileTest, public testing::WithParamInterface<PackageCase> {};

TEST_P(HostilePackageTest, InstallerLivesOnEndsOnItsPageAndKeepsWhatExisted) {
  const PackageCase& c = GetParam();
  std::string stem = "hostile-" + pid_text();
  std::function<void()> undo = c.prepare ? c.prepare(inst_) : nullptr;
  std::string package = c.package(stem);
  std::string exe = make(e2e::config_json(config(c.softname, "disk")), &package);
  ASSERT_FALSE(exe.empty());
  Tree before = outside();
  Installer setup(exe);
  std::string message;
  EXPECT_EQ(e2e::install_from_custom_page(setup, inst_, &message), c.page) << message;
  if (c.page == 4) {
    EXPECT_EQ(message.rfind(c.message, 0), 0u) << message;
  }
  if (undo) undo();
  for (const auto& [name, content] : c.files) EXPECT_EQ(e2e::read_all(inst_ + "\\" + name), content) << name;
  for (const std::string& name : c.absent) EXPECT_FALSE(e2e::path_exists(inst_ + "\\" + name)) << name;
  if (c.check) c.check(inst_);
  if (c.contained) expect_contained(setup, before, stem);
  EXPECT_FALSE(setup.wait_exit(0)) << "the installer ended by itself";
  setup.process().kill();
}

INSTANTIATE_TEST_SUITE_P(Packages, HostilePackageTest, testing::ValuesIn(kPackageCases));

TEST_F(HostileTest, HundredThousandEntriesAllInstall) {
  // 1,000 folders of 100 files: the size publishers' tools can write, and
  // within what one folder holds without slowing Wine's name lookups.
  constexpr int kFolders = 1000, kPerFolder = 100;
  std::vector<ZipEntrySpec> entries;
  entries.reserve(kFolders * kPerFolder);
  for (int d = 0; d < kFolders; ++d)
    for (int f = 0; f < kPerFolder; ++f)
      entries.push_back(entry("{app}/d" + std::to_string(d) + "/f" + std::to_string(f), std::to_string(d * kPerFolder + f)));
  std::string package = testsupport::make_zip(entries);
  std::string exe = make(e2e::config_json(config("十万文件", "disk")), &package);
  ASSERT_FALSE(exe.empty());
  Tree before = outside();
  Installer setup(exe);
  std::string message;
  EXPECT_EQ(e2e::install_from_custom_page(setup, inst_, &message, 600000), 3) << message;
  int found = 0;
  for (int d = 0; d < kFolders; ++d) {
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileW(rt::wide_path(inst_ + "\\d" + std::to_string(d) + "\\f*").c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) continue;
    do ++found; while (FindNextFileW(h, &data));
    FindClose(h);
  }
  EXPECT_EQ(found, kFolders * kPerFolder);
  EXPECT_EQ(e2e::read_all(inst_ + "\\d999\\f99"), "99999");
  expect_contained(setup, before, "hostile-" + pid_text());
  setup.process().kill();
}

TEST_F(HostileTest, InstallPathOf250Characters) {
  // Folders of 50 characters down to a path of exactly 250: a file name that
  // still fits the 259 characters of MAX_PATH installs; a longer one installs
  // where the system takes long paths (Wine does) and is a failed entry where
  // it does not; nothing lands anywhere else.
  std::string folder = inst_;
  while (folder.size() + 51 <= 250) folder += "\\" + std::string(50, 'p');
  folder += "\\" + std::string(250 - folder.size() - 1, 'q');
  ASSERT_EQ(folder.size(), 250u);
  std::vector<ZipEntrySpec> entries = {entry("{app}/fits.txt", "fits"),
                                       entry("{app}/" + std::string(20, 'n') + ".txt", "too long")};
  std::string package = testsupport::make_zip(entries);
  std::string exe = make(e2e::config_json(config("长路径", "disk")), &package);
  ASSERT_FALSE(exe.empty());
  Tree before = outside();
  Installer setup(exe);
  std::string message;
  int page = e2e::install_from_custom_page(setup, folder, &message);
  EXPECT_EQ(setup.text("安装目录"), folder);
  EXPECT_EQ(e2e::read_all(folder + "\\fits.txt"), "fits");
  if (e2e::path_exists(folder + "\\" + std::string(20, 'n') + ".txt")) {
    EXPECT_EQ(page, 3) << message;
  } else {
    EXPECT_EQ(page, 4);
    EXPECT_EQ(message, kNetworkMessage);
  }
  expect_contained(setup, before, "hostile-" + pid_text());
  setup.process().kill();
}

// The record resource holds `bytes` encrypted as they are (zero bytes too).
std::string installer_with_record_bytes(const std::string& dir, const std::string& plain) {
  std::string exe = e2e::make_installer(dir, "{}", nullptr);
  if (exe.empty()) return "";
  std::string bytes = plain;
  installer::record_cipher(installer::format::kRecordPassPhrase, reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size());
  HANDLE update = BeginUpdateResourceW(rt::wide_path(exe).c_str(), FALSE);
  if (!update) return "";
  bool ok = UpdateResourceW(update, L"SYSTEM", L"102", 0, bytes.data(), static_cast<DWORD>(bytes.size())) != FALSE;
  return EndUpdateResourceW(update, !ok) && ok ? exe : "";
}

std::string default_folder() {
  wchar_t buf[MAX_PATH] = {};
  SHGetSpecialFolderPathW(nullptr, buf, installer::windows_version_code() > 9 ? CSIDL_APPDATA : CSIDL_PROGRAM_FILES,
                          FALSE);
  return rt::cp936_from_wchar(buf);
}

TEST_F(HostileTest, HostileRecordsOpenTheWindowWithWhatCanBeRead) {
  std::string nesting = std::string(200000, '[') + std::string(200000, ']');
  struct Case {
    std::string record;
    std::string name;  // the caption and last level of the proposed folder
  } cases[] = {
      // Not JSON, and no install type that is a text: a damaged installer.
      {bytes_of("\x89PNG\r\n\x1a\n\0\0\0\rIHDR"), ""},
      {"{\"softname\":2024,\"softversion\":1.5e3,\"urlremote\":null,\"urlfull\":true,\"framework\":4.8,"
       "\"mainfile\":[],\"installtype\":{},\"companyname\":-0,\"companyurl\":null,\"protocol\":false}",
       ""},
      {"{\"filler\":\"" + std::string(1 << 20, 'x') + "\",\"softname\":\"大记录\",\"installtype\":\"disk\"}", "大记录"},
      {bytes_of("{\"softname\":\"零字节前\",\"installtype\":\"disk\"}\0{\"softname\":\"零字节后\"}"), "零字节前"},
      {"{\"softname\":\"深嵌套\",\"installtype\":\"disk\",\"x\":" + nesting + "}", "深嵌套"},
  };
  for (const Case& c : cases) {
    std::string dir = testsupport::scratch_dir("e2e-hostile-record");
    std::string exe = installer_with_record_bytes(dir, c.record);
    ASSERT_FALSE(exe.empty());
    Installer setup(exe);
    ASSERT_TRUE(setup.ok()) << "no window for the record of " << c.record.size() << " bytes";
    // A record that cannot be read says so instead of proposing a folder,
    // and its installer ends.
    EXPECT_EQ(e2e::window_text(setup.window()), c.name.empty() ? "安装程序已损坏" : c.name);
    if (c.name.empty()) {
      EXPECT_EQ(setup.answer_message_box(), installer::kDamagedInstallerMessage);
      EXPECT_TRUE(setup.wait_exit(20000));
      continue;
    }
    EXPECT_EQ(setup.text("安装目录"), default_folder() + "\\" + c.name);
    EXPECT_FALSE(setup.wait_exit(0));
    setup.process().kill();
  }
}

// The Winsock calls the lying server needs, from ws2_32.dll at run time (the
// test programs link no socket library).
struct Sockets {
  HMODULE dll = LoadLibraryW(L"ws2_32.dll");
  template <typename F>
  F get(const char* name) const {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
  }
  decltype(&::WSAStartup) startup = get<decltype(&::WSAStartup)>("WSAStartup");
  decltype(&::socket) open = get<decltype(&::socket)>("socket");
  decltype(&::bind) bind = get<decltype(&::bind)>("bind");
  decltype(&::listen) listen = get<decltype(&::listen)>("listen");
  decltype(&::getsockname) name = get<decltype(&::getsockname)>("getsockname");
  decltype(&::accept) accept = get<decltype(&::accept)>("accept");
  decltype(&::recv) recv = get<decltype(&::recv)>("recv");
  decltype(&::send) send = get<decltype(&::send)>("send");
  decltype(&::shutdown) shutdown = get<decltype(&::shutdown)>("shutdown");
  decltype(&::closesocket) close = get<decltype(&::closesocket)>("closesocket");
  bool ok() const { return dll && startup && open && bind && listen && name && accept && recv && send && close; }
};

// An HTTP server on 127.0.0.1 that answers every request with `body` but
// announces only its first `announced` bytes.
class LyingServer {
 public:
  LyingServer(std::string body, std::size_t announced) : body_(std::move(body)), announced_(announced) {
    if (!ws_.ok()) return;
    WSADATA wsa;
    ws_.startup(MAKEWORD(2, 2), &wsa);
    listener_ = ws_.open(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = 0x0100007F;  // 127.0.0.1 in network order
    if (ws_.bind(listener_, reinterpret_cast<sockaddr*>(&at), sizeof at) || ws_.listen(listener_, 4)) return;
    int len = sizeof at;
    ws_.name(listener_, reinterpret_cast<sockaddr*>(&at), &len);
    port_ = (at.sin_port & 0xFF) << 8 | at.sin_port >> 8;
    thread_ = std::thread([this] { serve(); });
  }
  ~LyingServer() {
    if (listener_ != INVALID_SOCKET) ws_.close(listener_);
    if (thread_.joinable()) thread_.join();
  }
  bool ok() const { return port_ != 0; }
  std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

 private:
  void serve() {
    for (;;) {
      SOCKET c = ws_.accept(listener_, nullptr, nullptr);
      if (c == INVALID_SOCKET) return;
      char buf[4096];
      std::string head;
      while (head.find("\r\n\r\n") == std::string::npos) {
        int n = ws_.recv(c, buf, sizeof buf, 0);
        if (n <= 0) break;
        head.append(buf, n);
      }
      std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: application/zip\r\nContent-Length: " +
                          std::to_string(announced_) + "\r\nConnection: close\r\n\r\n" + body_;
      ws_.send(c, reply.data(), static_cast<int>(reply.size()), 0);
      ws_.shutdown(c, SD_SEND);
      Sleep(200);
      ws_.close(c);
    }
  }
  Sockets ws_;
  std::string body_;
  std::size_t announced_;
  SOCKET listener_ = INVALID_SOCKET;
  int port_ = 0;
  std::thread thread_;
};

TEST_F(HostileTest, ServerSendingMoreThanItsContentLengthGivesThePackageItAnnounced) {
  // Stored, so that the package passes the downloader's 1024-byte floor.
  std::vector<ZipEntrySpec> entries = {entry("{app}/good.txt", std::string(4000, 'g')), entry("{app}/App.exe", "MZ")};
  std::string package = testsupport::make_zip(entries);
  LyingServer server(package + std::string(256 * 1024, 'J'), package.size());
  ASSERT_TRUE(server.ok());
  e2e::Config record = config("多余字节", "net", server.url("/app.zip"));
  record.push_back({"sha256", installer::sha256_hex(package)});  // the package it announced
  std::string exe = make(e2e::config_json(record), nullptr);
  ASSERT_FALSE(exe.empty());
  Tree before = outside();
  Installer setup(exe);
  std::string message;
  EXPECT_EQ(e2e::install_from_custom_page(setup, inst_, &message), 3) << message;
  EXPECT_EQ(e2e::read_all(inst_ + "\\good.txt"), std::string(4000, 'g'));
  EXPECT_FALSE(e2e::path_exists(own_ + "\\app.zip"));
  expect_contained(setup, before, "hostile-" + pid_text());
  setup.process().kill();
}

}  // namespace
