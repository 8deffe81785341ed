// The downloader against real servers on 127.0.0.1: nginx for the ordinary
// case, the fault server for everything that goes wrong.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "installer/steps/download.h"
#include "installer/steps/host.h"
#include "installer/steps/progress.h"
#include "runtime/value/codepage.h"
#include "tests/support/http_servers.h"
#include "tests/support/paths.h"

namespace {

namespace fs = std::filesystem;
using testsupport::pattern_bytes;

struct Report {
  std::int32_t total, received, elapsed_ms;
};
std::vector<Report> reports;

void record(std::int32_t total, std::int32_t received, std::int32_t elapsed_ms) {
  reports.push_back({total, received, elapsed_ms});
}

class DownloadTest : public testing::Test {
 protected:
  void SetUp() override {
    auto s = testsupport::http_servers();
    ASSERT_TRUE(s) << "servers not running";
    servers = *s;
    dir = testsupport::scratch_dir("download");
    reports.clear();
  }

  std::int32_t fetch(const std::string& url, const std::string& name = "out.bin", std::int32_t start = 0,
                     bool resume = false) {
    return installer::download_file(rt::Text(url), rt::Text(path(name)), record, start, resume);
  }
  std::string path(const std::string& name) const { return dir + "\\" + name; }
  bool exists(const std::string& name) const { return fs::exists(fs::path(path(name))); }
  std::string contents(const std::string& name) const { return testsupport::read_file(path(name)); }

  // Every report carries `total`, grows by at most one chunk, and has a
  // non-zero elapsed time; the last one names the whole file.
  void expect_reports_consistent(std::int32_t total, std::size_t file_size) {
    ASSERT_FALSE(reports.empty());
    std::int32_t before = 0;
    for (const Report& r : reports) {
      EXPECT_EQ(r.total, total);
      EXPECT_GT(r.received, before);
      EXPECT_LE(r.received - before, static_cast<std::int32_t>(installer::kDownloadChunk));
      EXPECT_GT(r.elapsed_ms, 0);
      before = r.received;
    }
    EXPECT_EQ(static_cast<std::size_t>(reports.back().received), file_size);
  }

