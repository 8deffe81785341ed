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

// The program a command line starts: its quoted or first word.
std::string_view program_of(std::string_view c) {
  while (!c.empty() && c.front() == ' ') c.remove_prefix(1);
  if (!c.empty() && c.front() == '"') {
    std::size_t close = c.find('"', 1);
    return close == std::string_view::npos ? std::string_view() : c.substr(1, close - 1);
  }
  return c.substr(0, c.find(' '));
}

bool is_absolute(std::string_view p) {
  return (p.size() > 3 && p[1] == ':' && (p[2] == '\\' || p[2] == '/')) || (p.size() > 2 && p[0] == '\\' && p[1] == '\\');
}

// Starts a command line as WinExec does (no handle kept), through the W
// call, with the program named: never searched for (the installer's own
// folder would come first).
bool start_command(const Text& program, const Text& command_line) {
  std::wstring application = wide_path(program.view());
  std::wstring cmd = wide_path(command_line.view());
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_SHOW;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(application.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return false;
  win::Process started(pi);
  return true;
}

LinkOpener g_opener = nullptr;

}  // namespace

void set_link_opener(LinkOpener opener) { g_opener = opener; }

Text link_command_line(const Text& command, const Text& target) {
  std::string_view c = command.view();
  std::string_view program = program_of(c);
  // A bare name would be searched for; a quote in the target would end it early.
  if (!is_absolute(program) || target.view().find('"') != std::string_view::npos) return {};
  std::size_t cut = c.find("\"%1\"");
  if (cut == std::string_view::npos) cut = c.find("%1");
  if (cut != std::string_view::npos) c = c.substr(0, cut);
  // The program quoted, whatever the registry wrote; the target quoted.
  std::string_view rest = c.substr(c.find(program) + program.size());
  if (!rest.empty() && rest.front() == '"') rest.remove_prefix(1);
  return text_concat({"\"", program, "\"", rest, " \"", target.view(), "\""});
}

bool open_link(const Text& address, bool email) {
  Text target = email ? text_concat({"mailto:", address.view()}) : address;
  if (address.empty()) return false;
  if (g_opener) return g_opener(target);
  std::wstring wide = wide_path(target.view());
  auto result = reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOW));
  if (result > 32) return true;
  // No handler for the address: fall back to the browser registered for web pages.
  Text type = class_default(".htm");
  if (type.empty()) return false;
  Text command = class_default(type.str() + "\\shell\\open\\command");
  Text line = link_command_line(command, target);
  if (line.empty()) return false;
  return start_command(Text(program_of(command.view())), line);
}

}  // namespace rt
