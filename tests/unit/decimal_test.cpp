#include "runtime/value/decimal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#ifndef _WIN32
#include <charconv>
#include <cstdio>
#include <cstdlib>
#endif

using namespace rt;

namespace {

std::string shortest(double x) {
  char buf[kDecimalTextSize];
  int n = shortest_decimal(x, buf);
  EXPECT_EQ(std::strlen(buf), static_cast<std::size_t>(n));
  return buf;
}

std::string general(double x, int precision) {
  char buf[kDecimalTextSize];
  int n = general_decimal(x, precision, buf);
  EXPECT_EQ(std::strlen(buf), static_cast<std::size_t>(n));
  return buf;
}

double read(const std::string& s) { return read_decimal(s.data(), s.size()); }

double from_bits(std::uint64_t bits) {
  double x;
  std::memcpy(&x, &bits, sizeof x);
  return x;
}

constexpr double kMin = std::numeric_limits<double>::denorm_min();
constexpr double kMax = std::numeric_limits<double>::max();

TEST(DecimalTest, ShortestForms) {
  EXPECT_EQ(shortest(0.0), "0");
  EXPECT_EQ(shortest(-0.0), "-0");
  EXPECT_EQ(shortest(1.0), "1");
  EXPECT_EQ(shortest(0.1), "0.1");
  EXPECT_EQ(shortest(-2.5), "-2.5");
  EXPECT_EQ(shortest(100.0), "100");
  EXPECT_EQ(shortest(1e20), "1e+20");
  EXPECT_EQ(shortest(1e-7), "1e-07");
  EXPECT_EQ(shortest(0.001), "0.001");
  EXPECT_EQ(shortest(1.0 / 3), "0.3333333333333333");
  EXPECT_EQ(shortest(1234567890122.5), "1234567890122.5");
  EXPECT_EQ(shortest(18446744073709551616.0), "18446744073709551616");
  EXPECT_EQ(shortest(41750398476117606400.0), "41750398476117606400");
  EXPECT_EQ(shortest(kMin), "5e-324");
  EXPECT_EQ(shortest(kMax), "1.7976931348623157e+308");
  EXPECT_EQ(shortest(2.2250738585072014e-308), "2.2250738585072014e-308");
  EXPECT_EQ(shortest(9007199254740993.0), "9007199254740992");
  EXPECT_EQ(shortest(HUGE_VAL), "inf");
  EXPECT_EQ(shortest(-HUGE_VAL), "-inf");
  EXPECT_EQ(shortest(std::numeric_limits<double>::quiet_NaN()), "nan");
  EXPECT_EQ(shortest(-std::numeric_limits<double>::quiet_NaN()), "-nan");
}

TEST(DecimalTest, GeneralForms) {
  EXPECT_EQ(general(0.1f, 6), "0.1");
  EXPECT_EQ(general(1.0 / 3, 13), "0.3333333333333");
  EXPECT_EQ(general(1e20, 13), "1e+20");
  EXPECT_EQ(general(-0.0, 6), "-0");
  EXPECT_EQ(general(123456.0, 6), "123456");
  EXPECT_EQ(general(1234567.0, 6), "1.23457e+06");
  EXPECT_EQ(general(0.0001, 6), "0.0001");
  EXPECT_EQ(general(0.00001, 6), "1e-05");
  EXPECT_EQ(general(999999.5, 6), "1e+06");
  EXPECT_EQ(general(kMin, 6), "4.94066e-324");
  EXPECT_EQ(general(kMin, 13), "4.940656458412e-324");
  EXPECT_EQ(general(kMax, 13), "1.797693134862e+308");
  // Exact halves go to the even digit.
  EXPECT_EQ(general(1234567890122.5, 13), "1234567890122");
  EXPECT_EQ(general(1234567890123.5, 13), "1234567890124");
  EXPECT_EQ(general(1234565.0, 6), "1.23456e+06");
  EXPECT_EQ(general(0.125, 2), "0.12");
  EXPECT_EQ(general(0.375, 2), "0.38");
  EXPECT_EQ(general(HUGE_VAL, 6), "inf");
  EXPECT_EQ(general(-HUGE_VAL, 13), "-inf");
  EXPECT_EQ(general(std::numeric_limits<double>::quiet_NaN(), 6), "nan");
#ifdef _WIN32
  EXPECT_EQ(general(-std::numeric_limits<double>::quiet_NaN(), 6), "nan");
#else
  EXPECT_EQ(general(-std::numeric_limits<double>::quiet_NaN(), 6), "-nan");
#endif
}

TEST(DecimalTest, ReadsNearest) {
  EXPECT_EQ(read("0"), 0.0);
  EXPECT_EQ(read("000.000e5"), 0.0);
  EXPECT_EQ(read("12"), 12.0);
  EXPECT_EQ(read("1.5"), 1.5);
  EXPECT_EQ(read(".5"), 0.5);
  EXPECT_EQ(read("3."), 3.0);
  EXPECT_EQ(read("2e-7"), 2e-7);
  EXPECT_EQ(read("1E+30"), 1e30);
  EXPECT_EQ(read("0.1"), 0.1);
  EXPECT_EQ(read("1e"), 1.0);
  EXPECT_EQ(read("7e+"), 7.0);
  EXPECT_EQ(read("1.5x9"), 1.5);
  EXPECT_EQ(read("1.2.3"), 1.2);
  EXPECT_EQ(read("9007199254740993"), 9007199254740992.0);  // halfway: to even
  EXPECT_EQ(read("9007199254740995"), 9007199254740996.0);
  EXPECT_EQ(read("9007199254740993.0000000000000000000000000000001"), 9007199254740994.0);
  EXPECT_EQ(read("1.7976931348623157e308"), kMax);
  EXPECT_EQ(read("1.7976931348623159e308"), HUGE_VAL);
  EXPECT_EQ(read("1e400"), HUGE_VAL);
  EXPECT_EQ(read("1e99999999999999"), HUGE_VAL);
  EXPECT_EQ(read("4.9406564584124654e-324"), kMin);
  EXPECT_EQ(read("2.4703282292062327e-324"), 0.0);  // below half the smallest
  EXPECT_EQ(read("2.4703282292062328e-324"), kMin);
  EXPECT_EQ(read("1e-400"), 0.0);
  EXPECT_EQ(read("2.2250738585072011e-308"), from_bits(0x000FFFFFFFFFFFFF));
  EXPECT_EQ(read("2.2250738585072012e-308"), 2.2250738585072014e-308);
  // The exact halfway point between 1 and the next double, with 1000 more
  // zeros and then a 1: only the far digit says "above".
  std::string half = "1.00000000000000011102230246251565404236316680908203125";
  EXPECT_EQ(read(half), 1.0);
  EXPECT_EQ(read(half + std::string(1000, '0') + "1"), std::nextafter(1.0, 2.0));
  EXPECT_EQ(read(std::string(400, '0') + "1" + std::string(300, '0')), 1e300);
  EXPECT_EQ(read("0." + std::string(330, '0') + "1e340"), 1e9);
}

// Short numbers take one floating-point operation (on x87 with its
// precision narrowed); it must agree with the exact big-number reading.
TEST(DecimalTest, QuickReadingAgreesWithTheExactOne) {
  std::mt19937_64 random(99);
  for (int i = 0; i < 20000; ++i) {
    std::uint64_t digits = random() % 1000000000000000ull;
    int e = static_cast<int>(random() % 45) - 22;
    std::string text = std::to_string(digits) + "e" + std::to_string(e);
    ASSERT_EQ(read(text), decimal_detail::read_exactly(digits, e)) << text;
  }
}

TEST(DecimalTest, ShortestReadsBack) {
  std::mt19937_64 random(12345);
  for (int i = 0; i < 20000; ++i) {
    double x = from_bits(random());
    if (std::isnan(x) || std::isinf(x)) continue;
    std::string s = shortest(std::fabs(x));
    ASSERT_EQ(read(s), std::fabs(x)) << s;
  }
}

#ifndef _WIN32
// The C library and the C++ library are the reference: every form must agree
// with them on random bit patterns (subnormals, halves and huge values included).
TEST(DecimalTest, AgreesWithTheLibraries) {
  std::mt19937_64 random(2024);
  for (int i = 0; i < 10000; ++i) {
    std::uint64_t bits = random();
    if (i % 4 == 1) bits &= 0x800FFFFFFFFFFFFFull;               // subnormal
    if (i % 4 == 2) bits &= 0xFFFFFFFFFFF00000ull;               // short mantissa: exact halves
    double x = from_bits(bits);
    if (i % 8 == 3) x = static_cast<double>(static_cast<float>(x));  // a float's value
    if (std::isnan(x)) continue;
    char ref[64];
    auto r = std::to_chars(ref, ref + sizeof ref, x);
    ASSERT_EQ(shortest(x), std::string(ref, r.ptr)) << std::hexfloat << x;
    for (int p : {6, 13, 17, 1, 2}) {
      std::snprintf(ref, sizeof ref, "%.*g", p, x);
      ASSERT_EQ(general(x, p), ref) << std::hexfloat << x;
    }
    // Read the exact midpoint to the next double, and a hair either side.
    double next = std::nextafter(std::fabs(x), HUGE_VAL);
    if (std::isinf(next)) continue;
    long double mid = (static_cast<long double>(std::fabs(x)) + next) / 2;
    std::snprintf(ref, sizeof ref, "%.40Le", mid);
    ASSERT_EQ(read(ref), std::strtod(ref, nullptr)) << ref;
    for (const char* tail : {"1", "0000000001"}) {
      std::string above = std::string(ref, std::strchr(ref, 'e')) + tail + std::strchr(ref, 'e');
      ASSERT_EQ(read(above), std::strtod(above.c_str(), nullptr)) << above;
    }
    std::snprintf(ref, sizeof ref, "%.25Le", mid * 0.999999999999L);
    ASSERT_EQ(read(ref), std::strtod(ref, nullptr)) << ref;
  }
}

TEST(DecimalTest, ReadsLikeStrtod) {
  std::mt19937_64 random(7);
  for (int i = 0; i < 30000; ++i) {
    std::string s;
    int digits = 1 + static_cast<int>(random() % 30);
    for (int k = 0; k < digits; ++k) s += static_cast<char>('0' + random() % 10);
    if (random() % 2) s.insert(random() % (s.size() + 1), ".");
    if (random() % 2) s += "e" + std::to_string(static_cast<int>(random() % 700) - 350);
    ASSERT_EQ(read(s), std::strtod(s.c_str(), nullptr)) << s;
  }
}
#endif

}  // namespace
