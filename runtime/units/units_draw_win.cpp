// The unit kinds: their windows, drawing and pointer input.
//
// Every unit paints double-buffered into a memory bitmap that first receives
// what lies under it (its container's colour and image, up to the window),
// so transparent kinds and rounded shapes sit cleanly on any panel. Shapes
// are drawn with GDI+ antialiasing, text with GDI in the design font.
#include <windows.h>
#include <commctrl.h>
#include <gdiplus.h>

#include <map>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "runtime/value/codepage.h"
#include "runtime/win/lock_win.h"
#include "runtime/units/units.h"
#include "runtime/units/units_impl.h"

namespace rt::units {

namespace gp = Gdiplus::DllExports;
using Gdiplus::GpGraphics;

namespace {

// The look: the design's blue, quiet greys.
constexpr COLORREF kText = RGB(48, 56, 72);
constexpr COLORREF kBlue = RGB(0, 111, 221);
constexpr COLORREF kBlueDark = RGB(0, 88, 184);
constexpr COLORREF kTrack = RGB(226, 232, 242);
constexpr COLORREF kBorder = RGB(200, 208, 222);
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr wchar_t kEditProcProp[] = L"Unit_EditProc";
constexpr int kEditPadding = 10;

Gdiplus::ARGB argb(COLORREF c, BYTE alpha = 255) {
  return (static_cast<Gdiplus::ARGB>(alpha) << 24) | (static_cast<Gdiplus::ARGB>(GetRValue(c)) << 16) |
         (static_cast<Gdiplus::ARGB>(GetGValue(c)) << 8) | GetBValue(c);
}

COLORREF pick(const Color& c, COLORREF fallback) { return c.given() ? c.ref() : fallback; }

// A GDI+ surface over a DC, antialiased.
class Canvas {
 public:
  explicit Canvas(HDC dc) {
    gp::GdipCreateFromHDC(dc, &g_);
    if (g_) {
      gp::GdipSetSmoothingMode(g_, Gdiplus::SmoothingModeAntiAlias);
      gp::GdipSetPixelOffsetMode(g_, Gdiplus::PixelOffsetModeHalf);
      gp::GdipSetInterpolationMode(g_, Gdiplus::InterpolationModeHighQualityBicubic);
    }
  }
  ~Canvas() {
    if (g_) gp::GdipDeleteGraphics(g_);
  }
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;
  GpGraphics* get() const { return g_; }

  void round_rect(float x, float y, float w, float h, float r, COLORREF fill, COLORREF* stroke = nullptr,
                  float stroke_width = 1) {
    if (!g_ || w <= 0 || h <= 0) return;
    Gdiplus::GpPath* path = nullptr;
    gp::GdipCreatePath(Gdiplus::FillModeAlternate, &path);
    r = std::min(r, std::min(w, h) / 2);
    if (r <= 0) {
      gp::GdipAddPathRectangle(path, x, y, w, h);
    } else {
      float d = 2 * r;
      gp::GdipAddPathArc(path, x, y, d, d, 180, 90);
      gp::GdipAddPathArc(path, x + w - d, y, d, d, 270, 90);
      gp::GdipAddPathArc(path, x + w - d, y + h - d, d, d, 0, 90);
      gp::GdipAddPathArc(path, x, y + h - d, d, d, 90, 90);
      gp::GdipClosePathFigure(path);
    }
    Gdiplus::GpSolidFill* brush = nullptr;
    gp::GdipCreateSolidFill(argb(fill), &brush);
    gp::GdipFillPath(g_, brush, path);
    gp::GdipDeleteBrush(brush);
    if (stroke) {
      Gdiplus::GpPen* pen = nullptr;
      gp::GdipCreatePen1(argb(*stroke), stroke_width, Gdiplus::UnitPixel, &pen);
      gp::GdipDrawPath(g_, pen, path);
      gp::GdipDeletePen(pen);
    }
    gp::GdipDeletePath(path);
  }

