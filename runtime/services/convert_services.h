// Conversions between kinds: numbers and dates read from any value, and the
// text of any value. They sit above the number and text services, which do
// not include each other.
#pragma once

#include <cstdint>

#include "runtime/value/value.h"

namespace rt {

// Texts are made half-width first, then read as atoi reads them (saturating
// outside the int range); floats truncate; int64 keeps its low 32 bits.
std::int32_t to_int(const Value& v);
// Texts: blanks, an optional sign, decimal digits (wrapping, no overflow check).
std::int64_t to_int64(const Value& v);
float to_float(const Value& v);
double to_double(const Value& v);

// int and short "%d", byte "%u", int64 decimal, float "%.6g", double "%.13g",
// bool "真"/"假", a date as "%d年%d月%d日" with its time of day down to the
// last non-zero field; a text copied; a byte set (or array of numbers) up to
// its first zero byte.
Text to_text(const Value& value);

// Year, month and day, optionally hour, minute and second, separated by
// "-", "/", ".", ":", blanks or 年月日时分秒; every field must be valid as
// written. Anything else gives kInvalidDate (100-01-01).
Date to_date(const Text& text);

}  // namespace rt
