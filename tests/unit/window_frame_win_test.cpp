// The window frame extension, driven through real windows and messages.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "runtime/units/units.h"
#include "tests/support/windows_win.h"
#include "ui/window_frame.h"

namespace {

// The window's own procedure before the extension: it reports what reaches
// it and answers hit tests as the test says.
LRESULT g_hit = HTCLIENT;
bool g_fake_hit = false;
std::vector<UINT> g_seen;
std::vector<WPARAM> g_seen_wparam;

LRESULT CALLBACK former_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_NCHITTEST:
      if (g_fake_hit) return g_hit;
      break;
    case WM_CLOSE:
    case WM_SYSCOMMAND:
      g_seen.push_back(msg);
      g_seen_wparam.push_back(wp);
      return 0;  // recorded, not acted on
    default:
      break;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

using testsupport::pump;
using testsupport::pump_for;

class FrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = former_proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"FrameTestWindow";
    RegisterClassExW(&wc);
    g_fake_hit = false;
    g_seen.clear();
    g_seen_wparam.clear();
  }
  void TearDown() override {
    for (HWND h : windows_) DestroyWindow(h);
  }
  HWND make(int x = 100, int y = 100, int w = 300, int h = 200) {
    HWND hwnd = CreateWindowExW(0, L"FrameTestWindow", L"frame", WS_OVERLAPPEDWINDOW, x, y, w, h, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    windows_.push_back(hwnd);
    return hwnd;
  }
  std::vector<HWND> windows_;
};

UINT_PTR prop(HWND hwnd, const char* name) { return reinterpret_cast<UINT_PTR>(GetPropA(hwnd, name)); }

// The system adds WS_CLIPSIBLINGS to every top-level window whatever is written.
DWORD style_of(HWND hwnd) { return static_cast<DWORD>(GetWindowLongPtrW(hwnd, GWL_STYLE)) & ~WS_CLIPSIBLINGS; }