  testsupport::HttpServers servers;
  std::string dir;
};

TEST_F(DownloadTest, FetchesAFileFromNginxWithItsLengthInEveryReport) {
  ASSERT_EQ(fetch(servers.nginx_url("/pattern-1m.bin")), 0);
  std::string got = contents("out.bin");
  EXPECT_TRUE(got == pattern_bytes(0, 1048576 + 7)) << "size " << got.size();
  expect_reports_consistent(1048576 + 7, got.size());
  EXPECT_GE(reports.size(), (1048576u + 7) / installer::kDownloadChunk + 1);
  EXPECT_EQ(installer::progress_figures(reports.back().total, reports.back().received, 1).percent, 100);
}

TEST_F(DownloadTest, ChunkedBodyWithoutLengthCompletesWithTotalZero) {
  ASSERT_EQ(fetch(servers.fault_url("/chunked?size=50000")), 0);
  EXPECT_TRUE(contents("out.bin") == pattern_bytes(0, 50000));
  expect_reports_consistent(0, 50000);
  for (const Report& r : reports) EXPECT_EQ(installer::progress_figures(r.total, r.received, r.elapsed_ms).percent, 0);
}

TEST_F(DownloadTest, EmptyBodyMakesAnEmptyFileAndNoReport) {
  testsupport::write_file(path("out.bin"), "older contents");
  ASSERT_EQ(fetch(servers.fault_url("/empty")), 0);
  EXPECT_TRUE(exists("out.bin"));
  EXPECT_EQ(contents("out.bin"), "");
  EXPECT_TRUE(reports.empty());
}

TEST_F(DownloadTest, ErrorStatusFailsWithoutCreatingOrTouchingTheFile) {
  for (const char* url : {"/status/404?size=600", "/status/500?size=5000", "/status/404?size=5000"}) {
    SCOPED_TRACE(url);
    reports.clear();
    EXPECT_EQ(fetch(servers.fault_url(url), "fresh.bin"), -1);
    EXPECT_FALSE(exists("fresh.bin"));
    EXPECT_TRUE(reports.empty());
  }
  // A file already at the path (a package from an earlier run) stays as it was.
  testsupport::write_file(path("kept.bin"), "earlier package");
  EXPECT_EQ(fetch(servers.nginx_url("/no-such-file.zip"), "kept.bin"), -1);
  EXPECT_EQ(contents("kept.bin"), "earlier package");
}

TEST_F(DownloadTest, RefusedConnectionFailsWithoutAFile) {
  EXPECT_EQ(fetch("http://127.0.0.1:" + std::to_string(servers.refused_port) + "/app.zip"), -1);
  EXPECT_FALSE(exists("out.bin"));
  EXPECT_TRUE(reports.empty());
}

TEST_F(DownloadTest, ConnectionCutAfterThreeChunksLeavesExactlyTheBytesReceived) {
  for (const char* url : {"/cut?chunks=3&chunk=10240&mode=rst", "/cut?chunks=3&chunk=10240&mode=fin",
                          "/cut-chunked?chunks=3&chunk=10240"}) {
    SCOPED_TRACE(url);
    reports.clear();
    EXPECT_EQ(fetch(servers.fault_url(url)), -1);
    std::string got = contents("out.bin");
    EXPECT_TRUE(got == pattern_bytes(0, got.size()));
    EXPECT_LE(got.size(), 30720u);
    if (!reports.empty()) {
      EXPECT_EQ(static_cast<std::size_t>(reports.back().received), got.size());
    }
  }
}

TEST_F(DownloadTest, SlowServerReportsTheTimeThatPassed) {
  ASSERT_EQ(fetch(servers.fault_url("/trickle?chunks=3&chunk=10240&interval=1000")), 0);
  EXPECT_TRUE(contents("out.bin") == pattern_bytes(0, 30720));
  expect_reports_consistent(30720, 30720);
  // Two pauses of a second lie between the first and the last chunk.
  EXPECT_GE(reports.back().elapsed_ms, 1500);
  EXPECT_LT(installer::progress_figures(30720, 30720, reports.back().elapsed_ms).speed_kbps, 30);
}

TEST_F(DownloadTest, BytesBeyondTheAnnouncedLengthAreNotStored) {
  ASSERT_EQ(fetch(servers.fault_url("/oversize?size=20000&extra=5000")), 0);
  EXPECT_TRUE(contents("out.bin") == pattern_bytes(0, 20000));
}

TEST_F(DownloadTest, GzipEncodedBodyIsStoredDecoded) {
  ASSERT_EQ(fetch(servers.fault_url("/gzip?size=100000")), 0);
  EXPECT_TRUE(contents("out.bin") == pattern_bytes(0, 100000));
}

TEST_F(DownloadTest, ChineseSavePathIsWrittenThroughTheWideCalls) {
  ASSERT_EQ(fetch(servers.nginx_url("/small.bin"), "安装包.zip"), 0);
  std::ifstream in(fs::path(rt::wide_path(path("安装包.zip"))), std::ios::binary);
  std::string got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(got, pattern_bytes(0, 500));
  EXPECT_EQ(fetch(servers.nginx_url("/small.bin"), "missing-folder\\out.bin"), -1);
}

TEST_F(DownloadTest, RequestCarriesTheFixedHeadersAndRangeOnlyWhenResuming) {
  ASSERT_EQ(fetch(servers.fault_url("/echo"), "plain.txt", 5000, false), 0);
  std::string plain = contents("plain.txt");
  EXPECT_NE(plain.find("Accept-Language: zh-cn"), std::string::npos) << plain;
  EXPECT_NE(plain.find("Mozilla/4.0(compatible; MSIE 6.0; Windows NT 5.0; MyIE2; .NET CLR 1.1.4322)"),
            std::string::npos) << plain;
  EXPECT_EQ(plain.find("Range"), std::string::npos) << plain;

  ASSERT_EQ(fetch(servers.fault_url("/echo"), "ranged.txt", 5000, true), 0);
  std::string ranged = contents("ranged.txt");
  EXPECT_NE(ranged.find("bytes=5000-"), std::string::npos) << ranged;
}

TEST_F(DownloadTest, ResumeWritesTheRangeAfterTheBytesAlreadyThere) {
  // 5000 good bytes and a torn tail that the resumed range replaces.
  testsupport::write_file(path("part.bin"), pattern_bytes(0, 5000) + "torn tail");
  ASSERT_EQ(fetch(servers.fault_url("/range?size=30000"), "part.bin", 5000, true), 0);
  EXPECT_TRUE(contents("part.bin") == pattern_bytes(0, 30000));
  expect_reports_consistent(25000, 25000);

  // A partial file shorter than the range's start would leave a hole: refused.
  testsupport::write_file(path("short.bin"), pattern_bytes(0, 100));
  EXPECT_EQ(fetch(servers.fault_url("/range?size=30000"), "short.bin", 5000, true), -1);
  EXPECT_EQ(contents("short.bin"), pattern_bytes(0, 100));

  // A server that ignores the range sends the whole body, which replaces the file.
  testsupport::write_file(path("whole.bin"), std::string(9000, 'x'));
  ASSERT_EQ(fetch(servers.fault_url("/data?size=12000"), "whole.bin", 5000, true), 0);
  EXPECT_TRUE(contents("whole.bin") == pattern_bytes(0, 12000));
}

}  // namespace

