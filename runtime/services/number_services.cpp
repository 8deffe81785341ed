#include "runtime/services/number_services.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

namespace rt {

double remainder(std::initializer_list<double> values) {
  const double* p = values.begin();
  if (values.size() == 0) return 0;
  double r = p[0];
  for (std::size_t i = 1; i < values.size(); ++i) {
    if (p[i] == 0) rt_fail("不能求余数于零");
    r = std::fmod(r, p[i]);
  }
  return r;
}

std::int32_t bit_and(std::initializer_list<std::int32_t> values) {
  std::int32_t r = -1;
  for (std::int32_t v : values) r &= v;
  return values.size() ? r : 0;
}

std::int32_t bit_or(std::initializer_list<std::int32_t> values) {
  std::int32_t r = 0;
  for (std::int32_t v : values) r |= v;
  return r;
}

std::int32_t bit_not(std::int32_t v) { return ~v; }

std::int32_t shift_right(std::int32_t v, int n) { return v >> (n & 31); }

// ---- dates ----------------------------------------------------------------

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
// Day 0 of the date type, 1899-12-30, counted from 1970-01-01.
constexpr std::int64_t kEpochShift = 25569;
constexpr std::int64_t kFirstDay = -657434;  // 100-01-01
constexpr std::int64_t kLastDay = 2958465;   // 9999-12-31

std::int64_t floor_div(std::int64_t a, std::int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
std::int64_t days_from_civil(std::int64_t y, int m, int d) {
  y -= m <= 2;
  std::int64_t era = floor_div(y, 400);
  std::int64_t yoe = y - era * 400;
  std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void civil_from_days(std::int64_t z, int& year, int& month, int& day) {
  z += 719468;
  std::int64_t era = floor_div(z, 146097);
  std::int64_t doe = z - era * 146097;
  std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  std::int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

// A date as seconds on one straight line (day number * 86400 + time of day).
std::int64_t to_seconds(Date d) {
  double day = std::trunc(d.days);
  double time = std::fabs(d.days - day);
  return static_cast<std::int64_t>(day) * kSecondsPerDay + std::llround(time * kSecondsPerDay);
}

Date from_seconds(std::int64_t s) {
  std::int64_t lo = kFirstDay * kSecondsPerDay, hi = kLastDay * kSecondsPerDay + kSecondsPerDay - 1;
  s = s < lo ? lo : (s > hi ? hi : s);
  std::int64_t day = floor_div(s, kSecondsPerDay);
  double time = static_cast<double>(s - day * kSecondsPerDay) / kSecondsPerDay;
  return Date{day >= 0 ? day + time : day - time};
}

}  // namespace

bool is_leap_year(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int days_in_month(int y, int m) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (m < 1 || m > 12) return 0;
  return m == 2 && is_leap_year(y) ? 29 : days[m - 1];
}

Date make_date(int year, int month, int day, int hour, int minute, int second) {
  std::int64_t n = days_from_civil(year, month, day) + kEpochShift;
  return from_seconds(n * kSecondsPerDay + hour * 3600 + minute * 60 + second);
}

DateFields date_fields(Date d) {
  std::int64_t s = to_seconds(d);
  std::int64_t day = floor_div(s, kSecondsPerDay);
  std::int64_t t = s - day * kSecondsPerDay;
  DateFields f;
  civil_from_days(day - kEpochShift, f.year, f.month, f.day);
  f.hour = static_cast<int>(t / 3600);
  f.minute = static_cast<int>(t / 60 % 60);
  f.second = static_cast<int>(t % 60);
  return f;
}

Date date_add(Date d, int unit, std::int64_t amount) {
  unit = unit < kYears ? kYears : (unit > kSeconds ? kSeconds : unit);
  if (unit <= kMonths) {
    DateFields f = date_fields(d);
    std::int64_t months_per_unit = unit == kYears ? 12 : (unit == kQuarters ? 3 : 1);
    std::int64_t months = static_cast<std::int64_t>(f.year) * 12 + (f.month - 1) + amount * months_per_unit;
    std::int64_t year = floor_div(months, 12);
    int month = static_cast<int>(months - year * 12) + 1;
    year = year < 100 ? 100 : (year > 9999 ? 9999 : year);
    int y = static_cast<int>(year);
    int day = f.day > days_in_month(y, month) ? days_in_month(y, month) : f.day;
    return make_date(y, month, day, f.hour, f.minute, f.second);
  }
  static const std::int64_t kUnitSeconds[] = {7 * kSecondsPerDay, kSecondsPerDay, 3600, 60, 1};
  // Amounts beyond the date range are clamped instead of overflowing.
  const std::int64_t step = kUnitSeconds[unit - kWeeks];
  const std::int64_t span = (kLastDay - kFirstDay + 1) * kSecondsPerDay / step + 1;
  amount = amount > span ? span : (amount < -span ? -span : amount);
  return from_seconds(to_seconds(d) + amount * step);
}

double date_diff(Date date1, Date date2, int unit) {
  unit = unit < kYears ? kYears : (unit > kSeconds ? kSeconds : unit);
  DateFields a = date_fields(date1), b = date_fields(date2);
  std::int64_t s1 = to_seconds(date1), s2 = to_seconds(date2);
  std::int64_t day1 = floor_div(s1, kSecondsPerDay), day2 = floor_div(s2, kSecondsPerDay);
  double days = static_cast<double>(s1 - s2) / kSecondsPerDay;
  switch (unit) {
    case kYears: return a.year - b.year;
    case kQuarters: return (a.year * 4 + (a.month - 1) / 3) - (b.year * 4 + (b.month - 1) / 3);
    case kMonths: return (a.year * 12 + a.month) - (b.year * 12 + b.month);
    case kWeeks: {
      // Calendar weeks (Sunday to Saturday) between the two days: whole
      // days / 7, corrected by where each day falls in its week.
      auto week_start = [](std::int64_t day) { return day - (((day + 6) % 7) + 7) % 7; };
      return static_cast<double>((week_start(day1) - week_start(day2)) / 7);
    }
    case kDays: return days;
    // Whole units counted on the second line, so that a difference of
    // exactly one hour is 1 or -1 whichever way round, with no rounding
    // error to nudge away.
    case kHours: return static_cast<double>((s1 - s2) / 3600);
    case kMinutes: return static_cast<double>((s1 - s2) / 60);
    default: return static_cast<double>(s1 - s2);
  }
}

}  // namespace rt
