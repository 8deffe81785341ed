// Exact conversions between doubles and decimal text. The C++ library's
// floating-point to_chars/from_chars and MinGW's printf bring about 250 KB of
// tables and code into setup.exe; these need a few KB and give the same
// texts, byte for byte, on every platform.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rt {

// Room for any text the writers below produce, with its NUL.
constexpr int kDecimalTextSize = 32;

// The shortest text that reads back as x, as std::to_chars(first, last, x)
// writes it: fixed or scientific, whichever is shorter (fixed on a tie);
// "inf", "-inf", "nan", "-nan". Returns the length; `out` gets a NUL too.
int shortest_decimal(double x, char* out);

// printf's "%.<precision>g" (precision 1 to 17), rounded on the exact value of
// x with ties to even. Infinities are "inf"/"-inf"; a NaN is "nan", and
// "-nan" when negative except on Windows, where MinGW's printf always wrote "nan".
int general_decimal(double x, int precision, char* out);

// The double nearest to a decimal number written as digits with an optional
// point and an optional exponent ("12", "1.5", ".5", "3.", "2e-7", "1E+30"),
// ties to even, as strtod reads it: too big is infinity, too small is 0.
// No sign, no blanks; whatever does not fit the form ends the number.
double read_decimal(const char* text, std::size_t length);

namespace decimal_detail {
// The exact (slow) reading of digits * 10^e, which the quick one must match.
double read_exactly(std::uint64_t digits, int e);
}  // namespace decimal_detail

}  // namespace rt
