// Inside the window-unit toolkit: the live state behind a loaded window and
// its units, shared by the loader (units_win.cpp), the units' painting
// (units_paint_win.cpp) and their window procedure (units_proc_win.cpp).
// Everything here runs on the window's thread.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "runtime/units/units.h"

namespace rt::units {

constexpr wchar_t kFormClass[] = L"TarnelUnitForm";
constexpr wchar_t kUnitClass[] = L"TarnelUnit";
constexpr wchar_t kNameProp[] = L"Unit_Name";
constexpr wchar_t kStateProp[] = L"Unit_State";
constexpr wchar_t kDpiProp[] = L"Unit_Dpi";  // on a window: the DPI it is laid out at

// A unit's image: its bytes, decoded (GDI+) on first use and shared with
// every other picture of the same bytes.
class Picture {
 public:
  void load(const void* data, std::size_t n) { shared_ = ImageHold(data, n); }  // empty: no image
  void reset() { shared_.reset(); }
  // GpImage*, decoded now if it was not yet; null when empty or undecodable.
  void* image() const { return shared_ ? shared_->bitmap() : nullptr; }
  const Bytes& bytes() const;
  int width() const { return shared_ ? shared_->width() : 0; }
  int height() const { return shared_ ? shared_->height() : 0; }

 private:
  ImageHold shared_;
};

struct Form;

struct Unit {
  const UnitDesign* design = nullptr;
  Form* form = nullptr;
  Unit* container = nullptr;  // null: on the window
  HWND hwnd = nullptr;
  Rect place{};               // in the container, design units
  std::string name;           // design name, code page 936
  Text caption;
  bool visible = true;
  bool enabled = true;
  bool failed = false;  // its window could not be made
  bool checked = false;
  int position = 0, minimum = 0, maximum = 100;
  int period = 0;
  int page = 0;  // TabBox: the current page
  Color text[3]{};
  Color back[3]{};
  Picture images[4];
  Color image_key[4]{};
  Text target;
  bool visited = false;
  int font_height = 14;
  HFONT font = nullptr;
  HBRUSH edit_brush = nullptr;  // EditBox background
  // Pointer state.
  bool hover = false, pressed = false, tracking = false;
};

struct Form {
  const WindowDesign* design = nullptr;
  HWND hwnd = nullptr;
  DWORD thread = 0;
  HWND owner = nullptr;
  bool modal = false;
  bool owner_disabled = false;
  int dpi = kDesignDpi;
  std::vector<std::unique_ptr<Unit>> units;
  Unit* find(std::string_view name);
};

Unit* unit_of(HWND hwnd);
// A font of the design at a height in device pixels.
HFONT font_for(const Font& font, int height);

// Design units to the unit's device pixels.
inline int px(const Unit& u, int units) { return u.form ? to_pixels(units, u.form->dpi) : units; }
inline float pxf(const Unit& u, float units) {
  return u.form ? units * static_cast<float>(u.form->dpi) / kDesignDpi : units;
}
// Makes the unit's font for its height at the window's DPI and gives it to its window.
void apply_font(Unit& u);

// Fills the unit's state from its design (a unit has its state from the
// start; its window may come later, when its page first shows).
void init_unit(Unit& u);
// Creates the unit's window (and EditBox subclass) from the unit's state.
HWND create_unit_window(Unit& u, HWND parent);
LRESULT CALLBACK unit_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
// Shows or hides a unit from its own flag and its tab page.
void apply_visibility(Unit& u);
// Paints what lies under a child window (its container's background) into dc,
// with the child's client origin at (dx, dy) of dc.
void paint_under(HWND child, HDC dc, int dx, int dy);
void start_timer(Unit& u);
// Fits a transparent unit's window region to what it draws (after a change
// of caption, font, size or back colour).
void reshape(Unit& u);
// A handler call; false when it destroyed the unit's window.
bool fire(HWND hwnd, Handler handler);

// ---- painting (units_paint_win.cpp) ----
bool is_container(UnitKind kind);
// Draws the unit's client area into dc, in one copy.
void paint_unit(Unit& u, HDC dc);
// An EditBox's rounded field, drawn in its non-client area.
void paint_edit_frame(Unit& u);
// WM_CTLCOLOREDIT/STATIC of an EditBox unit: its colours and brush; 0 for other windows.
LRESULT edit_colours(HWND edit, HDC dc);
// The height of a line of text in the font.
int line_height(HWND hwnd, HFONT font);
constexpr int kEditPadding = 10;  // an EditBox's text inset, left and right

}  // namespace rt::units
