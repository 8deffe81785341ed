// The download request's header block.
#include "installer/steps/download.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

TEST(DownloadHeadersTest, FixedBlockWithARangeLineOnlyWhenResuming) {
  const std::string fixed =
      "Accept: */*\r\nAccept-Language: zh-cn\r\nAccept-Encoding: gzip, deflate\r\n"
      "User-Agent: Mozilla/4.0(compatible; MSIE 6.0; Windows NT 5.0; MyIE2; .NET CLR 1.1.4322)";
  EXPECT_EQ(installer::download_request_headers(false, 5000).str(), fixed);
  EXPECT_EQ(installer::download_request_headers(true, 5000).str(), fixed + "\r\nRange:bytes=5000-");
  EXPECT_EQ(installer::download_request_headers(true, 0).str(), fixed + "\r\nRange:bytes=0-");
  EXPECT_EQ(installer::download_request_headers(true, 5000000000ull, "\"v1\"").str(),
            fixed + "\r\nRange:bytes=5000000000-\r\nIf-Range: \"v1\"");
  EXPECT_EQ(installer::download_request_headers(false, 0, "\"v1\"").str(), fixed);
}

// What ships: 30 s of silence is a stall, and the tries after it pause a
// minute in all, growing.
TEST(DownloadPatienceTest, ShippedStallIsThirtySecondsAndThePausesAMinuteGrowing) {
  installer::DownloadPatience p = installer::shipped_download_patience();
  EXPECT_EQ(p.stall_ms, 30000u);
  std::uint32_t sum = 0, before = 0;
  ASSERT_EQ(p.pauses, 5u);
  for (std::uint32_t pause : p.pauses_ms) {
    if (pause == 0) break;
    EXPECT_GT(pause, before);
    sum += before = pause;
  }
  EXPECT_EQ(sum, 60000u);
}

TEST(DownloadTriesTest, PausesGrowStartAgainOnProgressAndMirrorsFollow) {
  struct Step {
    bool got_further;
    bool more;
    std::uint32_t pause;
    std::size_t address;
  };
  // One address: its pauses, anew after progress, then the end.
  installer::DownloadTries one(1, {1000, {10, 20}, 2});
  for (Step s : {Step{false, true, 10, 0}, Step{true, true, 10, 0}, Step{false, true, 20, 0}, Step{false, false, 0, 0}}) {
    std::uint32_t pause = 99;
    bool moved = true;
    EXPECT_EQ(one.next(s.got_further, &pause, &moved), s.more);
    EXPECT_EQ(pause, s.pause);
    EXPECT_EQ(one.address(), s.address);
  }
  // A dead first address gives way at once; one that delivered first uses its pauses.
  installer::DownloadTries three(3, {1000, {10}, 1});
  for (Step s : {Step{false, true, 0, 1}, Step{true, true, 10, 1}, Step{false, true, 0, 2}, Step{false, true, 10, 2},
                 Step{false, false, 0, 2}}) {
    std::uint32_t pause = 99;
    bool moved = false;
    EXPECT_EQ(three.next(s.got_further, &pause, &moved), s.more);
    EXPECT_EQ(pause, s.pause);
    EXPECT_EQ(three.address(), s.address);
  }
}

TEST(DownloadTriesTest, ValidatorsAndBlockedNetworks) {
  EXPECT_EQ(installer::download_validator("\"abc\"", "Tue, 08 Dec 2026 10:00:00 GMT"), "\"abc\"");
  EXPECT_EQ(installer::download_validator("W/\"abc\"", "Tue, 08 Dec 2026 10:00:00 GMT"),
            "Tue, 08 Dec 2026 10:00:00 GMT");
  EXPECT_EQ(installer::download_validator("", ""), "");
  EXPECT_TRUE(installer::network_blocked(407, ""));
  EXPECT_TRUE(installer::network_blocked(511, "text/html"));
  EXPECT_TRUE(installer::network_blocked(200, "Text/HTML; charset=utf-8"));
  EXPECT_FALSE(installer::network_blocked(200, "application/zip"));
  EXPECT_FALSE(installer::network_blocked(404, "text/html"));
}

}  // namespace
