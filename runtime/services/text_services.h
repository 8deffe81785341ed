// Text services. Positions count from 1 and lengths in bytes. Searching and
// replacing step over a two-byte character (a byte with the high bit set and
// the byte after it) as one unit, so a match never starts on the second byte
// of a character; case folding touches ASCII letters only.
#pragma once

#include <cstdint>
#include <optional>

#include "runtime/value/value.h"

namespace rt {

int text_len(const Text& text);
Text text_left(const Text& text, int n);
Text text_right(const Text& text, int n);
Text char_text(int code);  // a text of that one byte (code 0 gives "")
// The byte at the position; 0 past the end (the terminating NUL) or before 1.
int char_code(const Text& text, int position = 1);

// First occurrence at or after `start` (below 1 counts as 1), or -1. An empty
// sought text gives 1 when there is text to search, else -1.
int find_text(const Text& text, const Text& sought, int start = 1, bool ignore_case = false);
// Last occurrence, lying wholly before `start` when one is given; -1 when none.
int find_text_last(const Text& text, const Text& sought, std::optional<int> start = std::nullopt,
                   bool ignore_case = false);

Text to_lower(const Text& text);
// Full-width ASCII forms (bytes A3 A1-FE) and the ideographic space (A1 A1)
// become their half-width ASCII characters.
Text to_half_width(const Text& text);

// Up to `count` occurrences (all when absent, none when negative) at or after
// `start` replaced, left to right, resuming after each replacement. Matching
// ignores ASCII case unless `case_sensitive` is set.
Text replace_text(const Text& text, const Text& sought, const Text& replacement = Text(), int start = 1,
                  std::optional<int> count = std::nullopt, bool case_sensitive = false);

// The pieces between separators, empty ones included; a trailing separator
// adds no empty last piece; at most `max_parts` pieces (negative counts as 0).
Array<Text> split_text(const Text& text, const Text& separator = ",", std::optional<int> max_parts = std::nullopt);

Text blank_text(int n);

Text pointer_to_text(const void* address);

// Each line longer than `width` columns (a two-byte character takes two)
// broken into lines of at most that many, with CR LF: after the last space,
// "\\", "/" or two-byte character that fits, else where the width ends. A
// message box then keeps an ordinary width: Windows breaks lines only at
// spaces and would widen the box to a long path or an unbroken run of text.
Text break_long_lines(const Text& text, std::size_t width);

}  // namespace rt