  void polyline(const Gdiplus::PointF* points, int n, COLORREF colour, float width) {
    if (!g_) return;
    Gdiplus::GpPen* pen = nullptr;
    gp::GdipCreatePen1(argb(colour), width, Gdiplus::UnitPixel, &pen);
    gp::GdipSetPenStartCap(pen, Gdiplus::LineCapRound);
    gp::GdipSetPenEndCap(pen, Gdiplus::LineCapRound);
    gp::GdipSetPenLineJoin(pen, Gdiplus::LineJoinRound);
    gp::GdipDrawLines(g_, pen, points, n);
    gp::GdipDeletePen(pen);
  }

  void picture(const Picture& p, const Color& key, ImageMode mode, const RECT& box) {
    if (!g_ || !p.image()) return;
    int bw = box.right - box.left, bh = box.bottom - box.top;
    int x = box.left, y = box.top, w = p.width(), h = p.height();
    switch (mode) {
      case ImageMode::Stretch: w = bw; h = bh; break;
      case ImageMode::Natural: break;
      case ImageMode::Center: x += (bw - w) / 2; y += (bh - h) / 2; break;
      case ImageMode::Fit: {
        double scale = std::min(static_cast<double>(bw) / w, static_cast<double>(bh) / h);
        if (scale < 1) {
          w = static_cast<int>(w * scale);
          h = static_cast<int>(h * scale);
        }
        x += (bw - w) / 2;
        y += (bh - h) / 2;
        break;
      }
    }
    Gdiplus::GpImageAttributes* attributes = nullptr;
    if (key.given()) {
      gp::GdipCreateImageAttributes(&attributes);
      gp::GdipSetImageAttributesColorKeys(attributes, Gdiplus::ColorAdjustTypeDefault, TRUE, argb(key.ref()),
                                          argb(key.ref()));
    }
    auto* image = static_cast<Gdiplus::GpImage*>(p.image());
    gp::GdipDrawImageRectRectI(g_, image, x, y, w, h, 0, 0, p.width(), p.height(), Gdiplus::UnitPixel, attributes,
                               nullptr, nullptr);
    if (attributes) gp::GdipDisposeImageAttributes(attributes);
  }

