// The window-unit toolkit: windows loaded from design tables, numbered
// properties, pages, input, modal runs and access from a worker thread.
#include <windows.h>
#include <commctrl.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "runtime/value/codepage.h"
#include "runtime/units/units.h"
#include "tests/support/windows_win.h"
#include "ui/assets.h"

namespace {

using rt::UnitDesign;
using rt::UnitKind;
using rt::WindowDesign;

int g_clicks = 0, g_downs = 0, g_ups = 0, g_ticks = 0, g_created = 0;
DWORD g_tick_thread = 0;
bool g_allow_close = true;
int g_close_requests = 0;
void on_click() { ++g_clicks; }
void on_down() { ++g_downs; }
void on_up() { ++g_ups; }
void on_tick() {
  ++g_ticks;
  g_tick_thread = GetCurrentThreadId();
}
void on_created() { ++g_created; }
bool on_close() {
  ++g_close_requests;
  return g_allow_close;
}

const char* const kPages[] = {"一", "二"};

const UnitDesign kUnits[] = {
    {.name = "面板", .kind = UnitKind::PicBox, .rect = {0, 0, 400, 60}, .back = {rt::rgb(248, 249, 252)}},
    {.name = "标题", .kind = UnitKind::TransLabel, .parent = "面板", .rect = {10, 10, 200, 30}, .caption = "标题文字",
     .font = {20}},
    {.name = "关闭", .kind = UnitKind::PicBtn, .parent = "面板", .rect = {360, 10, 28, 28},
     .image = {&ui::assets::close_normal, &ui::assets::close_hover}, .hand_cursor = true, .on_click = on_click},
    {.name = "选择夹", .kind = UnitKind::TabBox, .rect = {0, 0, 400, 300}, .pages = kPages, .on_mouse_down = on_down},
    {.name = "按钮", .kind = UnitKind::SuperBtn, .parent = "选择夹", .page = 0, .rect = {100, 100, 200, 50},
     .caption = "立即安装", .image = {&ui::assets::button_normal, &ui::assets::button_hover}, .on_click = on_click},
    {.name = "同意", .kind = UnitKind::CheckBox, .parent = "选择夹", .page = 0, .rect = {10, 200, 120, 24},
     .caption = "已阅读并同意", .checked = true},
    {.name = "链接", .kind = UnitKind::HyperLinker, .parent = "选择夹", .page = 0, .rect = {140, 200, 100, 24},
     .caption = "自定义安装", .on_mouse_down = on_down, .on_mouse_up = on_up},
    {.name = "隐藏", .kind = UnitKind::Label, .parent = "选择夹", .page = 0, .rect = {10, 240, 100, 24},
     .caption = "看不见", .visible = false},
    {.name = "目录", .kind = UnitKind::EditBox, .parent = "选择夹", .page = 1, .rect = {20, 80, 300, 38},
     .caption = "C:\\程序\\"},
    {.name = "浏览", .kind = UnitKind::PicBtn, .parent = "选择夹", .page = 1, .rect = {330, 80, 60, 38},
     .image = {&ui::assets::browse}},
    {.name = "进度", .kind = UnitKind::ProcessBar, .parent = "选择夹", .page = 1, .rect = {20, 140, 300, 16}},
    {.name = "状态", .kind = UnitKind::Label, .parent = "选择夹", .page = 1, .rect = {20, 170, 300, 24},
     .caption = "正在安装中 0%", .align = rt::Align::Center},
    {.name = "时钟", .kind = UnitKind::Timer, .on_tick = on_tick},
    {.name = "动画", .kind = UnitKind::CartoonBox, .rect = {0, 290, 400, 10}, .back = {rt::rgb(255, 255, 255)}},
};

const WindowDesign kWindow = {
    .name = "测试窗口",
    .caption = "单元测试",
    .rect = {60, 60, 400, 300},
    .units = kUnits,
    .on_created = on_created,
    .on_close = on_close,
};

std::string name_of(HWND hwnd) {
  auto atom = static_cast<ATOM>(reinterpret_cast<UINT_PTR>(GetPropW(hwnd, L"Unit_Name")));
  wchar_t buf[256] = {};
  if (!atom || !GlobalGetAtomNameW(atom, buf, 256)) return {};
  return rt::cp936_from_wchar(buf);
}

std::string text_of(HWND hwnd) {
  wchar_t buf[256] = {};
  GetWindowTextW(hwnd, buf, 256);
  return rt::cp936_from_wchar(buf);
}

struct NameSearch {
  const char* name;
  HWND found;
};
BOOL CALLBACK find_named(HWND child, LPARAM p) {
  auto* s = reinterpret_cast<NameSearch*>(p);
  if (name_of(child) == s->name) s->found = child;
  return s->found ? FALSE : TRUE;
}

using testsupport::pump;
using testsupport::pump_until;

class UnitsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_clicks = g_downs = g_ups = g_ticks = g_created = g_close_requests = 0;
    g_allow_close = true;
    ASSERT_TRUE(rt::load_window(kWindow));
    pump();
  }
  void TearDown() override {
    rt::close_window(kWindow);
    pump();
  }
  HWND unit(const char* name) { return rt::unit_window_handle(kWindow, name); }
  RECT in_container(HWND hwnd) {
    RECT r;
    GetWindowRect(hwnd, &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(hwnd), reinterpret_cast<POINT*>(&r), 2);
    return r;
  }
};

