// open_link: what a HyperLinker does when clicked.
#include <windows.h>
#include <shellapi.h>

#include "runtime/value/codepage.h"
#include "runtime/units/units.h"
#include "runtime/win/handles.h"

namespace rt {

namespace {

// The default value of a key under HKEY_CLASSES_ROOT, or empty.
Text class_default(const std::string& key) {
  HKEY hkey = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, wide_path(key).c_str(), 0, KEY_READ, &hkey) != ERROR_SUCCESS) return {};
  win::RegistryKey owner(hkey);
  wchar_t buffer[2048] = {};
  DWORD type = 0, size = sizeof buffer - sizeof(wchar_t);
  LONG rc = RegQueryValueExW(hkey, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
  if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return {};
  if (type == REG_EXPAND_SZ) {
    wchar_t expanded[2048] = {};
    if (ExpandEnvironmentStringsW(buffer, expanded, 2047)) return Text(cp936_from_wchar(expanded));
  }
  return Text(cp936_from_wchar(buffer));
}

// Starts a command line as WinExec does (no handle kept), through the W call.
bool start_command(const Text& command_line) {
  std::wstring cmd = wide_path(command_line.view());
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_SHOW;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
  win::Process started(pi);
  return true;
}

}  // namespace

Text link_command_line(const Text& command, const Text& target) {
  std::string_view c = command.view();
  std::size_t cut = c.find("\"%1\"");
  if (cut == std::string_view::npos) cut = c.find("%1");
  if (cut != std::string_view::npos) c = c.substr(0, cut);
  return text_concat({c, " ", target.view()});
}

bool open_link(const Text& address, bool email) {
  Text target = email ? text_concat({"mailto:", address.view()}) : address;
  if (address.empty()) return false;
  std::wstring wide = wide_path(target.view());
  auto result = reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOW));
  if (result > 32) return true;
  // No handler for the address: fall back to the browser registered for web pages.
  Text type = class_default(".htm");
  if (type.empty()) return false;
  Text command = class_default(type.str() + "\\shell\\open\\command");
  if (command.empty()) return false;
  return start_command(link_command_line(command, target));
}

}  // namespace rt
