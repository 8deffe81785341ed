// Window units: the named controls of the program's windows, laid out from
// design tables and reached by design name through numbered properties.
//
// A window is described by a WindowDesign (caption, client rectangle, colour,
// handlers) holding a table of UnitDesign rows. load_window makes real
// windows from it: one child window per unit, every unit window (and the
// window itself) carrying the window property "Unit_Name" = a global atom of
// its UTF-16 design name, so that other programs (tests) can find it. The
// window of a unit on a tab box page that has not shown yet is made when the
// page first shows (or its handle is asked for): until then the unit's
// properties read and write its state, and other programs do not find it.
//
// Threads: a window belongs to the thread that loaded it, and its handlers
// run there. unit_get/unit_set/move_unit/close_window may be called from any
// thread; an access from another thread is carried out on the window's
// thread (a sent private message), in the order the caller makes them, and
// the caller waits for it. The window thread must therefore never block
// waiting for a thread that accesses its units.
//
// Texts are code page 936; every window text goes through the W functions.
//
// Display scaling: every place, size and font height in a design, and every
// numbered position and size property, is in pixels at 96 DPI (design
// units). The toolkit shows a window at its monitor's DPI: it scales the
// units, fonts, corner radii and borders by DPI / 96 when it makes the
// window, and lays the window out again when it moves to a monitor of
// another DPI (WM_DPICHANGED). Where the system knows no per-monitor DPI
// (Windows 7), a window is laid out once at the system DPI.
//
// A window in a few lines (handlers are plain functions; the sample program
// examples/unitdemo/unitdemo_main.cpp shows a row of every kind):
//
//   void on_install();
//   const char* const kPages[] = {"首页安装", "选择文件夹"};
//   const rt::UnitDesign kUnits[] = {
//       {.name = "选择夹1", .kind = rt::UnitKind::TabBox, .rect = {0, 0, 600, 456},
//        .back = {rt::rgb(248, 249, 252)}, .pages = kPages},
//       {.name = "立即安装", .kind = rt::UnitKind::SuperBtn, .parent = "选择夹1", .page = 0,
//        .rect = {195, 252, 210, 56}, .caption = "立即安装", .font = {19}, .text = {rt::rgb(255, 255, 255)},
//        .image = {&ui::assets::button_normal, &ui::assets::button_hover}, .hand_cursor = true,
//        .on_click = on_install},
//   };
//   const rt::WindowDesign kWindow = {.name = "InstallerWindow", .rect = {50, 50, 600, 470}, .units = kUnits};
//   rt::load_window(kWindow);  rt::unit_set(kWindow, "选择夹1", rt::kPropPage, 1);
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "runtime/value/value.h"

