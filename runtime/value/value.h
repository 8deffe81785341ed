// The value model: texts, byte sets and arrays owned by value, the runtime
// heap, and the fatal runtime report.
//
// Texts are NUL-terminated code page 936 byte strings; the null and the empty
// text are the same value. Byte sets are counted byte strings; a byte set of
// length 0 is never allocated. Arrays index from 1 and check every access.
// Ownership is automatic: copying a value copies its block, destroying it
// frees the block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace rt {

// Kind tags of values passed to services that accept any kind.
enum class Kind : std::uint32_t {
  None = 0,  // an optional argument that was left out
  Byte = 0x80000101,
  Short = 0x80000201,
  Int = 0x80000301,
  Int64 = 0x80000401,
  Float = 0x80000501,
  Double = 0x80000601,
  Bool = 0x80000002,
  Date = 0x80000003,
  Text = 0x80000004,
  Bytes = 0x80000005,
  Subroutine = 0x80000006,
};
constexpr std::uint32_t kArrayTagBit = 0x20000000;
constexpr std::uint32_t array_tag(Kind k) { return static_cast<std::uint32_t>(k) + kArrayTagBit; }

// OLE date limits: 100-01-01 and 9999-12-31.
constexpr double kMinDate = -657434.0;
constexpr double kMaxDate = 2958465.0;

// ---- runtime heap -------------------------------------------------------
// One process-wide heap, safe from every thread. Allocation never fails
// quietly: a failure is the fatal report "分配 %d 字节内存失败!".
void* rt_alloc(std::size_t n);
void rt_free(void* block);
void* rt_realloc(void* block, std::size_t n);
// Test seam: makes every allocation of at least `n` bytes fail (0 turns it off).
void rt_fail_allocations_from(std::size_t n);

// ---- fatal runtime report ----------------------------------------------
// Where a runtime error happened: a routine number and a position in it,
// and, for event routines, the window and unit design names (null when the
// routine is not an event routine; empty text when the name was not found).
struct ErrorSite {
  int routine = 0;
  int position = 0;
  const char* window = nullptr;
  const char* unit = nullptr;
};

// Runtime error kinds 1-11.
enum ErrorKind : int {
  kIndexAboveRange = 1,
  kNotNumeric = 2,
  kDimensionMismatch = 3,
  kIndexBelowOne = 4,
  kTypeMismatch = 5,
  kStackError = 6,
  kNoReturnValue = 7,
  kCompareOnlyEqual = 8,
  kChoiceIndex = 9,
  kRedimSize = 10,
  kArgumentType = 11,
};

// Message of a runtime error kind (code page 936), "" outside 1-11.
const char* error_kind_message(int kind);

// Builds the report text exactly as shown: "运行时出错!\r\n" ... location line.
std::string format_report(int kind, std::string_view message, const ErrorSite& site);

[[noreturn]] void rt_error(int kind, int routine = 0, int position = 0);
[[noreturn]] void rt_error_at(int kind, const ErrorSite& site);
[[noreturn]] void rt_fail(std::string_view message, const ErrorSite& site = {});

// Tests replace how the report is shown (the default shows a message box on
// Windows, writes to stderr elsewhere); the process still ends with -1.
using ReportSink = void (*)(const std::string& report_cp936);
ReportSink set_report_sink(ReportSink sink);

