// The figures a download report turns into.
#include <gtest/gtest.h>

#include <string>

#include "installer/steps/host.h"
#include "installer/steps/progress.h"

namespace {

using installer::progress_figures;

TEST(ProgressFiguresTest, PercentAndSpeedAreTruncatedTowardZero) {
  installer::ProgressFigures f = progress_figures(30000, 10000, 1500);
  EXPECT_EQ(f.percent, 33);             // 33.33
  EXPECT_EQ(f.speed_kbps, 6);           // 10000 / 1.5 / 1024 = 6.51
  EXPECT_EQ(f.received, 10000);
  EXPECT_EQ(f.total, 30000);
  EXPECT_EQ(progress_figures(1000, 999, 30).percent, 99);
  EXPECT_EQ(progress_figures(1000, 1000, 30).percent, 100);
}

TEST(ProgressFiguresTest, UnknownTotalShowsNoPercentageButKeepsCounting) {
  installer::ProgressFigures f = progress_figures(0, 123456, 2000);
  EXPECT_EQ(f.percent, 0);
  EXPECT_EQ(f.received, 123456);
  EXPECT_EQ(f.speed_kbps, 60);
}

TEST(ProgressFiguresTest, OutOfRangeReportsStayWithinTheBar) {
  EXPECT_EQ(progress_figures(1000, 5000, 30).percent, 100);  // more than announced
  EXPECT_EQ(progress_figures(1000, -5, 30).percent, 0);      // past 2 GB the count wraps
  EXPECT_EQ(progress_figures(-1, 100, 30).percent, 0);
  // 2 GB in a millisecond still fits.
  EXPECT_EQ(progress_figures(0, 2147483647, 1).speed_kbps, 2097151999);
  EXPECT_EQ(progress_figures(0, 100, 0).speed_kbps, 0);
}

TEST(ProgressFiguresTest, InstallerHandlerStoresTheFiguresOfTheLastReport) {
  installer::on_download_progress(20000, 5000, 1000);
  installer::ProgressFigures f = installer::download_progress().snapshot();
  EXPECT_EQ(f.percent, 25);
  EXPECT_EQ(f.speed_kbps, 4);
  EXPECT_EQ(f.received, 5000);
  EXPECT_EQ(f.total, 20000);
  installer::reset_download_progress();
  f = installer::download_progress().snapshot();
  EXPECT_EQ(f.percent + f.speed_kbps + f.received + f.total, 0);
}

// Once the person has asked to cancel, the timer's figures no longer
// overwrite the status: it says it is cancelling until the window closes.
TEST(ProgressFiguresTest, StatusSaysCancellingOnceACancelIsAsked) {
  EXPECT_EQ(installer::installing_status_text(19).str(), "正在安装中 19%，请稍侯...");
  installer::request_install_cancel();
  EXPECT_EQ(installer::installing_status_text(19).str(), installer::kCancellingStatus);
  installer::cancel_requested() = false;
}

}  // namespace
