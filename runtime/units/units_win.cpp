// Loading windows from their designs, the registry of loaded windows, and the
// unit services with their cross-thread access.
#include <windows.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <set>

#include "runtime/value/codepage.h"
#include "runtime/win/lock_win.h"
#include "runtime/units/units.h"
#include "runtime/units/units_impl.h"

namespace rt {

using units::Form;
using units::Unit;

namespace {

constexpr UINT kMsgAccess = WM_APP + 0x2A1;
constexpr char kNotLoaded[] = "未载入欲访问窗口组件所在的窗口";
constexpr char kNoUnit[] = "指定窗口或窗口组件不存在或尚未载入";

// Loaded windows by design. The window thread adds and removes entries;
// other threads only look them up, under the lock.
Lock g_mutex;
std::map<const WindowDesign*, Form*> g_forms;
std::set<const WindowDesign*> g_ever_loaded;

struct FormRef {
  HWND hwnd = nullptr;
  DWORD thread = 0;
  bool was_loaded = false;
};

FormRef find_form(const WindowDesign& design) {
  std::lock_guard<Lock> lock(g_mutex);
  auto it = g_forms.find(&design);
  if (it == g_forms.end()) return {nullptr, 0, g_ever_loaded.count(&design) != 0};
  return {it->second->hwnd, it->second->thread, true};
}

// The form, on its own thread.
Form* live_form(const WindowDesign& design) {
  std::lock_guard<Lock> lock(g_mutex);
  auto it = g_forms.find(&design);
  return it == g_forms.end() ? nullptr : it->second;
}

struct Access {
  const std::function<void()>* run;
  bool done = false;
};

// Runs fn on the window's thread, in order with the caller's other accesses.
// False when the window has closed (fn did not run). A window never loaded is fatal.
bool on_window_thread(const WindowDesign& design, const std::function<void()>& fn) {
  FormRef f = find_form(design);
  if (!f.hwnd) {
    if (!f.was_loaded) rt_fail(kNotLoaded);
    return false;
  }
  if (GetCurrentThreadId() == f.thread) {
    fn();
    return true;
  }
  Access access{&fn};
  SendMessageW(f.hwnd, kMsgAccess, 0, reinterpret_cast<LPARAM>(&access));
  return access.done;
}

bool is_form_name(const Form& form, std::string_view unit) {
  return unit.empty() || (form.design->name && unit == form.design->name);
}

HWND make_unit_window(Unit& u);

Unit* find_unit_or_fail(Form& form, std::string_view name) {
  Unit* u = form.find(name);
  if (!u) rt_fail(kNoUnit);
  return u;
}

void set_window_text(HWND hwnd, std::string_view text) { SetWindowTextW(hwnd, wide_path(text).c_str()); }

Text window_text(HWND hwnd) {
  int n = GetWindowTextLengthW(hwnd);
  std::wstring w(static_cast<std::size_t>(n) + 1, L'\0');
  GetWindowTextW(hwnd, w.data(), n + 1);
  return Text(cp936_from_wchar(w.c_str()));
}

RECT rect_in_container(HWND hwnd) {
  RECT r{};
  GetWindowRect(hwnd, &r);
  MapWindowPoints(HWND_DESKTOP, GetParent(hwnd), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

Rect rect_pixels(const Rect& r, int dpi) {
  return {to_pixels(r.left, dpi), to_pixels(r.top, dpi), to_pixels(r.width, dpi), to_pixels(r.height, dpi)};
}

// A window's rectangle (a unit's in its container, a top-level window's on
// the screen) in design units. A unit reads back exactly the place it was
// given, as long as nothing else has moved its window since.
Rect design_rect(HWND hwnd, bool top_level, int dpi, const Rect* place = nullptr) {
  RECT r{};
  if (top_level)
    GetWindowRect(hwnd, &r);
  else
    r = rect_in_container(hwnd);
  Rect pixels{r.left, r.top, r.right - r.left, r.bottom - r.top};
  if (place) {
    Rect given = rect_pixels(*place, dpi);
    if (given.left == pixels.left && given.top == pixels.top && given.width == pixels.width &&
        given.height == pixels.height)
      return *place;
  }
  return {to_units(pixels.left, dpi), to_units(pixels.top, dpi), to_units(pixels.width, dpi),
          to_units(pixels.height, dpi)};
}

// Moves and sizes a window, in design units; the unit's place follows.
void move_window(HWND hwnd, bool top_level, int dpi, Rect* place, std::optional<int> left, std::optional<int> top,
                 std::optional<int> width, std::optional<int> height) {
  Rect now = design_rect(hwnd, top_level, dpi, place);
  Rect next{left.value_or(now.left), top.value_or(now.top), width.value_or(now.width), height.value_or(now.height)};
  if (place) *place = next;
  RECT r{};
  if (top_level)
    GetWindowRect(hwnd, &r);
  else
    r = rect_in_container(hwnd);
  // What is not given stays where it is to the pixel (a round trip through
  // design units could move it by one at scales like 125 %).
  auto pixel = [&](const std::optional<int>& given, LONG current) {
    return given ? to_pixels(*given, dpi) : static_cast<int>(current);
  };
  Rect p{pixel(left, r.left), pixel(top, r.top), pixel(width, r.right - r.left), pixel(height, r.bottom - r.top)};
  if (p.left == r.left && p.top == r.top && p.width == r.right - r.left && p.height == r.bottom - r.top) return;
  SetWindowPos(hwnd, nullptr, p.left, p.top, p.width, p.height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void move_form(Form& f, std::optional<int> left, std::optional<int> top, std::optional<int> width,
               std::optional<int> height) {
  move_window(f.hwnd, true, f.dpi, nullptr, left, top, width, height);
}

void move_unit_window(Unit& u, std::optional<int> left, std::optional<int> top, std::optional<int> width,
                      std::optional<int> height) {
  if (!u.hwnd) {  // not made yet: it will be made at its place
    u.place = {left.value_or(u.place.left), top.value_or(u.place.top), width.value_or(u.place.width),
               height.value_or(u.place.height)};
    return;
  }
  move_window(u.hwnd, false, u.form->dpi, &u.place, left, top, width, height);
}

// ---- window properties ------------------------------------------------------

UnitValue get_form_property(Form& f, int property) {
  Rect r = design_rect(f.hwnd, true, f.dpi);
  switch (property) {
    case kPropLeft: return r.left;
    case kPropTop: return r.top;
    case kPropWidth: return r.width;
    case kPropHeight: return r.height;
    case kPropVisible: return IsWindowVisible(f.hwnd) != FALSE;
    case kPropEnabled: return IsWindowEnabled(f.hwnd) != FALSE;
    case kPropCaption: return window_text(f.hwnd);
    case kPropHandle: return static_cast<long long>(reinterpret_cast<UINT_PTR>(f.hwnd));
    default: return {};
  }
}

void set_form_property(Form& f, int property, const UnitValue& v) {
  switch (property) {
    case kPropLeft: move_form(f, v.as_int(), {}, {}, {}); break;
    case kPropTop: move_form(f, {}, v.as_int(), {}, {}); break;
    case kPropWidth: move_form(f, {}, {}, v.as_int(), {}); break;
    case kPropHeight: move_form(f, {}, {}, {}, v.as_int()); break;
    case kPropVisible: ShowWindow(f.hwnd, v.as_bool() ? SW_SHOW : SW_HIDE); break;
    case kPropEnabled: EnableWindow(f.hwnd, v.as_bool()); break;
    case kPropCaption: set_window_text(f.hwnd, v.text().view()); break;
    default: break;
  }
}

// ---- unit properties -------------------------------------------------------

// A unit's window is made when its page first shows (or when someone asks
// for its handle); until then its state answers for it.
UnitValue get_unit_property(Unit& u, int property) {
  Rect r = u.hwnd ? design_rect(u.hwnd, false, u.form->dpi, &u.place) : u.place;
  switch (property) {
    case kPropLeft: return r.left;
    case kPropTop: return r.top;
    case kPropWidth: return r.width;
    case kPropHeight: return r.height;
    case kPropVisible: return u.visible;
    case kPropEnabled: return u.hwnd ? IsWindowEnabled(u.hwnd) != FALSE : u.enabled;
    case kPropCaption: return u.design->kind == UnitKind::EditBox && u.hwnd ? window_text(u.hwnd) : u.caption;
    case kPropChecked: return u.checked;
    case kPropPosition: return u.position;
    case kPropMinimum: return u.minimum;
    case kPropMaximum: return u.maximum;
    case kPropPeriod: return u.period;
    case kPropPage: return u.page;
    case kPropImage:
    case kPropHoverImage:
    case kPropDownImage:
    case kPropDisabledImage: return u.images[property - kPropImage].bytes();
    case kPropTextColor: return static_cast<long long>(u.text[0].ref());
    case kPropBackColor: return u.back[0].given() ? static_cast<long long>(u.back[0].ref()) : -1LL;
    case kPropTarget: return u.target;
    case kPropVisited: return u.visited;
    case kPropFontHeight: return u.font_height;
    case kPropHandle: return static_cast<long long>(reinterpret_cast<UINT_PTR>(make_unit_window(u)));
    default: return {};
  }
}

// Whether a unit's window waits for its page: it lies, itself or through
// its containers, on a page of a tab box that has not shown that page.
// Timers tick whatever page shows.
bool waits_for_page(const Unit& u) {
  if (u.design->kind == UnitKind::Timer) return false;
  for (const Unit* c = &u; c->container; c = c->container)
    if (c->container->design->kind == UnitKind::TabBox && c->design->page != c->container->page) return true;
  return false;
}

void set_name(HWND hwnd, std::string_view name);

// Makes the unit's window (its containers' first), named and placed under
// the units made before it in its container.
HWND make_unit_window(Unit& u) {
  if (u.hwnd) return u.hwnd;
  HWND parent = u.form->hwnd;
  if (u.container && !(parent = make_unit_window(*u.container))) return nullptr;
  HWND hwnd = units::create_unit_window(u, parent);
  if (!hwnd) return nullptr;
  set_name(hwnd, u.name);
  // Table order is stacking order: each new unit goes under the earlier ones.
  SetWindowPos(hwnd, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  return hwnd;
}

// Makes the windows of the units that no longer wait for their page, in
// table order, and shows or hides them.
void make_shown_units(Form& f) {
  for (auto& u : f.units)
    if (!u->hwnd && !u->failed && !waits_for_page(*u) && !make_unit_window(*u)) u->failed = true;
}

void show_page(Form& f, Unit& tab, int page) {
  tab.page = page;
  make_shown_units(f);
  for (auto& other : f.units)
    if (other->container == &tab) units::apply_visibility(*other);
  if (tab.hwnd) InvalidateRect(tab.hwnd, nullptr, TRUE);
}

void set_unit_property(Form& f, Unit& u, int property, const UnitValue& v) {
  bool redraw = true;
  switch (property) {
    case kPropLeft: move_unit_window(u, v.as_int(), {}, {}, {}); redraw = false; break;
    case kPropTop: move_unit_window(u, {}, v.as_int(), {}, {}); redraw = false; break;
    case kPropWidth: move_unit_window(u, {}, {}, v.as_int(), {}); redraw = false; break;
    case kPropHeight: move_unit_window(u, {}, {}, {}, v.as_int()); redraw = false; break;
    case kPropVisible:
      u.visible = v.as_bool();
      units::apply_visibility(u);
      redraw = false;
      break;
    case kPropEnabled:
      u.enabled = v.as_bool();
      if (u.hwnd) EnableWindow(u.hwnd, u.enabled);
      break;
    case kPropCaption:
      u.caption = v.text();
      if (u.hwnd) set_window_text(u.hwnd, u.caption.view());
      break;
    case kPropChecked: u.checked = v.as_bool(); break;
    case kPropPosition: u.position = v.as_int(); break;
    case kPropMinimum: u.minimum = v.as_int(); break;
    case kPropMaximum: u.maximum = v.as_int(); break;
    case kPropPeriod:
      u.period = v.as_int();
      units::start_timer(u);
      redraw = false;
      break;
    case kPropPage:
      if (u.design->kind == UnitKind::TabBox) show_page(f, u, v.as_int());
      redraw = false;
      break;
    case kPropImage:
    case kPropHoverImage:
    case kPropDownImage:
    case kPropDisabledImage: {
      const Bytes& b = v.bytes();
      u.images[property - kPropImage].load(b.data(), b.size());
      break;
    }
    case kPropTextColor: u.text[0] = Color{static_cast<std::uint32_t>(v.number())}; break;
    case kPropBackColor:
      u.back[0] = v.number() < 0 ? Color{} : Color{static_cast<std::uint32_t>(v.number())};
      units::reshape(u);
      break;
    case kPropTarget: u.target = v.text(); break;
    case kPropVisited: u.visited = v.as_bool(); break;
    case kPropFontHeight:
      u.font_height = v.as_int();
      if (!u.hwnd) break;
      units::apply_font(u);
      // An EditBox centres its text by its frame, which depends on the font.
      SetWindowPos(u.hwnd, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
      break;
    default: redraw = false; break;
  }
  if (property == kPropPosition && u.maximum > u.minimum) {
    if (u.position < u.minimum) u.position = u.minimum;
    if (u.position > u.maximum) u.position = u.maximum;
  }
  if (redraw && u.hwnd) RedrawWindow(u.hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME);
}

// ---- the window ----------------------------------------------------------

void enable_owner(Form& f) {
  if (f.owner_disabled && f.owner) EnableWindow(f.owner, TRUE);
  f.owner_disabled = false;
}

// The owner goes back to enabled before the window goes, so activation
// returns to it rather than to another program.
void destroy_form(Form& f) {
  enable_owner(f);
  DestroyWindow(f.hwnd);
}

BOOL CALLBACK tell_dpi_changed(HWND child, LPARAM) {
  if (!units::unit_of(child)) SendMessageW(child, kMsgDpiChangedAfterParent, 0, 0);
  return TRUE;
}

// Every unit at its place, size and font for the window's (new) DPI; other
// child windows (PNG controls) hear of it as from the system.
void lay_out(Form& f, int dpi) {
  if (dpi <= 0 || dpi == f.dpi) return;
  f.dpi = dpi;
  SetPropW(f.hwnd, units::kDpiProp, reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(dpi)));
  for (auto& u : f.units) {
    if (!u->hwnd) continue;
    units::apply_font(*u);
    Rect p = rect_pixels(u->place, dpi);
    SetWindowPos(u->hwnd, nullptr, p.left, p.top, p.width, p.height,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    units::reshape(*u);
  }
  EnumChildWindows(f.hwnd, tell_dpi_changed, 0);
}

LRESULT CALLBACK form_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* f = reinterpret_cast<Form*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  switch (msg) {
    case WM_NCCREATE: {
      f = static_cast<Form*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
      f->hwnd = hwnd;
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(f));
      break;
    }
    case kMsgAccess: {
      auto* access = reinterpret_cast<Access*>(lp);
      (*access->run)();
      access->done = true;
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      Color back = f && f->design->back.given() ? f->design->back : rgb(255, 255, 255);
      HBRUSH brush = CreateSolidBrush(back.ref());
      FillRect(dc, &ps.rcPaint, brush);
      DeleteObject(brush);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
      return units::unit_proc(hwnd, msg, wp, lp);
    case WM_DPICHANGED:
      // Moved to a monitor of another DPI: laid out again, at the rectangle
      // the system suggests.
      if (f) {
        const RECT& at = *reinterpret_cast<const RECT*>(lp);
        lay_out(*f, HIWORD(wp));
        SetWindowPos(hwnd, nullptr, at.left, at.top, at.right - at.left, at.bottom - at.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        InvalidateRect(hwnd, nullptr, TRUE);
      }
      return 0;
    case WM_CLOSE:
      if (f && f->design->on_close) {
        CloseHandler handler = f->design->on_close;
        if (!handler()) return 0;
        if (!IsWindow(hwnd)) return 0;
      }
      if (f) destroy_form(*f);
      return 0;
    case WM_DESTROY:
      if (f) {
        enable_owner(*f);
        {
          std::lock_guard<Lock> lock(g_mutex);
          auto it = g_forms.find(f->design);
          if (it != g_forms.end() && it->second == f) g_forms.erase(it);
        }
        if (f->design->main_window) PostQuitMessage(0);
      }
      break;
    case WM_NCDESTROY: {
      RemovePropW(hwnd, units::kDpiProp);
      if (ATOM atom = static_cast<ATOM>(reinterpret_cast<UINT_PTR>(RemovePropW(hwnd, units::kNameProp))))
        GlobalDeleteAtom(atom);
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      delete f;
      break;
    }
    default:
      break;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

void register_classes() {
  static const bool registered = [] {
    HINSTANCE inst = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = form_proc;
    wc.hInstance = inst;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.lpszClassName = units::kFormClass;
    RegisterClassExW(&wc);
    wc.lpfnWndProc = units::unit_proc;
    wc.lpszClassName = units::kUnitClass;
    RegisterClassExW(&wc);
    return true;
  }();
  (void)registered;
}

void set_name(HWND hwnd, std::string_view name) {
  ATOM atom = GlobalAddAtomW(wide_path(name).c_str());
  SetPropW(hwnd, units::kNameProp, reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(atom)));
}

// Every unit's state; the windows of the units on showing pages. The
// others are made when their page first shows: a window opens sooner, and
// pages a person never sees cost nothing.
void create_units(Form& f) {
  for (const UnitDesign& d : f.design->units) {
    auto u = std::make_unique<Unit>();
    u->design = &d;
    u->form = &f;
    u->name = d.name ? d.name : "";
    if (d.parent && *d.parent) {
      u->container = f.find(d.parent);
      // A table naming a container that is not listed before it is a program error.
      if (!u->container) rt_fail(text_concat({kNoUnit, ": ", d.parent}).view());
    }
    units::init_unit(*u);
    f.units.push_back(std::move(u));
  }
  make_shown_units(f);
  for (auto& u : f.units) units::apply_visibility(*u);
}

template <typename F>
F user32_function(const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

// The system's own DPI of a window (Windows 10 1607 and later), else 0.
int own_dpi(HWND hwnd) {
  using Fn = UINT(WINAPI*)(HWND);
  static const Fn fn = user32_function<Fn>("GetDpiForWindow");
  return fn ? static_cast<int>(fn(hwnd)) : 0;
}

int monitor_dpi(HWND hwnd) {
  int dpi = own_dpi(hwnd);
  return dpi > 0 ? dpi : system_dpi();
}

// The window's outer size for its design client size at a DPI.
SIZE outer_size(const WindowDesign& d, DWORD style, int dpi) {
  RECT outer{0, 0, to_pixels(d.rect.width, dpi), to_pixels(d.rect.height, dpi)};
  using Fn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
  static const Fn for_dpi = user32_function<Fn>("AdjustWindowRectExForDpi");
  if (!for_dpi || !for_dpi(&outer, style, FALSE, 0, static_cast<UINT>(dpi))) AdjustWindowRectEx(&outer, style, FALSE, 0);
  return {outer.right - outer.left, outer.bottom - outer.top};
}

POINT start_position(const WindowDesign& d, HWND owner, int width, int height, int dpi) {
  if (!d.centered) return {to_pixels(d.rect.left, dpi), to_pixels(d.rect.top, dpi)};
  RECT area{};
  if (owner && IsWindowVisible(owner))
    GetWindowRect(owner, &area);
  else
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  return {area.left + (area.right - area.left - width) / 2, area.top + (area.bottom - area.top - height) / 2};
}

int modal_loop(HWND hwnd) {
  MSG msg;
  while (IsWindow(hwnd)) {
    BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got <= 0) {
      // The program is ending: leave the quit message for the outer loop.
      if (got == 0) PostQuitMessage(static_cast<int>(msg.wParam));
      return 0;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 1;
}

}  // namespace

Unit* units::Form::find(std::string_view name) {
  for (auto& u : units)
    if (u->name == name) return u.get();
  return nullptr;
}

int system_dpi() {
  static const int dpi = [] {
    HDC screen = GetDC(nullptr);
    int d = screen ? GetDeviceCaps(screen, LOGPIXELSX) : kDesignDpi;
    if (screen) ReleaseDC(nullptr, screen);
    return d > 0 ? d : kDesignDpi;
  }();
  return dpi;
}

int window_dpi(HWND hwnd) {
  HWND root = hwnd ? GetAncestor(hwnd, GA_ROOT) : nullptr;
  if (root) {
    if (auto laid_out = static_cast<int>(reinterpret_cast<UINT_PTR>(GetPropW(root, units::kDpiProp))))
      return laid_out;
    if (int dpi = own_dpi(root)) return dpi;
  }
  return system_dpi();
}

long long UnitValue::number() const {
  if (is_text_) return std::atoll(text_.c_str());
  return number_;
}

Text UnitValue::text() const {
  if (is_text_) return text_;
  if (is_bytes_) return Text(bytes_.view());
  return Text(std::to_string(number_));
}

bool load_window(const WindowDesign& design, HWND owner, bool modal) {
  if (HWND existing = form_handle(design)) {
    ShowWindow(existing, SW_SHOW);
    SetForegroundWindow(existing);
    return true;
  }
  register_classes();
  if (modal && !owner) owner = GetActiveWindow();

  auto* f = new Form;
  f->design = &design;
  f->thread = GetCurrentThreadId();
  f->owner = owner;
  f->modal = modal;

  // Made at the system DPI, then fitted to the DPI of the monitor it opened on.
  DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
  f->dpi = system_dpi();
  SIZE outer = outer_size(design, style, f->dpi);
  POINT at = start_position(design, owner, outer.cx, outer.cy, f->dpi);
  std::wstring caption = wide_path(design.caption ? design.caption : "");
  HWND hwnd = CreateWindowExW(0, units::kFormClass, caption.c_str(), style, at.x, at.y, outer.cx, outer.cy, owner,
                              nullptr, GetModuleHandleW(nullptr), f);
  if (!hwnd) {
    delete f;
    return false;
  }
  if (int dpi = monitor_dpi(hwnd); dpi != f->dpi) {
    f->dpi = dpi;
    outer = outer_size(design, style, dpi);
    at = start_position(design, owner, outer.cx, outer.cy, dpi);
    SetWindowPos(hwnd, nullptr, at.x, at.y, outer.cx, outer.cy, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  SetPropW(hwnd, units::kDpiProp, reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(f->dpi)));
  set_name(hwnd, design.name ? design.name : "");
  {
    std::lock_guard<Lock> lock(g_mutex);
    g_forms[&design] = f;
    g_ever_loaded.insert(&design);
  }
  create_units(*f);

  if (design.on_created) {
    design.on_created();
    if (!IsWindow(hwnd)) return true;  // the handler closed it
  }
  if (design.centered) {
    // Centred as it finally is: the creation handler may have changed its frame.
    RECT r{};
    GetWindowRect(hwnd, &r);
    POINT centred = start_position(design, owner, r.right - r.left, r.bottom - r.top, f->dpi);
    SetWindowPos(hwnd, nullptr, centred.x, centred.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  if (modal && owner && IsWindowEnabled(owner)) {
    EnableWindow(owner, FALSE);
    f->owner_disabled = true;
  }
  ShowWindow(hwnd, SW_SHOW);
  UpdateWindow(hwnd);
  if (modal) modal_loop(hwnd);
  return true;
}

void close_window(const WindowDesign& design) {
  on_window_thread(design, [&] {
    if (Form* f = live_form(design)) destroy_form(*f);
  });
}

HWND form_handle(const WindowDesign& design) {
  FormRef f = find_form(design);
  return f.hwnd;
}

UnitValue unit_get(const WindowDesign& design, std::string_view unit, int property) {
  UnitValue result;
  on_window_thread(design, [&] {
    Form* f = live_form(design);
    if (!f) return;
    if (is_form_name(*f, unit))
      result = get_form_property(*f, property);
    else
      result = get_unit_property(*find_unit_or_fail(*f, unit), property);
  });
  return result;
}

void unit_set(const WindowDesign& design, std::string_view unit, int property, const UnitValue& value) {
  on_window_thread(design, [&] {
    Form* f = live_form(design);
    if (!f) return;
    if (is_form_name(*f, unit))
      set_form_property(*f, property, value);
    else
      set_unit_property(*f, *find_unit_or_fail(*f, unit), property, value);
  });
}

HWND unit_window_handle(const WindowDesign& design, std::string_view unit) {
  HWND hwnd = nullptr;
  bool ran = false;
  FormRef ref = find_form(design);
  if (ref.hwnd) {
    ran = on_window_thread(design, [&] {
      // A unit whose page has not shown yet gets its window now.
      if (Form* f = live_form(design)) hwnd = is_form_name(*f, unit) ? f->hwnd : (f->find(unit) ? make_unit_window(*f->find(unit)) : nullptr);
    });
  }
  if (!ran || !hwnd) rt_fail(kNoUnit);
  return hwnd;
}

bool unit_is_created(const WindowDesign& design, std::string_view unit) {
  FormRef ref = find_form(design);
  if (!ref.hwnd) return false;
  HWND hwnd = nullptr;
  on_window_thread(design, [&] {
    if (Form* f = live_form(design)) {
      if (is_form_name(*f, unit))
        hwnd = f->hwnd;
      else if (Unit* u = f->find(unit))
        hwnd = u->hwnd;
    }
  });
  return hwnd && IsWindow(hwnd);
}

namespace {
RECT client_rect_of(const WindowDesign& design, std::string_view unit) {
  RECT r{};
  GetClientRect(unit_window_handle(design, unit), &r);
  return r;
}
}  // namespace

int client_width(const WindowDesign& design, std::string_view unit) {
  RECT r = client_rect_of(design, unit);
  return to_units(r.right - r.left, window_dpi(unit_window_handle(design, unit)));
}

int client_height(const WindowDesign& design, std::string_view unit) {
  RECT r = client_rect_of(design, unit);
  return to_units(r.bottom - r.top, window_dpi(unit_window_handle(design, unit)));
}

void move_unit(const WindowDesign& design, std::string_view unit, std::optional<int> left, std::optional<int> top,
               std::optional<int> width, std::optional<int> height) {
  on_window_thread(design, [&] {
    Form* f = live_form(design);
    if (!f) return;
    if (is_form_name(*f, unit))
      move_form(*f, left, top, width, height);
    else
      move_unit_window(*find_unit_or_fail(*f, unit), left, top, width, height);
  });
}

LRESULT send_message(const WindowDesign& design, std::string_view unit, UINT message, WPARAM wParam, LPARAM lParam) {
  return SendMessageW(unit_window_handle(design, unit), message, wParam, lParam);
}

int run_message_loop() {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}

}  // namespace rt
