#include <windows.h>

#include "installer/format/cipher.h"
#include "installer/format/format.h"
#include "installer/platform/registry.h"
#include "installer/steps/uninstall_entry.h"
#include "runtime/value/codepage.h"

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

rt::Text installed_list_of(const rt::Text& uninstaller_path) {
  HMODULE module = LoadLibraryExW(rt::wide_path(uninstaller_path.view()).c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!module) return {};
  rt::Text list;
  std::wstring type = rt::wide_path(format::kListResourceType);
  std::wstring name = rt::wide_path(format::kListResourceName);
  if (HRSRC found = FindResourceW(module, name.c_str(), type.c_str())) {
    HGLOBAL loaded = LoadResource(module, found);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (data) list = decrypt_record(rt::Bytes(data, SizeofResource(module, found)), format::kRecordPassPhrase, true);
  }
  FreeLibrary(module);
  return list;
}

std::uint32_t installed_size_kib(const rt::Text& installed_files) {
  unsigned long long kib = 0;
  std::string_view list = installed_files.view();
  while (!list.empty()) {
    std::size_t end = list.find('\n');
    std::string_view line = list.substr(0, end);
    list = end == std::string_view::npos ? std::string_view() : list.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (line.empty() || !GetFileAttributesExW(rt::wide_path(line).c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
      continue;
    unsigned long long size = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    kib += (size + 1023) / 1024;
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
