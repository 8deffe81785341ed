// The publisher's digest of the package, taken of the very bytes unpacked.
#pragma once

#include <string>

#include "runtime/zip/zip_input.h"

namespace installer {

// SHA-256 of everything `input` reads, in lower-case hexadecimal; empty when
// a read fails.
std::string sha256_hex_of(rt::ZipInput& input);

}  // namespace installer