 private:
  GpGraphics* g_ = nullptr;
};

bool is_container(UnitKind k) { return k == UnitKind::PicBox || k == UnitKind::TabBox || k == UnitKind::CartoonBox; }
bool is_button(UnitKind k) { return k == UnitKind::PicBtn || k == UnitKind::SuperBtn || k == UnitKind::CheckBox; }

// Units that take no pointer input let clicks through to what lies beneath,
// as a plain static control does: a header panel over a draggable page
// drags the window too.
bool passive(const Unit& u) {
  const UnitDesign& d = *u.design;
  if (d.on_click || d.on_mouse_down || d.on_mouse_up) return false;
  switch (d.kind) {
    case UnitKind::Label:
    case UnitKind::TransLabel:
    case UnitKind::PicBox:
    case UnitKind::CartoonBox:
    case UnitKind::TabBox:
    case UnitKind::ProcessBar:
      return true;
    default:
      return false;
  }
}

bool wants_hand(const Unit& u) { return u.design->hand_cursor || u.design->kind == UnitKind::HyperLinker; }

RECT client_of(HWND hwnd) {
  RECT r{};
  GetClientRect(hwnd, &r);
  return r;
}

void fill(HDC dc, const RECT& r, COLORREF c) {
  HBRUSH brush = CreateSolidBrush(c);
  FillRect(dc, &r, brush);
  DeleteObject(brush);
}

// A container's own surface: its colour (or what lies under it) and its image.
void paint_surface(Unit& c, HDC dc, int ox, int oy) {
  RECT cr = client_of(c.hwnd);
  OffsetRect(&cr, ox, oy);
  if (c.back[0].given())
    fill(dc, cr, c.back[0].ref());
  else
    paint_under(c.hwnd, dc, ox, oy);
  if (c.design->kind != UnitKind::TabBox && c.images[kImageNormal].image()) {
    Canvas canvas(dc);
    canvas.picture(c.images[kImageNormal], c.image_key[kImageNormal], c.design->image_mode, cr);
  }
}

// ---- text ----------------------------------------------------------------

bool is_cjk(wchar_t c) { return c >= 0x2E80; }
bool no_line_start(wchar_t c) {
  static const std::wstring closing = rt::wide_path("，。、；：！？）》」』”’…");
  return closing.find(c) != std::wstring::npos;
}

// Breaks a text into lines that fit the width: at any character in Chinese
// text, at blanks in Latin text; closing punctuation never starts a line.
std::vector<std::wstring> wrap(HDC dc, const std::wstring& text, int width) {
  std::vector<std::wstring> lines;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t nl = text.find(L'\n', start);
    std::wstring seg = text.substr(start, nl == std::wstring::npos ? std::wstring::npos : nl - start);
    if (!seg.empty() && seg.back() == L'\r') seg.pop_back();
    do {
      int fit = 0;
      SIZE size{};
      GetTextExtentExPointW(dc, seg.c_str(), static_cast<int>(seg.size()), std::max(width, 1), &fit, nullptr, &size);
      if (fit >= static_cast<int>(seg.size())) {
        lines.push_back(seg);
        break;
      }
      std::size_t cut = fit > 0 ? static_cast<std::size_t>(fit) : 1;
      if (!is_cjk(seg[cut])) {
        std::size_t space = seg.rfind(L' ', cut);
        if (space != std::wstring::npos && space > 0) cut = space;
      } else if (cut > 1 && no_line_start(seg[cut])) {
        --cut;
      }
      lines.push_back(seg.substr(0, cut));
      seg.erase(0, cut);
      while (!seg.empty() && seg.front() == L' ') seg.erase(0, 1);
    } while (!seg.empty());
    if (nl == std::wstring::npos) break;
    start = nl + 1;
  }
  return lines;
}

void draw_text(HDC dc, Unit& u, RECT box, COLORREF colour, Align align, bool underline = false) {
  std::wstring text = wide_path(u.caption.view());
  if (text.empty()) return;
  HGDIOBJ old = SelectObject(dc, u.font);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, colour);
  TEXTMETRICW tm{};
  GetTextMetricsW(dc, &tm);
  int width = box.right - box.left;
  std::vector<std::wstring> lines = wrap(dc, text, width);
  int line_h = tm.tmHeight;
  int y = box.top + (box.bottom - box.top - line_h * static_cast<int>(lines.size())) / 2;
  for (const std::wstring& line : lines) {
    SIZE size{};
    GetTextExtentPoint32W(dc, line.c_str(), static_cast<int>(line.size()), &size);
    int x = box.left;
    if (align == Align::Center) x += (width - size.cx) / 2;
    if (align == Align::Right) x += width - size.cx;
    ExtTextOutW(dc, x, y, 0, nullptr, line.c_str(), static_cast<UINT>(line.size()), nullptr);
    if (underline) {
      RECT bar{x, y + tm.tmAscent + 2, x + size.cx, y + tm.tmAscent + 3};
      fill(dc, bar, colour);
    }
    y += line_h;
  }
  SelectObject(dc, old);
}

// Units drawn transparently occupy only what they draw (box and text), so
// a neighbour they overlap stays visible and clickable where they are empty.
bool shaped_by_content(const Unit& u) {
  switch (u.design->kind) {
    case UnitKind::CheckBox:
    case UnitKind::HyperLinker:
    case UnitKind::TransLabel:
    case UnitKind::Label:
      return !u.back[0].given();
    default:
      return false;
  }
}

constexpr int kCheckBoxSize = 15;
constexpr int kCheckTextLeft = 20;  // box at x 1, a gap of 4

void update_region(Unit& u) {
  if (!u.hwnd) return;
  if (!shaped_by_content(u)) {
    SetWindowRgn(u.hwnd, nullptr, TRUE);
    return;
  }
  RECT rc = client_of(u.hwnd);
  int lead = u.design->kind == UnitKind::CheckBox ? kCheckTextLeft : 0;
  int width = rc.right - lead;
  HDC dc = GetDC(u.hwnd);
  HGDIOBJ old = SelectObject(dc, u.font);
  int left = rc.right, right = 0;
  for (const std::wstring& line : wrap(dc, wide_path(u.caption.view()), width)) {
    SIZE size{};
    GetTextExtentPoint32W(dc, line.c_str(), static_cast<int>(line.size()), &size);
    int x = lead;
    if (u.design->align == Align::Center) x += (width - size.cx) / 2;
    if (u.design->align == Align::Right) x += width - size.cx;
    left = std::min(left, x);
    right = std::max(right, x + static_cast<int>(size.cx));
  }
  SelectObject(dc, old);
  ReleaseDC(u.hwnd, dc);
  if (u.design->kind == UnitKind::CheckBox) left = 0;
  if (right <= left) left = right = 0;
  // A little slack for antialiased edges and the underline.
  left = std::max(0, left - 2);
  if (u.design->kind != UnitKind::CheckBox) right = std::min(static_cast<int>(rc.right), right + 2);
  SetWindowRgn(u.hwnd, CreateRectRgn(left, 0, right, rc.bottom), TRUE);
}

