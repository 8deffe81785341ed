// The uninstaller's question and result in the installer's prompt-window
// look: a borderless white window with a title bar, the message, a blue
// "确定" and a red "取消". The window grows with the message, which may list
// what could not be removed.
#include <windows.h>

#include <algorithm>

#include "installer/uninstaller/uninstall.h"
#include "runtime/units/units.h"
#include "ui/window_frame.h"

namespace installer {

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
     .text = {kWhite}, .back = {rgb(225, 72, 72), rgb(228, 97, 97), rgb(228, 97, 97)}, .hand_cursor = true,
     .on_click = prompt_cancel},
    {.name = "信息标签", .kind = UnitKind::Label, .rect = {35, 72, 357, 40}, .font = {16},
     .text = {rgb(32, 32, 32)}, .back = {kWhite}},
    {.name = "确定", .kind = UnitKind::SuperBtn, .rect = {296, 139, 90, 36}, .caption = "确定", .font = {14},
     .text = {kWhite}, .back = {rgb(0, 111, 221), rgb(0, 125, 251), rgb(0, 125, 251)}, .hand_cursor = true,
     .on_click = prompt_ok},
    {.name = "动画框1", .kind = UnitKind::CartoonBox, .rect = {8, 8, 40, 40}, .back = {kWhite}},
};

const rt::WindowDesign kPrompt = {
    .name = "PromptWindow",
    .caption = "提示信息",
    .rect = {50, 50, 420, 210},
    .back = kWhite,
    .units = kUnits,
    .centered = true,
    .on_created = prompt_opened,
};

// What the open prompt shows and what was answered (window thread only).
struct PromptState {
  rt::Text title;
  rt::Text message;
  bool with_cancel = true;
  bool ok = false;
};
PromptState g_prompt;

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

void prompt_opened() {
  // Short questions keep the installer's 420 x 210; a list widens the window
  // and makes it taller, up to what a small screen shows.
  const bool wide = g_prompt.message.view().find('\n') != std::string_view::npos;
  const int width = wide ? 600 : 420;
  const int label_width = width - 63;
  const int line_height = 22;
  const int label_height =
      std::min(std::max(40, message_lines(g_prompt.message.view(), label_width) * line_height), 22 * line_height);
  const int height = 210 + label_height - 40;
  rt::unit_set(kPrompt, "", rt::kPropCaption, g_prompt.title);
  rt::unit_set(kPrompt, "", rt::kPropWidth, width);
  rt::unit_set(kPrompt, "", rt::kPropHeight, height);
  rt::move_unit(kPrompt, "动画框1", -1, -1, width + 2, height + 2);
  rt::unit_set(kPrompt, "图片框_标题栏", rt::kPropWidth, width);
  rt::unit_set(kPrompt, "标签7", rt::kPropCaption, g_prompt.title);
  rt::move_unit(kPrompt, "信息标签", {}, {}, label_width, label_height);
  rt::unit_set(kPrompt, "信息标签", rt::kPropCaption, g_prompt.message);
  const int buttons_top = height - 71;
  rt::move_unit(kPrompt, "确定", width - 124, buttons_top);
  rt::move_unit(kPrompt, "取消", width - 226, buttons_top);
  rt::unit_set(kPrompt, "取消", rt::kPropVisible, g_prompt.with_cancel);
  // The frame last, once everything it shows is in place.
  ui::WindowFrameOptions frame{};
  ui::EnableWindowFrame(kPrompt, frame);
}

void prompt_ok() {
  g_prompt.ok = true;
  rt::close_window(kPrompt);
}

void prompt_cancel() {
  g_prompt.ok = false;
  rt::close_window(kPrompt);
}

}  // namespace

bool uninstall_prompt(const rt::Text& title, const rt::Text& message, bool with_cancel) {
  g_prompt = {title, message, with_cancel, false};
  // Closed any other way (Alt+F4), the answer stays "no".
  if (!rt::load_window(kPrompt, nullptr, true)) return false;
  return g_prompt.ok;
}

}  // namespace installer