namespace rt {

// ---- design tables --------------------------------------------------------

// A colour; default-constructed means "not given" (inherit or transparent).
struct Color {
  std::uint32_t value = 0xFFFFFFFFu;
  constexpr bool given() const { return value != 0xFFFFFFFFu; }
  constexpr COLORREF ref() const { return static_cast<COLORREF>(value); }
};
constexpr Color rgb(int r, int g, int b) {
  return Color{static_cast<std::uint32_t>(r & 0xFF) | (static_cast<std::uint32_t>(g & 0xFF) << 8) |
               (static_cast<std::uint32_t>(b & 0xFF) << 16)};
}

// Encoded image bytes (PNG, JPEG, GIF, BMP) linked into the program.
struct ImageRef {
  const unsigned char* begin = nullptr;
  const unsigned char* end = nullptr;
  std::size_t size() const { return static_cast<std::size_t>(end - begin); }
};

struct Rect {
  int left = 0, top = 0, width = 0, height = 0;
};

// "微软雅黑" at weight 400 unless given; height is the character height in pixels.
struct Font {
  int height = 14;
  int weight = 400;
  const char* face = nullptr;  // null: "微软雅黑"
};

enum class UnitKind {
  EditBox,      // single-line text box
  PicBox,       // picture box, also a plain panel and a container
  Label,        // text, on its back colour or transparent
  CheckBox,     // box and caption; click toggles
  ProcessBar,   // progress bar
  TabBox,       // container of pages; shows the units of its current page
  HyperLinker,  // text link; a click opens its target address (open_link)
  Timer,        // invisible; ticks every `period` ms, 0 = stopped
  PicBtn,       // button drawn from images
  TransLabel,   // transparent label
  SuperBtn,     // button drawn with colours or images, caption on top
  CartoonBox,   // animation box: a panel with its back colour (and image)
};

enum class Align { Left, Center, Right };
// How PicBox/CartoonBox/PicBtn/SuperBtn place their image.
enum class ImageMode { Stretch, Natural, Fit, Center };

// Image slots (UnitDesign::image, image_key).
enum ImageSlot : int { kImageNormal = 0, kImageHover = 1, kImageDown = 2, kImageDisabled = 3 };
// Colour states of a SuperBtn (UnitDesign::text, back): normal, hover, focus.
// Other kinds use only [0]. A state without a colour uses the normal one.
enum ColorState : int { kStateNormal = 0, kStateHover = 1, kStateFocus = 2 };

using Handler = void (*)();
// Close-requested handler of a window: true lets the window close.
using CloseHandler = bool (*)();

// One row of a design table. Use designated initializers, in this order:
//   {.name = "进度条", .kind = UnitKind::ProcessBar, .parent = "选择夹1", .page = 2,
//    .rect = {40, 272, 520, 16}, ...}
// Earlier rows lie above later rows of the same container.
struct UnitDesign {
  const char* name = nullptr;     // design name (code page 936)
  UnitKind kind = UnitKind::Label;
  const char* parent = nullptr;   // container's design name (a PicBox, TabBox or CartoonBox
                                  // listed earlier); null: the window
  int page = 0;                   // page of the TabBox container it lies on
  Rect rect{};                    // left, top, width, height in the container's client area
  const char* caption = nullptr;  // caption; an EditBox's content
  Font font{};
  Color text[3]{};                // text colour per ColorState
  Color back[3]{};                // back colour per ColorState; not given: transparent
  const ImageRef* image[4]{};     // per ImageSlot
  Color image_key[4]{};           // colour that counts as transparent, per image
  ImageMode image_mode = ImageMode::Stretch;
  Align align = Align::Left;      // text alignment (vertically always centred)
  bool visible = true;
  bool enabled = true;
  bool checked = false;           // CheckBox
  bool hand_cursor = false;       // HyperLinker always has it
  bool email = false;             // HyperLinker: target is an e-mail address ("mailto:")
  int position = 0;               // ProcessBar
  int minimum = 0;
  int maximum = 100;
  int period = 0;                 // Timer, milliseconds; 0 stopped
  const char* target = nullptr;   // HyperLinker address
  std::span<const char* const> pages{};  // TabBox page captions (kept; no tab strip is drawn:
                                         // pages switch through kPropPage)
  Handler on_click = nullptr;     // left click (press and release on the unit), Space/Enter on buttons
  Handler on_mouse_down = nullptr;  // left button pressed
  Handler on_mouse_up = nullptr;    // left button released
  Handler on_tick = nullptr;      // Timer
};

struct WindowDesign {
  const char* name = nullptr;     // design name
  const char* caption = nullptr;
  Rect rect{};                    // screen position and client size
  Color back{};                   // not given: white
  std::span<const UnitDesign> units{};
  bool centered = false;          // centre over the owner (or the screen) instead of rect's position
  bool main_window = false;       // destroying it ends run_message_loop (posts WM_QUIT)
  Handler on_created = nullptr;   // after the units exist, before the window shows
  CloseHandler on_close = nullptr;  // WM_CLOSE (system menu, Alt+F4, a close button sending WM_CLOSE)
};

// ---- numbered properties ---------------------------------------------------
// Read and written with unit_get/unit_set. A unit name of "" (or the window's
// own design name) means the window itself (left/top/width/height are then
// its screen rectangle, caption its title). Positions and sizes are design
// units: the screen's pixels divided by the window's DPI / 96.
enum UnitProperty : int {
  kPropLeft = 0,           // int, in the container's client area
  kPropTop = 1,            // int
  kPropWidth = 2,          // int
  kPropHeight = 3,         // int
  kPropVisible = 4,        // bool; a unit on a TabBox page shows only while its page is current
  kPropEnabled = 5,        // bool
  kPropCaption = 6,        // text; an EditBox's content; a window's title
  kPropChecked = 7,        // bool, CheckBox
  kPropPosition = 8,       // int, ProcessBar (clamped to minimum..maximum)
  kPropMinimum = 9,        // int, ProcessBar
  kPropMaximum = 10,       // int, ProcessBar
  kPropPeriod = 11,        // int ms, Timer; 0 stops it
  kPropPage = 12,          // int, TabBox current page (0-based)
  kPropImage = 13,         // bytes, normal image (PicBox, CartoonBox, PicBtn, SuperBtn)
  kPropHoverImage = 14,    // bytes
  kPropDownImage = 15,     // bytes
  kPropDisabledImage = 16, // bytes
  kPropTextColor = 17,     // int COLORREF, normal state
  kPropBackColor = 18,     // int COLORREF, normal state; -1 transparent
  kPropTarget = 19,        // text, HyperLinker address
  kPropVisited = 20,       // bool, HyperLinker: its target was opened
  kPropFontHeight = 21,    // int, design pixels (96 DPI)
  kPropHandle = 22,        // int, window handle (read only)
};

// A property value: a number (int, bool, colour, handle), a text or bytes.
class UnitValue {
 public:
  UnitValue() = default;
  UnitValue(int n) : number_(n) {}  // NOLINT: values come from literals
  UnitValue(long long n) : number_(n) {}  // NOLINT
  UnitValue(bool b) : number_(b ? 1 : 0) {}  // NOLINT
  UnitValue(const char* s) : text_(s), is_text_(true) {}  // NOLINT
  UnitValue(Text s) : text_(std::move(s)), is_text_(true) {}  // NOLINT
  UnitValue(Bytes b) : bytes_(std::move(b)), is_bytes_(true) {}  // NOLINT

