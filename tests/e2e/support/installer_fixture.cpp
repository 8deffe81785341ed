#include "tests/e2e/support/installer_fixture.h"

#include "tests/support/windows_win.h"

#include <commctrl.h>

#include "installer/format/cipher.h"
#include "runtime/value/codepage.h"
#include "runtime/units/units.h"
#include "tests/support/paths.h"

namespace e2e {

namespace {

std::string json_escape(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 0x80 && i + 1 < s.size()) {  // a two-byte character, copied whole
      out += s[i];
      out += s[++i];
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += s[i];
    } else {
      out += s[i];
    }
  }
  return out;
}

bool update_resource(HANDLE update, const wchar_t* name, const std::string& bytes) {
  return UpdateResourceW(update, L"SYSTEM", name, 0, bytes.empty() ? nullptr : const_cast<char*>(bytes.data()),
                         static_cast<DWORD>(bytes.size())) != FALSE;
}

void post_button(HWND unit, UINT message) {
  RECT r;
  GetClientRect(unit, &r);
  LPARAM at = MAKELPARAM((r.right - r.left) / 2, (r.bottom - r.top) / 2);
  PostMessageW(unit, message, message == WM_LBUTTONUP ? 0 : MK_LBUTTON, at);
}

}  // namespace

std::string config_json(const Config& config) {
  std::string out = "{";
  for (std::size_t i = 0; i < config.size(); ++i) {
    if (i) out += ",";
    out += "\"" + json_escape(config[i].first) + "\":\"" + json_escape(config[i].second) + "\"";
  }
  return out + "}";
}

std::string make_installer(const std::string& dir, const std::string& record_plain, const std::string* package,
                           const std::string& name, const std::string* logo, const std::string& pass_phrase,
                           const std::string& source) {
  std::string path = dir + "\\" + name;
  std::wstring src = rt::wide_path(source.empty() ? setup_exe() : source), dst = rt::wide_path(path);
  if (!CopyFileW(src.c_str(), dst.c_str(), FALSE)) return "";
  rt::Bytes record = installer::encrypt_text(rt::Text(record_plain), rt::Text(pass_phrase), true);
  HANDLE update = BeginUpdateResourceW(dst.c_str(), FALSE);
  if (!update) return "";
  bool ok = update_resource(update, L"102", std::string(record.view()));
  if (package) ok = ok && update_resource(update, L"103", *package);
  if (logo) ok = ok && update_resource(update, L"101", *logo);
  if (!EndUpdateResourceW(update, !ok) || !ok) return "";
  return path;
}

Installer::Installer(const std::string& exe, const std::string& args) : process_(Process::start(exe, args)) {
  if (!process_.started()) return;
  DWORD start = GetTickCount();
  wait_until(
      [&] {
        for (HWND h : top_windows(process_.pid()))
          if (find_unit(h, "选择夹1")) {
            window_ = h;
            return true;
          }
        return false;
      },
      30000);
  (void)start;
}

HWND Installer::unit(const std::string& name, DWORD timeout_ms) const {
  if (HWND found = find_unit(window_, name)) return found;
  static const char* const kCustomPage[] = {"立即安装2", "返回首页", "标签1", "标签2", "安装目录", "浏览", "快捷方式"};
  bool custom = false;
  for (const char* u : kCustomPage) custom = custom || name == u;
  if (!custom || page() != 0) return wait_unit(window_, name, timeout_ms);
  post_button(wait_unit(window_, "自定义安装", timeout_ms), WM_LBUTTONDOWN);
  HWND found = wait_page(1, timeout_ms) ? wait_unit(window_, name, timeout_ms) : nullptr;
  post_button(find_unit(window_, "自定义安装"), WM_LBUTTONUP);
  if (HWND back = find_unit(window_, "返回首页")) {
    post_button(back, WM_LBUTTONDOWN);
    post_button(back, WM_LBUTTONUP);
    wait_page(0, timeout_ms);
  }
  return found;
}

void Installer::click(const std::string& name) const {
  HWND u = unit(name);
  post_button(u, WM_LBUTTONDOWN);
  post_button(u, WM_LBUTTONUP);
  Sleep(100);
}
void Installer::press(const std::string& name) const { post_button(unit(name), WM_LBUTTONDOWN); }
void Installer::release(const std::string& name) const { post_button(unit(name), WM_LBUTTONUP); }

bool Installer::visible(const std::string& name) const {
  HWND u = find_unit(window_, name);
  return u && IsWindowVisible(u);
}