TEST_F(UnitsTest, every_unit_is_a_window_named_by_its_design_at_its_design_rectangle) {
  EXPECT_EQ(g_created, 1);
  HWND form = rt::form_handle(kWindow);
  ASSERT_TRUE(form);
  EXPECT_EQ(name_of(form), "测试窗口");
  EXPECT_EQ(text_of(form), "单元测试");
  RECT client;
  GetClientRect(form, &client);
  EXPECT_EQ(client.right, 400);
  EXPECT_EQ(client.bottom, 300);
  for (const UnitDesign& d : kUnits) {
    SCOPED_TRACE(rt::utf8_from_cp936(d.name));
    HWND hwnd = unit(d.name);
    EXPECT_EQ(name_of(hwnd), d.name);
    if (d.kind == UnitKind::Timer) continue;
    RECT r = in_container(hwnd);
    EXPECT_EQ(r.left, d.rect.left);
    EXPECT_EQ(r.top, d.rect.top);
    EXPECT_EQ(r.right - r.left, d.rect.width);
    EXPECT_EQ(r.bottom - r.top, d.rect.height);
    HWND container = d.parent ? unit(d.parent) : form;
    EXPECT_EQ(GetParent(hwnd), container);
  }
  EXPECT_EQ(text_of(unit("按钮")), "立即安装");
  EXPECT_EQ(text_of(unit("目录")), "C:\\程序\\");
  // Earlier rows lie above later ones: the panel over the tab box.
  EXPECT_EQ(GetWindow(unit("面板"), GW_HWNDNEXT), unit("选择夹"));
}

TEST_F(UnitsTest, units_show_only_on_their_page_and_keep_their_own_visibility) {
  EXPECT_TRUE(IsWindowVisible(unit("按钮")));
  EXPECT_FALSE(IsWindowVisible(unit("目录")));
  EXPECT_FALSE(IsWindowVisible(unit("隐藏")));
  EXPECT_FALSE(IsWindowVisible(unit("时钟")));

  rt::unit_set(kWindow, "选择夹", rt::kPropPage, 1);
  EXPECT_EQ(rt::unit_get(kWindow, "选择夹", rt::kPropPage).as_int(), 1);
  EXPECT_FALSE(IsWindowVisible(unit("按钮")));
  EXPECT_TRUE(IsWindowVisible(unit("目录")));
  EXPECT_TRUE(IsWindowVisible(unit("进度")));

  rt::unit_set(kWindow, "隐藏", rt::kPropVisible, true);
  EXPECT_FALSE(IsWindowVisible(unit("隐藏"))) << "its page is not showing";
  rt::unit_set(kWindow, "选择夹", rt::kPropPage, 0);
  EXPECT_TRUE(IsWindowVisible(unit("隐藏")));
  rt::unit_set(kWindow, "面板", rt::kPropVisible, false);
  EXPECT_FALSE(IsWindowVisible(unit("标题"))) << "a hidden container hides its units";
}

