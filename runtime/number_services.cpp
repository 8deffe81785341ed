#include "runtime/number_services.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "runtime/text_services.h"

namespace rt {

bool Value::is_integral() const {
  switch (tag_) {
    case Kind::Byte:
    case Kind::Short:
    case Kind::Int:
    case Kind::Int64:
    case Kind::Bool:
    case Kind::Subroutine: return true;
    default: return false;
  }
}

namespace {

// The text a value is read from: texts made half-width, byte sets up to
// their first zero byte.
std::string number_text(const Value& v) {
  if (v.kind() == Kind::Text) return to_half_width(v.text()).str();
  return to_half_width(to_text(v)).str();
}

bool is_blank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Blanks, an optional sign and decimal digits, wrapping like the machine's
// integers; `saturate` clamps to the int range instead, as atoi does.
std::int64_t read_integer(const std::string& s, bool saturate) {
  std::size_t i = 0;
  while (i < s.size() && is_blank(s[i])) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  std::uint64_t n = 0;
  bool overflow = false;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    n = n * 10 + static_cast<unsigned>(s[i] - '0');
    if (n > 0x80000000ull) overflow = true;
  }
  if (saturate && overflow) return negative ? INT32_MIN : INT32_MAX;
  if (saturate && !negative && n > INT32_MAX) return INT32_MAX;
  std::uint64_t r = negative ? (~n + 1) : n;
  return static_cast<std::int64_t>(r);
}

// Truncation as the processor does it: out of range (or NaN) gives the
// "integer indefinite" value.
template <typename I>
I truncate(double x) {
  if (!(x > static_cast<double>(std::numeric_limits<I>::min()) - 1.0 &&
        x < static_cast<double>(std::numeric_limits<I>::max()) + 1.0))
    return std::numeric_limits<I>::min();
  return static_cast<I>(x);
}

double read_double(const Value& v) {
  switch (v.kind()) {
    case Kind::Float:
    case Kind::Double:
    case Kind::Date: return v.as_double();
    case Kind::Text:
    case Kind::Bytes: return std::atof(number_text(v).c_str());
    case Kind::None: return 0;
    default: return static_cast<double>(v.as_int64());
  }
}

}  // namespace

std::int32_t to_int(const Value& v) {
  switch (v.kind()) {
    case Kind::Float:
    case Kind::Double:
    case Kind::Date: return truncate<std::int32_t>(v.as_double());
    case Kind::Text:
    case Kind::Bytes: return static_cast<std::int32_t>(read_integer(number_text(v), true));
    case Kind::Bool: return v.as_int64() ? 1 : 0;
    case Kind::None: return 0;
    default: return static_cast<std::int32_t>(static_cast<std::uint32_t>(v.as_int64()));
  }
}

std::int64_t to_int64(const Value& v) {
  switch (v.kind()) {
    case Kind::Float:
    case Kind::Double:
    case Kind::Date: return truncate<std::int64_t>(v.as_double());
    case Kind::Text:
    case Kind::Bytes: return read_integer(number_text(v), false);
    case Kind::Bool: return v.as_int64() ? 1 : 0;
    case Kind::None: return 0;
    default: return v.as_int64();
  }
}

float to_float(const Value& v) { return static_cast<float>(read_double(v)); }
double to_double(const Value& v) { return read_double(v); }

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

Date to_date(const Text& text) {
  std::string s = to_half_width(text).str();
  static const char* const kUnitChars[] = {"年", "月", "日", "时", "分", "秒"};
  // Length of the separator run at i (0 when none).
  auto separator_at = [&](std::size_t i) -> std::size_t {
    char c = s[i];
    if (c == '-' || c == '/' || c == '.' || c == ':' || c == ' ' || c == '\t') return 1;
    for (const char* unit : kUnitChars)
      if (s.compare(i, std::strlen(unit), unit) == 0) return std::strlen(unit);
    return 0;
  };
  int fields[6] = {0, 0, 0, 0, 0, 0};
  int count = 0;
  std::size_t i = 0;
  while (i < s.size()) {
    if (count == 6 || s[i] < '0' || s[i] > '9') return kInvalidDate;
    int digits = 0;
    int n = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i)
      if (++digits <= 9) n = n * 10 + (s[i] - '0');
    if (digits > 9) return kInvalidDate;
    fields[count++] = n;
    std::size_t run = 0;
    for (std::size_t w; i < s.size() && (w = separator_at(i)) > 0; i += w) ++run;
    if (run == 0 && i < s.size()) return kInvalidDate;
  }
  const auto [year, month, day, hour, minute, second] = fields;
  if (count < 3 || year < 100 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > days_in_month(year, month) || hour > 23 || minute > 59 || second > 59)
    return kInvalidDate;
  return make_date(year, month, day, hour, minute, second);
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
