#include "runtime/value/decimal.h"

#include <cmath>
#include <cstring>

#ifdef _WIN32
#include <float.h>  // _controlfp
#endif

namespace rt {


namespace decimal_detail {

inline constexpr std::uint32_t kPow10[10] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000, 1000000000};

// An unsigned integer of fixed capacity. 4160 bits hold the largest number a
// conversion needs: the kept digits of a read number scaled to its smallest
// exponent, shifted left by 64.
class Big {
 public:
  explicit Big(std::uint64_t v = 0) {
    while (v) {
      limb_[n_++] = static_cast<std::uint32_t>(v);
      v >>= 32;
    }
  }
  // Copies only the limbs in use: most numbers are a few limbs long.
  Big(const Big& o) : n_(o.n_) { std::memcpy(limb_, o.limb_, sizeof(std::uint32_t) * static_cast<unsigned>(n_)); }
  Big& operator=(const Big& o) {
    n_ = o.n_;
    std::memcpy(limb_, o.limb_, sizeof(std::uint32_t) * static_cast<unsigned>(n_));
    return *this;
  }
  bool zero() const { return n_ == 0; }
  int bits() const { return n_ == 0 ? 0 : 32 * (n_ - 1) + 32 - __builtin_clz(limb_[n_ - 1]); }

  void mul_add(std::uint32_t m, std::uint32_t add = 0) {
    std::uint64_t carry = add;
    for (int i = 0; i < n_; ++i) {
      std::uint64_t t = static_cast<std::uint64_t>(limb_[i]) * m + carry;
      limb_[i] = static_cast<std::uint32_t>(t);
      carry = t >> 32;
    }
    if (carry && n_ < kLimbs) limb_[n_++] = static_cast<std::uint32_t>(carry);
  }
  void mul_pow10(int k) {
    for (; k >= 9; k -= 9) mul_add(kPow10[9]);
    if (k > 0) mul_add(kPow10[k]);
  }
  void shift_left(int bits) {
    if (n_ == 0 || bits <= 0) return;
    int words = bits / 32, rest = bits % 32;
    int top = n_ + words + (rest ? 1 : 0);
    if (top > kLimbs) top = kLimbs;
    for (int i = top - 1; i >= 0; --i) {
      std::uint32_t hi = (i - words >= 0 && i - words < n_) ? limb_[i - words] : 0;
      std::uint32_t lo = (rest && i - words - 1 >= 0 && i - words - 1 < n_) ? limb_[i - words - 1] : 0;
      limb_[i] = rest ? (hi << rest) | (lo >> (32 - rest)) : hi;
    }
    n_ = top;
    trim();
  }
  void shift_right_one() {
    for (int i = 0; i < n_; ++i) limb_[i] = (limb_[i] >> 1) | (i + 1 < n_ ? limb_[i + 1] << 31 : 0);
    trim();
  }
  void add(const Big& o) {
    std::uint64_t carry = 0;
    int n = n_ > o.n_ ? n_ : o.n_;
    for (int i = 0; i < n; ++i) {
      carry += static_cast<std::uint64_t>(i < n_ ? limb_[i] : 0) + (i < o.n_ ? o.limb_[i] : 0);
      limb_[i] = static_cast<std::uint32_t>(carry);
      carry >>= 32;
    }
    n_ = n;
    if (carry && n_ < kLimbs) limb_[n_++] = static_cast<std::uint32_t>(carry);
  }
  // Only for o <= *this.
  void sub(const Big& o) {
    std::int64_t borrow = 0;
    for (int i = 0; i < n_; ++i) {
      std::int64_t t = static_cast<std::int64_t>(limb_[i]) - (i < o.n_ ? o.limb_[i] : 0) - borrow;
      borrow = t < 0;
      limb_[i] = static_cast<std::uint32_t>(t);
    }
    trim();
  }
  friend int compare(const Big& a, const Big& b) {
    if (a.n_ != b.n_) return a.n_ < b.n_ ? -1 : 1;
    for (int i = a.n_ - 1; i >= 0; --i)
      if (a.limb_[i] != b.limb_[i]) return a.limb_[i] < b.limb_[i] ? -1 : 1;
    return 0;
  }
  // compare(a + b, c)
  friend int compare_sum(const Big& a, const Big& b, const Big& c) {
    Big sum = a;
    sum.add(b);
    return compare(sum, c);
  }
  // The next decimal digit of r/s when r < 10 s: r becomes the remainder.
  std::uint32_t take_digit(const Big& s) {
    std::uint32_t d = 0;
    while (compare(*this, s) >= 0) {
      sub(s);
      ++d;
    }
    return d;
  }

