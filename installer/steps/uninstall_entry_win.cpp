#include <windows.h>

#include <map>

#include "installer/format/installed_list.h"
#include "installer/platform/registry.h"
#include "installer/platform/removal.h"
#include "installer/steps/uninstall_entry.h"
#include "runtime/value/codepage.h"
#include "runtime/win/confined.h"

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

EntryPlace uninstall_entry_place(bool per_user, const rt::Text& software_name) {
  if (per_user) return {kCurrentUser, uninstall_key_path(false, software_name)};
  return {kLocalMachine, uninstall_key_path(is_64bit_windows(), software_name)};
}

bool register_uninstall(const UninstallInfo& info) {
  EntryPlace place = uninstall_entry_place(info.per_user, info.software_name);
  // A reinstall replaces the whole entry, values of an older version included.
  registry_delete_tree(place.root, place.key);
  if (!registry_key_exists(place.root, place.key) && !registry_create_key(place.root, place.key)) return false;
  for (const UninstallValue& v : uninstall_values(info))
    registry_write_value(place.root, place.key, v.name, v.type, v.data);
  return true;
}

rt::Text installed_location(const rt::Text& software_name, bool per_user) {
  if (software_name.empty()) return {};
  EntryPlace place = uninstall_entry_place(per_user, software_name);
  return registry_read_text(place.root, place.key, "InstallLocation");
}

rt::Text installed_version(const rt::Text& software_name, bool per_user) {
  if (software_name.empty()) return {};
  EntryPlace place = uninstall_entry_place(per_user, software_name);
  return registry_read_text(place.root, place.key, "DisplayVersion");
}

std::uint32_t installed_size_kib(const rt::Text& installed_files) {
  unsigned long long kib = 0;
  // Each file's size through a hold on its folder (one hold per folder).
  HeldFolders folders;
  for (const format::ListedPath& line : format::ListLines(installed_files.view())) {
    auto at = line.folder ? std::nullopt : folders.place(rt::wide_from_cp936(line.path));
    rt::win::File file = at ? at->folder.open_file(at->name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)
                            : rt::win::File();
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.get(), &size)) continue;
    kib += (static_cast<unsigned long long>(size.QuadPart) + 1023) / 1024;
  }
  return kib > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<std::uint32_t>(kib);
}

rt::Text today_yyyymmdd() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  // Digits by hand: printf would bring MinGW's whole formatter in.
  unsigned value = now.wYear * 10000u + now.wMonth * 100u + now.wDay;
  char date[8];
  for (int i = 7; i >= 0; --i, value /= 10) date[i] = static_cast<char>('0' + value % 10);
  return rt::Text(std::string_view(date, 8));
}

}  // namespace installer