// ---- the kinds -------------------------------------------------------------

void paint_under_or_back(Unit& u, HDC dc, const Color& back) {
  if (back.given())
    fill(dc, client_of(u.hwnd), back.ref());
  else
    paint_under(u.hwnd, dc, 0, 0);
}

void draw_check_box(Unit& u, HDC dc, const RECT& rc) {
  paint_under_or_back(u, dc, u.back[0]);
  bool enabled = IsWindowEnabled(u.hwnd);
  float box = kCheckBoxSize, x = 1, y = static_cast<float>((rc.bottom - kCheckBoxSize) / 2);
  Canvas canvas(dc);
  if (u.checked) {
    canvas.round_rect(x, y, box, box, 3.5f, enabled ? kBlue : kBorder);
    Gdiplus::PointF tick[] = {{x + 3.5f, y + 7.8f}, {x + 6.4f, y + 10.6f}, {x + 11.6f, y + 4.6f}};
    canvas.polyline(tick, 3, kWhite, 2);
  } else {
    COLORREF edge = u.hover && enabled ? kBlue : kBorder;
    canvas.round_rect(x + 0.5f, y + 0.5f, box - 1, box - 1, 3.5f, kWhite, &edge);
  }
  RECT text = rc;
  text.left = kCheckTextLeft;
  draw_text(dc, u, text, pick(u.text[0], kText), Align::Left);
}

void draw_progress(Unit& u, HDC dc, const RECT& rc) {
  paint_under_or_back(u, dc, Color{});
  float w = static_cast<float>(rc.right), h = static_cast<float>(rc.bottom);
  Canvas canvas(dc);
  canvas.round_rect(0, 0, w, h, h / 2, u.back[0].given() ? u.back[0].ref() : kTrack);
  int range = u.maximum - u.minimum;
  if (range > 0 && u.position > u.minimum) {
    float part = w * static_cast<float>(u.position - u.minimum) / static_cast<float>(range);
    canvas.round_rect(0, 0, std::max(part, h), h, h / 2, pick(u.text[0], kBlue));
  }
}

void draw_link(Unit& u, HDC dc, const RECT& rc) {
  paint_under_or_back(u, dc, u.back[0]);
  COLORREF colour = pick(u.text[0], kBlue);
  if (u.hover) colour = pick(u.text[kStateHover], u.text[0].given() ? colour : kBlueDark);
  draw_text(dc, u, rc, colour, u.design->align, u.hover);
}

int state_of(const Unit& u) {
  if (u.hover || u.pressed) return kStateHover;
  if (GetFocus() == u.hwnd) return kStateFocus;
  return kStateNormal;
}

const Picture* button_picture(const Unit& u) {
  auto has = [&](int slot) { return u.images[slot].image() != nullptr; };
  if (!IsWindowEnabled(u.hwnd) && has(kImageDisabled)) return &u.images[kImageDisabled];
  if (u.pressed && u.hover && has(kImageDown)) return &u.images[kImageDown];
  if ((u.hover || u.pressed) && has(kImageHover)) return &u.images[kImageHover];
  return has(kImageNormal) ? &u.images[kImageNormal] : nullptr;
}

int picture_slot(const Unit& u, const Picture* p) { return p ? static_cast<int>(p - u.images) : 0; }

void draw_pic_button(Unit& u, HDC dc, const RECT& rc) {
  paint_under_or_back(u, dc, Color{});
  if (const Picture* p = button_picture(u)) {
    Canvas canvas(dc);
    canvas.picture(*p, u.image_key[picture_slot(u, p)], u.design->image_mode, rc);
  } else if (u.back[0].given()) {
    Canvas canvas(dc);
    canvas.round_rect(0, 0, static_cast<float>(rc.right), static_cast<float>(rc.bottom), 6, u.back[0].ref());
  }
}

