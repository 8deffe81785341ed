#include "tests/e2e/support/harness.h"

#include <gdiplus.h>

#include <utility>

#include "runtime/value/codepage.h"
#include "tests/support/paths.h"

namespace e2e {

std::string setup_exe() { return testsupport::native_path(SETUP_EXE_PATH); }

Process::Process(Process&& o) noexcept : info_(std::exchange(o.info_, PROCESS_INFORMATION{})) {}

Process::~Process() {
  kill();
  if (info_.hProcess) CloseHandle(info_.hProcess);
  if (info_.hThread) CloseHandle(info_.hThread);
}

Process Process::start(const std::string& exe, const std::string& args, const std::string& cwd) {
  Process p;
  std::wstring cmd = rt::wide_path("\"" + exe + "\"" + (args.empty() ? "" : " " + args));
  std::wstring dir = rt::wide_path(cwd);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, cwd.empty() ? nullptr : dir.c_str(),
                      &si, &p.info_))
    p.info_ = {};
  return p;
}

bool Process::wait(DWORD ms, DWORD* code) {
  if (!info_.hProcess) return true;
  if (WaitForSingleObject(info_.hProcess, ms) != WAIT_OBJECT_0) return false;
  if (code) GetExitCodeProcess(info_.hProcess, code);
  return true;
}

void Process::kill() {
  if (info_.hProcess && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
    TerminateProcess(info_.hProcess, 1);
    WaitForSingleObject(info_.hProcess, 5000);
  }
}

namespace {
struct EnumState {
  DWORD pid;
  std::vector<HWND> found;
};
BOOL CALLBACK collect_top(HWND hwnd, LPARAM lp) {
  auto* st = reinterpret_cast<EnumState*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid == st->pid && IsWindowVisible(hwnd)) st->found.push_back(hwnd);
  return TRUE;
}
}  // namespace

std::vector<HWND> top_windows(DWORD pid) {
  EnumState st{pid, {}};
  EnumWindows(collect_top, reinterpret_cast<LPARAM>(&st));
  return st.found;
}

std::string window_text(HWND hwnd) {
  // WM_GETTEXT, not GetWindowText: for a window of another process the latter
  // gives the creation caption, not what an edit box holds now.
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) return "";
  std::wstring w(static_cast<std::size_t>(length) + 1, L'\0');
  DWORD_PTR got = 0;
  SendMessageTimeoutW(hwnd, WM_GETTEXT, w.size(), reinterpret_cast<LPARAM>(w.data()), SMTO_ABORTIFHUNG, 5000, &got);
  w.resize(static_cast<std::size_t>(got));
  return rt::cp936_from_wchar(w.c_str());
}

HWND wait_window(DWORD pid, DWORD timeout_ms, const std::string& caption) {
  HWND result = nullptr;
  wait_until(
      [&] {
        for (HWND h : top_windows(pid)) {
          if (caption.empty() || window_text(h) == caption) {
            result = h;
            return true;
          }
        }
        return false;
      },
      timeout_ms);
  return result;
}

HWND wait_message_box(DWORD pid, DWORD timeout_ms) {
  HWND result = nullptr;
  wait_until(
      [&] {
        for (HWND h : top_windows(pid)) {
          wchar_t cls[32] = {};
          GetClassNameW(h, cls, 32);
          if (lstrcmpW(cls, L"#32770") == 0) {
            result = h;
            return true;
          }
        }
        return false;
      },
      timeout_ms);
  return result;
}

std::string message_box_text(HWND box) {
  HWND text = GetDlgItem(box, 0xFFFF);
  return text ? window_text(text) : std::string();
}

std::string unbroken(std::string text) {
  for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;) text.erase(at, 2);
  return text;
}