TEST_F(UnitsTest, a_page_not_yet_shown_has_no_windows_and_its_units_keep_what_is_written_to_them) {
  HWND form = rt::form_handle(kWindow);
  auto named = [form](const char* name) {
    NameSearch search{name, nullptr};
    EnumChildWindows(form, find_named, reinterpret_cast<LPARAM>(&search));
    return search.found;
  };
  EXPECT_TRUE(named("按钮"));
  EXPECT_TRUE(named("隐藏")) << "on the showing page, though itself hidden";
  for (const char* waiting : {"目录", "浏览", "进度", "状态"}) EXPECT_FALSE(named(waiting)) << waiting;
  EXPECT_FALSE(rt::unit_is_created(kWindow, "目录"));

  rt::unit_set(kWindow, "目录", rt::kPropCaption, "D:\\新的\\");
  rt::unit_set(kWindow, "进度", rt::kPropPosition, 30);
  rt::unit_set(kWindow, "状态", rt::kPropEnabled, false);
  rt::move_unit(kWindow, "浏览", 300);
  EXPECT_EQ(rt::unit_get(kWindow, "目录", rt::kPropCaption).text(), "D:\\新的\\");
  EXPECT_EQ(rt::unit_get(kWindow, "进度", rt::kPropPosition).as_int(), 30);
  EXPECT_FALSE(rt::unit_get(kWindow, "状态", rt::kPropEnabled).as_bool());
  EXPECT_EQ(rt::unit_get(kWindow, "浏览", rt::kPropLeft).as_int(), 300);
  EXPECT_EQ(rt::unit_get(kWindow, "浏览", rt::kPropWidth).as_int(), 60);
  EXPECT_FALSE(named("目录")) << "reading and writing made no window";

  rt::unit_set(kWindow, "选择夹", rt::kPropPage, 1);
  HWND dir = named("目录");
  ASSERT_TRUE(dir);
  EXPECT_TRUE(IsWindowVisible(dir));
  EXPECT_EQ(GetParent(dir), named("选择夹"));
  EXPECT_EQ(text_of(dir), "D:\\新的\\");
  EXPECT_EQ(SendMessageW(named("进度"), PBM_GETPOS, 0, 0), 30);
  EXPECT_FALSE(IsWindowEnabled(named("状态")));
  EXPECT_EQ(in_container(named("浏览")).left, 300);
  // The page's units lie in table order among themselves.
  EXPECT_EQ(GetWindow(dir, GW_HWNDNEXT), named("浏览"));
  EXPECT_EQ(GetWindow(named("浏览"), GW_HWNDNEXT), named("进度"));
  // Back on the first page, the second keeps its windows, hidden.
  rt::unit_set(kWindow, "选择夹", rt::kPropPage, 0);
  EXPECT_EQ(named("目录"), dir);
  EXPECT_FALSE(IsWindowVisible(dir));
}

TEST_F(UnitsTest, an_image_is_decoded_once_for_all_its_units_and_when_a_unit_of_it_first_shows) {
  auto hold = [](const rt::ImageRef& image) { return rt::ImageHold(image.begin, image.size()); };
  rt::ImageHold button = hold(ui::assets::button_normal), hover = hold(ui::assets::button_hover),
                browse = hold(ui::assets::browse);
  EXPECT_TRUE(button->decoded()) << "its unit shows";
  EXPECT_FALSE(hover->decoded()) << "nothing has hovered";
  EXPECT_FALSE(browse->decoded()) << "its page has not shown";
  // The same bytes from elsewhere (a property read back) are the same image.
  rt::Bytes bytes = rt::unit_get(kWindow, "按钮", rt::kPropImage).bytes();
  EXPECT_EQ(rt::ImageHold(bytes.data(), bytes.size())->bitmap(), button->bitmap());
  rt::unit_set(kWindow, "选择夹", rt::kPropPage, 1);
  EXPECT_TRUE(browse->decoded());
  EXPECT_GT(browse->width(), 0);
}

