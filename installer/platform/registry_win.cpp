// The installer's registry operations. Key paths, value names and string data
// are code page 936 texts; they reach the registry through the wide functions
// so that Chinese names and values are stored as the same characters whatever
// the system's ANSI code page is. RegOpenKeyW/RegCreateKeyW give the same
// default access and (in this 32-bit program) the same 32-bit view as their
// ANSI twins.
#include <windows.h>

#include <memory>
#include <string>

#include "installer/platform/registry.h"
#include "runtime/value/codepage.h"
#include "runtime/services/text_services.h"
#include "runtime/win/handles.h"

namespace installer {

namespace {

constexpr DWORD kReadBufferSize = 1u << 20;

HKEY root_key(int root) {
  switch (root) {
    case kClassesRoot: return HKEY_CLASSES_ROOT;
    case kCurrentUser: return HKEY_CURRENT_USER;
    case kLocalMachine: return HKEY_LOCAL_MACHINE;
    case kUsers: return HKEY_USERS;
    case kCurrentConfig: return HKEY_CURRENT_CONFIG;
    default: return nullptr;
  }
}

using Key = rt::win::RegistryKey;

Key open_key(int root, const rt::Text& path) {
  HKEY base = root_key(root);
  HKEY key = nullptr;
  if (!base || RegOpenKeyW(base, rt::wide_path(path.view()).c_str(), &key) != ERROR_SUCCESS) return Key();
  return Key(key);
}

bool is_string_type(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

}  // namespace

bool registry_key_exists(int root, const rt::Text& path) { return static_cast<bool>(open_key(root, path)); }

RegistryValue registry_read_value(int root, const rt::Text& path, const rt::Text& name) {
  RegistryValue result;
  Key key = open_key(root, path);
  if (!key) return result;
  std::unique_ptr<BYTE[]> buffer(new BYTE[kReadBufferSize]);
  DWORD type = 0;
  DWORD length = kReadBufferSize;
  if (RegQueryValueExW(key.get(), rt::wide_path(name.view()).c_str(), nullptr, &type, buffer.get(), &length) !=
      ERROR_SUCCESS)
    return result;
  result.type = static_cast<int>(type);
  if (is_string_type(type)) {
    // String data is stored as UTF-16; callers get it back in code page 936,
    // with a terminating NUL only if the stored value had one.
    std::u16string wide(reinterpret_cast<const char16_t*>(buffer.get()), length / 2);
    std::string text = rt::cp936_from_wide(wide);
    result.data = rt::Bytes(text.data(), text.size());
  } else {
    result.data = rt::Bytes(buffer.get(), length);
  }
  return result;
}

int registry_read_int(int root, const rt::Text& path, const rt::Text& name) {
  RegistryValue value = registry_read_value(root, path, name);
  std::uint32_t n = 0;
  for (std::size_t i = 0; i < 4 && i < value.data.size(); ++i) n |= static_cast<std::uint32_t>(value.data[i]) << (8 * i);
  return static_cast<int>(n);
}

rt::Text registry_read_text(int root, const rt::Text& path, const rt::Text& name) {
  RegistryValue value = registry_read_value(root, path, name);
  if (value.type != REG_SZ && value.type != REG_EXPAND_SZ) return {};
  std::string_view data = value.data.view();
  return rt::Text(data.substr(0, data.find('\0')));
}

bool registry_create_key(int root, const rt::Text& path) {
  HKEY base = root_key(root);
  if (!base || registry_key_exists(root, path)) return false;
  HKEY key = nullptr;
  if (RegCreateKeyW(base, rt::wide_path(path.view()).c_str(), &key) != ERROR_SUCCESS) return false;
  Key owner(key);
  return true;
}

bool registry_write_value(int root, const rt::Text& path, const rt::Text& name, int type, const rt::Bytes& data) {
  Key key = open_key(root, path);
  if (!key) return false;
  std::wstring wide_name = rt::wide_path(name.view());
  LONG rc;
  if (is_string_type(static_cast<DWORD>(type))) {
    // The bytes are a code page 936 text (as the ANSI function would take
    // them); store the same characters in UTF-16, a NUL only if one was given.
    // The system counts a terminating NUL the caller "forgot" when one
    // follows the data in memory; a non-NUL unit there keeps the value exact.
    std::u16string wide = rt::wide_from_cp936(data.view());
    DWORD length = static_cast<DWORD>(wide.size() * 2);
    wide.push_back(u'?');
    rc = RegSetValueExW(key.get(), wide_name.c_str(), 0, static_cast<DWORD>(type),
                        reinterpret_cast<const BYTE*>(wide.data()), length);
  } else {
    rc = RegSetValueExW(key.get(), wide_name.c_str(), 0, static_cast<DWORD>(type), data.data(),
                        static_cast<DWORD>(data.size()));
  }
  return rc == ERROR_SUCCESS;
}

int registry_list_subkeys(int root, const rt::Text& path, rt::Array<rt::Text>& out) {
  out.clear();
  Key key = open_key(root, path);
  if (!key) return 0;
  wchar_t name[256];
  for (DWORD index = 0;; ++index) {
    name[0] = 0;
    if (RegEnumKeyW(key.get(), index, name, 256) != ERROR_SUCCESS) break;
    out.push_back(rt::Text(rt::cp936_from_wchar(name)));
  }
  return static_cast<int>(out.count());
}

bool registry_delete_tree(int root, const rt::Text& path) {
  // A root key itself is never deleted.
  if (path.view().find_first_not_of('\\') == std::string_view::npos) return false;
  HKEY base = root_key(root);
  if (!base) return false;
  rt::Array<rt::Text> subkeys;
  registry_list_subkeys(root, path, subkeys);
  // A subkey that cannot be deleted does not stop its siblings; only the key
  // itself decides the result.
  bool ends_in_backslash = rt::find_text_last(path, "\\") == rt::text_len(path);  // not a trail byte
  std::string_view separator = ends_in_backslash ? "" : "\\";
  for (const rt::Text& name : subkeys) registry_delete_tree(root, rt::text_concat({path.view(), separator, name.view()}));
  return RegDeleteKeyW(base, rt::wide_path(path.view()).c_str()) == ERROR_SUCCESS;
}

}  // namespace installer
