// The lenient JSON parser: one pass with an explicit stack, so nesting depth
// is limited only by memory. Accepts single-quoted strings, unquoted keys,
// trailing commas, empty array elements and a missing comma after a closed
// container. Reports the first error as a code with a character position.
#pragma once

#include <cstdint>
#include <string_view>

#include "json/node.h"

namespace json {

enum ParseResult : int {
  kParseOk = 0,
  kParseNoText = -2,     // no root, or the text is empty
  kParseNoMemory = -3,   // a node or the stack could not be made or attached
  kParseObject = -4,     // object structure error
  kParseUnclosed = -5,   // the text ended inside a container
  kParseValue = -6,      // a token that is not a valid value
  kParseOpenQuote = -7,  // a quote opened in the last token was never closed
};

// Parses the text (up to its first NUL) into `root`, which is reset first. On
// failure the root is reset again and `position` (when given) receives the
// character index of the error. A bare scalar document sets the root to that
// value, unless `containers_only` is set, which ignores text outside brackets.
int parse_into(JsonNode* root, std::u16string_view text, bool decode_unicode_escapes, bool containers_only,
               int* position);

// Resolves the escapes of a NUL-terminated text of n characters in place and
// returns the new length.
std::int32_t unescape(char16_t* text, std::int32_t n, bool decode_unicode_escapes);

}  // namespace json