void draw_super_button(Unit& u, HDC dc, const RECT& rc) {
  paint_under_or_back(u, dc, Color{});
  int state = state_of(u);
  Canvas canvas(dc);
  float w = static_cast<float>(rc.right), h = static_cast<float>(rc.bottom);
  if (const Picture* p = button_picture(u)) {
    canvas.picture(*p, u.image_key[picture_slot(u, p)], u.design->image_mode, rc);
  } else {
    COLORREF back = pick(u.back[state], pick(u.back[0], kBlue));
    canvas.round_rect(0, 0, w, h, 6, back);
  }
  // A pressed button darkens a little, whatever it is drawn with.
  if (u.pressed && u.hover) {
    Gdiplus::GpSolidFill* shade = nullptr;
    gp::GdipCreateSolidFill(0x18000000, &shade);
    Gdiplus::GpPath* path = nullptr;
    gp::GdipCreatePath(Gdiplus::FillModeAlternate, &path);
    gp::GdipAddPathRectangle(path, 0, 0, w, h);
    if (canvas.get()) gp::GdipFillPath(canvas.get(), shade, path);
    gp::GdipDeletePath(path);
    gp::GdipDeleteBrush(shade);
  }
  COLORREF text = pick(u.text[state], pick(u.text[0], kWhite));
  if (!IsWindowEnabled(u.hwnd)) text = RGB(220, 224, 232);
  draw_text(dc, u, rc, text, Align::Center);
}

void paint_unit(Unit& u, HDC target) {
  RECT rc = client_of(u.hwnd);
  if (rc.right <= 0 || rc.bottom <= 0) return;
  HDC dc = CreateCompatibleDC(target);
  HBITMAP bitmap = CreateCompatibleBitmap(target, rc.right, rc.bottom);
  HGDIOBJ old = SelectObject(dc, bitmap);
  switch (u.design->kind) {
    case UnitKind::PicBox:
    case UnitKind::CartoonBox:
    case UnitKind::TabBox:
      paint_surface(u, dc, 0, 0);
      break;
    case UnitKind::Label:
      paint_under_or_back(u, dc, u.back[0]);
      draw_text(dc, u, rc, pick(u.text[0], kText), u.design->align);
      break;
    case UnitKind::TransLabel:
      paint_under(u.hwnd, dc, 0, 0);
      draw_text(dc, u, rc, pick(u.text[0], kText), u.design->align);
      break;
    case UnitKind::CheckBox: draw_check_box(u, dc, rc); break;
    case UnitKind::ProcessBar: draw_progress(u, dc, rc); break;
    case UnitKind::HyperLinker: draw_link(u, dc, rc); break;
    case UnitKind::PicBtn: draw_pic_button(u, dc, rc); break;
    case UnitKind::SuperBtn: draw_super_button(u, dc, rc); break;
    default: paint_under(u.hwnd, dc, 0, 0); break;
  }
  BitBlt(target, 0, 0, rc.right, rc.bottom, dc, 0, 0, SRCCOPY);
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
}

void click(Unit& u) {
  HWND hwnd = u.hwnd;
  if (u.design->kind == UnitKind::CheckBox) {
    u.checked = !u.checked;
    InvalidateRect(hwnd, nullptr, FALSE);
  }
  if (u.design->kind == UnitKind::HyperLinker && !u.target.empty()) {
    if (open_link(u.target, u.design->email)) {
      u.visited = true;
      InvalidateRect(hwnd, nullptr, FALSE);
    }
  }
  fire(hwnd, u.design->on_click);
}

// ---- EditBox: a real EDIT control, text centred vertically in a rounded field

int line_height(HWND edit, HFONT font) {
  HDC dc = GetDC(edit);
  HGDIOBJ old = SelectObject(dc, font);
  TEXTMETRICW tm{};
  GetTextMetricsW(dc, &tm);
  SelectObject(dc, old);
  ReleaseDC(edit, dc);
  return tm.tmHeight;
}