TEST_F(FrameTest, installer_options_give_a_captioned_window_whose_client_area_is_the_whole_window) {
  HWND hwnd = make();
  RECT client_before;
  GetClientRect(hwnd, &client_before);
  auto former = GetWindowLongPtrW(hwnd, GWLP_WNDPROC);
  ui::WindowFrameOptions options{};
  ASSERT_TRUE(ui::EnableWindowFrame(hwnd, options));

  EXPECT_EQ(style_of(hwnd), 0x00CA0000u);
  EXPECT_EQ(prop(hwnd, "AD_WinEx_Enable"), 1u);
  EXPECT_EQ(prop(hwnd, "AD_WinEx_DefProc"), static_cast<UINT_PTR>(former));
  EXPECT_EQ(prop(hwnd, "AD_WinEx_Resizable"), 0u);
  EXPECT_EQ(prop(hwnd, "AD_WinEx_menu"), 1u);
  EXPECT_EQ(prop(hwnd, "AD_WindowTheme"), 0u);
  EXPECT_EQ(GetWindowLongPtrW(hwnd, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(ui::FrameWindowProc));

  RECT window, client;
  GetWindowRect(hwnd, &window);
  GetClientRect(hwnd, &client);
  EXPECT_EQ(window.right - window.left, client.right) << "no side borders";
  EXPECT_EQ(window.bottom - window.top, client.bottom) << "no caption";
  // The window's outer size is its former client size.
  EXPECT_EQ(client.right, client_before.right);
  EXPECT_EQ(client.bottom, client_before.bottom);

  EXPECT_EQ(SendMessageW(hwnd, WM_ERASEBKGND, 0, 0), 1);
}

TEST_F(FrameTest, client_rectangle_keeps_the_top_and_loses_the_resize_border_only_when_resizable) {
  for (bool resizable : {false, true}) {
    HWND hwnd = make();
    ui::WindowFrameOptions options{};
    options.resizable = resizable;
    ASSERT_TRUE(ui::EnableWindowFrame(hwnd, options));
    NCCALCSIZE_PARAMS params{};
    params.rgrc[0] = RECT{10, 20, 110, 220};
    params.rgrc[1] = RECT{1, 2, 3, 4};
    params.rgrc[2] = RECT{5, 6, 7, 8};
    EXPECT_EQ(SendMessageW(hwnd, WM_NCCALCSIZE, TRUE, reinterpret_cast<LPARAM>(&params)), 0);
    int e = resizable ? 8 : 0;
    EXPECT_EQ(params.rgrc[0].left, 10 + e);
    EXPECT_EQ(params.rgrc[0].top, 20);
    EXPECT_EQ(params.rgrc[0].right, 110 - e);
    EXPECT_EQ(params.rgrc[0].bottom, 220 - e);
    EXPECT_EQ(params.rgrc[1].left, 10);
    EXPECT_EQ(params.rgrc[1].bottom, 220);
    EXPECT_EQ(params.rgrc[2].left, 5) << "third rectangle untouched";
    EXPECT_EQ(style_of(hwnd), resizable ? 0x00CF0000u : 0x00CA0000u);
    EXPECT_EQ(prop(hwnd, "AD_WinEx_Resizable"), resizable ? 1u : 0u);
  }
}

TEST_F(FrameTest, shown_window_keeps_its_visible_style) {
  HWND hwnd = make();
  ShowWindow(hwnd, SW_SHOWNOACTIVATE);
  ui::WindowFrameOptions options{};
  options.shown = 1;
  ASSERT_TRUE(ui::EnableWindowFrame(hwnd, options));
  EXPECT_EQ(style_of(hwnd) | WS_CLIPSIBLINGS, 0x16CA0000u);
}

TEST_F(FrameTest, hit_test_turns_free_surface_into_caption_and_keeps_borders_and_nowhere) {
  HWND hwnd = make();
  ASSERT_TRUE(ui::EnableWindowFrame(hwnd, ui::WindowFrameOptions{}));
  g_fake_hit = true;
  RECT r;
  GetWindowRect(hwnd, &r);
  LPARAM top_row = MAKELPARAM(r.left + 20, r.top + 1);
  for (LRESULT former : {LRESULT(HTCLIENT), LRESULT(HTCAPTION), LRESULT(HTSYSMENU)}) {
    g_hit = former;
    EXPECT_EQ(SendMessageW(hwnd, WM_NCHITTEST, 0, top_row), HTCAPTION) << former;
  }
  for (LRESULT former = HTLEFT; former <= HTBOTTOMRIGHT; ++former) {
    g_hit = former;
    EXPECT_EQ(SendMessageW(hwnd, WM_NCHITTEST, 0, top_row), former);
  }
  g_hit = HTNOWHERE;
  EXPECT_EQ(SendMessageW(hwnd, WM_NCHITTEST, 0, top_row), HTNOWHERE);
}

TEST_F(FrameTest, resizable_hit_test_has_a_top_band_of_seven_rows_also_on_negative_coordinates) {
  for (POINT at : {POINT{100, 100}, POINT{-900, -700}}) {
    HWND hwnd = make(at.x, at.y);
    ui::WindowFrameOptions options{};
    options.resizable = 1;
    ASSERT_TRUE(ui::EnableWindowFrame(hwnd, options));
    g_fake_hit = true;
    g_hit = HTCLIENT;
    POINT origin{0, 0};
    ClientToScreen(hwnd, &origin);
    auto hit_at_row = [&](int row) {
      return SendMessageW(hwnd, WM_NCHITTEST, 0, MAKELPARAM(origin.x + 30, origin.y + row));
    };
    EXPECT_EQ(hit_at_row(0), HTCAPTION);
    for (int row = 1; row <= 7; ++row) EXPECT_EQ(hit_at_row(row), HTTOP) << row;
    EXPECT_EQ(hit_at_row(8), HTCAPTION);
    EXPECT_EQ(hit_at_row(50), HTCAPTION);
  }
}

TEST_F(FrameTest, system_commands_arriving_as_commands_are_translated_even_without_the_menu) {
  HWND hwnd = make();
  ui::WindowFrameOptions options{};
  options.noSystemMenu = 1;
  ASSERT_TRUE(ui::EnableWindowFrame(hwnd, options));
  EXPECT_EQ(prop(hwnd, "AD_WinEx_menu"), 0u);

  SendMessageW(hwnd, WM_COMMAND, SC_CLOSE, 0);
  SendMessageW(hwnd, WM_COMMAND, SC_MAXIMIZE, 0);
  SendMessageW(hwnd, WM_COMMAND, SC_MOVE, 0);
  SendMessageW(hwnd, WM_COMMAND, 1234, 0);  // an ordinary command: nothing posted
  pump();
  ASSERT_EQ(g_seen.size(), 3u);
  EXPECT_EQ(g_seen[0], static_cast<UINT>(WM_CLOSE));
  EXPECT_EQ(g_seen[1], static_cast<UINT>(WM_SYSCOMMAND));
  EXPECT_EQ(g_seen_wparam[1], static_cast<WPARAM>(SC_MAXIMIZE));
  EXPECT_EQ(g_seen_wparam[2], static_cast<WPARAM>(SC_MOVE));

  ShowWindow(hwnd, SW_SHOWNOACTIVATE);
  SendMessageW(hwnd, WM_COMMAND, SC_MINIMIZE, 0);
  EXPECT_TRUE(IsIconic(hwnd));
}

int g_theme_calls = 0;
BOOL g_theme_dark = -1;
void __stdcall on_theme(BOOL dark) {
  ++g_theme_calls;
  g_theme_dark = dark;
}

TEST_F(FrameTest, theme_routine_is_called_at_enabling_and_on_immersive_colour_set_only) {
  HWND hwnd = make();
  g_theme_calls = 0;
  ui::WindowFrameOptions options{};
  options.themeChanged = reinterpret_cast<std::uintptr_t>(&on_theme);
  ASSERT_TRUE(ui::EnableWindowFrame(hwnd, options));
  EXPECT_EQ(g_theme_calls, 1);
  EXPECT_EQ(g_theme_dark != 0, ui::IsAppsDarkTheme());
  EXPECT_EQ(prop(hwnd, "AD_WindowTheme"), options.themeChanged);

  SendMessageW(hwnd, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"Environment"));
  SendMessageW(hwnd, WM_SETTINGCHANGE, 0, 0);
  EXPECT_EQ(g_theme_calls, 1);
  SendMessageW(hwnd, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"ImmersiveColorSet"));
  EXPECT_EQ(g_theme_calls, 2);
}

