#include "runtime/services/convert_services.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "runtime/services/number_services.h"
#include "runtime/services/text_services.h"
#include "runtime/value/decimal.h"

namespace rt {

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

// printf's "%.<precision>g".
std::string general(double x, int precision) {
  char buf[kDecimalTextSize];
  return std::string(buf, static_cast<std::size_t>(general_decimal(x, precision, buf)));
}

std::string date_text(Date d) {
  DateFields f = date_fields(d);
  using std::to_string;
  std::string s = to_string(f.year) + "年" + to_string(f.month) + "月" + to_string(f.day) + "日";
  if (f.second)
    s += to_string(f.hour) + "时" + to_string(f.minute) + "分" + to_string(f.second) + "秒";
  else if (f.minute)
    s += to_string(f.hour) + "时" + to_string(f.minute) + "分";
  else if (f.hour)
    s += to_string(f.hour) + "时";
  return s;
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

Text to_text(const Value& v) {
  switch (v.kind()) {
    case Kind::Byte: return Text(std::to_string(static_cast<unsigned>(v.as_int64() & 0xFF)));
    case Kind::Short:
    case Kind::Int: return Text(std::to_string(static_cast<int>(v.as_int64())));
    case Kind::Int64: return Text(std::to_string(static_cast<long long>(v.as_int64())));
    case Kind::Float: return Text(general(v.as_double(), 6));
    case Kind::Double: return Text(general(v.as_double(), 13));
    case Kind::Bool: return Text(v.as_int64() ? "真" : "假");
    case Kind::Date: return Text(date_text(Date{v.as_double()}));
    case Kind::Text: return v.text();
    case Kind::Bytes:  // up to the first zero byte
      return v.bytes().empty() ? Text("") : Text(v.bytes().view());
    case Kind::Subroutine: return Text(std::to_string(static_cast<long long>(v.as_int64())));
    case Kind::None: break;
  }
  return Text("");
}

}  // namespace rt