void paint_edit_frame(Unit& u) {
  HWND hwnd = u.hwnd;
  RECT wr{};
  GetWindowRect(hwnd, &wr);
  int w = wr.right - wr.left, h = wr.bottom - wr.top;
  POINT client{0, 0};
  ClientToScreen(hwnd, &client);
  int cx = client.x - wr.left, cy = client.y - wr.top;
  RECT cr = client_of(hwnd);
  HDC wdc = GetWindowDC(hwnd);
  HDC dc = CreateCompatibleDC(wdc);
  HBITMAP bitmap = CreateCompatibleBitmap(wdc, w, h);
  HGDIOBJ old = SelectObject(dc, bitmap);
  paint_under(hwnd, dc, cx, cy);
  {
    Canvas canvas(dc);
    COLORREF edge = GetFocus() == hwnd ? kBlue : kBorder;
    canvas.round_rect(0.5f, 0.5f, static_cast<float>(w - 1), static_cast<float>(h - 1), 6,
                      pick(u.back[0], kWhite), &edge);
  }
  ExcludeClipRect(wdc, cx, cy, cx + cr.right, cy + cr.bottom);
  BitBlt(wdc, 0, 0, w, h, dc, 0, 0, SRCCOPY);
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
  ReleaseDC(hwnd, wdc);
}

LRESULT CALLBACK edit_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto former = reinterpret_cast<WNDPROC>(GetPropW(hwnd, kEditProcProp));
  Unit* u = unit_of(hwnd);
  switch (msg) {
    case WM_NCCALCSIZE:
      if (wp && u) {
        RECT& r = reinterpret_cast<NCCALCSIZE_PARAMS*>(lp)->rgrc[0];
        int pad = std::max(1, static_cast<int>((r.bottom - r.top - line_height(hwnd, u->font)) / 2));
        r.left += kEditPadding;
        r.right -= kEditPadding;
        r.top += pad;
        r.bottom -= pad;
        if (r.bottom < r.top) r.bottom = r.top;
        return 0;
      }
      break;
    case WM_NCPAINT:
      if (u) {
        paint_edit_frame(*u);
        return 0;
      }
      break;
    case WM_NCHITTEST: {
      LRESULT h = CallWindowProcW(former, hwnd, msg, wp, lp);
      return h == HTNOWHERE || h == HTBORDER ? HTCLIENT : h;
    }
    case WM_SETFOCUS:
    case WM_KILLFOCUS: {
      LRESULT r = CallWindowProcW(former, hwnd, msg, wp, lp);
      RedrawWindow(hwnd, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE);
      return r;
    }
    case WM_NCDESTROY: {
      RemovePropW(hwnd, kEditProcProp);
      SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(former));
      LRESULT r = CallWindowProcW(former, hwnd, msg, wp, lp);
      if (u) {
        if (u->edit_brush) DeleteObject(u->edit_brush);
        u->edit_brush = nullptr;
        u->hwnd = nullptr;
      }
      RemovePropW(hwnd, kStateProp);
      if (ATOM atom = static_cast<ATOM>(reinterpret_cast<UINT_PTR>(RemovePropW(hwnd, kNameProp))))
        GlobalDeleteAtom(atom);
      return r;
    }
    default:
      break;
  }
  return CallWindowProcW(former, hwnd, msg, wp, lp);
}

LRESULT edit_colours(HWND edit, HDC dc) {
  Unit* u = unit_of(edit);
  if (!u || u->design->kind != UnitKind::EditBox) return 0;
  COLORREF back = pick(u->back[0], kWhite);
  if (u->edit_brush) {
    LOGBRUSH lb{};
    GetObjectW(u->edit_brush, sizeof lb, &lb);
    if (lb.lbColor != back) {
      DeleteObject(u->edit_brush);
      u->edit_brush = nullptr;
    }
  }
  if (!u->edit_brush) u->edit_brush = CreateSolidBrush(back);
  SetTextColor(dc, pick(u->text[0], kText));
  SetBkColor(dc, back);
  return reinterpret_cast<LRESULT>(u->edit_brush);
}

}  // namespace

Unit* unit_of(HWND hwnd) { return static_cast<Unit*>(GetPropW(hwnd, kStateProp)); }

void reshape(Unit& u) { update_region(u); }

