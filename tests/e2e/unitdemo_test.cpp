// The toolkit's sample window (unitdemo.exe) as a person sees and uses it:
// every unit kind where its design table puts it, pages that switch on the
// press or release of their links, a worker driving the progress page, and
// the modal prompt. Screenshots go to <build>/screenshots/unitdemo_*.png.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "runtime/value/codepage.h"
#include "tests/e2e/support/harness.h"
#include "tests/support/paths.h"

namespace {

struct Placement {
  const char* unit;
  int left, top, width, height;
};

// What the sample's design table says (page 0 and the header).
const Placement kHome[] = {
    {"图片框1", 0, 0, 600, 240},        {"关闭", 556, 16, 28, 28},          {"logo", 255, 68, 90, 90},
    {"标签_软件名称", 120, 183, 360, 40}, {"选择夹1", 0, 0, 600, 456},      {"立即安装", 195, 252, 210, 56},
    {"许可协议", 26, 355, 110, 24},     {"超级链接框1", 130, 355, 86, 24}, {"自定义安装", 478, 355, 96, 24},
};
const char* const kOtherPages[] = {"立即安装2", "安装目录", "浏览", "快捷方式", "进度条", "更新状态", "安装完成", "重新安装", "离线网址"};

std::string shots() {
  std::string dir = testsupport::binary_dir() + "\\screenshots";
  CreateDirectoryA(dir.c_str(), nullptr);
  return dir + "\\";
}

RECT in_parent(HWND hwnd) {
  RECT r;
  GetWindowRect(hwnd, &r);
  MapWindowPoints(HWND_DESKTOP, GetParent(hwnd), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

// An edit control's text; GetWindowText from another process would read only
// the text it was created with.
std::string edit_text(HWND edit) {
  wchar_t buf[260] = {};
  SendMessageW(edit, WM_GETTEXT, 260, reinterpret_cast<LPARAM>(buf));
  return rt::cp936_from_wchar(buf);
}

bool visible(HWND top, const char* unit) {
  HWND h = e2e::find_unit(top, unit);
  return h && IsWindowVisible(h);
}

// The colour on the screen at a point of the window's client area.
COLORREF colour_at(HWND top, int x, int y) {
  POINT p{x, y};
  ClientToScreen(top, &p);
  HDC screen = GetDC(nullptr);
  COLORREF c = GetPixel(screen, p.x, p.y);
  ReleaseDC(nullptr, screen);
  return c;
}

bool close_to(COLORREF a, COLORREF b, int tolerance = 6) {
  return std::abs(GetRValue(a) - GetRValue(b)) <= tolerance && std::abs(GetGValue(a) - GetGValue(b)) <= tolerance &&
         std::abs(GetBValue(a) - GetBValue(b)) <= tolerance;
}

// Whether the screen shows `colour` there once painting has caught up (a busy
// machine paints late), with the pointer away from any hover effect.
bool shows(HWND top, int x, int y, COLORREF colour) {
  SetCursorPos(0, 0);
  return e2e::wait_until([&] { return close_to(colour_at(top, x, y), colour); }, 10000);
}

TEST(UnitDemo, every_unit_kind_shows_where_its_table_says_and_the_pages_work) {
  std::string exe = testsupport::binary_dir() + "\\examples\\unitdemo.exe";
  e2e::Process demo = e2e::Process::start(exe);
  ASSERT_TRUE(demo.started()) << exe;
  HWND top = e2e::wait_window(demo.pid(), 30000, "Tarnel安装程序");
  ASSERT_NE(top, nullptr);
  ASSERT_NE(e2e::wait_unit(top, "立即安装", 10000), nullptr);

  // The frame: borderless, the whole window is client area, 600 x 400.
  RECT window, client;
  GetWindowRect(top, &window);
  GetClientRect(top, &client);
  EXPECT_EQ(window.right - window.left, 600);
  EXPECT_EQ(window.bottom - window.top, 400);
  EXPECT_EQ(client.right, 600);
  EXPECT_EQ(client.bottom, 400);

  for (const Placement& p : kHome) {
    SCOPED_TRACE(p.unit);
    HWND h = e2e::find_unit(top, p.unit);
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(IsWindowVisible(h));
    RECT r = in_parent(h);
    EXPECT_EQ(r.left, p.left);
    EXPECT_EQ(r.top, p.top);
    EXPECT_EQ(r.right - r.left, p.width);
    EXPECT_EQ(r.bottom - r.top, p.height);
  }
  for (const char* unit : kOtherPages) EXPECT_FALSE(visible(top, unit)) << unit;
  EXPECT_EQ(e2e::window_text(e2e::find_unit(top, "立即安装")), "立即安装");

  Sleep(800);  // let everything paint
  EXPECT_TRUE(e2e::screenshot(top, shots() + "unitdemo_home.png"));
  EXPECT_TRUE(shows(top, 30, 100, RGB(248, 249, 252))) << "header panel";
  EXPECT_TRUE(shows(top, 200, 262, RGB(0, 111, 221))) << "install button";
  EXPECT_TRUE(shows(top, 34, 372, RGB(0, 111, 221))) << "ticked agreement box";

  // The custom page opens on the press of its link, the header goes.
  e2e::click(e2e::find_unit(top, "自定义安装"));
  ASSERT_TRUE(e2e::wait_until([&] { return visible(top, "安装目录"); }, 10000));
  EXPECT_FALSE(visible(top, "图片框1"));
  EXPECT_FALSE(visible(top, "立即安装"));
  EXPECT_TRUE(visible(top, "浏览"));
  Sleep(500);
  EXPECT_TRUE(e2e::screenshot(top, shots() + "unitdemo_custom.png"));
  EXPECT_TRUE(shows(top, 52, 171, RGB(240, 248, 255))) << "the path box's own colour";
  e2e::click(e2e::find_unit(top, "浏览"));
  ASSERT_TRUE(e2e::wait_until(
      [&] { return edit_text(e2e::find_unit(top, "安装目录")) == "D:\\Apps\\"; }, 10000));

  e2e::click(e2e::find_unit(top, "返回首页"));
  ASSERT_TRUE(e2e::wait_until([&] { return visible(top, "立即安装") && visible(top, "图片框1"); }, 10000));

  // Install: the worker thread moves the bar through the unit services,
  // the timer writes the status, and the finish page follows.
  e2e::click(e2e::find_unit(top, "立即安装"));
  ASSERT_TRUE(e2e::wait_until([&] { return visible(top, "进度条"); }, 10000));
  Sleep(600);
  EXPECT_TRUE(e2e::screenshot(top, shots() + "unitdemo_installing.png"));
  ASSERT_TRUE(e2e::wait_until([&] { return visible(top, "安装完成"); }, 30000));
  EXPECT_EQ(e2e::window_text(e2e::find_unit(top, "更新状态")), "正在安装中 100%，请稍侯...");

  // Closing asks through the modal prompt, centred over the window.
  e2e::click(e2e::find_unit(top, "关闭"));
  HWND prompt = e2e::wait_window(demo.pid(), 10000, "提示信息");
  ASSERT_NE(prompt, nullptr);
  ASSERT_NE(e2e::wait_unit(prompt, "确定", 5000), nullptr);
  RECT p;
  GetWindowRect(prompt, &p);
  GetWindowRect(top, &window);
  EXPECT_EQ(p.right - p.left, 420);
  EXPECT_EQ(p.left, window.left + (600 - 420) / 2);
  EXPECT_EQ(p.top, window.top + (400 - 210) / 2);
  EXPECT_FALSE(IsWindowEnabled(top)) << "modal over its owner";
  Sleep(500);
  EXPECT_TRUE(e2e::screenshot(nullptr, shots() + "unitdemo_prompt.png"));
  e2e::click(e2e::find_unit(prompt, "取消"));
  ASSERT_TRUE(e2e::wait_until([&] { return !IsWindow(prompt); }, 10000));
  EXPECT_TRUE(IsWindowEnabled(top));

  e2e::click(e2e::find_unit(top, "关闭"));
  prompt = e2e::wait_window(demo.pid(), 10000, "提示信息");
  ASSERT_NE(prompt, nullptr);
  ASSERT_NE(e2e::wait_unit(prompt, "确定", 5000), nullptr);
  e2e::click(e2e::find_unit(prompt, "确定"));
  DWORD code = 1;
  ASSERT_TRUE(demo.wait(20000, &code));
  EXPECT_EQ(code, 0u);
}

}  // namespace