TEST_F(UnitsTest, numbered_properties_read_back_what_was_written) {
  rt::unit_set(kWindow, "标题", rt::kPropCaption, "新的名称");
  EXPECT_EQ(rt::unit_get(kWindow, "标题", rt::kPropCaption).text(), "新的名称");
  EXPECT_EQ(text_of(unit("标题")), "新的名称") << "the window text follows the caption";

  EXPECT_TRUE(rt::unit_get(kWindow, "同意", rt::kPropChecked).as_bool());
  rt::unit_set(kWindow, "同意", rt::kPropChecked, false);
  EXPECT_FALSE(rt::unit_get(kWindow, "同意", rt::kPropChecked).as_bool());

  rt::unit_set(kWindow, "进度", rt::kPropPosition, 42);
  EXPECT_EQ(rt::unit_get(kWindow, "进度", rt::kPropPosition).as_int(), 42);
  rt::unit_set(kWindow, "进度", rt::kPropPosition, 250);
  EXPECT_EQ(rt::unit_get(kWindow, "进度", rt::kPropPosition).as_int(), 100) << "clamped to the range";

  SetWindowTextW(unit("目录"), rt::wide_path("D:\\安装\\").c_str());  // as typed by a person
  EXPECT_EQ(rt::unit_get(kWindow, "目录", rt::kPropCaption).text(), "D:\\安装\\");

  rt::Bytes logo = ui::assets::bytes(ui::assets::logo);
  rt::unit_set(kWindow, "面板", rt::kPropImage, logo);
  EXPECT_EQ(rt::unit_get(kWindow, "面板", rt::kPropImage).bytes(), logo);

  rt::unit_set(kWindow, "链接", rt::kPropTarget, "http://127.0.0.1/协议");
  EXPECT_EQ(rt::unit_get(kWindow, "链接", rt::kPropTarget).text(), "http://127.0.0.1/协议");
  rt::unit_set(kWindow, "状态", rt::kPropTextColor, static_cast<int>(RGB(32, 68, 174)));
  EXPECT_EQ(rt::unit_get(kWindow, "状态", rt::kPropTextColor).as_int(), static_cast<int>(RGB(32, 68, 174)));
  EXPECT_EQ(rt::unit_get(kWindow, "状态", rt::kPropBackColor).as_int(), -1) << "transparent";

  rt::unit_set(kWindow, "", rt::kPropCaption, "软件名称");
  EXPECT_EQ(text_of(rt::form_handle(kWindow)), "软件名称");
  rt::unit_set(kWindow, "", rt::kPropHeight, 250);
  EXPECT_EQ(rt::unit_get(kWindow, "测试窗口", rt::kPropHeight).as_int(), 250);

  rt::move_unit(kWindow, "动画", -1, -1);
  RECT r = in_container(unit("动画"));
  EXPECT_EQ(r.left, -1);
  EXPECT_EQ(r.top, -1);
  EXPECT_EQ(r.right - r.left, 400) << "width kept";
  EXPECT_EQ(rt::client_width(kWindow, "动画"), 400);
  EXPECT_EQ(rt::client_height(kWindow, "动画"), 10);
}

// Dragged to a monitor of twice the DPI, the window is laid out again at the
// rectangle the system suggests; its callers still see 96-DPI units.
TEST_F(UnitsTest, a_dpi_change_lays_the_window_out_again_and_properties_stay_in_design_units) {
  HWND form = rt::form_handle(kWindow);
  const int dpi = rt::window_dpi(form);
  auto px = [&](int v, int at) { return MulDiv(v, at, 96); };
  rt::move_unit(kWindow, "状态", 30, 171);  // a place of its own before the change
  RECT suggested{10, 20, 10 + px(400, 2 * dpi), 20 + px(300, 2 * dpi)};
  SendMessageW(form, WM_DPICHANGED, MAKEWPARAM(2 * dpi, 2 * dpi), reinterpret_cast<LPARAM>(&suggested));
  EXPECT_EQ(rt::window_dpi(unit("按钮")), 2 * dpi);
  RECT w;
  GetWindowRect(form, &w);
  EXPECT_EQ(w.left, 10);
  EXPECT_EQ(w.right - w.left, px(400, 2 * dpi));
  RECT r = in_container(unit("按钮"));
  EXPECT_EQ(r.left, px(100, 2 * dpi));
  EXPECT_EQ(r.bottom - r.top, px(50, 2 * dpi));
  r = in_container(unit("状态"));
  EXPECT_EQ(r.left, px(30, 2 * dpi)) << "a moved unit keeps its new place";
  EXPECT_EQ(rt::unit_get(kWindow, "状态", rt::kPropTop).as_int(), 171);
  EXPECT_EQ(rt::unit_get(kWindow, "按钮", rt::kPropWidth).as_int(), 200);
  EXPECT_EQ(rt::client_width(kWindow, "按钮"), 200);
  EXPECT_EQ(rt::unit_get(kWindow, "按钮", rt::kPropFontHeight).as_int(), 14);
  LOGFONTW font{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(unit("目录"), WM_GETFONT, 0, 0)), sizeof font, &font);
  EXPECT_EQ(-font.lfHeight, px(14, 2 * dpi)) << "fonts follow the DPI";
  rt::unit_set(kWindow, "按钮", rt::kPropLeft, 50);
  EXPECT_EQ(in_container(unit("按钮")).left, px(50, 2 * dpi)) << "writes are scaled too";
}

