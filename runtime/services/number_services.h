// Number, bit and date services. Conversions between kinds (to_int, to_text,
// to_date of a text, ...) are runtime/services/convert_services.h.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "runtime/value/value.h"

namespace rt {

// ---- numbers --------------------------------------------------------------
// fmod left to right; a zero divisor is fatal ("不能求余数于零").
double remainder(std::initializer_list<double> values);

// ---- bits -----------------------------------------------------------------
std::int32_t bit_and(std::initializer_list<std::int32_t> values);
std::int32_t bit_or(std::initializer_list<std::int32_t> values);
std::int32_t bit_not(std::int32_t v);
// Arithmetic shift right by n mod 32.
std::int32_t shift_right(std::int32_t v, int n);

// ---- dates ----------------------------------------------------------------
constexpr Date kInvalidDate{kMinDate};

// Calendar fields of a date (rounded to the second).
struct DateFields {
  int year = 1899, month = 12, day = 30, hour = 0, minute = 0, second = 0;
};
DateFields date_fields(Date d);
// The date of valid fields (no checks beyond the calendar arithmetic).
Date make_date(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
bool is_leap_year(int year);
int days_in_month(int year, int month);

inline Date to_date(Date d) { return d; }

enum DateUnit : int {
  kYears = 1,
  kQuarters = 2,
  kMonths = 3,
  kWeeks = 4,
  kDays = 5,
  kHours = 6,
  kMinutes = 7,
  kSeconds = 8,
};
// Units outside 1-8 are clamped. Calendar units keep the year within
// 100-9999 and cut the day to the last day of the resulting month.
Date date_add(Date d, int unit, std::int64_t amount);
// date1 - date2 in the unit.
double date_diff(Date date1, Date date2, int unit);

}  // namespace rt