namespace {

// What a download is allowed to follow and take: redirects within http and
// https (never down from https, never to another scheme), a 200 only, a
// length in 64 bits, and a compressed body only up to a sane multiple of
// its compressed size.
TEST_F(DownloadTest, RedirectsStatusesLengthsAndBombsAreJudged) {
  std::string data = servers.fault_url("/data?size=3000");
  std::string escaped;
  for (char c : data) escaped += (c == ':' ? "%3A" : c == '/' ? "%2F" : c == '?' ? "%3F" : c == '=' ? "%3D" : std::string(1, c));
  // http -> http is followed.
  ASSERT_EQ(fetch(servers.fault_url("/redirect?to=" + escaped)), 0);
  EXPECT_TRUE(contents("out.bin") == pattern_bytes(0, 3000));

  struct Case {
    std::string url;
    const char* why;
  };
  const Case refused[] = {
      {servers.fault_url("/redirect?to=file%3A%2F%2F%2FC%3A%2Fwindows%2Fwin.ini"), "to another scheme"},
      {servers.fault_url("/redirect?to=ftp%3A%2F%2F127.0.0.1%2Fapp.zip"), "to ftp"},
      {servers.fault_url("/redirect?to=%2Fredirect%3Fto%3D%252Fredirect"), "a loop"},
      {servers.fault_url("/status/204?size=0"), "no content"},
      {servers.fault_url("/status/302?size=3000"), "a redirect without a place"},
      {servers.fault_url("/huge?announce=5000000000&size=20000"), "5 GB announced, 20 KB sent"},
      {servers.fault_url("/huge?announce=3000000000&size=20000"), "3 GB announced (negative in 32 bits)"},
      {servers.fault_url("/gzip-bomb?mb=64"), "64 MB of zeros in 64 KB"},
      {servers.fault_url("/gzip-bomb?mb=64&chunked=1"), "the same without a length"},
      // The limit counts what arrived, not what the server claims will.
      {servers.fault_url("/gzip-bomb?mb=64&announce=1000000000"), "the same with a false length of 1 GB"},
  };
  for (const Case& c : refused) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(fetch(c.url, "refused.bin"), -1);
    EXPECT_LE(fs::exists(path("refused.bin")) ? fs::file_size(path("refused.bin")) : 0u, 8u << 20);
  }
  EXPECT_TRUE(installer::redirect_allowed("http://a/x", "https://b/y"));
  EXPECT_TRUE(installer::redirect_allowed("HTTPS://a/x", "https://b/y"));
  EXPECT_FALSE(installer::redirect_allowed("https://a/x", "http://a/x"));
  EXPECT_FALSE(installer::redirect_allowed("https://a/x", "HTTP://a/x"));
  EXPECT_FALSE(installer::redirect_allowed("http://a/x", "file:///C:/x"));
  std::uint64_t n = 0;
  EXPECT_TRUE(installer::parse_content_length("4294967296", n));
  EXPECT_EQ(n, 4294967296ull);
  EXPECT_FALSE(installer::parse_content_length("-1", n));
  EXPECT_FALSE(installer::parse_content_length("12a", n));
}