TEST_F(FrameTest, a_theme_address_of_ten_or_less_is_never_called) {
  HWND hwnd = make();
  ui::WindowFrameOptions options{};
  options.themeChanged = 10;
  ASSERT_TRUE(ui::EnableWindowFrame(hwnd, options));  // would crash if called
  SendMessageW(hwnd, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"ImmersiveColorSet"));
  EXPECT_EQ(prop(hwnd, "AD_WindowTheme"), 10u);
}

TEST(AppsTheme, missing_value_counts_as_dark_and_one_as_light) {
  constexpr char kKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  DWORD saved = 0, size = sizeof saved, type = 0;
  bool had = RegQueryValueExA(key, "AppsUseLightTheme", nullptr, &type, reinterpret_cast<BYTE*>(&saved), &size) ==
             ERROR_SUCCESS;

  RegDeleteValueA(key, "AppsUseLightTheme");
  EXPECT_TRUE(ui::IsAppsDarkTheme());
  DWORD one = 1;
  RegSetValueExA(key, "AppsUseLightTheme", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), sizeof one);
  EXPECT_FALSE(ui::IsAppsDarkTheme());
  RegSetValueExA(key, "AppsUseLightTheme", 0, REG_SZ, reinterpret_cast<const BYTE*>("1"), 2);
  EXPECT_TRUE(ui::IsAppsDarkTheme()) << "a value of another type reads as 0";

  if (had)
    RegSetValueExA(key, "AppsUseLightTheme", 0, type, reinterpret_cast<BYTE*>(&saved), sizeof saved);
  else
    RegDeleteValueA(key, "AppsUseLightTheme");
  RegCloseKey(key);
}

TEST(FrameFailure, a_value_that_is_no_window_and_an_unloaded_form_give_false) {
  EXPECT_FALSE(ui::EnableWindowFrame(reinterpret_cast<HWND>(0x1234), ui::WindowFrameOptions{}));
  static const rt::WindowDesign never{.name = "NeverLoaded"};
  EXPECT_FALSE(ui::EnableWindowFrame(never, ui::WindowFrameOptions{}));
}

std::vector<std::pair<BYTE, DWORD>> g_keys;
void record_key(BYTE vk, DWORD flags) { g_keys.emplace_back(vk, flags); }

TEST_F(FrameTest, snap_button_sends_the_chord_once_after_resting_and_nothing_when_left_early) {
  HWND hwnd = make(50, 50, 300, 200);
  ShowWindow(hwnd, SW_SHOW);
  HWND button = CreateWindowExW(0, L"FrameTestWindow", L"", WS_CHILD | WS_VISIBLE, 250, 10, 30, 30, hwnd, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  ui::WindowFrameOptions options{};
  options.shown = 1;
  options.snapButton = button;
  ASSERT_TRUE(ui::EnableWindowFrame(hwnd, options));
  EXPECT_NE(prop(button, "AD_WinEx_hookid"), 0u);
  pump();
  ui::KeySender old = ui::SetSnapKeySender(record_key);
  g_keys.clear();

  RECT b;
  GetWindowRect(button, &b);
  POINT on{(b.left + b.right) / 2, (b.top + b.bottom) / 2};
  POINT off{b.left - 100, b.bottom + 60};

  // Enter and leave within the hover delay: no keys.
  SetCursorPos(on.x, on.y);
  SendMessageW(button, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
  EXPECT_EQ(prop(button, "AD_WinEx_isMove"), 1u);
  SetCursorPos(off.x, off.y);
  SendMessageW(button, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
  EXPECT_EQ(prop(button, "AD_WinEx_isMove"), 0u);
  pump_for(900);
  EXPECT_TRUE(g_keys.empty());

  // Rest on it: the Win+Z chord and the Alt tap, once.
  SetCursorPos(on.x, on.y);
  SendMessageW(button, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
  pump_for(1500);
  std::vector<std::pair<BYTE, DWORD>> expected = {{VK_LWIN, 0},        {'Z', 0}, {VK_LWIN, KEYEVENTF_KEYUP},
                                                  {'Z', KEYEVENTF_KEYUP}, {VK_MENU, 0}, {VK_MENU, KEYEVENTF_KEYUP}};
  EXPECT_EQ(g_keys, expected);
  ReleaseCapture();
  ui::SetSnapKeySender(old);
}

}  // namespace
