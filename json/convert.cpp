#include "json/convert.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime/value/decimal.h"
#include "runtime/value/value.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace json {

namespace {

int widen(const char* s, int n, char16_t* out) {
  for (int i = 0; i < n; ++i) out[i] = static_cast<unsigned char>(s[i]);
  out[n] = 0;
  return n;
}

// Full-width ASCII forms and the ideographic space read as their half-width forms.
char16_t half_width(char16_t c) {
  if (c >= 0xFF01 && c <= 0xFF5E) return static_cast<char16_t>(c - 0xFF01 + 0x21);
  if (c == 0x3000) return u' ';
  return c;
}

bool is_blank(char16_t c) { return c == u' ' || (c >= 9 && c <= 13); }
bool is_digit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Skips blanks and an optional sign; returns the position after them.
std::size_t skip_sign(std::u16string_view s, bool& negative, bool full_width) {
  std::size_t i = 0;
  auto at = [&](std::size_t k) { return full_width ? half_width(s[k]) : s[k]; };
  while (i < s.size() && is_blank(at(i))) ++i;
  negative = false;
  if (i < s.size() && (at(i) == u'-' || at(i) == u'+')) negative = at(i++) == u'-';
  return i;
}

}  // namespace

int real_text(double x, char16_t* out) {
  static_assert(rt::kDecimalTextSize <= kNumberTextSize);
  char buf[rt::kDecimalTextSize];
  return widen(buf, rt::shortest_decimal(x, buf), out);
}

int integer_text(std::int64_t n, char16_t* out) {
  char buf[kNumberTextSize];
  auto r = std::to_chars(buf, buf + sizeof buf - 1, n);
  return widen(buf, static_cast<int>(r.ptr - buf), out);
}

double text_to_real(std::u16string_view s) {
  bool negative = false;
  std::size_t i = skip_sign(s, negative, true);
  auto at = [&](std::size_t k) { return k < s.size() ? half_width(s[k]) : u'\0'; };
  // The longest decimal number: digits, a point, digits, and an exponent
  // only when digits follow it.
  std::size_t begin = i;
  bool digits = false;
  for (; is_digit(at(i)); ++i) digits = true;
  if (at(i) == u'.')
    for (++i; is_digit(at(i)); ++i) digits = true;
  if (!digits) return 0.0;
  if (at(i) == u'e' || at(i) == u'E') {
    std::size_t j = i + 1;
    if (at(j) == u'+' || at(j) == u'-') ++j;
    if (is_digit(at(j))) {
      for (i = j; is_digit(at(i)); ++i) {
      }
    }
  }
  std::string long_text;
  char small[128] = {};
  std::size_t n = i - begin;
  char* buf = small;
  if (n >= sizeof small) {
    long_text.resize(n);
    buf = long_text.data();
  }
  for (std::size_t k = 0; k < n; ++k) buf[k] = static_cast<char>(at(begin + k));
  double x = rt::read_decimal(buf, n);
  return negative ? -x : x;
}

std::int64_t text_to_int64(std::u16string_view s) {
  bool negative = false;
  std::size_t i = skip_sign(s, negative, false);
  std::uint64_t limit = negative ? 9223372036854775808ull : 9223372036854775807ull;
  std::uint64_t v = 0;
  for (; i < s.size() && is_digit(s[i]); ++i) {
    unsigned d = s[i] - u'0';
    if (v > (limit - d) / 10) {
      v = limit;
      break;
    }
    v = v * 10 + d;
  }
  return negative ? static_cast<std::int64_t>(0 - v) : static_cast<std::int64_t>(v);
}

std::int32_t text_to_int32(std::u16string_view s) {
  bool negative = false;
  std::size_t i = skip_sign(s, negative, false);
  std::uint32_t v = 0;
  for (; i < s.size() && is_digit(s[i]); ++i) v = v * 10 + (s[i] - u'0');
  return static_cast<std::int32_t>(negative ? 0u - v : v);
}

std::int32_t real_to_int32(double x) {
  if (!(x > -2147483649.0 && x < 2147483648.0)) return INT32_MIN;
  return static_cast<std::int32_t>(x);
}

// 1970-01-01 08:00:00 as seconds since 1899-12-30.
constexpr double kEpochSeconds = 25569.0 * 86400.0 + 8 * 3600.0;
// Half a second of a day keeps a date that is a hair short of a whole second
// from losing it when the day difference is truncated.
constexpr double kRounding = 5.787037037037037e-6;

std::int64_t seconds_from_epoch(double date) {
  double s = date * 86400.0 - kEpochSeconds;
  return rt::float_to_int64(s + (s < 0 ? -kRounding : kRounding));
}

double date_from_seconds(std::int32_t seconds) { return (kEpochSeconds + seconds) / 86400.0; }

#ifdef _WIN32

int compare_texts(const char16_t* a, const char16_t* b, bool ignore_case) {
  auto* wa = reinterpret_cast<const wchar_t*>(a ? a : u"");
  auto* wb = reinterpret_cast<const wchar_t*>(b ? b : u"");
  return ignore_case ? lstrcmpiW(wa, wb) : lstrcmpW(wa, wb);
}

#else

namespace {
// Word-sort order as the system's user locale has it for the common cases:
// blanks and punctuation before digits, digits before letters, letters
// alphabetical whatever their case, everything else by code.
std::uint32_t primary_weight(char16_t c) {
  if (is_digit(c)) return 0x1000 + c;
  if (c >= u'a' && c <= u'z') return 0x2000 + c;
  if (c >= u'A' && c <= u'Z') return 0x2000 + c + 32;
  if (c < 0x80) return 0x100 + c;
  return 0x10000 + c;
}
}  // namespace

int compare_texts(const char16_t* a, const char16_t* b, bool ignore_case) {
  a = a ? a : u"";
  b = b ? b : u"";
  int case_order = 0;  // lower case sorts first when all else is equal
  for (std::size_t i = 0;; ++i) {
    char16_t ca = a[i], cb = b[i];
    if (!ca || !cb) {
      if (ca != cb) return ca ? 1 : -1;
      return ignore_case ? 0 : case_order;
    }
    std::uint32_t wa = primary_weight(ca), wb = primary_weight(cb);
    if (wa != wb) return wa < wb ? -1 : 1;
    if (ca != cb && case_order == 0) case_order = ca > cb ? -1 : 1;
  }
}

#endif

}  // namespace json
