#include "runtime/value/value.h"

#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#endif

namespace rt {

// ---- heap ---------------------------------------------------------------

namespace {
std::atomic<std::size_t> g_fail_from{0};
bool forced_failure(std::size_t n) {
  std::size_t from = g_fail_from.load(std::memory_order_relaxed);
  return from != 0 && n >= from;
}

// "分配 <n> 字节内存失败!", written without allocating.
[[noreturn]] void allocation_failed(std::size_t n) {
  char msg[64] = "分配 ";
  char* end = msg + std::strlen(msg);
  end = std::to_chars(end, end + 12, static_cast<int>(n)).ptr;
  std::strcpy(end, " 字节内存失败!");
  rt_fail(msg);
}
}  // namespace

void rt_fail_allocations_from(std::size_t n) { g_fail_from.store(n); }

void* rt_alloc(std::size_t n) {
#ifdef _WIN32
  void* p = forced_failure(n) ? nullptr : HeapAlloc(GetProcessHeap(), 0, n ? n : 1);
#else
  void* p = forced_failure(n) ? nullptr : std::malloc(n ? n : 1);
#endif
  if (!p) {
    allocation_failed(n);
  }
  return p;
}

void rt_free(void* block) {
  if (!block) return;
#ifdef _WIN32
  HeapFree(GetProcessHeap(), 0, block);
#else
  std::free(block);
#endif
}

void* rt_realloc(void* block, std::size_t n) {
  if (!block) return rt_alloc(n);
#ifdef _WIN32
  void* p = forced_failure(n) ? nullptr : HeapReAlloc(GetProcessHeap(), 0, block, n ? n : 1);
#else
  void* p = forced_failure(n) ? nullptr : std::realloc(block, n ? n : 1);
#endif
  if (!p) {
    allocation_failed(n);
  }
  return p;
}

// ---- Text ---------------------------------------------------------------

namespace {
char* dup_text(const char* s, std::size_t n) {
  char* p = static_cast<char*>(rt_alloc(n + 1));
  if (n) std::memcpy(p, s, n);  // s may be null when n is 0
  p[n] = '\0';
  return p;
}
}  // namespace

Text::Text(const char* s) {
  if (s) p_ = dup_text(s, std::strlen(s));
}

Text::Text(std::string_view s) {
  // A text cannot hold a NUL byte: it ends at the first one.
  std::size_t n = s.find('\0');
  if (n == std::string_view::npos) n = s.size();
  p_ = dup_text(s.data(), n);
}

Text::Text(const Text& other) {
  if (other.p_) p_ = dup_text(other.p_, std::strlen(other.p_));
}

Text& Text::operator=(const Text& other) {
  if (this != &other) {
    char* fresh = other.p_ ? dup_text(other.p_, std::strlen(other.p_)) : nullptr;
    rt_free(p_);
    p_ = fresh;
  }
  return *this;
}

Text& Text::operator=(Text&& other) noexcept {
  if (this != &other) {
    rt_free(p_);
    p_ = std::exchange(other.p_, nullptr);
  }
  return *this;
}

Text::~Text() { rt_free(p_); }

std::size_t Text::size() const { return p_ ? std::strlen(p_) : 0; }

Text& Text::operator+=(std::string_view s) {
  *this = text_concat({view(), s});
  return *this;
}

bool operator==(const Text& a, const Text& b) { return text_compare(a.c_str(), b.c_str()) == 0; }
bool operator==(const Text& a, const char* b) { return text_compare(a.c_str(), b) == 0; }
bool operator<(const Text& a, const Text& b) { return text_compare(a.c_str(), b.c_str()) < 0; }

// ---- Bytes --------------------------------------------------------------

namespace {
constexpr std::size_t kHeader = 8;  // dimension count, length

std::uint8_t* make_block(std::size_t n) {
  if (n == 0) return nullptr;
  if (n > 0x7FFFFFF0u) rt_fail("分配 -1 字节内存失败!");
  auto* p = static_cast<std::uint8_t*>(rt_alloc(kHeader + n));
  std::uint32_t dims = 1, len = static_cast<std::uint32_t>(n);
  std::memcpy(p, &dims, 4);
  std::memcpy(p + 4, &len, 4);
  return p;
}
}  // namespace

Bytes::Bytes(const void* data, std::size_t n) : p_(make_block(n)) {
  if (p_) std::memcpy(p_ + kHeader, data, n);
}

Bytes::Bytes(const Bytes& other) : Bytes(other.data(), other.size()) {}

Bytes& Bytes::operator=(const Bytes& other) {
  if (this != &other) {
    Bytes copy(other);
    std::swap(p_, copy.p_);
  }
  return *this;
}

Bytes& Bytes::operator=(Bytes&& other) noexcept {
  if (this != &other) {
    rt_free(p_);
    p_ = std::exchange(other.p_, nullptr);
  }
  return *this;
}

Bytes::~Bytes() { rt_free(p_); }

Bytes Bytes::zeros(std::size_t n) {
  Bytes b;
  b.p_ = make_block(n);
  if (b.p_) std::memset(b.p_ + kHeader, 0, n);
  return b;
}

std::size_t Bytes::size() const {
  if (!p_) return 0;
  std::uint32_t len;
  std::memcpy(&len, p_ + 4, 4);
  return len;
}

const std::uint8_t* Bytes::data() const { return p_ ? p_ + kHeader : nullptr; }
std::uint8_t* Bytes::data() { return p_ ? p_ + kHeader : nullptr; }

void Bytes::resize(std::size_t n) {
  std::size_t old = size();
  if (n == old) return;
  if (n == 0) {
    rt_free(p_);
    p_ = nullptr;
    return;
  }
  if (n > 0x7FFFFFF0u) rt_fail("分配 -1 字节内存失败!");
  p_ = static_cast<std::uint8_t*>(p_ ? rt_realloc(p_, kHeader + n) : make_block(n));
  std::uint32_t dims = 1, len = static_cast<std::uint32_t>(n);
  std::memcpy(p_, &dims, 4);
  std::memcpy(p_ + 4, &len, 4);
  if (n > old) std::memset(p_ + kHeader + old, 0, n - old);
}

void Bytes::append(const void* src, std::size_t n) {
  if (n == 0) return;
  std::size_t old = size();
  // src may point into this byte set: keep it valid across the resize.
  if (p_ && static_cast<const std::uint8_t*>(src) >= data() &&
      static_cast<const std::uint8_t*>(src) < data() + old) {
    Bytes copy(src, n);
    append(copy.data(), n);
    return;
  }
  resize(old + n);
  std::memcpy(data() + old, src, n);
}

bool operator==(const Bytes& a, const Bytes& b) {
  return a.size() == b.size() && bytes_compare(a.data(), b.data(), a.size()) == 0;
}

// ---- operations ---------------------------------------------------------

Bytes bytes_concat(std::initializer_list<const Bytes*> parts) {
  std::size_t total = 0;
  for (const Bytes* b : parts) total += b ? b->size() : 0;
  Bytes out = Bytes::zeros(total);
  std::size_t at = 0;
  for (const Bytes* b : parts) {
    if (b && b->size()) {
      std::memcpy(out.data() + at, b->data(), b->size());
      at += b->size();
    }
  }
  return out;
}

Text text_concat(std::initializer_list<std::string_view> parts) {
  std::size_t total = 0;
  for (auto s : parts) total += s.size();
  char* p = static_cast<char*>(rt_alloc(total + 1));  // one allocation for all parts
  std::size_t at = 0;
  for (auto s : parts) {
    if (s.empty()) continue;  // an empty view may carry a null pointer
    std::memcpy(p + at, s.data(), s.size());
    at += s.size();
  }
  p[at] = '\0';
  return Text::adopt(p);
}

int text_compare(const char* a, const char* b) {
  int c = std::strcmp(a ? a : "", b ? b : "");
  return (c > 0) - (c < 0);
}

int bytes_compare(const void* a, const void* b, std::size_t n) {
  if (n == 0) return 0;
  int c = std::memcmp(a, b, n);
  return (c > 0) - (c < 0);
}

std::int64_t float_to_int64(double x) {
  // Out-of-range values saturate instead of being undefined behaviour.
  if (std::isnan(x)) return 0;
  if (x >= 9223372036854775807.0) return INT64_MAX;
  if (x <= -9223372036854775808.0) return INT64_MIN;
  return static_cast<std::int64_t>(std::trunc(x));
}

bool Value::is_integral() const {
  switch (tag_) {
    case Kind::Byte:
    case Kind::Short:
    case Kind::Int:
    case Kind::Int64:
    case Kind::Bool:
    case Kind::Subroutine: return true;
    default: return false;
  }
}

}  // namespace rt
