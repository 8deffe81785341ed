// SHA-256, for the optional package check ("sha256" in the configuration).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace installer {

class Sha256 {
 public:
  Sha256();
  void update(const void* data, std::size_t n);
  // The digest as 64 lower-case hexadecimal digits; the object is spent.
  std::string hex_digest();

 private:
  void block(const std::uint8_t* p);
  std::uint32_t h_[8];
  std::uint8_t buf_[64];
  std::size_t used_ = 0;
  std::uint64_t length_ = 0;
};

std::string sha256_hex(std::string_view bytes);
// Whether the processor's SHA extensions may do the work where it has them
// (the default); tests compare both ways.
void sha256_allow_processor(bool allowed);
// Compares a configured digest with a computed one: hexadecimal digits in
// either case, surrounding blanks ignored.
bool sha256_matches(std::string_view configured, std::string_view computed);

}  // namespace installer
