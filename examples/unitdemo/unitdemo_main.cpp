// unitdemo.exe: the window-unit toolkit's sample. One skinned window with a
// row per unit kind (the kind's name, then a unit of that kind), the prompt
// every program asks through, and a worker thread that drives the progress
// bar through the cross-thread unit services.
#include <windows.h>

#include <atomic>
#include <cstring>
#include <string>

#include "runtime/units/units.h"
#include "ui/assets.h"
#include "ui/image_services.h"
#include "ui/prompt_window.h"
#include "ui/window_frame.h"

namespace {

using rt::rgb;
using rt::UnitDesign;
using rt::UnitKind;
using rt::WindowDesign;

constexpr rt::Color kPanel = rgb(248, 249, 252);
constexpr rt::Color kWhite = rgb(255, 255, 255);
constexpr rt::Color kTint = rgb(236, 241, 250);
constexpr rt::Color kBlue = rgb(0, 111, 221);
constexpr rt::Color kGrey = rgb(120, 128, 140);

void on_close_button();
void on_browse();
void on_start();
void on_tick();
void show_second_page();
void show_first_page();
void demo_created();
bool demo_confirm_close();

const char* const kPages[] = {"第一页", "第二页"};

// Row r: the kind's name at the left, its unit from x 150.
constexpr int row(int r) { return 64 + 36 * r; }
#define KIND_NAME(r, kind_name)                                                                        \
  UnitDesign {                                                                                          \
    .name = kind_name, .kind = UnitKind::Label, .rect = {24, row(r), 120, 30}, .caption = kind_name, \
    .text = {kGrey}                                                                                     \
  }

const UnitDesign kDemoUnits[] = {
    {.name = "标题栏", .kind = UnitKind::PicBox, .rect = {0, 0, 600, 52}, .back = {kPanel}},
    {.name = "标题", .kind = UnitKind::TransLabel, .parent = "标题栏", .rect = {24, 10, 300, 32},
     .caption = "窗口组件示例", .font = {20}, .text = {rgb(24, 32, 52)}},
    {.name = "关闭", .kind = UnitKind::PicBtn, .parent = "标题栏", .rect = {556, 12, 28, 28},
     .image = {&ui::assets::close_normal, &ui::assets::close_hover}, .hand_cursor = true,
     .on_click = on_close_button},

    KIND_NAME(0, "Label"),
    {.name = "标签", .kind = UnitKind::Label, .rect = {150, row(0), 420, 30}, .caption = "文字在自己的底色上",
     .back = {kTint}},
    KIND_NAME(1, "TransLabel"),
    {.name = "透明标签", .kind = UnitKind::TransLabel, .rect = {150, row(1), 420, 30},
     .caption = "透明的标签：窗口的底色透出来"},
    KIND_NAME(2, "EditBox"),
    {.name = "编辑框", .kind = UnitKind::EditBox, .rect = {150, row(2) - 2, 300, 34},
     .caption = "C:\\Program Files\\Tarnel\\", .back = {rgb(240, 248, 255)}},
    KIND_NAME(3, "PicBtn"),
    {.name = "图片按钮", .kind = UnitKind::PicBtn, .rect = {150, row(3) - 4, 90, 38}, .image = {&ui::assets::browse},
     .hand_cursor = true, .on_click = on_browse},
    KIND_NAME(4, "CheckBox"),
    {.name = "复选框", .kind = UnitKind::CheckBox, .rect = {150, row(4), 200, 30}, .caption = "已阅读并同意",
     .checked = true},
    KIND_NAME(5, "HyperLinker"),
    {.name = "超级链接框", .kind = UnitKind::HyperLinker, .rect = {150, row(5), 200, 30},
     .caption = "翻到选择夹的第二页 >>", .on_mouse_down = show_second_page},
    KIND_NAME(6, "TabBox"),
    {.name = "选择夹", .kind = UnitKind::TabBox, .rect = {150, row(6), 420, 30}, .back = {kTint}, .pages = kPages},
    {.name = "第一页内容", .kind = UnitKind::TransLabel, .parent = "选择夹", .page = 0, .rect = {10, 0, 300, 30},
     .caption = "选择夹的第一页"},
    {.name = "返回第一页", .kind = UnitKind::HyperLinker, .parent = "选择夹", .page = 1, .rect = {10, 0, 200, 30},
     .caption = "<< 第二页：返回第一页", .on_mouse_up = show_first_page},
    KIND_NAME(7, "PicBox"),
    {.name = "图片框", .kind = UnitKind::PicBox, .rect = {150, row(7) - 1, 32, 32}, .image = {&ui::assets::logo}},
    KIND_NAME(8, "CartoonBox"),
    {.name = "动画框", .kind = UnitKind::CartoonBox, .rect = {150, row(8) + 4, 420, 22}, .back = {kBlue}},
    KIND_NAME(9, "SuperBtn"),
    {.name = "超级按钮", .kind = UnitKind::SuperBtn, .rect = {150, row(9) - 2, 120, 34}, .caption = "开始",
     .text = {kWhite}, .back = {kBlue, rgb(0, 125, 251), rgb(0, 125, 251)}, .align = rt::Align::Center,
     .hand_cursor = true, .on_click = on_start},
    KIND_NAME(10, "ProcessBar"),
    {.name = "进度条", .kind = UnitKind::ProcessBar, .rect = {150, row(10) + 8, 300, 14}},
    KIND_NAME(11, "Timer"),
    // The timer is invisible: its row shows what it writes.
    {.name = "时钟", .kind = UnitKind::Timer, .on_tick = on_tick},
    {.name = "状态", .kind = UnitKind::Label, .rect = {150, row(11), 300, 30}, .caption = "时钟停着"},
    // Last, so that it lies below the others: the window's white ground.
    {.name = "底板", .kind = UnitKind::PicBox, .rect = {0, 0, 600, 510}, .back = {kWhite}},
};

const WindowDesign kDemoWindow = {
    .name = "DemoWindow",
    .caption = "窗口组件示例",
    .rect = {50, 50, 600, 510},
    .back = kWhite,
    .units = kDemoUnits,
    .centered = true,
    .main_window = true,
    .on_created = demo_created,
    .on_close = demo_confirm_close,
};

std::atomic<int> g_percent{0};

void on_close_button() { PostMessageW(rt::form_handle(kDemoWindow), WM_CLOSE, 0, 0); }

bool demo_confirm_close() {
  ui::Prompt prompt;
  prompt.message = "确定要关闭示例窗口吗？";
  prompt.over = rt::form_handle(kDemoWindow);
  return ui::ask(prompt) == ui::PromptAnswer::Ok;
}

void show_second_page() { rt::unit_set(kDemoWindow, "选择夹", rt::kPropPage, 1); }
void show_first_page() { rt::unit_set(kDemoWindow, "选择夹", rt::kPropPage, 0); }

void on_browse() { rt::unit_set(kDemoWindow, "编辑框", rt::kPropCaption, "D:\\Apps\\"); }

// The worker touches units only through the services, which carry each
// access over to the window thread.
unsigned long __stdcall worker(void*) {
  for (int i = 0; i <= 100; ++i) {
    g_percent = i;
    rt::unit_set(kDemoWindow, "进度条", rt::kPropPosition, i);
    Sleep(25);
  }
  Sleep(300);
  rt::unit_set(kDemoWindow, "时钟", rt::kPropPeriod, 0);
  rt::unit_set(kDemoWindow, "超级按钮", rt::kPropCaption, "完成");
  return 0;
}

void on_start() {
  rt::unit_set(kDemoWindow, "超级按钮", rt::kPropEnabled, false);
  rt::unit_set(kDemoWindow, "时钟", rt::kPropPeriod, 100);
  // A demo started with --hold stays at its first state for screenshots.
  if (std::strstr(GetCommandLineA(), "--hold")) return;
  DWORD id = 0;
  if (HANDLE thread = CreateThread(nullptr, 0, worker, nullptr, 0, &id)) CloseHandle(thread);
}

void on_tick() {
  std::string status = "进度 " + std::to_string(g_percent.load()) + "%";
  rt::unit_set(kDemoWindow, "状态", rt::kPropCaption, rt::Text(status));
}

void demo_created() { ui::EnableWindowFrame(kDemoWindow, ui::WindowFrameOptions{}); }

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  ui::StartImageServices();
  if (!rt::load_window(kDemoWindow)) return 1;
  return rt::run_message_loop();
}