HFONT font_for(const Font& font, int height) {
  static Lock mutex;
  static std::map<std::tuple<std::string, int, int>, HFONT> cache;  // fonts live until exit
  std::string face = font.face ? font.face : "微软雅黑";
  std::lock_guard<Lock> lock(mutex);
  auto key = std::make_tuple(face, height, font.weight);
  auto it = cache.find(key);
  if (it != cache.end()) return it->second;
  HFONT f = CreateFontW(-height, 0, 0, 0, font.weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_TT_PRECIS,
                        CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE, wide_path(face).c_str());
  cache[key] = f;
  return f;
}

bool fire(HWND hwnd, Handler handler) {
  if (handler) handler();
  return IsWindow(hwnd) != FALSE;
}

void start_timer(Unit& u) {
  if (u.design->kind != UnitKind::Timer || !u.hwnd) return;
  KillTimer(u.hwnd, 1);
  if (u.period > 0) SetTimer(u.hwnd, 1, static_cast<UINT>(u.period), nullptr);
}

void apply_visibility(Unit& u) {
  if (!u.hwnd) return;
  bool show = u.visible && u.design->kind != UnitKind::Timer;
  if (u.container && u.container->design->kind == UnitKind::TabBox) show = show && u.design->page == u.container->page;
  if (show != (IsWindowVisible(u.hwnd) != FALSE) || !show) ShowWindow(u.hwnd, show ? SW_SHOWNA : SW_HIDE);
}

void paint_under(HWND child, HDC dc, int dx, int dy) {
  HWND parent = GetParent(child);
  POINT o{0, 0};
  MapWindowPoints(child, parent, &o, 1);
  int px = dx - o.x, py = dy - o.y;
  if (Unit* p = unit_of(parent); p && is_container(p->design->kind)) {
    paint_surface(*p, dc, px, py);
    return;
  }
  RECT pr = client_of(parent);
  OffsetRect(&pr, px, py);
  Color back;
  if (Unit* u = unit_of(child); u && u->form) back = u->form->design->back;
  fill(dc, pr, pick(back, kWhite));
}

HWND create_unit_window(Unit& u, HWND parent) {
  const UnitDesign& d = *u.design;
  u.caption = d.caption ? d.caption : "";
  u.visible = d.visible;
  u.checked = d.checked;
  u.position = d.position;
  u.minimum = d.minimum;
  u.maximum = d.maximum;
  u.period = d.period;
  u.page = 0;
  for (int i = 0; i < 3; ++i) {
    u.text[i] = d.text[i];
    u.back[i] = d.back[i];
  }
  for (int i = 0; i < 4; ++i) {
    if (d.image[i]) u.images[i].load(d.image[i]->begin, d.image[i]->size());
    u.image_key[i] = d.image_key[i];
  }
  u.target = d.target ? d.target : "";
  u.font_height = d.font.height;
  u.font = font_for(d.font, u.font_height);

  DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
  if (is_container(d.kind)) style |= WS_CLIPCHILDREN;
  if (is_button(d.kind)) style |= WS_TABSTOP;
  std::wstring caption = wide_path(u.caption.view());
  const Rect& r = d.rect;
  HWND hwnd = nullptr;
  if (d.kind == UnitKind::EditBox) {
    hwnd = CreateWindowExW(0, L"EDIT", caption.c_str(), style | WS_TABSTOP | ES_AUTOHSCROLL | ES_LEFT, r.left, r.top,
                           r.width, r.height, parent, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!hwnd) return nullptr;
    u.hwnd = hwnd;
    SetPropW(hwnd, kStateProp, &u);
    LONG_PTR former = SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(edit_proc));
    SetPropW(hwnd, kEditProcProp, reinterpret_cast<HANDLE>(former));
    SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(u.font), FALSE);
    SetWindowPos(hwnd, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
  } else {
    hwnd = CreateWindowExW(0, kUnitClass, caption.c_str(), style, r.left, r.top, r.width, r.height, parent, nullptr,
                           GetModuleHandleW(nullptr), &u);
    if (!hwnd) return nullptr;
  }
  if (!d.enabled) EnableWindow(hwnd, FALSE);
  update_region(u);
  start_timer(u);
  return hwnd;
}

