// Paths in the only form the confined file layer takes them from disk or the
// registry: a drive, then plain names. Anything Windows would read as
// something else ("." or "..", a device, a stream, a name it trims, a UNC
// share, the "\\?\" and "\\.\" forms) is refused before anything is opened.
// Portable: decisions on text alone.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace rt::win {

// One item's name in a folder: not empty, at most 255 units, not "." or
// "..", no separator, colon (drive or stream), wildcard, quote, angle
// bracket, bar or control character, no trailing dot or blank (Windows drops
// them, so the name would mean another item), and no device name (CON, NUL,
// COM1, LPT¹, ... with any extension).
bool plain_name(std::u16string_view name);

// "X:\" followed by plain names separated by "\" or "/" (a run of
// separators counts as one, a trailing one is allowed). The names, in order,
// go to `names` when it is given. False for anything else.
bool split_plain_path(std::u16string_view path, std::vector<std::u16string_view>* names = nullptr);
inline bool plain_path(std::u16string_view path) { return split_plain_path(path); }
// A plain path's folder (with its trailing separator) and last name; false
// for a path that is not plain or names a drive's root.
bool split_plain_parent(std::u16string_view path, std::u16string* folder, std::u16string* name);

}  // namespace rt::win