 private:
  static constexpr int kLimbs = 130;
  void trim() {
    while (n_ > 0 && limb_[n_ - 1] == 0) --n_;
  }
  std::uint32_t limb_[kLimbs];
  int n_ = 0;
};

struct Parts {
  std::uint64_t mantissa;  // with the hidden bit
  int exponent;            // x = mantissa * 2^exponent
};

inline Parts parts_of(double x) {
  std::uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  int biased = static_cast<int>((bits >> 52) & 0x7FF);
  std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
  if (biased == 0) return {fraction, -1074};
  return {fraction | (std::uint64_t{1} << 52), biased - 1075};
}

// x = r / s, with the gaps to the neighbouring doubles halved: the doubles
// that read back as x lie between (r - m_minus)/s and (r + m_plus)/s.
struct Scaled {
  Big r, s, m_plus, m_minus;
};

inline Scaled scale(Parts p) {
  Scaled v;
  bool boundary = p.mantissa == (std::uint64_t{1} << 52) && p.exponent > -1074;  // the gap below is half
  v.r = Big(p.mantissa);
  v.s = Big(1);
  v.m_plus = Big(1);
  v.m_minus = Big(1);
  if (p.exponent >= 0) {
    v.r.shift_left(p.exponent + (boundary ? 2 : 1));
    v.s = Big(boundary ? 4 : 2);
    v.m_plus.shift_left(p.exponent + (boundary ? 1 : 0));
    v.m_minus.shift_left(p.exponent);
  } else {
    v.r.shift_left(boundary ? 2 : 1);
    v.s.shift_left(-p.exponent + (boundary ? 2 : 1));
    if (boundary) v.m_plus = Big(2);
  }
  return v;
}

// Divides by a power of ten so that the first digit comes next: returns k
// with r/s < 1 (or, when `upper`, (r + m_plus)/s below 1 as `inclusive`
// says) and the first digit nonzero.
inline int normalise(Scaled& v, double x, bool upper, bool inclusive) {
  int k = static_cast<int>(std::ceil(std::log10(x))) - 1;  // never above the answer
  if (k >= 0) {
    v.s.mul_pow10(k);
  } else {
    v.r.mul_pow10(-k);
    v.m_plus.mul_pow10(-k);
    v.m_minus.mul_pow10(-k);
  }
  for (;;) {
    int c = upper ? compare_sum(v.r, v.m_plus, v.s) : compare(v.r, v.s);
    if (c < 0 || (c == 0 && upper && !inclusive)) break;
    v.s.mul_add(10);
    ++k;
  }
  return k;
}

// Adds one unit to the last digit; returns true when the digits became a
// one followed by zeros, one decimal place longer.
inline bool round_up(char* digits, int n) {
  for (int i = n - 1; i >= 0; --i) {
    if (digits[i] != '9') {
      ++digits[i];
      return false;
    }
    digits[i] = '0';
  }
  digits[0] = '1';
  return true;
}

// Shortest digits that read back as x > 0; `exp10` is x's decimal exponent
// in scientific form. Returns the digit count.
inline int shortest_digits(double x, char* digits, int& exp10) {
  Parts p = parts_of(x);
  bool inclusive = (p.mantissa & 1) == 0;  // an even mantissa wins ties on reading
  Scaled v = scale(p);
  int k = normalise(v, x, true, inclusive);
  int n = 0;
  for (;;) {
    v.r.mul_add(10);
    v.m_plus.mul_add(10);
    v.m_minus.mul_add(10);
    std::uint32_t d = v.r.take_digit(v.s);
    int low = compare(v.r, v.m_minus);
    int high = compare_sum(v.r, v.m_plus, v.s);
    bool stop_low = inclusive ? low <= 0 : low < 0;
    bool stop_high = inclusive ? high >= 0 : high > 0;
    if (!stop_low && !stop_high) {
      digits[n++] = static_cast<char>('0' + d);
      continue;
    }
    bool up = stop_high;
    if (stop_low && stop_high) {
      Big twice = v.r;
      twice.add(v.r);
      int c = compare(twice, v.s);
      up = c > 0 || (c == 0 && (d & 1));
    }
    digits[n++] = static_cast<char>('0' + d);
    if (up && round_up(digits, n)) ++k;
    break;
  }
  while (n > 1 && digits[n - 1] == '0') --n;
  exp10 = k - 1;
  return n;
}

// The first `count` digits of x > 0, rounded on its exact value, ties to even.
inline void fixed_digits(double x, int count, char* digits, int& exp10) {
  Scaled v = scale(parts_of(x));
  int k = normalise(v, x, false, false);
  for (int i = 0; i < count; ++i) {
    v.r.mul_add(10);
    digits[i] = static_cast<char>('0' + v.r.take_digit(v.s));
  }
  Big twice = v.r;
  twice.add(v.r);
  int c = compare(twice, v.s);
  if ((c > 0 || (c == 0 && ((digits[count - 1] - '0') & 1))) && round_up(digits, count)) ++k;
  exp10 = k - 1;
}

inline char* put(char* out, const char* s, int n) {
  std::memcpy(out, s, static_cast<std::size_t>(n));
  return out + n;
}

inline char* put_zeros(char* out, int n) {
  for (int i = 0; i < n; ++i) *out++ = '0';
  return out;
}

// d.ddde+XX, the exponent with at least two digits.
inline char* put_scientific(char* out, const char* digits, int n, int exp10) {
  *out++ = digits[0];
  if (n > 1) {
    *out++ = '.';
    out = put(out, digits + 1, n - 1);
  }
  *out++ = 'e';
  *out++ = exp10 < 0 ? '-' : '+';
  unsigned e = static_cast<unsigned>(exp10 < 0 ? -exp10 : exp10);
  if (e >= 100) *out++ = static_cast<char>('0' + e / 100);
  *out++ = static_cast<char>('0' + e / 10 % 10);
  *out++ = static_cast<char>('0' + e % 10);
  return out;
}

inline char* put_fixed(char* out, const char* digits, int n, int exp10) {
  if (exp10 < 0) {
    *out++ = '0';
    *out++ = '.';
    out = put_zeros(out, -exp10 - 1);
    return put(out, digits, n);
  }
  if (n <= exp10 + 1) return put_zeros(put(out, digits, n), exp10 + 1 - n);
  out = put(out, digits, exp10 + 1);
  *out++ = '.';
  return put(out, digits + exp10 + 1, n - exp10 - 1);
}

inline int fixed_length(int n, int exp10) {
  if (exp10 < 0) return 2 + (-exp10 - 1) + n;
  return n <= exp10 + 1 ? exp10 + 1 : n + 1;
}

inline int scientific_length(int n, int exp10) {
  int e = exp10 < 0 ? -exp10 : exp10;
  return n + (n > 1 ? 1 : 0) + 2 + (e >= 100 ? 3 : 2);
}

// Zero, infinities and NaNs; returns the end of the text, or null for other numbers.
inline char* put_special(double x, char* out, bool nan_sign) {
  if (std::isnan(x)) {
    if (nan_sign && std::signbit(x)) *out++ = '-';
    return put(out, "nan", 3);
  }
  if (std::signbit(x)) *out++ = '-';
  if (std::isinf(x)) return put(out, "inf", 3);
  if (x == 0) return put(out, "0", 1);
  return nullptr;
}

inline int finish(char* begin, char* end) {
  *end = 0;
  return static_cast<int>(end - begin);
}


// x * 10^e for |e| <= 22, when that is one correctly rounded operation.
inline bool scale_by_power_of_ten(double x, int e, double& out) {
  static constexpr double kPowers[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                         1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
#if defined(__FLT_EVAL_METHOD__) && __FLT_EVAL_METHOD__ != 0
#ifdef _WIN32
  // The x87 unit would round to 64 bits and then again to 53: rounding once
  // needs its precision set to 53 bits around the operation. The volatile
  // accesses keep the operation between the two settings.
  unsigned saved = _controlfp(0, 0);
  _controlfp(_PC_53, _MCW_PC);
  volatile double a = x, b = kPowers[e < 0 ? -e : e];
  volatile double r = e < 0 ? a / b : a * b;
  _controlfp(saved, _MCW_PC);
  out = r;
  return true;
#else
  return false;
#endif
#else
  out = e < 0 ? x / kPowers[-e] : x * kPowers[e];
  return true;
#endif
}

// The slow path of read_decimal, exact for any digits: m * 10^e.
inline double read_exactly(Big m, int e) {
  // q = floor(m * 10^e * 2^shift2) has 63 or 64 bits; the rest only rounds.
  Big den(1);
  if (e >= 0)
    m.mul_pow10(e);
  else
    den.mul_pow10(-e);
  int shift2 = 63 - (m.bits() - den.bits());
  if (shift2 > 0)
    m.shift_left(shift2);
  else
    den.shift_left(-shift2);
  den.shift_left(63);
  std::uint64_t q = 0;
  for (int bit = 63; bit >= 0; --bit) {
    if (compare(m, den) >= 0) {
      m.sub(den);
      q |= std::uint64_t{1} << bit;
    }
    den.shift_right_one();
  }
  bool sticky = !m.zero();
  int length_q = 64 - __builtin_clzll(q);
  // Bits below the double's last place: 53 kept, fewer when subnormal.
  int drop = length_q - 53;
  if (shift2 - 1074 > drop) drop = shift2 - 1074;
  if (drop > 64) return 0.0;
  std::uint64_t kept_bits, rest, half;
  if (drop == 64) {
    kept_bits = 0;
    rest = q;
    half = std::uint64_t{1} << 63;
  } else {
    kept_bits = q >> drop;
    rest = q & ((std::uint64_t{1} << drop) - 1);
    half = std::uint64_t{1} << (drop - 1);
  }
  if (rest > half || (rest == half && (sticky || (kept_bits & 1)))) ++kept_bits;
  return std::ldexp(static_cast<double>(kept_bits), drop - shift2);
}

double read_exactly(std::uint64_t digits, int e) { return read_exactly(Big(digits), e); }

}  // namespace decimal_detail

int shortest_decimal(double x, char* out) {
  using namespace decimal_detail;
  char* start = out;
  if (char* end = put_special(x, out, true)) return finish(start, end);
  if (x < 0) {
    *out++ = '-';
    x = -x;
  }
  char digits[kDecimalTextSize];
  int exp10 = 0;
  int n = shortest_digits(x, digits, exp10);
  if (fixed_length(n, exp10) <= scientific_length(n, exp10)) {
    // A whole number written out in full shows its exact digits, as printf's
    // "%.0f" would, not the shortest ones padded with zeros.
    if (n <= exp10 + 1) {
      n = exp10 + 1;
      fixed_digits(x, n, digits, exp10);
    }
    return finish(start, put_fixed(out, digits, n, exp10));
  }
  return finish(start, put_scientific(out, digits, n, exp10));
}

int general_decimal(double x, int precision, char* out) {
  using namespace decimal_detail;
#ifdef _WIN32
  constexpr bool kNanSign = false;
#else
  constexpr bool kNanSign = true;
#endif
  char* start = out;
  if (char* end = put_special(x, out, kNanSign)) return finish(start, end);
  if (x < 0) {
    *out++ = '-';
    x = -x;
  }
  if (precision < 1) precision = 1;
  if (precision > 17) precision = 17;
  char digits[kDecimalTextSize];
  int exp10 = 0;
  fixed_digits(x, precision, digits, exp10);
  int n = precision;
  while (n > 1 && digits[n - 1] == '0') --n;
  if (exp10 >= -4 && exp10 < precision) return finish(start, put_fixed(out, digits, n, exp10));
  return finish(start, put_scientific(out, digits, n, exp10));
}

double read_decimal(const char* text, std::size_t length) {
  using namespace decimal_detail;
  // Digits beyond these only decide which way a halfway case goes, and a
  // trailing 1 stands for all of them.
  constexpr int kMaxDigits = 780;
  Big m;
  int kept = 0;
  long shift = 0;  // the number is m * 10^(shift + exponent)
  bool dropped_nonzero = false;
  std::uint32_t chunk = 0;
  int chunk_digits = 0;
  std::uint64_t small = 0;  // m while it has at most 19 digits
  std::size_t i = 0;
  bool point = false;
  for (; i < length; ++i) {
    char c = text[i];
    if (c == '.' && !point) {
      point = true;
      continue;
    }
    if (c < '0' || c > '9') break;
    if (kept == 0 && c == '0') {
      if (point) --shift;
      continue;
    }
    if (kept == kMaxDigits) {
      if (!point) ++shift;
      if (c != '0') dropped_nonzero = true;
      continue;
    }
    if (point) --shift;
    ++kept;
    if (kept <= 19) small = small * 10 + static_cast<unsigned>(c - '0');
    chunk = chunk * 10 + static_cast<unsigned>(c - '0');
    if (++chunk_digits == 9) {
      m.mul_add(kPow10[9], chunk);
      chunk = 0;
      chunk_digits = 0;
    }
  }
  if (chunk_digits) m.mul_add(kPow10[chunk_digits], chunk);
  if (dropped_nonzero) {
    m.mul_add(10, 1);
    ++kept;
    --shift;
  }
  long exponent = 0;
  if (i < length && (text[i] == 'e' || text[i] == 'E')) {
    std::size_t j = i + 1;
    bool negative = false;
    if (j < length && (text[j] == '+' || text[j] == '-')) negative = text[j++] == '-';
    if (j < length && text[j] >= '0' && text[j] <= '9') {
      for (; j < length && text[j] >= '0' && text[j] <= '9'; ++j)
        if (exponent < 100000000) exponent = exponent * 10 + (text[j] - '0');
      if (negative) exponent = -exponent;
    }
  }
  if (kept == 0) return 0.0;
  long e10 = shift + exponent;
  if (kept + e10 > 310) return HUGE_VAL;
  if (kept + e10 < -325) return 0.0;
  int e = static_cast<int>(e10);

  // Integers of up to 53 bits are exact as they are.
  if (kept <= 19 && e >= 0 && e <= 19) {
    std::uint64_t v = small;
    int k = 0;
    for (; k < e && v <= (std::uint64_t{1} << 53) / 10; ++k) v *= 10;
    if (k == e && v <= (std::uint64_t{1} << 53)) return static_cast<double>(v);
  }
  // Up to 15 digits and a power of ten up to 10^22 are both exact doubles:
  // one correctly rounded product or quotient is the answer.
  if (kept <= 15 && e >= -22 && e <= 22) {
    double exact = 0;
    if (scale_by_power_of_ten(static_cast<double>(small), e, exact)) return exact;
  }
  return read_exactly(m, e);
}

}  // namespace rt