// ---- Text ---------------------------------------------------------------
class Text {
 public:
  Text() = default;
  Text(const char* s);  // NOLINT: texts come from literals everywhere
  Text(std::string_view s);
  Text(const std::string& s) : Text(std::string_view(s)) {}
  Text(const Text& other);
  Text(Text&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  Text& operator=(const Text& other);
  Text& operator=(Text&& other) noexcept;
  ~Text();

  // Never null: the null text reads as "".
  const char* c_str() const { return p_ ? p_ : ""; }
  std::size_t size() const;
  bool empty() const { return !p_ || !*p_; }
  bool is_null() const { return p_ == nullptr; }
  std::string_view view() const { return {c_str(), size()}; }
  std::string str() const { return std::string(view()); }
  // Byte at a 0-based index; reading at size() gives the terminating NUL.
  unsigned char byte(std::size_t i) const { return static_cast<unsigned char>(c_str()[i]); }

  // Takes ownership of a block from rt_alloc holding a NUL-terminated text.
  static Text adopt(char* block) {
    Text t;
    t.p_ = block;
    return t;
  }
  // Gives up ownership; the caller frees with rt_free.
  char* release() { return std::exchange(p_, nullptr); }

  Text& operator+=(std::string_view s);
  friend bool operator==(const Text& a, const Text& b);
  friend bool operator==(const Text& a, const char* b);
  friend bool operator<(const Text& a, const Text& b);

 private:
  char* p_ = nullptr;
};

// ---- Bytes --------------------------------------------------------------
// Stored as one block: a 32-bit dimension count (1), a 32-bit length, the bytes.
class Bytes {
 public:
  Bytes() = default;
  Bytes(const void* data, std::size_t n);
  Bytes(std::initializer_list<std::uint8_t> bytes) : Bytes(bytes.begin(), bytes.size()) {}
  explicit Bytes(std::string_view s) : Bytes(s.data(), s.size()) {}
  Bytes(const Bytes& other);
  Bytes(Bytes&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  Bytes& operator=(const Bytes& other);
  Bytes& operator=(Bytes&& other) noexcept;
  ~Bytes();

  // n zero bytes (null for n == 0).
  static Bytes zeros(std::size_t n);

  std::size_t size() const;
  bool empty() const { return p_ == nullptr; }
  const std::uint8_t* data() const;
  std::uint8_t* data();
  std::string_view view() const { return {reinterpret_cast<const char*>(data()), size()}; }
  std::uint8_t operator[](std::size_t i) const { return data()[i]; }

  void append(const void* data, std::size_t n);
  void resize(std::size_t n);  // new bytes are zero; 0 frees the block

  friend bool operator==(const Bytes& a, const Bytes& b);

 private:
  std::uint8_t* p_ = nullptr;  // header + bytes, or null when empty
};

// ---- Array --------------------------------------------------------------
// Elements index from 1; an index below 1 is runtime error 4, above the count
// runtime error 1.
template <typename T>
class Array {
 public:
  Array() = default;
  explicit Array(std::size_t n) : items_(n) {}
  Array(std::initializer_list<T> items) : items_(items) {}

  std::size_t count() const { return items_.size(); }
  bool empty() const { return items_.empty(); }

  T& at(long long index) { return items_[checked(index)]; }
  const T& at(long long index) const { return items_[checked(index)]; }
  T& operator[](long long index) { return at(index); }
  const T& operator[](long long index) const { return at(index); }

  void push_back(T value) { items_.push_back(std::move(value)); }
  void clear() { items_.clear(); }
  void resize(std::size_t n) { items_.resize(n); }

  // The elements for loops and library calls, 0-based.
  auto begin() { return items_.begin(); }
  auto end() { return items_.end(); }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }
  T* data() { return items_.data(); }
  const T* data() const { return items_.data(); }

  friend bool operator==(const Array& a, const Array& b) { return a.items_ == b.items_; }

 private:
  std::size_t checked(long long index) const {
    if (index < 1) rt_error(kIndexBelowOne);
    if (static_cast<unsigned long long>(index) > items_.size()) rt_error(kIndexAboveRange);
    return static_cast<std::size_t>(index - 1);
  }
  std::vector<T> items_;
};

template <typename T>
std::size_t array_count(const Array<T>* a) {
  return a ? a->count() : 0;
}
template <typename T>
std::size_t array_count(const Array<T>& a) {
  return a.count();
}

// ---- operations on values -----------------------------------------------
Bytes bytes_concat(std::initializer_list<const Bytes*> parts);
Text text_concat(std::initializer_list<std::string_view> parts);
// -1, 0 or 1 by unsigned byte order; null equals "".
int text_compare(const char* a, const char* b);
inline int text_compare(const Text& a, const Text& b) { return text_compare(a.c_str(), b.c_str()); }
// -1, 0 or 1 over the first n bytes; 0 when n is 0.
int bytes_compare(const void* a, const void* b, std::size_t n);
// Truncation toward zero.
std::int64_t float_to_int64(double x);

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

}  // namespace rt
