// Paths name a node below a root: keys joined by '.', indexes in brackets
// ("user.tags[2].name", "[0]"). A backslash before '.', '[', ']' or '\' makes
// that character part of the key; "[]" is index -1. An empty path names the
// root.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "json/node.h"

namespace json {

struct PathSegment {
  enum Kind { kKey = 1, kIndex = 2 } kind;
  std::u16string key;
  std::int32_t index = 0;
};
using JsonPath = std::vector<PathSegment>;

JsonPath parse_path(std::u16string_view path);

// The node the path names, or null. A key step needs an object; an index step
// takes the element of an array or the member at that position of an object.
JsonNode* resolve(JsonNode* root, const JsonPath& path);

// The node the path names, made when missing: a key step turns the node into
// an object and adds the member as null; an index step turns it into an array
// and appends nulls up to the index (a negative index appends one). Null when
// something cannot be made.
JsonNode* resolve_create(JsonNode* root, const JsonPath& path);

}  // namespace json
