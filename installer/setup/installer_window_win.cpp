#include "installer/setup/installer_window.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>

#include "installer/setup/controller.h"
#include "installer/setup/session.h"
#include "installer/steps/dotnet.h"
#include "installer/platform/launch.h"
#include "runtime/value/codepage.h"
#include "runtime/services/system_services.h"
#include "ui/assets.h"
#include "ui/prompt_window.h"

namespace installer {

namespace {

using rt::rgb;
using rt::UnitDesign;
using rt::UnitKind;

constexpr rt::Color kPanel = rgb(248, 249, 252);
constexpr rt::Color kWhite = rgb(255, 255, 255);
constexpr rt::Color kTitleBlue = rgb(32, 68, 174);

const rt::ImageRef* const kActionImages[4] = {&ui::assets::button_normal, &ui::assets::button_hover, nullptr, nullptr};
const rt::ImageRef* const kCloseImages[4] = {&ui::assets::close_normal, &ui::assets::close_hover, nullptr, nullptr};
const rt::ImageRef* const kBrowseImages[4] = {&ui::assets::browse, nullptr, nullptr, nullptr};

const char* const kPages[] = {"首页安装", "选择文件夹", "正在安装", "安装完成", "网络错误"};

// The large action buttons share everything but name, page, caption and handler.
UnitDesign action_button(const char* name, int page, const char* caption, rt::Handler on_click) {
  UnitDesign u{};
  u.name = name;
  u.kind = UnitKind::SuperBtn;
  u.parent = "选择夹1";
  u.page = page;
  u.rect = {195, 252, 210, 56};
  u.caption = caption;
  u.font = {19};
  u.text[0] = u.text[1] = u.text[2] = kWhite;
  u.image[0] = kActionImages[0];
  u.image[1] = kActionImages[1];
  u.align = rt::Align::Center;
  u.hand_cursor = true;
  u.on_click = on_click;
  return u;
}

const UnitDesign kInstallerUnits[] = {
    // The header lies above the tab box: earlier rows are on top.
    {.name = "图片框1", .kind = UnitKind::PicBox, .rect = {0, 0, 600, 240}, .back = {kPanel}},
    {.name = "关闭",
     .kind = UnitKind::PicBtn,
     .parent = "图片框1",
     .rect = {556, 16, 28, 28},
     .image = {kCloseImages[0], kCloseImages[1]},
     .hand_cursor = true,
     .on_click = on_close_button},
    {.name = "logo", .kind = UnitKind::PicBox, .parent = "图片框1", .rect = {255, 68, 90, 90}},
    {.name = "标签_软件名称",
     .kind = UnitKind::TransLabel,
     .parent = "图片框1",
     .rect = {120, 183, 360, 40},
     .caption = "Tarnel安装程序",
     .font = {29},
     .text = {rgb(32, 32, 32)},
     .align = rt::Align::Center},
    {.name = "选择夹1",
     .kind = UnitKind::TabBox,
     .rect = {0, 0, 600, 456},
     .back = {kPanel},
     .pages = kPages,
     .on_mouse_down = drag_window},
    // Page 0, "首页安装".
    action_button("立即安装", 0, "立即安装", on_install_now),
    {.name = "许可协议",
     .kind = UnitKind::CheckBox,
     .parent = "选择夹1",
     .page = 0,
     .rect = {26, 355, 110, 24},
     .caption = "已阅读并同意",
     .font = {14},
     .text = {rgb(96, 102, 112)},
     .checked = true},
    {.name = "超级链接框1",
     .kind = UnitKind::HyperLinker,
     .parent = "选择夹1",
     .page = 0,
     .rect = {130, 355, 86, 24},
     .caption = "用户使用协议",
     .font = {14}},
    {.name = "自定义安装",
     .kind = UnitKind::HyperLinker,
     .parent = "选择夹1",
     .page = 0,
     .rect = {478, 355, 96, 24},
     .caption = "自定义安装 >>",
     .font = {14},
     .on_mouse_down = show_custom_page},
    // Page 1, "选择文件夹".
    action_button("立即安装2", 1, "立即安装", on_install_now),
    {.name = "返回首页",
     .kind = UnitKind::HyperLinker,
     .parent = "选择夹1",
     .page = 1,
     .rect = {15, 15, 56, 24},
     .caption = "<< 返回",
     .font = {14},
     .on_mouse_up = show_home_page},
    {.name = "标签1",
     .kind = UnitKind::Label,
     .parent = "选择夹1",
     .page = 1,
     .rect = {46, 64, 136, 32},
     .caption = "自定义安装",
     .font = {24},
     .text = {kTitleBlue}},
    {.name = "标签2",
     .kind = UnitKind::Label,
     .parent = "选择夹1",
     .page = 1,
     .rect = {48, 120, 80, 24},
     .caption = "安装路径",
     .font = {16},
     .text = {rgb(32, 32, 32)}},
    {.name = "安装目录",
     .kind = UnitKind::EditBox,
     .parent = "选择夹1",
     .page = 1,
     .rect = {48, 152, 402, 38},
     .font = {14},
     .text = {rgb(32, 32, 32)},
     .back = {rgb(240, 248, 255)}},
    {.name = "浏览",
     .kind = UnitKind::PicBtn,
     .parent = "选择夹1",
     .page = 1,
     .rect = {455, 152, 90, 38},
     .image = {kBrowseImages[0]},
     .hand_cursor = true,
     .on_click = browse_for_folder},
    {.name = "快捷方式",
     .kind = UnitKind::CheckBox,
     .parent = "选择夹1",
     .page = 1,
     .rect = {48, 200, 176, 24},
     .caption = "创建桌面快捷方式",
     .font = {16},
     .text = {rgb(32, 32, 32)},
     .checked = true},
    // Page 2, "正在安装".
    {.name = "时钟1",
     .kind = UnitKind::Timer,
     .parent = "选择夹1",
     .page = 2,
     .period = 0,
     .on_tick = on_progress_tick},
    {.name = "更新状态",
     .kind = UnitKind::Label,
     .parent = "选择夹1",
     .page = 2,
     .rect = {172, 312, 256, 24},
     .caption = "正在安装中 0%，请稍侯...",
     .font = {14},
     .text = {rgb(96, 102, 112)},
     .align = rt::Align::Center},
    {.name = "进度条",
     .kind = UnitKind::ProcessBar,
     .parent = "选择夹1",
     .page = 2,
     .rect = {40, 272, 520, 16},
     .position = 0,
     .minimum = 0,
     .maximum = 100},
    // Page 3, "安装完成".
    action_button("安装完成", 3, "安装完成", on_finish),
    {.name = "完成提示",
     .kind = UnitKind::Label,
     .parent = "选择夹1",
     .page = 3,
     .rect = {40, 316, 520, 44},
     .caption = "",
     .font = {14},
     .text = {rgb(208, 72, 48)},
     .align = rt::Align::Center},
    // Page 4, "网络错误".
    action_button("重新安装", 4, "重新安装", on_install_now),
    {.name = "离线网址",
     .kind = UnitKind::HyperLinker,
     .parent = "选择夹1",
     .page = 4,
     .rect = {240, 336, 120, 24},
     .caption = "下载离线安装包",
     .font = {16}},
};

// The installer window's design height is 470; load_configuration makes it 400.
}  // namespace

const rt::WindowDesign kInstallerWindow{
    .name = "InstallerWindow",
    .caption = "",
    .rect = {50, 50, 600, 470},
    .back = kPanel,
    .units = kInstallerUnits,
    .main_window = true,
    .on_created = load_configuration,
    .on_close = on_close_requested,
};

int show_installer_box(const rt::Text& text, int style) {
  const rt::Text caption = rt::unit_get(kInstallerWindow, "", rt::kPropCaption).text();
  return rt::message_box(text, style, caption.empty() ? rt::Text(kNetworkCaption) : caption,
                         rt::form_handle(kInstallerWindow));
}

namespace {

// The question the prompt shows or showed last (window thread only).
struct Question {
  rt::Text text;
  rt::Text mode;
};
Question g_question;

rt::Text answer_text(ui::PromptAnswer answer) {
  return answer == ui::PromptAnswer::Ok ? "ok" : answer == ui::PromptAnswer::Cancel ? "cancel" : "";
}

// Runs the window thread's messages until the prompt window `open` has
// closed. False when the program is ending (the quit message is left for the
// outer loop).
bool wait_until_closed(HWND open) {
  MSG msg;
  while (IsWindow(open)) {
    BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got <= 0) {
      if (got == 0) PostQuitMessage(static_cast<int>(msg.wParam));
      return false;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return true;
}

// The controller's view of the installer window. Calls from the worker are
// carried to the window thread by the unit services, in order.
class WindowView final : public ControllerView {
 public:
  bool agreement_ticked() override { return get("许可协议", rt::kPropChecked).as_bool(); }
  bool desktop_shortcut_ticked() override { return get("快捷方式", rt::kPropChecked).as_bool(); }
  rt::Text install_directory() override { return get("安装目录", rt::kPropCaption).text(); }
  void show_header(bool visible) override { set("图片框1", rt::kPropVisible, visible); }
  void show_page(int page) override { set("选择夹1", rt::kPropPage, page); }
  void set_status(const rt::Text& text) override { set("更新状态", rt::kPropCaption, text); }
  void show_finish_note(const rt::Text& text) override { set("完成提示", rt::kPropCaption, text); }
  void set_progress_timer(int period_ms) override { set("时钟1", rt::kPropPeriod, period_ms); }
  void set_progress_bar(int position) override { set("进度条", rt::kPropPosition, position); }
  // Owned by the installer window, which it disables while it shows: the
  // window can neither cover it nor take a click meant for it.
  void show_network_message() override { show_installer_box(kNetworkMessage, kNetworkMessageStyle); }
  void show_failure_message(const rt::Text& text) override { show_installer_box(text, kFailureMessageStyle); }
  rt::Text ask_user(const rt::Text& text, const rt::Text& mode) override { return installer::ask_user(text, mode); }
  int current_page() override { return get("选择夹1", rt::kPropPage).as_int(); }
  void destroy_window() override { rt::close_window(kInstallerWindow); }
  void post_close() override {
    if (HWND window = rt::form_handle(kInstallerWindow)) PostMessageW(window, WM_CLOSE, 0, 0);
  }

 private:
  static rt::UnitValue get(const char* unit, int property) { return rt::unit_get(kInstallerWindow, unit, property); }
  static void set(const char* unit, int property, const rt::UnitValue& value) {
    rt::unit_set(kInstallerWindow, unit, property, value);
  }
};

WindowView g_window_view;

int CALLBACK browse_callback(HWND dialog, UINT message, LPARAM, LPARAM data) {
  if (message == BFFM_INITIALIZED) SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, data);
  return 1;
}

}  // namespace


bool load_installer_window() {
  set_controller_view(&g_window_view);
  return rt::load_window(kInstallerWindow);
}

rt::Text ask_user(const rt::Text& text, const rt::Text& mode) {
  // A question already open (a second close request while the close question
  // shows) is waited for, never answered by whatever was answered before and
  // never covered by a second prompt: the same question takes its answer,
  // another one is asked once it has gone.
  while (HWND open = rt::form_handle(ui::kPromptWindow)) {
    bool same = g_question.text == text && g_question.mode == mode;
    if (!wait_until_closed(open)) return rt::Text();
    // Its own call has not returned yet (it lies below this one): the answer
    // is the prompt's last.
    if (same) return answer_text(ui::last_answer());
  }
  g_question = {text, mode};
  // Closed any other way (Alt+F4, the window menu), the answer is empty.
  return answer_text(ui::ask({.message = text, .with_cancel = mode != "1", .over = rt::form_handle(kInstallerWindow)}));
}

void on_close_button() { PostMessageW(rt::form_handle(kInstallerWindow), WM_CLOSE, 0, 0); }

rt::Text install_folder_in(const rt::Text& folder, const rt::Text& software_name) {
  std::string_view v = folder.view();
  // Offsets of the separators, stepping over trail bytes that happen to be 0x5C.
  std::size_t last_separator = std::string_view::npos, previous = std::string_view::npos;
  for (std::size_t i = 0; i < v.size(); ++i) {
    if (rt::is_lead_byte(static_cast<unsigned char>(v[i])) && i + 1 < v.size()) {
      ++i;
    } else if (v[i] == '\\') {
      previous = last_separator;
      last_separator = i;
    }
  }
  if (software_name.empty()) return folder;
  // A trailing separator (a drive's root "D:\\") is not doubled.
  std::string_view base = v;
  std::size_t name_start = last_separator == std::string_view::npos ? 0 : last_separator + 1;
  if (last_separator != std::string_view::npos && last_separator + 1 == v.size()) {
    base = v.substr(0, last_separator);
    name_start = previous == std::string_view::npos ? 0 : previous + 1;
  }
  std::string_view last = base.substr(std::min(name_start, base.size()));
  if (lstrcmpiW(rt::wide_path(last).c_str(), rt::wide_path(software_name.view()).c_str()) == 0)
    return rt::Text(base);
  return rt::text_concat({base, "\\", software_name.view()});
}

void browse_for_folder() {
  HWND owner = rt::form_handle(kInstallerWindow);
  rt::Text start = rt::unit_get(kInstallerWindow, "安装目录", rt::kPropCaption).text();
  // The starting folder in a zeroed 520-byte buffer, as the dialog's parameter.
  wchar_t start_wide[260] = {};
  std::wstring w = rt::wide_path(start.view());
  lstrcpynW(start_wide, w.c_str(), 260);
  wchar_t display[260] = {};
  std::wstring title = rt::wide_path("请选择一个文件夹");
  BROWSEINFOW info{};
  info.hwndOwner = owner;
  info.pszDisplayName = display;
  info.lpszTitle = title.c_str();
  info.ulFlags = BIF_NEWDIALOGSTYLE;
  info.lpfn = browse_callback;
  info.lParam = reinterpret_cast<LPARAM>(start_wide);
  LPITEMIDLIST item = SHBrowseForFolderW(&info);
  if (!item) return;
  rt::Text chosen;
  auto* path = static_cast<wchar_t*>(LocalAlloc(LMEM_ZEROINIT, 520));
  if (path) {
    if (SHGetPathFromIDListW(item, path) && lstrlenW(path) > 0) chosen = rt::cp936_from_wchar(path);
    LocalFree(path);
  }
  CoTaskMemFree(item);
  // As the proposed folder has: the software's own folder inside the one chosen.
  const SetupSession* session = controller_session();
  if (!chosen.empty() && session)
    rt::unit_set(kInstallerWindow, "安装目录", rt::kPropCaption, install_folder_in(chosen, session->record().software_name));
}

void drag_window() {
  HWND window = rt::form_handle(kInstallerWindow);
  SendMessageW(window, WM_SYSCOMMAND, SC_MOVE | HTCAPTION, 0);
  SendMessageW(window, WM_NCLBUTTONDOWN, HTCAPTION, 0);
}

void show_custom_page() {
  // A damaged installer has no folder to choose.
  const SetupSession* session = controller_session();
  if (!session || session->damaged()) return;
  rt::unit_set(kInstallerWindow, "图片框1", rt::kPropVisible, false);
  rt::unit_set(kInstallerWindow, "选择夹1", rt::kPropPage, 1);
}

void show_home_page() {
  rt::unit_set(kInstallerWindow, "图片框1", rt::kPropVisible, true);
  rt::unit_set(kInstallerWindow, "选择夹1", rt::kPropPage, 0);
}

}  // namespace installer
