// Number, bit and date services, and the value of any kind that the
// conversion services (to_text, to_bytes, to_int, ...) accept.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <type_traits>

#include "runtime/value.h"

namespace rt {

// A date-time: days since 1899-12-30 with the time of day as the fraction
// (before that day the fraction still counts forward from midnight).
struct Date {
  double days = 0;
  friend bool operator==(Date a, Date b) { return a.days == b.days; }
};

// A value together with its kind, for services that accept any kind. An array
// of numbers is carried as its raw element bytes.
class Value {
 public:
  Value() = default;  // Kind::None: an argument that was left out
  Value(std::uint8_t v) : tag_(Kind::Byte), i_(v) {}
  Value(short v) : tag_(Kind::Short), i_(v) {}
  Value(int v) : tag_(Kind::Int), i_(v) {}
  Value(unsigned v) : tag_(Kind::Int), i_(static_cast<std::int32_t>(v)) {}
  Value(long v) : tag_(sizeof(long) == 4 ? Kind::Int : Kind::Int64), i_(v) {}
  Value(unsigned long v) : tag_(sizeof(long) == 4 ? Kind::Int : Kind::Int64), i_(static_cast<std::int64_t>(v)) {}
  Value(long long v) : tag_(Kind::Int64), i_(v) {}
  Value(float v) : tag_(Kind::Float), d_(v) {}
  Value(double v) : tag_(Kind::Double), d_(v) {}
  Value(bool v) : tag_(Kind::Bool), i_(v ? 1 : 0) {}
  Value(Date v) : tag_(Kind::Date), d_(v.days) {}
  Value(const char* v) : tag_(Kind::Text), text_(v) {}
  Value(const Text& v) : tag_(Kind::Text), text_(v) {}
  Value(const Bytes& v) : tag_(Kind::Bytes), bytes_(v) {}
  template <typename T, typename = std::enable_if_t<std::is_arithmetic_v<T>>>
  Value(const Array<T>& v) : tag_(Kind::Bytes), array_(true), bytes_(v.data(), v.count() * sizeof(T)) {}
  // A routine of the program (a 32-bit address in the program).
  static Value subroutine(const void* address) {
    Value v;
    v.tag_ = Kind::Subroutine;
    v.i_ = static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(address));
    return v;
  }

  Kind kind() const { return tag_; }
  bool is_array() const { return array_; }
  bool is_integral() const;                 // byte, short, int, int64, bool, subroutine
  std::int64_t as_int64() const { return i_; }  // integral kinds
  double as_double() const { return d_; }   // float, double, date
  const Text& text() const { return text_; }
  const Bytes& bytes() const { return bytes_; }  // byte sets and arrays of numbers

 private:
  Kind tag_ = Kind::None;
  bool array_ = false;
  std::int64_t i_ = 0;
  double d_ = 0;
  Text text_;
  Bytes bytes_;
};

// ---- numbers --------------------------------------------------------------
// Texts are made half-width first, then read as atoi reads them (saturating
// outside the int range); floats truncate; int64 keeps its low 32 bits.
std::int32_t to_int(const Value& v);
// Texts: blanks, an optional sign, decimal digits (wrapping, no overflow check).
std::int64_t to_int64(const Value& v);
float to_float(const Value& v);
double to_double(const Value& v);
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

// Year, month and day, optionally hour, minute and second, separated by
// "-", "/", ".", ":", blanks or 年月日时分秒; every field must be valid as
// written. Anything else gives kInvalidDate (100-01-01).
Date to_date(const Text& text);
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
