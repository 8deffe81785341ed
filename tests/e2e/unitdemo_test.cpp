// The toolkit's sample window (unitdemo.exe) as a person sees and uses it:
// a unit of every kind where its design table puts it, a tab box whose pages
// switch on the press and release of links, a worker driving the progress bar
// and a timer writing its status, and the modal prompt. Screenshots go to
// <build>/screenshots/unitdemo_*.png.
#include <windows.h>
#include <commctrl.h>

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

// What the sample's design table says (the header and every row).
const Placement kUnits[] = {
    {"标题栏", 0, 0, 600, 52},        {"标题", 24, 10, 300, 32},        {"关闭", 556, 12, 28, 28},
    {"标签", 150, 64, 420, 30},        {"透明标签", 150, 100, 420, 30},  {"编辑框", 150, 134, 300, 34},
    {"图片按钮", 150, 168, 90, 38},    {"复选框", 150, 208, 200, 30},    {"超级链接框", 150, 244, 200, 30},
    {"选择夹", 150, 280, 420, 30},     {"第一页内容", 10, 0, 300, 30},   {"图片框", 150, 315, 32, 32},
    {"动画框", 150, 356, 420, 22},     {"超级按钮", 150, 386, 120, 34},  {"进度条", 150, 432, 300, 14},
    {"状态", 150, 460, 300, 30},       {"Label", 24, 64, 120, 30},       {"Timer", 24, 460, 120, 30},
    {"底板", 0, 0, 600, 510},
};
const char* const kHidden[] = {"返回第一页", "时钟"};  // the tab box's second page; a timer never shows

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

// The colour on the screen at a point of a unit (its own client coordinates).
COLORREF colour_at(HWND unit, int x, int y) {
  POINT p{x, y};
  ClientToScreen(unit, &p);
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
bool shows(HWND top, const char* unit, int x, int y, COLORREF colour) {
  SetCursorPos(0, 0);
  HWND h = e2e::find_unit(top, unit);
  return h && e2e::wait_until([&] { return close_to(colour_at(h, x, y), colour); }, 10000);
}

TEST(UnitDemo, every_unit_kind_shows_where_its_table_says_and_works) {
  std::string exe = testsupport::binary_dir() + "\\examples\\unitdemo.exe";
  e2e::Process demo = e2e::Process::start(exe);
  ASSERT_TRUE(demo.started()) << exe;
  HWND top = e2e::wait_window(demo.pid(), 30000, "窗口组件示例");
  ASSERT_NE(top, nullptr);
  ASSERT_NE(e2e::wait_unit(top, "状态", 10000), nullptr);

  // The frame: borderless, the whole window is client area, 600 x 510.
  RECT window, client;
  GetWindowRect(top, &window);
  GetClientRect(top, &client);
  EXPECT_EQ(window.right - window.left, 600);
  EXPECT_EQ(window.bottom - window.top, 510);
  EXPECT_EQ(client.right, 600);
  EXPECT_EQ(client.bottom, 510);

  for (const Placement& p : kUnits) {
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
  for (const char* unit : kHidden) EXPECT_FALSE(visible(top, unit)) << unit;
  EXPECT_EQ(e2e::window_text(e2e::find_unit(top, "超级按钮")), "开始");

  Sleep(800);  // let everything paint
  EXPECT_TRUE(e2e::screenshot(top, shots() + "unitdemo_home.png"));
  EXPECT_TRUE(shows(top, "标题栏", 400, 26, RGB(248, 249, 252))) << "header panel";
  EXPECT_TRUE(shows(top, "超级按钮", 8, 17, RGB(0, 111, 221))) << "colour button";
  EXPECT_TRUE(shows(top, "复选框", 8, 20, RGB(0, 111, 221))) << "ticked check box";
  EXPECT_TRUE(shows(top, "编辑框", 4, 17, RGB(240, 248, 255))) << "the edit box's own colour";
  EXPECT_TRUE(shows(top, "动画框", 200, 11, RGB(0, 111, 221))) << "animation box's colour";

  // The tab box's second page opens on the press of a link, and the release
  // of the link on that page goes back.
  e2e::click(e2e::find_unit(top, "超级链接框"));
  ASSERT_TRUE(e2e::wait_until([&] { return visible(top, "返回第一页"); }, 10000));
  EXPECT_FALSE(visible(top, "第一页内容"));
  Sleep(500);
  EXPECT_TRUE(e2e::screenshot(top, shots() + "unitdemo_page2.png"));
  e2e::click(e2e::find_unit(top, "返回第一页"));
  ASSERT_TRUE(e2e::wait_until([&] { return visible(top, "第一页内容") && !visible(top, "返回第一页"); }, 10000));

  // The picture button writes into the edit box.
  e2e::click(e2e::find_unit(top, "图片按钮"));
  ASSERT_TRUE(e2e::wait_until([&] { return edit_text(e2e::find_unit(top, "编辑框")) == "D:\\Apps\\"; }, 10000));

  // Start: the worker thread moves the bar through the unit services, the
  // timer writes the status, and the worker's last word is the button's caption.
  HWND bar = e2e::find_unit(top, "进度条");
  e2e::click(e2e::find_unit(top, "超级按钮"));
  ASSERT_TRUE(e2e::wait_until([&] { return SendMessageW(bar, PBM_GETPOS, 0, 0) > 0; }, 10000));
  Sleep(600);
  EXPECT_TRUE(e2e::screenshot(top, shots() + "unitdemo_running.png"));
  ASSERT_TRUE(e2e::wait_until([&] { return e2e::window_text(e2e::find_unit(top, "超级按钮")) == "完成"; }, 30000));
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 100);
  EXPECT_EQ(e2e::window_text(e2e::find_unit(top, "状态")), "进度 100%");

  // Closing asks through the modal prompt, centred over the window.
  e2e::click(e2e::find_unit(top, "关闭"));
  HWND prompt = e2e::wait_window(demo.pid(), 10000, "提示信息");
  ASSERT_NE(prompt, nullptr);
  ASSERT_NE(e2e::wait_unit(prompt, "确定", 5000), nullptr);
  RECT p;
  GetWindowRect(prompt, &p);
  GetWindowRect(top, &window);
  EXPECT_EQ(p.right - p.left, 420);
  EXPECT_EQ(p.bottom - p.top, 210);
  EXPECT_EQ(p.left, window.left + (600 - 420) / 2);
  EXPECT_EQ(p.top, window.top + (510 - 210) / 2);
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