  long long number() const;  // a text is read as a leading decimal integer
  int as_int() const { return static_cast<int>(number()); }
  bool as_bool() const { return number() != 0; }
  Text text() const;  // a number as decimal
  const Bytes& bytes() const { return bytes_; }
  bool is_text() const { return is_text_; }

 private:
  long long number_ = 0;
  Text text_;
  Bytes bytes_;
  bool is_text_ = false;
  bool is_bytes_ = false;
};

// ---- window-unit services --------------------------------------------------

// Creates the window and its units, runs on_created, shows it. Modal: the
// owner (or, when none is given, the calling thread's active window) is
// disabled and the call returns when the window has closed. True when loaded.
bool load_window(const WindowDesign& window, HWND owner = nullptr, bool modal = false);
// Destroys the window without asking (ends a modal run). Any thread.
void close_window(const WindowDesign& window);

// Property access; a window never loaded is the fatal error
// "未载入欲访问窗口组件所在的窗口". A window that was loaded and has closed
// reads as empty and ignores writes (a worker may outlive it briefly).
UnitValue unit_get(const WindowDesign& window, std::string_view unit, int property);
void unit_set(const WindowDesign& window, std::string_view unit, int property, const UnitValue& value);

// The unit's window handle (made now if its page has not shown yet); a
// missing unit or window is the fatal error "指定窗口或窗口组件不存在或尚未载入".
HWND unit_window_handle(const WindowDesign& window, std::string_view unit);
// True when the unit exists and its window is made and alive; never fails.
bool unit_is_created(const WindowDesign& window, std::string_view unit);
int client_width(const WindowDesign& window, std::string_view unit);
int client_height(const WindowDesign& window, std::string_view unit);
// Moves and sizes within the container; absent values keep the current ones.
void move_unit(const WindowDesign& window, std::string_view unit, std::optional<int> left = {},
               std::optional<int> top = {}, std::optional<int> width = {}, std::optional<int> height = {});
// SendMessageW to the unit's window (texts in wParam/lParam are UTF-16).
LRESULT send_message(const WindowDesign& window, std::string_view unit, UINT message, WPARAM wParam, LPARAM lParam);

// The loaded window's handle, or null.
HWND form_handle(const WindowDesign& window);
// Dispatches messages until WM_QUIT (a main_window's destruction posts it).
int run_message_loop();

// Opens a link's target: ShellExecute "open", else the browser registered
// for .htm. An e-mail link opens "mailto:" + target. True when started.
bool open_link(const Text& target, bool email = false);
// The browser command line for a target: the registered command's program,
// quoted, and what follows it up to where "%1" (quoted, else bare) begins,
// a blank, the target quoted. Empty when the program is no full path (it
// would be searched for, the program's own folder first) or the target holds
// a quote.
Text link_command_line(const Text& command, const Text& target);
// Replaces how every link opens its target (an elevated program starts it as
// the person instead); null restores open_link's own way.
using LinkOpener = bool (*)(const Text& target);
void set_link_opener(LinkOpener opener);

// ---- display scaling ---------------------------------------------------------

constexpr int kDesignDpi = 96;
// What the system (Windows 10) and the toolkit send the child windows of a
// window whose DPI changed: WM_DPICHANGED_AFTERPARENT.
constexpr UINT kMsgDpiChangedAfterParent = 0x02E3;
// The DPI a window (or the top-level window it lies in) is shown at: the
// toolkit's own record for its windows, else the system's per-window DPI
// (Windows 10), else the system DPI.
int window_dpi(HWND hwnd);
// The DPI windows open at before they know their monitor (the system DPI).
int system_dpi();
inline int to_pixels(int units, int dpi) { return MulDiv(units, dpi, kDesignDpi); }
inline int to_units(int pixels, int dpi) { return MulDiv(pixels, kDesignDpi, dpi); }

// GDI+ for the whole process, started once (later calls do nothing).
void start_gdiplus();
// Copies the current frame of a GDI+ image into a bitmap that owns its
// pixels, and disposes the original; null (original kept) when it cannot.
void* own_image_copy(void* gp_image);

// Encoded image bytes and their decoded form, shared by everyone who asks for
// the same bytes: a design image used by several units (and a logo given to a
// picture box and to a PNG control) is decoded once, when it is first drawn
// or measured, and freed with its last holder. Reached through ImageHold.
class SharedImage {
 public:
  SharedImage(const SharedImage&) = delete;
  SharedImage& operator=(const SharedImage&) = delete;
  const Bytes& bytes() const { return bytes_; }
  bool decoded() const { return decoded_; }
  // A GDI+ bitmap that owns its pixels (the first frame); null when the bytes
  // do not decode to a bitmap.
  void* bitmap();
  // The bitmap, else the decoder's own image (a metafile, reading its stream).
  void* image();
  int width();
  int height();

 private:
  friend class ImageHold;
  explicit SharedImage(Bytes bytes) : bytes_(std::move(bytes)) {}
  ~SharedImage();
  void decode();
  Bytes bytes_;
  long holders_ = 0;  // under the image table's lock
  bool decoded_ = false;
  bool own_pixels_ = false;
  void* image_ = nullptr;   // GpImage*
  void* stream_ = nullptr;  // IStream* a decoder's own image still reads
  int width_ = 0, height_ = 0;
};

// One holder of a shared image; copies hold it too.
class ImageHold {
 public:
  ImageHold() = default;
  // The shared image of these bytes (not decoded yet); none for no bytes.
  ImageHold(const void* data, std::size_t n);
  ImageHold(const ImageHold& other);
  ImageHold& operator=(ImageHold other) noexcept;
  ~ImageHold() { reset(); }
  void reset();
  explicit operator bool() const { return image_ != nullptr; }
  SharedImage* operator->() const { return image_; }

 private:
  SharedImage* image_ = nullptr;
};

}  // namespace rt