TEST_F(UnitsTest, clicks_toggle_check_boxes_and_raise_the_table_handlers) {
  auto click = [](HWND hwnd, int x, int y) {
    SendMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    SendMessageW(hwnd, WM_LBUTTONUP, 0, MAKELPARAM(x, y));
  };
  click(unit("按钮"), 20, 20);
  EXPECT_EQ(g_clicks, 1);
  click(unit("同意"), 5, 12);
  EXPECT_FALSE(rt::unit_get(kWindow, "同意", rt::kPropChecked).as_bool());
  click(unit("同意"), 5, 12);
  EXPECT_TRUE(rt::unit_get(kWindow, "同意", rt::kPropChecked).as_bool());

  // Released outside: a press but no click.
  SendMessageW(unit("按钮"), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, 20));
  SendMessageW(unit("按钮"), WM_LBUTTONUP, 0, MAKELPARAM(500, 20));
  EXPECT_EQ(g_clicks, 1);

  click(unit("链接"), 5, 12);
  EXPECT_EQ(g_downs, 1);
  EXPECT_EQ(g_ups, 1);
  EXPECT_FALSE(rt::unit_get(kWindow, "链接", rt::kPropVisited).as_bool()) << "no target, nothing opened";

  // Units without pointer handlers let clicks through to what lies beneath.
  EXPECT_EQ(SendMessageW(unit("面板"), WM_NCHITTEST, 0, 0), HTTRANSPARENT);
  EXPECT_EQ(SendMessageW(unit("标题"), WM_NCHITTEST, 0, 0), HTTRANSPARENT);
  EXPECT_NE(SendMessageW(unit("选择夹"), WM_NCHITTEST, 0, 0), HTTRANSPARENT);
}

TEST_F(UnitsTest, close_request_asks_the_handler_and_close_window_does_not) {
  g_allow_close = false;
  SendMessageW(rt::form_handle(kWindow), WM_CLOSE, 0, 0);
  EXPECT_EQ(g_close_requests, 1);
  EXPECT_TRUE(rt::unit_is_created(kWindow, "按钮"));
  g_allow_close = true;
  rt::close_window(kWindow);
  EXPECT_EQ(g_close_requests, 1);
  EXPECT_FALSE(rt::unit_is_created(kWindow, "按钮"));
  EXPECT_EQ(rt::form_handle(kWindow), nullptr);
  // After closing, accesses are ignored rather than fatal.
  rt::unit_set(kWindow, "进度", rt::kPropPosition, 5);
  EXPECT_EQ(rt::unit_get(kWindow, "进度", rt::kPropPosition).as_int(), 0);
}

TEST_F(UnitsTest, a_worker_sets_progress_and_label_in_order_while_the_window_thread_runs) {
  std::atomic<bool> done{false};
  std::atomic<int> mismatches{0};
  DWORD window_thread = GetCurrentThreadId();
  std::thread worker([&] {
    for (int i = 0; i <= 100; ++i) {
      rt::unit_set(kWindow, "进度", rt::kPropPosition, i);
      std::string status = "正在安装中 " + std::to_string(i) + "%";
      rt::unit_set(kWindow, "状态", rt::kPropCaption, rt::Text(status));
      if (rt::unit_get(kWindow, "进度", rt::kPropPosition).as_int() != i) ++mismatches;
      if (rt::unit_get(kWindow, "状态", rt::kPropCaption).text() != status.c_str()) ++mismatches;
    }
    // A timer can only be started on the window's own thread.
    rt::unit_set(kWindow, "时钟", rt::kPropPeriod, 20);
    rt::unit_set(kWindow, "选择夹", rt::kPropPage, 1);
    done = true;
  });
  ASSERT_TRUE(pump_until([&] { return done.load(); }));
  worker.join();
  EXPECT_EQ(mismatches, 0);
  EXPECT_EQ(rt::unit_get(kWindow, "进度", rt::kPropPosition).as_int(), 100);
  EXPECT_EQ(text_of(unit("状态")), "正在安装中 100%");
  EXPECT_TRUE(IsWindowVisible(unit("进度")));
  ASSERT_TRUE(pump_until([] { return g_ticks >= 2; }));
  EXPECT_EQ(g_tick_thread, window_thread);
  rt::unit_set(kWindow, "时钟", rt::kPropPeriod, 0);
}

