#include <windows.h>

#include "installer/platform/registry.h"
#include "installer/steps/uninstall_entry.h"

namespace installer {

bool is_64bit_windows() {
  // Only 64-bit Windows has a WOW64 system folder; the function itself is
  // missing before Windows XP.
  using GetWow64Dir = UINT(WINAPI*)(LPSTR, UINT);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  auto get_dir =
      kernel
          ? reinterpret_cast<GetWow64Dir>(reinterpret_cast<void*>(GetProcAddress(kernel, "GetSystemWow64DirectoryA")))
          : nullptr;
  if (!get_dir) return false;
  char buffer[255];
  return get_dir(buffer, sizeof buffer) > 0;
}

bool register_uninstall(const UninstallInfo& info) {
  rt::Text key = uninstall_key_path(is_64bit_windows(), info.software_name);
  // A reinstall replaces the whole entry, values of an older version included.
  registry_delete_tree(kLocalMachine, key);
  if (!registry_key_exists(kLocalMachine, key) && !registry_create_key(kLocalMachine, key)) return false;
  for (const UninstallValue& v : uninstall_values(info))
    registry_write_value(kLocalMachine, key, v.name, v.type, v.data);
  return true;
}

}  // namespace installer
