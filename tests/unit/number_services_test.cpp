#include "runtime/services/number_services.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>


#include "runtime/services/text_services.h"
#include "runtime/services/convert_services.h"
#include "tests/support/fatal_report.h"

using namespace rt;

namespace {

TEST(ToIntTest, TextsAreMadeHalfWidthAndReadAsAtoi) {
  EXPECT_EQ(to_int("１２"), 12);
  EXPECT_EQ(to_int("  -42abc"), -42);
  EXPECT_EQ(to_int("+7"), 7);
  EXPECT_EQ(to_int("abc"), 0);
  EXPECT_EQ(to_int(""), 0);
  EXPECT_EQ(to_int("99999999999"), 2147483647);
  EXPECT_EQ(to_int("-99999999999"), -2147483647 - 1);
  EXPECT_EQ(to_int("－３"), -3);
}

TEST(ToIntTest, OtherKinds) {
  EXPECT_EQ(to_int(-2.7), -2);
  EXPECT_EQ(to_int(2.7f), 2);
  EXPECT_EQ(to_int(static_cast<long long>(0x100000005LL)), 5);
  EXPECT_EQ(to_int(true), 1);
  EXPECT_EQ(to_int(static_cast<std::uint8_t>(255)), 255);
  EXPECT_EQ(to_int(1e300), -2147483647 - 1);
}

TEST(ToInt64Test, ReadsWithoutOverflowCheck) {
  EXPECT_EQ(to_int64(" 9000000000 "), 9000000000LL);
  EXPECT_EQ(to_int64("-12x3"), -12);
  EXPECT_EQ(to_int64("９８"), 98);
  EXPECT_EQ(to_int64("18446744073709551617"), 1);  // wraps
  EXPECT_EQ(to_int64(-3.9), -3);
}

TEST(ToFloatTest, TextsAsAtof) {
  EXPECT_DOUBLE_EQ(to_double("３.５"), 3.5);
  EXPECT_DOUBLE_EQ(to_double(" -1.25e2xyz"), -125.0);
  EXPECT_EQ(to_double("x"), 0.0);
  EXPECT_EQ(to_double(""), 0.0);
  EXPECT_FLOAT_EQ(to_float("0.1"), 0.1f);
  EXPECT_EQ(to_double(7), 7.0);
}

TEST(RemainderTest, LeftToRight) {
  EXPECT_DOUBLE_EQ(rt::remainder({10, 4}), 2);
  EXPECT_DOUBLE_EQ(rt::remainder({-10, 4}), -2);
  EXPECT_DOUBLE_EQ(rt::remainder({100, 30, 7}), 3);
  EXPECT_DOUBLE_EQ(rt::remainder({5.5, 2}), 1.5);
}

TEST(BitTest, AndOrNotShift) {
  EXPECT_EQ(bit_and({0xFF, 0x0F, 0x3C}), 0x0C);
  EXPECT_EQ(bit_or({1, 2, 8}), 11);
  EXPECT_EQ(bit_not(0), -1);
  EXPECT_EQ(shift_right(-16, 2), -4);
  EXPECT_EQ(shift_right(256, 33), 128);
  EXPECT_EQ(shift_right(256, 32), 256);
}

std::string show(Date d) { return to_text(d).str(); }

TEST(ToDateTest, AcceptsTheSeparatorsAndChineseUnits) {
  EXPECT_EQ(show(to_date("2024-02-29")), show(make_date(2024, 2, 29)));
  EXPECT_EQ(show(to_date("2024年2月29日12时")), "2024年2月29日12时");
  EXPECT_EQ(show(to_date("2024/1/2 3:04:05")), "2024年1月2日3时4分5秒");
  EXPECT_EQ(show(to_date("2024.1.2")), "2024年1月2日");
  EXPECT_EQ(show(to_date("2024年1月2日3时4分5秒")), "2024年1月2日3时4分5秒");
  EXPECT_EQ(show(to_date("２０２４－０１－０２")), "2024年1月2日");
  EXPECT_EQ(show(to_date("100-1-1")), "100年1月1日");
  EXPECT_EQ(show(to_date("9999-12-31 23:59:59")), "9999年12月31日23时59分59秒");
  Date d = make_date(2001, 5, 6);
  EXPECT_EQ(to_date(d), d);
}

TEST(ToDateTest, RejectsFieldsThatAreNotValidAsWritten) {
  for (const char* bad : {"2023-02-29", "2023-13-01", "2023-00-10", "2023-04-31", "99-01-01", "10000-01-01",
                          "2023-01-01 24:00", "2023-01-01 12:60", "2023-01-01 12:00:60", "2023-01", "2023",
                          "", "abc", "2023-01-01x", "2023-01-01 1:2:3:4", "-2023-01-01", "2023-01-01 +1"}) {
    EXPECT_EQ(to_date(bad).days, kMinDate) << bad;
  }
  EXPECT_EQ(show(kInvalidDate), "100年1月1日");
}

TEST(DateTest, SerialNumbersMatchTheOleDate) {
  EXPECT_EQ(make_date(1899, 12, 30).days, 0.0);
  EXPECT_EQ(make_date(1900, 1, 1).days, 2.0);
  EXPECT_EQ(make_date(2000, 1, 1).days, 36526.0);
  EXPECT_EQ(make_date(100, 1, 1).days, kMinDate);
  EXPECT_EQ(make_date(9999, 12, 31).days, kMaxDate);
  EXPECT_DOUBLE_EQ(make_date(2000, 1, 1, 6).days, 36526.25);
  // Before day 0 the fraction still counts forward from midnight.
  EXPECT_DOUBLE_EQ(make_date(1899, 12, 29, 6).days, -1.25);
  EXPECT_EQ(show(Date{-1.25}), "1899年12月29日6时");
}

TEST(DateAddTest, MonthsClipToTheMonthEnd) {
  EXPECT_EQ(show(date_add(make_date(2023, 1, 31), kMonths, 1)), "2023年2月28日");
  EXPECT_EQ(show(date_add(make_date(2024, 1, 31), kMonths, 1)), "2024年2月29日");
  EXPECT_EQ(show(date_add(make_date(2024, 2, 29), kYears, 1)), "2025年2月28日");
  EXPECT_EQ(show(date_add(make_date(2024, 2, 29), kYears, 4)), "2028年2月29日");
  EXPECT_EQ(show(date_add(make_date(2023, 11, 30, 8), kQuarters, 1)), "2024年2月29日8时");
  EXPECT_EQ(show(date_add(make_date(2024, 3, 31), kMonths, -1)), "2024年2月29日");
  EXPECT_EQ(show(date_add(make_date(2024, 1, 15), kMonths, -13)), "2022年12月15日");
  EXPECT_EQ(show(date_add(make_date(2024, 5, 1), kYears, 10000)), "9999年5月1日");
  EXPECT_EQ(show(date_add(make_date(2024, 5, 1), kYears, -5000)), "100年5月1日");
}

TEST(DateAddTest, FixedUnits) {
  EXPECT_EQ(show(date_add(make_date(2024, 2, 28), kDays, 1)), "2024年2月29日");
  EXPECT_EQ(show(date_add(make_date(2023, 2, 28), kDays, 1)), "2023年3月1日");
  EXPECT_EQ(show(date_add(make_date(2024, 12, 25), kWeeks, 1)), "2025年1月1日");
  EXPECT_EQ(show(date_add(make_date(2024, 12, 31, 23), kHours, 1)), "2025年1月1日");
  EXPECT_EQ(show(date_add(make_date(2024, 1, 1), kMinutes, -1)), "2023年12月31日23时59分");
  EXPECT_EQ(show(date_add(make_date(2024, 1, 1), kSeconds, 90)), "2024年1月1日0时1分30秒");
  EXPECT_EQ(show(date_add(make_date(1899, 12, 30), kHours, -18)), "1899年12月29日6时");
  // Units outside 1-8 are clamped: 0 adds years, 9 seconds.
  EXPECT_EQ(show(date_add(make_date(2024, 1, 1), 0, 1)), "2025年1月1日");
  EXPECT_EQ(show(date_add(make_date(2024, 1, 1), 9, 5)), "2024年1月1日0时0分5秒");
  EXPECT_EQ(show(date_add(make_date(9999, 12, 31), kDays, 10)), "9999年12月31日23时59分59秒");
  EXPECT_EQ(date_add(make_date(2000, 1, 1), kSeconds, INT64_MIN / 2).days, kMinDate);
}

TEST(DateDiffTest, CalendarAndFixedUnits) {
  Date a = make_date(2024, 3, 1), b = make_date(2023, 12, 31, 23, 59, 59);
  EXPECT_EQ(date_diff(a, b, kYears), 1);
  EXPECT_EQ(date_diff(a, b, kQuarters), 1);
  EXPECT_EQ(date_diff(a, b, kMonths), 3);
  EXPECT_EQ(date_diff(b, a, kMonths), -3);
  EXPECT_EQ(date_diff(make_date(2024, 3, 1), make_date(2024, 2, 1), kDays), 29);
  EXPECT_EQ(date_diff(make_date(2023, 3, 1), make_date(2023, 2, 1), kDays), 28);
  EXPECT_DOUBLE_EQ(date_diff(make_date(2024, 1, 2, 12), make_date(2024, 1, 1), kDays), 1.5);
  Date just_before = make_date(2024, 2, 29, 23, 59, 59);
  EXPECT_EQ(date_diff(a, just_before, kSeconds), 1);
  EXPECT_EQ(date_diff(a, just_before, kMinutes), 0);
  EXPECT_EQ(date_diff(a, just_before, kMonths), 1);
  EXPECT_EQ(date_diff(a, b, kSeconds), 60 * 86400 + 1);
  EXPECT_EQ(date_diff(make_date(2024, 1, 1, 1), make_date(2024, 1, 1), kHours), 1);
  EXPECT_EQ(date_diff(make_date(2024, 1, 1), make_date(2024, 1, 1, 1), kHours), -1);
  EXPECT_EQ(date_diff(make_date(2024, 1, 2), make_date(2024, 1, 1), kMinutes), 1440);
  EXPECT_EQ(date_diff(a, a, kDays), 0);
  EXPECT_EQ(date_diff(a, a, kWeeks), 0);
}

TEST(DateDiffTest, WeeksCountCalendarWeeks) {
  // 2024-01-06 is a Saturday, 2024-01-07 a Sunday.
  EXPECT_EQ(date_diff(make_date(2024, 1, 7), make_date(2024, 1, 6), kWeeks), 1);
  EXPECT_EQ(date_diff(make_date(2024, 1, 6), make_date(2024, 1, 1), kWeeks), 0);
  EXPECT_EQ(date_diff(make_date(2024, 1, 14), make_date(2024, 1, 1), kWeeks), 2);
  EXPECT_EQ(date_diff(make_date(2024, 1, 1), make_date(2024, 1, 14), kWeeks), -2);
  EXPECT_EQ(date_diff(make_date(1899, 12, 31), make_date(1899, 12, 30), kWeeks), 1);
}

TEST(RemainderDeathTest, ZeroDivisorIsFatal) {
  EXPECT_EXIT(
      {
        set_report_sink(testsupport::report_to_stderr);
        rt::remainder({10, 3, 0});
      },
      testsupport::fatal_exit(), testing::HasSubstr("错误信息：不能求余数于零"));
}

}  // namespace
