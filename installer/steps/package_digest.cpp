#include "installer/format/sha256.h"
#include "installer/steps/package_digest.h"

namespace installer {

std::string sha256_hex_of(rt::ZipInput& input) {
  Sha256 digest;
  std::string piece(1 << 16, '\0');
  for (std::uint64_t at = 0, size = input.size(); at < size;) {
    std::size_t n = std::size_t(size - at < piece.size() ? size - at : piece.size());
    if (!input.read_at(at, piece.data(), n)) return {};
    digest.update(piece.data(), n);
    at += n;
  }
  return digest.hex_digest();
}

}  // namespace installer
