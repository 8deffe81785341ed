// The runtime's registry reads. String values come back in code page 936 as
// the program's texts; the key path and value name go to the wide functions.
#include <windows.h>

#include <cstring>
#include <memory>
#include <string>

#include "runtime/value/codepage.h"
#include "runtime/services/registry_services.h"
#include "runtime/services/text_services.h"
#include "runtime/win/handles.h"

namespace rt {

namespace {

HKEY root_key(int root) {
  switch (root) {
    case 1: return HKEY_CLASSES_ROOT;
    case 2: return HKEY_CURRENT_CONFIG;
    case 4: return HKEY_LOCAL_MACHINE;
    case 5: return HKEY_USERS;
    default: return HKEY_CURRENT_USER;
  }
}

struct RawValue {
  DWORD type = REG_NONE;
  std::string data;
  bool ok = false;
};

// Splits the path at its last backslash (a trail byte 0x5C is not one) into
// key and value name, then reads the value with KEY_READ access.
RawValue query(int root, const Text& path) {
  RawValue value;
  std::string_view all = path.view();
  int last = find_text_last(path, "\\");
  std::size_t split = last < 0 ? std::string_view::npos : static_cast<std::size_t>(last - 1);
  std::wstring key_path = split == std::string_view::npos ? std::wstring() : wide_path(all.substr(0, split));
  std::wstring name = wide_path(split == std::string_view::npos ? all : all.substr(split + 1));
  HKEY key = nullptr;
  if (RegOpenKeyExW(root_key(root), key_path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return value;
  win::RegistryKey owner(key);
  DWORD size = 0;
  if (RegQueryValueExW(key, name.c_str(), nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS) return value;
  // The value may grow between the two calls: ask again while it does.
  for (;;) {
    value.data.assign(size + 2, '\0');
    DWORD got = size;
    LONG rc = RegQueryValueExW(key, name.c_str(), nullptr, &value.type,
                               reinterpret_cast<BYTE*>(value.data.data()), &got);
    if (rc == ERROR_MORE_DATA) {
      size = got;
      continue;
    }
    if (rc != ERROR_SUCCESS) return value;
    value.data.resize(got);
    value.ok = true;
    return value;
  }
}

// UTF-16 string data up to its first NUL.
std::wstring wide_string(const std::string& data) {
  std::wstring w(data.size() / 2, L'\0');
  if (!w.empty()) std::memcpy(w.data(), data.data(), w.size() * 2);
  std::size_t nul = w.find(L'\0');
  if (nul != std::wstring::npos) w.resize(nul);
  return w;
}

}  // namespace

Text read_registry_text(int root, const Text& path, const std::optional<Text>& default_value) {
  RawValue value = query(root, path);
  Text fallback = default_value ? *default_value : Text();
  if (!value.ok) return fallback;
  std::wstring text = wide_string(value.data);
  if (value.type == REG_EXPAND_SZ) {
    DWORD n = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
    if (n == 0) return fallback;
    std::wstring expanded(n, L'\0');
    n = ExpandEnvironmentStringsW(text.c_str(), expanded.data(), n);
    if (n == 0) return fallback;
    return Text(cp936_from_wchar(expanded.c_str()));
  }
  if (value.type != REG_SZ) return fallback;
  return Text(cp936_from_wchar(text.c_str()));
}

int read_registry_number(int root, const Text& path, std::optional<int> default_value) {
  RawValue value = query(root, path);
  if (!value.ok || value.type != REG_DWORD || value.data.size() < 4) return default_value.value_or(0);
  std::int32_t n;
  std::memcpy(&n, value.data.data(), 4);
  return n;
}

}  // namespace rt
