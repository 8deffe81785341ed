// The download request's header block.
#include "installer/steps/download.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(DownloadHeadersTest, FixedBlockWithARangeLineOnlyWhenResuming) {
  const std::string fixed =
      "Accept: */*\r\nAccept-Language: zh-cn\r\nAccept-Encoding: gzip, deflate\r\n"
      "User-Agent: Mozilla/4.0(compatible; MSIE 6.0; Windows NT 5.0; MyIE2; .NET CLR 1.1.4322)";
  EXPECT_EQ(installer::download_request_headers(false, 5000).str(), fixed);
  EXPECT_EQ(installer::download_request_headers(true, 5000).str(), fixed + "\r\nRange:bytes=5000-");
  EXPECT_EQ(installer::download_request_headers(true, 0).str(), fixed + "\r\nRange:bytes=0-");
}

}  // namespace