namespace {
struct FindState {
  std::wstring name;
  HWND found = nullptr;
};
BOOL CALLBACK match_unit(HWND hwnd, LPARAM lp) {
  auto* st = reinterpret_cast<FindState*>(lp);
  auto atom = static_cast<ATOM>(reinterpret_cast<UINT_PTR>(GetPropW(hwnd, L"Unit_Name")));
  if (atom) {
    wchar_t buf[256] = {};
    if (GlobalGetAtomNameW(atom, buf, 256) && st->name == buf) {
      st->found = hwnd;
      return FALSE;
    }
  }
  return TRUE;
}
}  // namespace

HWND find_unit(HWND top, const std::string& design_name) {
  FindState st{rt::wide_path(design_name)};
  match_unit(top, reinterpret_cast<LPARAM>(&st));
  if (!st.found) EnumChildWindows(top, match_unit, reinterpret_cast<LPARAM>(&st));
  return st.found;
}

HWND wait_unit(HWND top, const std::string& design_name, DWORD timeout_ms) {
  HWND h = nullptr;
  wait_until([&] { return (h = find_unit(top, design_name)) != nullptr; }, timeout_ms);
  return h;
}

bool text_fits(HWND control, const LOGFONTW& font) {
  RECT client{};
  if (!GetClientRect(control, &client)) return false;
  std::wstring text = rt::wide_path(window_text(control));
  HDC dc = GetDC(nullptr);
  HFONT f = CreateFontIndirectW(&font);
  HGDIOBJ old = SelectObject(dc, f);
  RECT need{0, 0, client.right, 0};
  DrawTextW(dc, text.c_str(), -1, &need, DT_WORDBREAK | DT_CALCRECT);
  SelectObject(dc, old);
  DeleteObject(f);
  ReleaseDC(nullptr, dc);
  return !text.empty() && need.right <= client.right && need.bottom <= client.bottom;
}

LOGFONTW message_box_font() {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  return metrics.lfMessageFont;
}

void click(HWND hwnd) {
  RECT r;
  GetWindowRect(hwnd, &r);
  int x = (r.left + r.right) / 2, y = (r.top + r.bottom) / 2;
  HWND top = GetAncestor(hwnd, GA_ROOT);
  SetForegroundWindow(top);
  SetCursorPos(x, y);
  Sleep(30);
  INPUT in[2] = {};
  in[0].type = in[1].type = INPUT_MOUSE;
  in[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  in[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  SendInput(1, &in[0], sizeof(INPUT));
  Sleep(30);
  SendInput(1, &in[1], sizeof(INPUT));
  Sleep(50);
}

void type_text(HWND hwnd, const std::string& text) {
  std::wstring w = rt::wide_path(text);
  for (wchar_t c : w) {
    PostMessageW(hwnd, WM_CHAR, c, 1);
  }
  Sleep(50);
}

namespace {
bool png_encoder(CLSID* clsid) {
  UINT n = 0, size = 0;
  Gdiplus::GetImageEncodersSize(&n, &size);
  if (!size) return false;
  std::vector<unsigned char> buf(size);
  auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buf.data());
  Gdiplus::GetImageEncoders(n, size, codecs);
  for (UINT i = 0; i < n; ++i) {
    if (lstrcmpW(codecs[i].MimeType, L"image/png") == 0) {
      *clsid = codecs[i].Clsid;
      return true;
    }
  }
  return false;
}
}  // namespace

bool screenshot(HWND hwnd, const std::string& png_path) {
  RECT r{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  if (hwnd) GetWindowRect(hwnd, &r);
  int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return false;
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  HBITMAP bmp = CreateCompatibleBitmap(screen, w, h);
  HGDIOBJ old = SelectObject(mem, bmp);
  BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  SelectObject(mem, old);
  bool ok = false;
  {
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartupInput input;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok) {
      {
        Gdiplus::Bitmap image(bmp, nullptr);
        CLSID clsid;
        std::wstring path = rt::wide_path(png_path);
        ok = png_encoder(&clsid) && image.Save(path.c_str(), &clsid, nullptr) == Gdiplus::Ok;
      }
      Gdiplus::GdiplusShutdown(token);
    }
  }
  DeleteObject(bmp);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  return ok;
}

}  // namespace e2e
