// The unit kinds' painting: every unit paints double-buffered into a memory
// bitmap that first receives what lies under it (its container's colour and
// image, up to the window), so transparent kinds and rounded shapes sit
// cleanly on any panel. Shapes are drawn with GDI+ antialiasing, text with
// GDI in the design font.
#include <windows.h>
#include <gdiplus.h>

#include <algorithm>
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

// The look: the installer's blue, quiet greys.
constexpr COLORREF kText = RGB(48, 56, 72);
constexpr COLORREF kBlue = RGB(0, 111, 221);
constexpr COLORREF kBlueDark = RGB(0, 88, 184);
constexpr COLORREF kTrack = RGB(226, 232, 242);
constexpr COLORREF kBorder = RGB(200, 208, 222);
constexpr COLORREF kWhite = RGB(255, 255, 255);

Gdiplus::ARGB argb(COLORREF c, BYTE alpha = 255) {
  return (static_cast<Gdiplus::ARGB>(alpha) << 24) | (static_cast<Gdiplus::ARGB>(GetRValue(c)) << 16) |
         (static_cast<Gdiplus::ARGB>(GetGValue(c)) << 8) | GetBValue(c);
}

COLORREF pick(const Color& c, COLORREF fallback) { return c.given() ? c.ref() : fallback; }

int dpi_of(const Unit& u) { return u.form ? u.form->dpi : kDesignDpi; }

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

  // An image's natural size counts its pixels as design units, shown at `dpi`.
  void picture(const Picture& p, const Color& key, ImageMode mode, const RECT& box, int dpi) {
    if (!g_ || !p.image()) return;
    int bw = box.right - box.left, bh = box.bottom - box.top;
    int x = box.left, y = box.top, w = to_pixels(p.width(), dpi), h = to_pixels(p.height(), dpi);
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
    canvas.picture(c.images[kImageNormal], c.image_key[kImageNormal], c.design->image_mode, cr, dpi_of(c));
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
      RECT bar{x, y + tm.tmAscent + px(u, 2), x + size.cx, y + tm.tmAscent + px(u, 3)};
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
  int lead = u.design->kind == UnitKind::CheckBox ? px(u, kCheckTextLeft) : 0;
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
  left = std::max(0, left - px(u, 2));
  if (u.design->kind != UnitKind::CheckBox) right = std::min(static_cast<int>(rc.right), right + px(u, 2));
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
  const int size = px(u, kCheckBoxSize);
  float box = static_cast<float>(size), x = pxf(u, 1), y = static_cast<float>((rc.bottom - size) / 2);
  float radius = pxf(u, 3.5f), line = pxf(u, 1), half = pxf(u, 0.5f);
  Canvas canvas(dc);
  if (u.checked) {
    canvas.round_rect(x, y, box, box, radius, enabled ? kBlue : kBorder);
    Gdiplus::PointF tick[] = {{x + pxf(u, 3.5f), y + pxf(u, 7.8f)},
                              {x + pxf(u, 6.4f), y + pxf(u, 10.6f)},
                              {x + pxf(u, 11.6f), y + pxf(u, 4.6f)}};
    canvas.polyline(tick, 3, kWhite, pxf(u, 2));
  } else {
    COLORREF edge = u.hover && enabled ? kBlue : kBorder;
    canvas.round_rect(x + half, y + half, box - line, box - line, radius, kWhite, &edge, line);
  }
  RECT text = rc;
  text.left = px(u, kCheckTextLeft);
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
    canvas.picture(*p, u.image_key[picture_slot(u, p)], u.design->image_mode, rc, dpi_of(u));
  } else if (u.back[0].given()) {
    Canvas canvas(dc);
    canvas.round_rect(0, 0, static_cast<float>(rc.right), static_cast<float>(rc.bottom), pxf(u, 6), u.back[0].ref());
  }
}

void draw_super_button(Unit& u, HDC dc, const RECT& rc) {
  paint_under_or_back(u, dc, Color{});
  int state = state_of(u);
  Canvas canvas(dc);
  float w = static_cast<float>(rc.right), h = static_cast<float>(rc.bottom);
  if (const Picture* p = button_picture(u)) {
    canvas.picture(*p, u.image_key[picture_slot(u, p)], u.design->image_mode, rc, dpi_of(u));
  } else {
    COLORREF back = pick(u.back[state], pick(u.back[0], kBlue));
    canvas.round_rect(0, 0, w, h, pxf(u, 6), back);
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

}  // namespace

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
    float line = pxf(u, 1), half = pxf(u, 0.5f);
    canvas.round_rect(half, half, static_cast<float>(w) - line, static_cast<float>(h) - line, pxf(u, 6),
                      pick(u.back[0], kWhite), &edge, line);
  }
  ExcludeClipRect(wdc, cx, cy, cx + cr.right, cy + cr.bottom);
  BitBlt(wdc, 0, 0, w, h, dc, 0, 0, SRCCOPY);
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
  ReleaseDC(hwnd, wdc);
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

bool is_container(UnitKind k) { return k == UnitKind::PicBox || k == UnitKind::TabBox || k == UnitKind::CartoonBox; }

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

void apply_font(Unit& u) {
  u.font = font_for(u.design->font, px(u, u.font_height));
  if (u.hwnd) SendMessageW(u.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(u.font), FALSE);
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

}  // namespace rt::units
