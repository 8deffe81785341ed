// Number, date and text conversions the document needs, on UTF-16 texts.
#pragma once

#include <cstdint>
#include <string_view>

namespace json {

// Room for any text written by real_text or integer_text, with its NUL.
constexpr int kNumberTextSize = 40;

// Shortest text that reads back to the same double; returns its length.
int real_text(double x, char16_t* out);
int integer_text(std::int64_t n, char16_t* out);

// The runtime's text-to-number reading: full-width characters count as their
// half-width forms, leading blanks are skipped, then the longest decimal
// number is read as atof reads it (0 when there is none).
double text_to_real(std::u16string_view text);
// _wtoi64: blanks, sign, decimal digits; saturates instead of overflowing.
std::int64_t text_to_int64(std::u16string_view text);
// StrToIntW: blanks, sign, decimal digits; wraps around in 32 bits.
std::int32_t text_to_int32(std::u16string_view text);
// Truncation of a double toward zero into 32 bits (0x80000000 when out of range).
std::int32_t real_to_int32(double x);

// Dates are OLE dates: days since 1899-12-30, time of day as the fraction.
// Whole seconds from 1970-01-01 08:00:00 to the date.
std::int64_t seconds_from_epoch(double date);
// 1970-01-01 08:00:00 plus a signed 32-bit count of seconds.
double date_from_seconds(std::int32_t seconds);

// The system's word-sort comparison of two texts (lstrcmpW, or lstrcmpiW
// when ignoring case): below, equal to or above 0.
int compare_texts(const char16_t* a, const char16_t* b, bool ignore_case);

}  // namespace json