bool Installer::checked(const std::string& name) const {
  HWND u = unit(name);
  return SendMessageW(u, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

int Installer::progress(const std::string& name) const {
  return static_cast<int>(SendMessageW(unit(name), PBM_GETPOS, 0, 0));
}

void Installer::set_text(const std::string& name, const std::string& text) const {
  HWND u = unit(name);
  std::wstring w = rt::wide_path(text);
  SendMessageW(u, EM_SETSEL, 0, -1);
  SendMessageW(u, WM_CLEAR, 0, 0);
  for (wchar_t c : w) SendMessageW(u, WM_CHAR, c, 1);
}

int Installer::page() const {
  static const char* const kPageUnits[] = {"立即安装", "立即安装2", "进度条", "安装完成", "重新安装"};
  for (int i = 0; i < 5; ++i)
    if (visible(kPageUnits[i])) return i;
  return -1;
}

bool Installer::wait_page(int p, DWORD timeout_ms) const {
  return wait_until([&] { return page() == p; }, timeout_ms);
}

HWND Installer::prompt(DWORD timeout_ms) const {
  HWND found = nullptr;
  wait_until(
      [&] {
        for (HWND h : top_windows(process_.pid()))
          if (find_unit(h, "信息标签")) {
            found = h;
            return true;
          }
        return false;
      },
      timeout_ms);
  return found;
}

void Installer::answer_prompt(bool ok, DWORD timeout_ms) const {
  HWND p = prompt(timeout_ms);
  if (!p) return;
  HWND button = wait_unit(p, ok ? "确定" : "取消", 5000);
  if (!button) return;
  post_button(button, WM_LBUTTONDOWN);
  post_button(button, WM_LBUTTONUP);
  wait_until([&] { return !IsWindow(p); }, 10000);
}

std::string Installer::answer_message_box(DWORD timeout_ms) const {
  HWND box = wait_message_box(process_.pid(), timeout_ms);
  if (!box) return "";
  std::string text = message_box_text(box);
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  wait_until([&] { return !IsWindow(box); }, 10000);
  return text;
}

bool Installer::shot(const std::string& file) const {
  Sleep(300);  // let the page paint
  return screenshot(window_, screenshot_dir() + "\\" + file);
}

std::string answer_prompt(const Process& process, bool ok, const std::string& shot, DWORD timeout_ms) {
  HWND prompt = nullptr;
  HWND message = nullptr;
  wait_until(
      [&] {
        for (HWND top : top_windows(process.pid())) {
          HWND label = find_unit(top, "信息标签");
          // A prompt still being filled is not there yet.
          if (label && !window_text(label).empty()) {
            prompt = top;
            message = label;
            return true;
          }
        }
        return false;
      },
      timeout_ms);
  if (!prompt) return "(no prompt window)";
  std::string text = window_text(message);
  Sleep(300);  // let it paint
  if (!shot.empty()) screenshot(prompt, screenshot_dir() + "\\" + shot + ".png");
  HWND button = find_unit(prompt, ok ? "确定" : "取消");
  if (!button || !IsWindowVisible(button)) return "(no button)";
  click(button);
  // The next prompt must not be mistaken for this one.
  wait_until([&] { return !IsWindow(prompt); }, timeout_ms);
  return text;
}

std::string screenshot_dir() {
  std::string dir = testsupport::binary_dir() + "\\screenshots";
  CreateDirectoryA(dir.c_str(), nullptr);
  return dir;
}

bool path_exists(const std::string& path) {
  std::wstring w = rt::wide_path(path);
  return GetFileAttributesW(w.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool make_link(const std::string& link, const std::string& target) { return testsupport::make_link(link, target); }

bool start_from_custom_page(Installer& setup, const std::string& folder) {
  if (!setup.ok()) return false;
  setup.press("自定义安装");
  if (!setup.wait_page(1, 10000)) return false;
  setup.release("自定义安装");
  setup.set_text("安装目录", folder);
  setup.click("快捷方式");  // no desktop shortcut to clean up
  setup.click("立即安装2");
  return true;
}

int install_from_custom_page(Installer& setup, const std::string& folder, std::string* message, int timeout_ms) {
  if (!start_from_custom_page(setup, folder)) return -1;
  int page = -1;
  wait_until(
      [&] {
        std::string text = setup.answer_message_box(300);
        if (!text.empty()) *message = text;
        page = setup.page();
        return page == 3 || page == 4;
      },
      timeout_ms);
  return page;
}

std::string read_all(const std::string& path) {
  std::wstring w = rt::wide_path(path);
  HANDLE f = CreateFileW(w.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return "";
  std::string out;
  char buf[65536];
  DWORD got = 0;
  while (ReadFile(f, buf, sizeof buf, &got, nullptr) && got) out.append(buf, got);
  CloseHandle(f);
  return out;
}

bool write_all(const std::string& path, const std::string& bytes) {
  std::wstring w = rt::wide_path(path);
  HANDLE f = CreateFileW(w.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  DWORD put = 0;
  bool ok = WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) && put == bytes.size();
  CloseHandle(f);
  return ok;
}

std::string read_mark(const std::string& mark) {
  // The program holds it with no sharing until it has written it.
  std::string text;
  wait_until([&] { return !(text = read_all(mark)).empty(); }, 20000);
  return text;
}

bool remove_mark(const std::string& mark) {
  std::wstring path = rt::wide_path(mark);
  return wait_until([&] { return DeleteFileW(path.c_str()) != 0; }, 20000);
}

}  // namespace e2e
