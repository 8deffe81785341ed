// MD5 (RFC 1321), as the record cipher derives its key from the pass phrase.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace installer {

class Md5 {
 public:
  Md5();
  void update(const void* data, std::size_t n);
  std::array<std::uint8_t, 16> digest();  // ends the hash

 private:
  void block(const std::uint8_t* p);
  std::uint32_t state_[4];
  std::uint64_t length_ = 0;  // bytes hashed so far
  std::uint8_t buffer_[64];
};

std::array<std::uint8_t, 16> md5(const void* data, std::size_t n);

}  // namespace installer