LRESULT CALLBACK unit_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  Unit* u = unit_of(hwnd);
  switch (msg) {
    case WM_NCCREATE: {
      auto* created = static_cast<Unit*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
      if (created) {
        created->hwnd = hwnd;
        SetPropW(hwnd, kStateProp, created);
      }
      break;
    }
    case WM_NCDESTROY:
      if (u) {
        KillTimer(hwnd, 1);
        u->hwnd = nullptr;
      }
      RemovePropW(hwnd, kStateProp);
      if (ATOM atom = static_cast<ATOM>(reinterpret_cast<UINT_PTR>(RemovePropW(hwnd, kNameProp))))
        GlobalDeleteAtom(atom);
      break;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
      if (LRESULT brush = edit_colours(reinterpret_cast<HWND>(lp), reinterpret_cast<HDC>(wp))) return brush;
      break;
    default:
      break;
  }
  if (!u) return DefWindowProcW(hwnd, msg, wp, lp);

  switch (msg) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      paint_unit(*u, dc);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_SETTEXT: {
      LRESULT r = DefWindowProcW(hwnd, msg, wp, lp);
      u->caption = Text(lp ? cp936_from_wchar(reinterpret_cast<const wchar_t*>(lp)) : std::string());
      update_region(*u);
      InvalidateRect(hwnd, nullptr, FALSE);
      return r;
    }
    case WM_SIZE:
    case WM_SETFONT:
      update_region(*u);
      InvalidateRect(hwnd, nullptr, FALSE);
      break;
    case WM_ENABLE:
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      InvalidateRect(hwnd, nullptr, FALSE);
      break;
    // State that other programs (tests, accessibility tools) can ask for
    // with the standard controls' messages.
    case BM_GETCHECK:
      if (u->design->kind == UnitKind::CheckBox) return u->checked ? BST_CHECKED : BST_UNCHECKED;
      break;
    case PBM_GETPOS:
      if (u->design->kind == UnitKind::ProcessBar) return u->position;
      break;
    case WM_NCHITTEST:
      if (passive(*u)) return HTTRANSPARENT;
      break;
    case WM_SETCURSOR:
      if (LOWORD(lp) == HTCLIENT && wants_hand(*u)) {
        SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_HAND)));
        return TRUE;
      }
      break;
    case WM_MOUSEMOVE:
      if (!u->hover) {
        u->hover = true;
        TRACKMOUSEEVENT tme{sizeof tme, TME_LEAVE, hwnd, 0};
        TrackMouseEvent(&tme);
        InvalidateRect(hwnd, nullptr, FALSE);
      }
      return 0;
    case WM_MOUSELEAVE:
      u->hover = false;
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_SHOWWINDOW:
      // A unit hidden under the pointer (its page switched away) shows
      // again in its normal state.
      if (!wp) u->hover = u->pressed = false;
      break;
    case WM_LBUTTONDOWN:
      if (u->design->kind == UnitKind::SuperBtn) SetFocus(hwnd);
      u->pressed = true;
      SetCapture(hwnd);
      InvalidateRect(hwnd, nullptr, FALSE);
      fire(hwnd, u->design->on_mouse_down);
      return 0;
    case WM_LBUTTONUP: {
      bool was_pressed = u->pressed;
      u->pressed = false;
      if (GetCapture() == hwnd) ReleaseCapture();
      if (!IsWindow(hwnd)) return 0;
      InvalidateRect(hwnd, nullptr, FALSE);
      POINT pt{static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
      RECT rc = client_of(hwnd);
      if (!fire(hwnd, u->design->on_mouse_up)) return 0;
      if (was_pressed && PtInRect(&rc, pt)) click(*u);
      return 0;
    }
    case WM_CAPTURECHANGED:
      if (u->pressed) {
        u->pressed = false;
        InvalidateRect(hwnd, nullptr, FALSE);
      }
      return 0;
    case WM_KEYDOWN:
      if ((wp == VK_SPACE || wp == VK_RETURN) && is_button(u->design->kind)) {
        click(*u);
        return 0;
      }
      break;
    case WM_GETDLGCODE:
      return DLGC_WANTALLKEYS;
    case WM_TIMER:
      if (wp == 1 && u->design->kind == UnitKind::Timer) fire(hwnd, u->design->on_tick);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace rt::units