TEST_F(UnitsTest, a_worker_outliving_the_window_is_ignored) {
  rt::close_window(kWindow);
  std::thread worker([] {
    rt::unit_set(kWindow, "状态", rt::kPropCaption, "晚了");
    rt::move_unit(kWindow, "状态", 1, 1);
  });
  worker.join();
  EXPECT_FALSE(rt::unit_is_created(kWindow, ""));
}

// ---- modal windows ------------------------------------------------------

void modal_created();
bool g_owner_was_disabled = false;
const UnitDesign kModalUnits[] = {
    {.name = "确定", .kind = UnitKind::SuperBtn, .rect = {10, 10, 90, 36}, .caption = "确定",
     .back = {rt::rgb(0, 111, 221), rt::rgb(0, 125, 251)}},
};
const WindowDesign kModal = {.name = "PromptWindow", .caption = "提示信息", .rect = {0, 0, 200, 100},
                             .units = kModalUnits, .on_created = modal_created};
void modal_created() { PostMessageW(rt::form_handle(kModal), WM_APP + 1, 0, 0); }

void CALLBACK close_modal_later(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  g_owner_was_disabled = !IsWindowEnabled(rt::form_handle(kWindow));
  rt::close_window(kModal);
}

TEST_F(UnitsTest, a_modal_window_disables_its_owner_and_returns_when_closed) {
  HWND owner = rt::form_handle(kWindow);
  // Close the modal window from inside its own run, once it shows.
  SetTimer(nullptr, 0, 50, close_modal_later);
  ASSERT_TRUE(rt::load_window(kModal, owner, true));
  EXPECT_TRUE(g_owner_was_disabled);
  EXPECT_TRUE(IsWindowEnabled(owner));
  EXPECT_EQ(rt::form_handle(kModal), nullptr);
}

TEST(UnitsFatal, a_window_never_loaded_is_a_fatal_report) {
  static const WindowDesign never{.name = "从未载入"};
  rt::set_report_sink([](const std::string& report) {
    std::fputs(report.c_str(), stderr);
    std::fflush(stderr);
  });
  EXPECT_EXIT(rt::unit_get(never, "x", rt::kPropCaption), testing::ExitedWithCode(-1),
              testing::HasSubstr(std::string("未载入欲访问窗口组件所在的窗口")));
}

// The program is named by its full path and quoted, the target quoted: no
// bare name is ever searched for from the installer's own folder.
TEST(OpenLink, the_browser_command_is_cut_at_the_placeholder) {
  EXPECT_EQ(rt::link_command_line("\"C:\\b.exe\" -nohome \"%1\"", "http://h/a").str(),
            "\"C:\\b.exe\" -nohome  \"http://h/a\"");
  EXPECT_EQ(rt::link_command_line("C:\\b.exe %1 -x", "http://h/a").str(), "\"C:\\b.exe\"  \"http://h/a\"");
  EXPECT_EQ(rt::link_command_line("\"C:\\Program Files\\b.exe\"", "http://h/a").str(),
            "\"C:\\Program Files\\b.exe\" \"http://h/a\"");
  EXPECT_TRUE(rt::link_command_line("b.exe %1 -x", "http://h/a").empty());
  EXPECT_TRUE(rt::link_command_line("b.exe", "http://h/a").empty());
  EXPECT_TRUE(rt::link_command_line("C:\\b.exe %1", "http://h/a\" -evil").empty());
  EXPECT_FALSE(rt::open_link(""));
}

}  // namespace
