// The runtime's registry reads. Root codes: 1 HKEY_CLASSES_ROOT,
// 2 HKEY_CURRENT_CONFIG, 3 HKEY_CURRENT_USER, 4 HKEY_LOCAL_MACHINE,
// 5 HKEY_USERS, anything else HKEY_CURRENT_USER.
#pragma once

#include <optional>

#include "runtime/value/value.h"

namespace rt {

// `path` is key, a backslash, value name. REG_SZ as read, REG_EXPAND_SZ
// expanded; anything else gives the default (or empty).
Text read_registry_text(int root, const Text& path, const std::optional<Text>& default_value = std::nullopt);
// A REG_DWORD value; otherwise the default (or 0).
int read_registry_number(int root, const Text& path, std::optional<int> default_value = std::nullopt);

}  // namespace rt
