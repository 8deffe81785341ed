// unitdemo.exe: the window-unit toolkit's sample. One skinned window with
// every unit kind, laid out like the installer's own window, and a modal
// prompt window; a worker thread drives the progress page through the
// cross-thread unit services.
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime/units/units.h"
#include "ui/assets.h"
#include "ui/image_services.h"
#include "ui/png_control.h"
#include "ui/window_frame.h"

namespace {

using rt::UnitDesign;
using rt::UnitKind;
using rt::WindowDesign;
using rt::rgb;

constexpr rt::Color kPanel = rgb(248, 249, 252);
constexpr rt::Color kWhite = rgb(255, 255, 255);
constexpr rt::Color kTitleBlue = rgb(32, 68, 174);

void on_close_button();
void on_install();
void on_finish();
void show_custom_page();
void show_home_page();
void on_browse();
void drag_window();
void on_tick();
void demo_created();
bool demo_confirm_close();
void prompt_opened();
void prompt_ok();
void prompt_cancel();

const char* const kPages[] = {"首页安装", "选择文件夹", "正在安装", "安装完成", "网络错误"};

#define ACTION_BUTTON(unit_name, label, page_no, handler)                                                        \
  UnitDesign {                                                                                                  \
    .name = unit_name, .kind = UnitKind::SuperBtn, .parent = "选择夹1", .page = page_no,                        \
    .rect = {195, 252, 210, 56}, .caption = label, .font = {19}, .text = {kWhite},                               \
    .image = {&ui::assets::button_normal, &ui::assets::button_hover}, .hand_cursor = true, .on_click = handler \
  }

const UnitDesign kDemoUnits[] = {
    {.name = "图片框1", .kind = UnitKind::PicBox, .rect = {0, 0, 600, 240}, .back = {kPanel}},
    {.name = "关闭", .kind = UnitKind::PicBtn, .parent = "图片框1", .rect = {556, 16, 28, 28},
     .image = {&ui::assets::close_normal, &ui::assets::close_hover}, .hand_cursor = true,
     .on_click = on_close_button},
    {.name = "logo", .kind = UnitKind::PicBox, .parent = "图片框1", .rect = {255, 68, 90, 90}},
    {.name = "标签_软件名称", .kind = UnitKind::TransLabel, .parent = "图片框1", .rect = {120, 183, 360, 40},
     .caption = "Tarnel安装程序", .font = {29}, .text = {rgb(24, 32, 52)}, .align = rt::Align::Center},
    {.name = "选择夹1", .kind = UnitKind::TabBox, .rect = {0, 0, 600, 456}, .back = {kPanel}, .pages = kPages,
     .on_mouse_down = drag_window},
    // Page 0: home.
    ACTION_BUTTON("立即安装", "立即安装", 0, on_install),
    {.name = "分隔线", .kind = UnitKind::CartoonBox, .parent = "选择夹1", .page = 0, .rect = {26, 340, 548, 1},
     .back = {rgb(230, 234, 242)}},
    {.name = "许可协议", .kind = UnitKind::CheckBox, .parent = "选择夹1", .page = 0, .rect = {26, 355, 110, 24},
     .caption = "已阅读并同意", .font = {14}, .checked = true},
    {.name = "超级链接框1", .kind = UnitKind::HyperLinker, .parent = "选择夹1", .page = 0,
     .rect = {130, 355, 86, 24}, .caption = "用户使用协议", .font = {14}},
    {.name = "自定义安装", .kind = UnitKind::HyperLinker, .parent = "选择夹1", .page = 0,
     .rect = {478, 355, 96, 24}, .caption = "自定义安装 >>", .font = {14}, .align = rt::Align::Right,
     .on_mouse_down = show_custom_page},
    // Page 1: custom folder.
    ACTION_BUTTON("立即安装2", "立即安装", 1, on_install),
    {.name = "返回首页", .kind = UnitKind::HyperLinker, .parent = "选择夹1", .page = 1, .rect = {15, 15, 56, 24},
     .caption = "<< 返回", .font = {14}, .on_mouse_up = show_home_page},
    {.name = "标签1", .kind = UnitKind::Label, .parent = "选择夹1", .page = 1, .rect = {46, 64, 136, 32},
     .caption = "自定义安装", .font = {24}, .text = {kTitleBlue}},
    {.name = "标签2", .kind = UnitKind::Label, .parent = "选择夹1", .page = 1, .rect = {48, 120, 80, 24},
     .caption = "安装路径", .font = {16}},
    {.name = "安装目录", .kind = UnitKind::EditBox, .parent = "选择夹1", .page = 1, .rect = {48, 152, 402, 38},
     .caption = "C:\\Program Files\\Tarnel\\", .font = {14}, .back = {rgb(240, 248, 255)}},
    {.name = "浏览", .kind = UnitKind::PicBtn, .parent = "选择夹1", .page = 1, .rect = {455, 152, 90, 38},
     .image = {&ui::assets::browse}, .hand_cursor = true, .on_click = on_browse},
    {.name = "快捷方式", .kind = UnitKind::CheckBox, .parent = "选择夹1", .page = 1, .rect = {48, 200, 176, 24},
     .caption = "创建桌面快捷方式", .font = {16}, .checked = true},
    // Page 2: installing.
    {.name = "时钟1", .kind = UnitKind::Timer, .parent = "选择夹1", .page = 2, .on_tick = on_tick},
    {.name = "更新状态", .kind = UnitKind::Label, .parent = "选择夹1", .page = 2, .rect = {172, 312, 256, 24},
     .caption = "正在安装中 0%，请稍侯...", .font = {14}, .align = rt::Align::Center},
    {.name = "进度条", .kind = UnitKind::ProcessBar, .parent = "选择夹1", .page = 2, .rect = {40, 272, 520, 16}},
    // Page 3: finished.
    ACTION_BUTTON("安装完成", "安装完成", 3, on_finish),
    // Page 4: network failure.
    ACTION_BUTTON("重新安装", "重新安装", 4, on_install),
    {.name = "离线网址", .kind = UnitKind::HyperLinker, .parent = "选择夹1", .page = 4,
     .rect = {240, 336, 120, 24}, .caption = "下载离线安装包", .font = {16}, .align = rt::Align::Center},
};

const WindowDesign kDemoWindow = {
    .name = "InstallerWindow",
    .caption = "Tarnel安装程序",
    .rect = {50, 50, 600, 400},
    .units = kDemoUnits,
    .centered = true,
    .main_window = true,
    .on_created = demo_created,
    .on_close = demo_confirm_close,
};

const UnitDesign kPromptUnits[] = {
    {.name = "图片框_标题栏", .kind = UnitKind::PicBox, .rect = {0, 0, 800, 42}, .back = {kPanel}},
    {.name = "标签7", .kind = UnitKind::Label, .parent = "图片框_标题栏", .rect = {18, 3, 65, 35},
     .caption = "提示信息", .font = {16}, .text = {kTitleBlue}},
    {.name = "取消", .kind = UnitKind::SuperBtn, .rect = {194, 139, 90, 36}, .caption = "取消", .font = {14},
     .text = {kWhite}, .back = {rgb(225, 72, 72), rgb(228, 97, 97), rgb(228, 97, 97)}, .hand_cursor = true,
     .on_click = prompt_cancel},
    {.name = "信息标签", .kind = UnitKind::Label, .rect = {35, 72, 357, 40},
     .caption = "安装尚未开始，点击确定后取消安装，点击取消后继续安装。", .font = {16},
     .text = {rgb(32, 32, 32)}, .back = {kWhite}},
    {.name = "确定", .kind = UnitKind::SuperBtn, .rect = {296, 139, 90, 36}, .caption = "确定", .font = {14},
     .text = {kWhite}, .back = {rgb(0, 111, 221), rgb(0, 125, 251), rgb(0, 125, 251)}, .hand_cursor = true,
     .on_click = prompt_ok},
    {.name = "动画框1", .kind = UnitKind::CartoonBox, .rect = {8, 8, 40, 40}, .back = {kWhite}},
};

const WindowDesign kPromptWindow = {
    .name = "PromptWindow",
    .caption = "提示信息",
    .rect = {50, 50, 420, 210},
    .back = kWhite,
    .units = kPromptUnits,
    .on_created = prompt_opened,
};

ui::WindowFrameOptions g_frame{};
std::string g_prompt_answer;
std::atomic<int> g_percent{0};

void on_close_button() { PostMessageW(rt::form_handle(kDemoWindow), WM_CLOSE, 0, 0); }

bool demo_confirm_close() {
  rt::load_window(kPromptWindow, nullptr, true);
  return g_prompt_answer == "ok";
}

void prompt_opened() {
  ui::EnableWindowFrame(kPromptWindow, g_frame);
  int w = rt::unit_get(kPromptWindow, "", rt::kPropWidth).as_int();
  int h = rt::unit_get(kPromptWindow, "", rt::kPropHeight).as_int();
  rt::move_unit(kPromptWindow, "动画框1", -1, -1, w + 2, h + 2);
  rt::unit_set(kPromptWindow, "图片框_标题栏", rt::kPropWidth, w);
  if (HWND owner = rt::form_handle(kDemoWindow)) {
    RECT r;
    GetWindowRect(owner, &r);
    rt::unit_set(kPromptWindow, "", rt::kPropLeft, static_cast<int>(r.left + (r.right - r.left - w) / 2.0));
    rt::unit_set(kPromptWindow, "", rt::kPropTop, static_cast<int>(r.top + (r.bottom - r.top - h) / 2.0));
  }
}

void prompt_ok() {
  g_prompt_answer = "ok";
  rt::close_window(kPromptWindow);
}

void prompt_cancel() {
  g_prompt_answer = "cancel";
  rt::close_window(kPromptWindow);
}

void show_custom_page() {
  rt::unit_set(kDemoWindow, "图片框1", rt::kPropVisible, false);
  rt::unit_set(kDemoWindow, "选择夹1", rt::kPropPage, 1);
}

void show_home_page() {
  rt::unit_set(kDemoWindow, "图片框1", rt::kPropVisible, true);
  rt::unit_set(kDemoWindow, "选择夹1", rt::kPropPage, 0);
}

void on_browse() { rt::unit_set(kDemoWindow, "安装目录", rt::kPropCaption, "D:\\Apps\\"); }

void drag_window() {
  HWND hwnd = rt::form_handle(kDemoWindow);
  ReleaseCapture();
  SendMessageW(hwnd, WM_SYSCOMMAND, SC_MOVE | HTCAPTION, 0);
  SendMessageW(hwnd, WM_NCLBUTTONDOWN, HTCAPTION, 0);
}

// The worker touches units only through the services, which carry each
// access over to the window thread.
unsigned long __stdcall install_worker(void*) {
  for (int i = 0; i <= 100; ++i) {
    g_percent = i;
    rt::unit_set(kDemoWindow, "进度条", rt::kPropPosition, i);
    Sleep(25);
  }
  Sleep(300);
  rt::unit_set(kDemoWindow, "时钟1", rt::kPropPeriod, 0);
  rt::unit_set(kDemoWindow, "选择夹1", rt::kPropPage, 3);
  return 0;
}

void on_install() {
  if (!rt::unit_get(kDemoWindow, "许可协议", rt::kPropChecked).as_bool()) return;
  rt::unit_set(kDemoWindow, "图片框1", rt::kPropVisible, true);
  rt::unit_set(kDemoWindow, "选择夹1", rt::kPropPage, 2);
  rt::unit_set(kDemoWindow, "时钟1", rt::kPropPeriod, 100);
  // A demo started with --hold stays at its first state for screenshots.
  if (std::strstr(GetCommandLineA(), "--hold")) return;
  DWORD id = 0;
  if (HANDLE thread = CreateThread(nullptr, 0, install_worker, nullptr, 0, &id)) CloseHandle(thread);
}

void on_tick() {
  std::string status = "正在安装中 " + std::to_string(g_percent.load()) + "%，请稍侯...";
  rt::unit_set(kDemoWindow, "更新状态", rt::kPropCaption, rt::Text(status));
}

void on_finish() { rt::close_window(kDemoWindow); }

void demo_created() {
  ui::EnableWindowFrame(kDemoWindow, g_frame);
  HWND header = rt::unit_window_handle(kDemoWindow, "图片框1");
  ui::PngControl logo;
  logo.Create(header, ui::assets::bytes(ui::assets::logo), 255, 68, 90, 90);
  logo.SetBackType(ui::kBackStretch);
  logo.SetToolTip("Tarnel");
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  ui::StartImageServices();
  if (!rt::load_window(kDemoWindow)) return 1;
  return rt::run_message_loop();
}
