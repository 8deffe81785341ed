#include "ui/prompt_window.h"

#include <algorithm>
#include <string_view>

#include "ui/window_frame.h"

namespace ui {

namespace {

using rt::rgb;
using rt::UnitKind;

constexpr rt::Color kPanel = rgb(248, 249, 252);
constexpr rt::Color kWhite = rgb(255, 255, 255);
constexpr rt::Color kTitleBlue = rgb(32, 68, 174);

void prompt_opened();
void prompt_ok();
void prompt_cancel();

const rt::UnitDesign kUnits[] = {
    {.name = "图片框_标题栏", .kind = UnitKind::PicBox, .rect = {0, 0, 800, 42}, .back = {kPanel}},
    {.name = "标签7", .kind = UnitKind::Label, .parent = "图片框_标题栏", .rect = {18, 3, 380, 35},
     .caption = "提示信息", .font = {16}, .text = {kTitleBlue}},
    {.name = "取消", .kind = UnitKind::SuperBtn, .rect = {194, 139, 90, 36}, .caption = "取消", .font = {14},
     .text = {kWhite}, .back = {rgb(225, 72, 72), rgb(228, 97, 97), rgb(228, 97, 97)},
     .align = rt::Align::Center, .hand_cursor = true, .on_click = prompt_cancel},
    {.name = "信息标签", .kind = UnitKind::Label, .rect = {35, 72, 357, 40}, .font = {16},
     .text = {rgb(32, 32, 32)}, .back = {kWhite}},
    {.name = "确定", .kind = UnitKind::SuperBtn, .rect = {296, 139, 90, 36}, .caption = "确定", .font = {14},
     .text = {kWhite}, .back = {rgb(0, 111, 221), rgb(0, 125, 251), rgb(0, 125, 251)},
     .align = rt::Align::Center, .hand_cursor = true, .on_click = prompt_ok},
    // Last, so that it lies below the others: it is stretched over the whole
    // window as its white background.
    {.name = "动画框1", .kind = UnitKind::CartoonBox, .rect = {8, 8, 40, 40}, .back = {kWhite}},
};

// What the open prompt shows and what was answered (the prompt's thread only).
Prompt g_prompt;
PromptAnswer g_answer = PromptAnswer::Closed;

// Lines the message takes in a label `width` pixels wide: at the 16-pixel
// font a code page 936 byte is about 8 pixels wide (a Chinese character two
// bytes, 16 pixels); a rough count, rounded up, is enough to size the window.
int message_lines(std::string_view text, int width) {
  const int bytes_per_line = std::max(1, width / 8);
  int lines = 0;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = text.find('\n', start);
    std::size_t length = (end == std::string_view::npos ? text.size() : end) - start;
    lines += std::max<int>(1, static_cast<int>((length + bytes_per_line - 1) / bytes_per_line));
    if (end == std::string_view::npos) return lines;
    start = end + 1;
  }
}

void centre(HWND prompt, HWND over) {
  RECT area{}, r{};
  if (over && IsWindow(over))
    GetWindowRect(over, &area);
  else
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  GetWindowRect(prompt, &r);
  rt::Rect at = centred_over({area.left, area.top, area.right - area.left, area.bottom - area.top},
                             r.right - r.left, r.bottom - r.top);
  SetWindowPos(prompt, nullptr, at.left, at.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void prompt_opened() {
  const rt::WindowDesign& w = kPromptWindow;
  // The frame first: from then on the whole window is client area.
  EnableWindowFrame(w, WindowFrameOptions{});
  // Messages of up to two lines keep 420 x 210; a list widens the window
  // and makes it taller, up to what a small screen shows.
  const bool wide = g_prompt.message.view().find('\n') != std::string_view::npos;
  const int width = wide ? 600 : 420;
  const int label_width = width - 63;
  const int line_height = 22;
  const int lines = message_lines(g_prompt.message.view(), label_width);
  const int label_height = lines <= 2 ? 40 : std::min(lines, 22) * line_height;
  const int height = 210 + label_height - 40;
  rt::unit_set(w, "", rt::kPropCaption, g_prompt.title);
  rt::move_unit(w, "", {}, {}, width, height);
  rt::move_unit(w, "动画框1", -1, -1, width + 2, height + 2);
  rt::unit_set(w, "图片框_标题栏", rt::kPropWidth, width);
  rt::unit_set(w, "标签7", rt::kPropCaption, g_prompt.title);
  rt::move_unit(w, "信息标签", {}, {}, label_width, label_height);
  rt::unit_set(w, "信息标签", rt::kPropCaption, g_prompt.message);
  const int buttons_top = height - 71;
  rt::move_unit(w, "确定", width - 124, buttons_top);
  rt::move_unit(w, "取消", width - 226, buttons_top);
  if (!g_prompt.with_cancel) rt::unit_set(w, "取消", rt::kPropVisible, false);
  centre(rt::form_handle(w), g_prompt.over);
}

void prompt_ok() {
  g_answer = PromptAnswer::Ok;
  rt::close_window(kPromptWindow);
}

void prompt_cancel() {
  g_answer = PromptAnswer::Cancel;
  rt::close_window(kPromptWindow);
}

}  // namespace

const rt::WindowDesign kPromptWindow{
    .name = "PromptWindow",
    .caption = "提示信息",
    .rect = {50, 50, 420, 210},
    .back = kWhite,
    .units = kUnits,
    .on_created = prompt_opened,
};

rt::Rect centred_over(const rt::Rect& owner, int width, int height) {
  rt::Rect r;
  r.left = static_cast<int>(owner.left + (owner.width - width) / 2.0);
  r.top = static_cast<int>(owner.top + (owner.height - height) / 2.0);
  r.width = width;
  r.height = height;
  return r;
}

PromptAnswer last_answer() { return g_answer; }

PromptAnswer ask(const Prompt& prompt) {
  g_prompt = prompt;
  g_answer = PromptAnswer::Closed;
  if (!rt::load_window(kPromptWindow, nullptr, true)) return PromptAnswer::Closed;
  return g_answer;
}

}  // namespace ui