// Into an open file of the run: the 64-bit count, and a cancel between two reads.
TEST_F(DownloadTest, DownloadToAnOpenFileCountsIn64BitsAndStopsWhenCancelled) {
  HANDLE file = CreateFileW(rt::wide_path(path("open.bin")).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                            nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  std::uint64_t received = 0;
  EXPECT_EQ(installer::download_to(rt::Text(servers.fault_url("/data?size=30000")), file, record, &received), 0);
  EXPECT_EQ(received, 30000u);
  // Nobody else may write or delete it meanwhile.
  EXPECT_EQ(CreateFileW(rt::wide_path(path("open.bin")).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_FALSE(DeleteFileW(rt::wide_path(path("open.bin")).c_str()));
  installer::request_install_cancel();
  EXPECT_EQ(installer::download_to(rt::Text(servers.fault_url("/trickle?chunks=3&chunk=10240&interval=100")), file,
                                   record, &received),
            installer::kDownloadCancelled);
  installer::begin_install_run();
  CloseHandle(file);
}

}  // namespace

namespace {

// The installer's download through the faults of a bad network, with a
// patience of a second (the shipped one is asserted in download_test.cpp):
// every road ends with the whole file and its digest, never a spliced one.
class ResumingTest : public DownloadTest {
 protected:
  void TearDown() override {
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    installer::begin_install_run();
  }
  std::int32_t fetch_all(const std::vector<std::string>& urls,
                         installer::DownloadPatience patience = {1000, {50, 100, 200}, 3}) {
    if (file == INVALID_HANDLE_VALUE)
      file = CreateFileW(rt::wide_path(path("resumed.bin")).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                         nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    std::vector<rt::Text> texts(urls.begin(), urls.end());
    return installer::download_resuming(texts, file, record, partial, patience);
  }
  std::string log_of(const std::string& key) {
    EXPECT_EQ(fetch(servers.fault_url("/flaky-log?key=" + key), "log.txt"), 0);
    return contents("log.txt");
  }
  void expect_whole(std::size_t size) {
    FlushFileBuffers(file);
    EXPECT_EQ(partial.received, size);
    EXPECT_TRUE(contents("resumed.bin") == pattern_bytes(0, size));
    EXPECT_EQ(installer::Sha256(partial.digest).hex_digest(), installer::sha256_hex(pattern_bytes(0, size)));
  }

  HANDLE file = INVALID_HANDLE_VALUE;
  installer::PartialDownload partial;
};

TEST_F(ResumingTest, ArrivesWholeThroughDropsStallsAndServersThatForget) {
  struct Road {
    const char* what;
    const char* faults;
    const char* second_request;  // in the second request's head ("" = not looked at)
  };
  const Road roads[] = {
      {"drops at 10, 50 and 90 %", "cuts=10,50,90", "If-Range: \"v1\""},
      {"a stall right after the head", "cuts=0&fault=stall&hold=4", ""},
      // Continued, not started again: what arrived before the stall is in the
      // file (at most the one read the silent server holds is asked again).
      {"a stall mid-body", "cuts=50&fault=stall&hold=4", "Range: bytes="},
      {"a server that ignores ranges", "cuts=50&ranges=0", "Range: bytes="},
      {"a changed ETag", "cuts=50&etag=change", "If-Range: \"v1\""},
      {"a 416", "cuts=50&range416=1", "Range: bytes="},
  };
  int n = 0;
  for (const Road& road : roads) {
    SCOPED_TRACE(road.what);
    const std::string key = "road" + std::to_string(n++) + "-" + std::to_string(GetTickCount());
    partial = installer::PartialDownload();
    ASSERT_EQ(fetch_all({servers.fault_url("/flaky?size=300000&key=" + key + "&" + road.faults)}), 0);
    expect_whole(300000);
    std::string log = log_of(key);
    std::size_t second = log.find("\r\n\r\n");
    ASSERT_NE(second, std::string::npos) << "one request only:\n" << log;
    EXPECT_EQ(log.substr(0, second).find("Range"), std::string::npos) << log;
    if (*road.second_request) EXPECT_NE(log.find(road.second_request, second), std::string::npos) << log;
    EXPECT_EQ(log.find("Range: bytes=0-"), std::string::npos) << log;
  }
}

TEST_F(ResumingTest, MirrorsAreTriedInOrderAndABlockedNetworkEndsAtOnce) {
  const std::string key = "mirror-" + std::to_string(GetTickCount());
  const std::string dead = "http://127.0.0.1:" + std::to_string(servers.refused_port) + "/app.zip";
  ASSERT_EQ(fetch_all({dead, servers.fault_url("/flaky?size=200000&key=" + key)}), 0);
  expect_whole(200000);
  EXPECT_EQ(partial.url.str(), servers.fault_url("/flaky?size=200000&key=" + key));

  // A proxy asking for credentials, or a portal's own page: no mirror is asked.
  for (const char* blocked : {"/status/407?size=2000", "/status/511?size=2000", "/status/200?size=3000"}) {
    SCOPED_TRACE(blocked);
    const std::string unused = "unused-" + std::string(blocked + 8, 3) + std::to_string(GetTickCount());
    partial = installer::PartialDownload();
    EXPECT_EQ(fetch_all({servers.fault_url(blocked), servers.fault_url("/flaky?size=2000&key=" + unused)}), -1);
    EXPECT_EQ(log_of(unused), "");
  }
}

// "重新安装" after a network message: the bytes kept, bound to their address
// and validator, are continued, not fetched again.
TEST_F(ResumingTest, AKeptPartialIsContinuedByTheNextDownload) {
  const std::string url = servers.fault_url("/flaky?size=300000&cuts=50&key=kept-" + std::to_string(GetTickCount()));
  EXPECT_EQ(fetch_all({url}, {1000, {}}), -1);
  // A reset may lose what was still on its way: at most the half.
  EXPECT_GT(partial.received, 0u);
  EXPECT_LE(partial.received, 150000u);
  EXPECT_EQ(partial.validator, "\"v1\"");
  ASSERT_EQ(fetch_all({url}), 0);
  expect_whole(300000);
  EXPECT_GE(reports.back().received, 300000);
  EXPECT_EQ(reports.back().total, 300000);
}

// A cancel ends the download while the server stays silent (it would hold
// the connection for 20 s), with the shipped patience.
DWORD WINAPI cancel_soon(void*) {
  Sleep(500);
  installer::request_install_cancel();
  return 0;
}

TEST_F(ResumingTest, ACancelDuringAStallEndsTheDownload) {
  HANDLE canceller = CreateThread(nullptr, 0, cancel_soon, nullptr, 0, nullptr);
  DWORD start = GetTickCount();
  const std::string url = servers.fault_url("/flaky?size=300000&cuts=20&fault=stall&hold=20&key=cancel-" +
                                            std::to_string(GetTickCount()));
  EXPECT_EQ(fetch_all({url}, installer::shipped_download_patience()), installer::kDownloadCancelled);
  EXPECT_LT(GetTickCount() - start, 10000u) << "waited for the server";
  WaitForSingleObject(canceller, INFINITE);
  CloseHandle(canceller);
}

}  // namespace
