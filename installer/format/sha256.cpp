#include "installer/format/sha256.h"

#include <cstdio>
#include <cstring>
#include <vector>

#if (defined(__i386__) || defined(__x86_64__)) && defined(__GNUC__)
#include <cpuid.h>
#include <immintrin.h>
#endif

#ifdef _WIN32
#include <windows.h>

#include "runtime/value/codepage.h"
#endif

namespace installer {

namespace {
constexpr std::uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

inline std::uint32_t rotr(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

#if (defined(__i386__) || defined(__x86_64__)) && defined(__GNUC__)
#define SHA256_WITH_PROCESSOR 1
// The processor's SHA extensions (most x86 processors since 2017): a package
// of 200 MB is checked in a fraction of the time the portable rounds take.
bool processor_has_sha() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_SSSE3) || !(c & bit_SSE4_1)) return false;
  if (__get_cpuid_max(0, nullptr) < 7) return false;
  __cpuid_count(7, 0, a, b, c, d);
  return (b & bit_SHA) != 0;
}

// Whole blocks with the extensions. The state is kept as ABEF and CDGH, as
// the round instruction wants it. The stack is realigned: 32-bit Windows
// code only promises 4 bytes, and spilled vectors want 16.
__attribute__((target("sha,sse4.1,ssse3"), force_align_arg_pointer)) void blocks_with_processor(
    std::uint32_t state[8], const std::uint8_t* p, std::size_t blocks) {
  const __m128i order = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);  // big-endian words
  __m128i t = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[0])), 0xB1);  // CDAB
  __m128i s1 = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[4])), 0x1B);  // EFGH
  __m128i s0 = _mm_alignr_epi8(t, s1, 8);     // ABEF
  s1 = _mm_blend_epi16(s1, t, 0xF0);          // CDGH
  for (; blocks > 0; --blocks, p += 64) {
    const __m128i abef = s0, cdgh = s1;
    __m128i m[4];
#pragma GCC unroll 16
    for (int g = 0; g < 16; ++g) {
      // Rounds 4g to 4g+3 with message words m[g % 4].
      if (g < 4) m[g] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * g)), order);
      __m128i& cur = m[g % 4];
      __m128i k = _mm_add_epi32(cur, _mm_loadu_si128(reinterpret_cast<const __m128i*>(&kRound[4 * g])));
      s1 = _mm_sha256rnds2_epu32(s1, s0, k);
      if (g >= 3 && g <= 14) {  // the next group's words
        __m128i& next = m[(g + 1) % 4];
        next = _mm_sha256msg2_epu32(_mm_add_epi32(next, _mm_alignr_epi8(cur, m[(g + 3) % 4], 4)), cur);
      }
      s0 = _mm_sha256rnds2_epu32(s0, s1, _mm_shuffle_epi32(k, 0x0E));
      if (g >= 1 && g <= 12) m[(g + 3) % 4] = _mm_sha256msg1_epu32(m[(g + 3) % 4], cur);
    }
    s0 = _mm_add_epi32(s0, abef);
    s1 = _mm_add_epi32(s1, cdgh);
  }
  t = _mm_shuffle_epi32(s0, 0x1B);             // FEBA
  s1 = _mm_shuffle_epi32(s1, 0xB1);            // DCHG
  s0 = _mm_blend_epi16(t, s1, 0xF0);           // DCBA
  s1 = _mm_alignr_epi8(s1, t, 8);              // HGFE
  _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[0]), s0);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[4]), s1);
}
#endif

bool& processor_allowed() {
  static bool allowed = true;
  return allowed;
}

bool use_processor() {
#ifdef SHA256_WITH_PROCESSOR
  static const bool available = processor_has_sha();
  return available && processor_allowed();
#else
  return false;
#endif
}
}  // namespace

void sha256_allow_processor(bool allowed) { processor_allowed() = allowed; }

Sha256::Sha256()
    : h_{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19} {}

void Sha256::block(const std::uint8_t* p) {
  std::uint32_t w[64];
  for (int i = 0; i < 16; ++i)
    w[i] = (std::uint32_t(p[4 * i]) << 24) | (std::uint32_t(p[4 * i + 1]) << 16) | (std::uint32_t(p[4 * i + 2]) << 8) |
           p[4 * i + 3];
  for (int i = 16; i < 64; ++i) {
    std::uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
    std::uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
    w[i] = w[i - 16] + s0 + w[i - 7] + s1;
  }
  std::uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3], e = h_[4], f = h_[5], g = h_[6], h = h_[7];
  for (int i = 0; i < 64; ++i) {
    std::uint32_t t1 = h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + kRound[i] + w[i];
    std::uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
    h = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  h_[0] += a;
  h_[1] += b;
  h_[2] += c;
  h_[3] += d;
  h_[4] += e;
  h_[5] += f;
  h_[6] += g;
  h_[7] += h;
}

void Sha256::update(const void* data, std::size_t n) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  length_ += n;
#ifdef SHA256_WITH_PROCESSOR
  if (used_ == 0 && n >= 64 && use_processor()) {
    // Whole blocks straight from the caller's bytes.
    std::size_t blocks = n / 64;
    blocks_with_processor(h_, p, blocks);
    p += blocks * 64;
    n -= blocks * 64;
  }
#endif
  while (n > 0) {
    std::size_t take = 64 - used_ < n ? 64 - used_ : n;
    std::memcpy(buf_ + used_, p, take);
    used_ += take;
    p += take;
    n -= take;
    if (used_ == 64) {
#ifdef SHA256_WITH_PROCESSOR
      if (use_processor()) blocks_with_processor(h_, buf_, 1);
      else
#endif
        block(buf_);
      used_ = 0;
    }
  }
}

std::string Sha256::hex_digest() {
  std::uint64_t bits = length_ * 8;
  std::uint8_t pad = 0x80;
  update(&pad, 1);
  std::uint8_t zero = 0;
  while (used_ != 56) update(&zero, 1);
  std::uint8_t len[8];
  for (int i = 0; i < 8; ++i) len[i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
  update(len, 8);
  std::string out;
  for (std::uint32_t v : h_)
    for (int shift = 28; shift >= 0; shift -= 4) out += "0123456789abcdef"[(v >> shift) & 15];
  return out;
}

std::string sha256_hex(std::string_view bytes) {
  Sha256 h;
  h.update(bytes.data(), bytes.size());
  return h.hex_digest();
}

bool sha256_matches(std::string_view configured, std::string_view computed) {
  while (!configured.empty() && (configured.front() == ' ' || configured.front() == '\t')) configured.remove_prefix(1);
  while (!configured.empty() && (configured.back() == ' ' || configured.back() == '\t')) configured.remove_suffix(1);
  if (configured.size() != 64 || computed.size() != 64) return false;
  for (std::size_t i = 0; i < 64; ++i) {
    char c = configured[i];
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    if (c != computed[i]) return false;
  }
  return true;
}

}  // namespace installer
