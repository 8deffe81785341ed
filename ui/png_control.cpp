#include "ui/png_control.h"

#include <commctrl.h>
#include <gdiplus.h>

#include <cstring>
#include <memory>

#include "runtime/value/codepage.h"
#include "runtime/units/units.h"
#include "ui/image_services.h"
#include "ui/memory_stream.h"

namespace ui {

namespace gp = Gdiplus::DllExports;
using Gdiplus::GpGraphics;
using Gdiplus::GpImage;

namespace {

constexpr char kType[] = "PngControl_Type";
constexpr char kWndProc[] = "PngControl_WndProc";
constexpr char kBackImage[] = "PngControl_BackImage";
constexpr char kBackHolder[] = "PngControl_BackHolder";  // the shared image kBackImage belongs to
constexpr char kBackType[] = "PngControl_BackType";
constexpr char kNormalImage[] = "PngControl_NormalImage";
constexpr char kOverImage[] = "PngControl_OverlImage";
constexpr char kDownImage[] = "PngControl_DownImage";
constexpr char kDisableImage[] = "PngControl_DisableImage";
constexpr char kDrawState[] = "Comet_DrawState";
constexpr char kTextColor[] = "PngControl_TextColor";
constexpr char kToolTips[] = "Comet_ToolTips";
constexpr char kCacheDC[] = "hCacheDC";
constexpr char kCacheBitmap[] = "hCacheBitmap";
constexpr char kCacheOldBitmap[] = "hCacheOldBitmap";
constexpr char kCacheWidth[] = "nCacheWidth";
constexpr char kCacheHeight[] = "nCacheHieght";  // the name as the system spells it
constexpr char kPlaced[] = "PngControl_Placed";
constexpr char kPlaceLeft[] = "PngControl_Left";
constexpr char kPlaceTop[] = "PngControl_Top";
constexpr char kPlaceWidth[] = "PngControl_Width";
constexpr char kPlaceHeight[] = "PngControl_Height";

HWND g_tooltip = nullptr;

UINT_PTR prop(HWND hwnd, const char* name) { return reinterpret_cast<UINT_PTR>(GetPropA(hwnd, name)); }
void set_prop(HWND hwnd, const char* name, UINT_PTR value) {
  SetPropA(hwnd, name, reinterpret_cast<HANDLE>(value));
}
template <typename T>
T prop_as(HWND hwnd, const char* name) {
  return reinterpret_cast<T>(GetPropA(hwnd, name));
}

// Subclasses once: a window that already carries "PngControl_WndProc" keeps
// its procedure. Unicode procedures, so window texts keep their characters.
void subclass(HWND hwnd, WNDPROC proc) {
  if (prop(hwnd, kWndProc)) return;
  LONG_PTR former = SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(proc));
  set_prop(hwnd, kWndProc, static_cast<UINT_PTR>(former));
}

LRESULT pass_on(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto former = prop_as<WNDPROC>(hwnd, kWndProc);
  return former ? CallWindowProcW(former, hwnd, message, wParam, lParam)
                : DefWindowProcW(hwnd, message, wParam, lParam);
}

// Top-left of a window in its parent's client coordinates, and its size.
RECT rect_in_parent(HWND hwnd) {
  RECT r{};
  GetWindowRect(hwnd, &r);
  POINT pt{r.left, r.top};
  if (HWND parent = GetParent(hwnd)) ScreenToClient(parent, &pt);
  return RECT{pt.x, pt.y, pt.x + (r.right - r.left), pt.y + (r.bottom - r.top)};
}

void set_style_bits(HWND hwnd, int index, LONG_PTR add, LONG_PTR remove) {
  LONG_PTR old = GetWindowLongPtrW(hwnd, index);
  LONG_PTR now = (old | add) & ~remove;
  if (now != old) SetWindowLongPtrW(hwnd, index, now);
}

GpImage* state_image(HWND control) {
  const char* name = kNormalImage;
  switch (prop(control, kDrawState)) {
    case 1: name = kOverImage; break;
    case 2: name = kDownImage; break;
    case 3: name = kDisableImage; break;
    default: break;
  }
  GpImage* image = prop_as<GpImage*>(control, name);
  return image ? image : prop_as<GpImage*>(control, kNormalImage);
}

// An image's natural size counts its pixels as design units, shown at `dpi`.
void draw_image(GpGraphics* graphics, GpImage* image, int back_type, int W, int H, int dpi) {
  float fw = 0, fh = 0;
  if (gp::GdipGetImageDimension(image, &fw, &fh) != Gdiplus::Ok) return;
  const float scale = static_cast<float>(dpi) / rt::kDesignDpi;
  fw *= scale;
  fh *= scale;
  float x = 0, y = 0, w = fw, h = fh;
  if (back_type == kBackStretch) {
    w = static_cast<float>(W);
    h = static_cast<float>(H);
  } else if (back_type == kBackFit) {
    FittedSize fit = FitSize(static_cast<int>(fw), static_cast<int>(fh), W, H);
    w = static_cast<float>(fit.width);
    h = static_cast<float>(fit.height);
    x = static_cast<float>((W - fit.width) / 2);
    y = static_cast<float>((H - fit.height) / 2);
  }
  gp::GdipDrawImageRect(graphics, image, x, y, w, h);
}

// The cache of the parent's painted client area, refreshed after each paint.
void refresh_cache(HWND parent, HDC dc) {
  HDC cache = prop_as<HDC>(parent, kCacheDC);
  HBITMAP bitmap = prop_as<HBITMAP>(parent, kCacheBitmap);
  RECT rc;
  GetClientRect(parent, &rc);
  int w = rc.right - rc.left, h = rc.bottom - rc.top;
  if (!cache) {
    cache = CreateCompatibleDC(dc);
    set_prop(parent, kCacheDC, reinterpret_cast<UINT_PTR>(cache));
  }
  if (!bitmap || static_cast<int>(prop(parent, kCacheWidth)) != w ||
      static_cast<int>(prop(parent, kCacheHeight)) != h) {
    if (bitmap) {
      SelectObject(cache, prop_as<HGDIOBJ>(parent, kCacheOldBitmap));
      DeleteObject(bitmap);
    }
    bitmap = CreateCompatibleBitmap(dc, w, h);
    HGDIOBJ old = SelectObject(cache, bitmap);
    set_prop(parent, kCacheBitmap, reinterpret_cast<UINT_PTR>(bitmap));
    set_prop(parent, kCacheOldBitmap, reinterpret_cast<UINT_PTR>(old));
    set_prop(parent, kCacheWidth, static_cast<UINT_PTR>(w));
    set_prop(parent, kCacheHeight, static_cast<UINT_PTR>(h));
  }
  BitBlt(cache, 0, 0, w, h, dc, 0, 0, SRCCOPY);
}

void copy_cached_background(HWND parent, HDC dc, HWND control) {
  HDC cache = prop_as<HDC>(parent, kCacheDC);
  if (!cache || !prop(parent, kCacheBitmap)) return;
  POINT origin{0, 0};
  MapWindowPoints(control, parent, &origin, 1);
  RECT r;
  GetWindowRect(control, &r);
  BitBlt(dc, 0, 0, r.right - r.left, r.bottom - r.top, cache, origin.x, origin.y, SRCCOPY);
}

bool is_dc(WPARAM wParam) {
  DWORD type = wParam ? GetObjectType(reinterpret_cast<HGDIOBJ>(wParam)) : 0;
  return type == OBJ_DC || type == OBJ_MEMDC;
}

}  // namespace

// ---- free routines ------------------------------------------------------

FittedSize FitSize(int iw, int ih, int W, int H) {
  int width = iw, height = ih;
  if (iw > W) {
    width = W;
    height = static_cast<int>(static_cast<double>(ih) * W / iw);
  }
  if (height > H) {
    width = static_cast<int>(static_cast<double>(width) * H / height);
    height = H;
  }
  return {width, height};
}

// The decoded first frame is copied into a bitmap of its own, so the image
// owns all its memory and the encoded bytes can go at once.
void* LoadImageFromBytes(const rt::Bytes& bytes) {
  if (bytes.empty()) return nullptr;
  auto stream = std::make_unique<MemoryStream>();
  stream->Load(bytes, true);
  if (!stream->Stream()) return nullptr;
  GpImage* image = nullptr;
  if (gp::GdipLoadImageFromStream(stream->Stream(), &image) != Gdiplus::Ok) return nullptr;
  const rt::Bytes& dimension = FrameDimensionTime();
  if (dimension.size() == sizeof(GUID))
    gp::GdipImageSelectActiveFrame(image, reinterpret_cast<const GUID*>(dimension.data()), 0);

  if (void* copy = rt::own_image_copy(image)) return copy;
  // Not a bitmap (a metafile): the image keeps reading the stream's memory,
  // which must then live as long as the image does.
  stream.release();
  return image;
}

void DrawPngControl(HWND control, HDC dc) {
  RECT r;
  GetWindowRect(control, &r);
  int W = r.right - r.left, H = r.bottom - r.top;
  int type = static_cast<int>(prop(control, kType));
  HDC mem = CreateCompatibleDC(dc);
  HBITMAP bitmap = CreateCompatibleBitmap(dc, W, H);
  HGDIOBJ old = SelectObject(mem, bitmap);
  SendMessageW(GetParent(control), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(mem), reinterpret_cast<LPARAM>(control));
  GpGraphics* graphics = nullptr;
  gp::GdipCreateFromHDC(mem, &graphics);
  GpImage* image = type == kPngStateImage ? state_image(control) : prop_as<GpImage*>(control, kBackImage);
  if (graphics) {
    // Scaled images stay smooth at any display scaling.
    gp::GdipSetInterpolationMode(graphics, Gdiplus::InterpolationModeHighQualityBicubic);
    gp::GdipSetPixelOffsetMode(graphics, Gdiplus::PixelOffsetModeHalf);
  }
  if (graphics && image)
    draw_image(graphics, image, static_cast<int>(prop(control, kBackType)), W, H, rt::window_dpi(control));
  BitBlt(dc, 0, 0, W, H, mem, 0, 0, SRCCOPY);
  if (graphics) gp::GdipDeleteGraphics(graphics);
  SelectObject(mem, old);
  DeleteObject(bitmap);
  DeleteDC(mem);
}

HWND ToolTipWindow() { return g_tooltip; }

namespace {

// ---- place ---------------------------------------------------------------
// A control's place is given in design units (pixels at 96 DPI) and kept in
// its properties, so that it can be shown again at a new DPI.

void keep_place(HWND control, const rt::Rect& r) {
  set_prop(control, kPlaceLeft, static_cast<UINT_PTR>(static_cast<INT_PTR>(r.left)));
  set_prop(control, kPlaceTop, static_cast<UINT_PTR>(static_cast<INT_PTR>(r.top)));
  set_prop(control, kPlaceWidth, static_cast<UINT_PTR>(static_cast<INT_PTR>(r.width)));
  set_prop(control, kPlaceHeight, static_cast<UINT_PTR>(static_cast<INT_PTR>(r.height)));
  set_prop(control, kPlaced, 1);
}

rt::Rect place_of(HWND control) {
  auto get = [&](const char* name) { return static_cast<int>(static_cast<INT_PTR>(prop(control, name))); };
  if (prop(control, kPlaced)) return {get(kPlaceLeft), get(kPlaceTop), get(kPlaceWidth), get(kPlaceHeight)};
  // Attached to a window made elsewhere: its place as it is now.
  RECT r = rect_in_parent(control);
  int dpi = rt::window_dpi(control);
  return {rt::to_units(r.left, dpi), rt::to_units(r.top, dpi), rt::to_units(r.right - r.left, dpi),
          rt::to_units(r.bottom - r.top, dpi)};
}

void move_to_place(HWND control, UINT flags) {
  rt::Rect p = place_of(control);
  int dpi = rt::window_dpi(control);
  SetWindowPos(control, nullptr, rt::to_pixels(p.left, dpi), rt::to_pixels(p.top, dpi), rt::to_pixels(p.width, dpi),
               rt::to_pixels(p.height, dpi), flags | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

// ---- window procedures ----------------------------------------------------

LRESULT CALLBACK PngControlProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case rt::kMsgDpiChangedAfterParent:
      move_to_place(control, 0);
      return pass_on(control, message, wParam, lParam);
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(control, &ps);
      DrawPngControl(control, dc);
      EndPaint(control, &ps);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_NCDESTROY:
      delete prop_as<rt::ImageHold*>(control, kBackHolder);
      RemovePropA(control, kBackHolder);
      return pass_on(control, message, wParam, lParam);
    default:
      return pass_on(control, message, wParam, lParam);
  }
}

LRESULT CALLBACK PngParentProc(HWND parent, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      LRESULT r = pass_on(parent, message, wParam, lParam);
      if (is_dc(wParam)) {
        refresh_cache(parent, reinterpret_cast<HDC>(wParam));
      } else {
        HDC dc = GetDC(parent);
        refresh_cache(parent, dc);
        ReleaseDC(parent, dc);
      }
      return r;
    }
    case WM_NOTIFY: {
      auto* hdr = reinterpret_cast<NMHDR*>(lParam);
      if (hdr && prop(hdr->hwndFrom, kType) == kPngStateImage && hdr->code == static_cast<UINT>(NM_CUSTOMDRAW)) {
        HDC dc = GetWindowDC(hdr->hwndFrom);
        DrawPngControl(hdr->hwndFrom, dc);
        ReleaseDC(hdr->hwndFrom, dc);
      }
      break;
    }
    case WM_COMMAND: {
      HWND control = reinterpret_cast<HWND>(lParam);
      WORD code = HIWORD(wParam);
      if (control && prop(control, kType) == kPngEdit && (code == EN_VSCROLL || code == EN_HSCROLL || code == EN_CHANGE))
        InvalidateRect(control, nullptr, TRUE);
      break;
    }
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC: {
      HWND control = reinterpret_cast<HWND>(lParam);
      UINT_PTR type = prop(control, kType);
      if (!type) break;
      HDC dc = reinterpret_cast<HDC>(wParam);
      if (type == kPngEdit) SetTextColor(dc, static_cast<COLORREF>(prop(control, kTextColor)));
      SetBkMode(dc, TRANSPARENT);
      return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
    }
    case WM_PRINTCLIENT: {
      HWND control = reinterpret_cast<HWND>(lParam);
      if (IsWindow(control) && prop(control, kType))
        copy_cached_background(parent, reinterpret_cast<HDC>(wParam), control);
      break;
    }
    default:
      break;
  }
  return pass_on(parent, message, wParam, lParam);
}

// ---- PngControl ----------------------------------------------------------

HWND PngControl::Create(HWND parent, const rt::Bytes& bytes, int left, int top, int width, int height) {
  std::wstring text = rt::wide_path("Halvek.图片框");
  const int dpi = rt::window_dpi(parent);
  HWND hwnd = CreateWindowExW(WS_EX_TRANSPARENT, L"Static", text.c_str(), WS_CHILD | WS_VISIBLE | SS_NOTIFY,
                              rt::to_pixels(left, dpi), rt::to_pixels(top, dpi), rt::to_pixels(width, dpi),
                              rt::to_pixels(height, dpi), parent, nullptr, nullptr, nullptr);
  if (!Attach(hwnd)) return hwnd;
  keep_place(hwnd, {left, top, width, height});
  set_prop(hwnd, kType, kPngPicture);
  SetWindowTextW(hwnd, rt::wide_path("Halvek图片框").c_str());
  subclass(hwnd, PngControlProc);
  if (!bytes.empty()) SetBackImage(bytes);
  return hwnd;
}

bool PngControl::Attach(HWND window) {
  if (!IsWindow(window)) return false;
  HWND parent = GetParent(window);
  if (parent && !prop(parent, kType)) subclass(parent, PngParentProc);
  set_style_bits(window, GWL_STYLE, 0, WS_CLIPSIBLINGS);
  set_style_bits(window, GWL_EXSTYLE, WS_EX_TRANSPARENT, 0);
  if (parent) set_style_bits(parent, GWL_STYLE, 0, WS_CLIPCHILDREN);
  hwnd_ = window;
  return true;
}

void PngControl::SetBackImage(const rt::Bytes& bytes) {
  // Shared with the other holders of the same bytes (the logo's picture box).
  // A control of this module lets go of it when its window goes; an attached
  // window keeps it for the process's life.
  auto holder = std::make_unique<rt::ImageHold>(bytes.data(), bytes.size());
  void* image = *holder ? (*holder)->image() : nullptr;
  delete prop_as<rt::ImageHold*>(hwnd_, kBackHolder);
  set_prop(hwnd_, kBackHolder, image ? reinterpret_cast<UINT_PTR>(holder.release()) : 0);
  set_prop(hwnd_, kBackImage, reinterpret_cast<UINT_PTR>(image));
  RECT r = rect_in_parent(hwnd_);
  if (HWND parent = GetParent(hwnd_)) InvalidateRect(parent, &r, TRUE);
}

void PngControl::SetBackType(int type) { set_prop(hwnd_, kBackType, static_cast<UINT_PTR>(type)); }

void PngControl::SetToolTip(const rt::Text& text, bool atCursor) {
  if (!g_tooltip) {
    // The common controls by name at run time: the programs have restricted
    // the library search to the system folder (and the manifest's side-by-side
    // copy) before this; the toolchain's delay-import thunk for this function
    // jumped to address 0.
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES};
    using InitFunction = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    if (HMODULE comctl = LoadLibraryW(L"comctl32.dll"))
      if (auto init = reinterpret_cast<InitFunction>(
              reinterpret_cast<void*>(GetProcAddress(comctl, "InitCommonControlsEx"))))
        init(&icc);
    g_tooltip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, L"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    SendMessageW(g_tooltip, TTM_SETMAXTIPWIDTH, 0, 1024);
  }
  std::wstring wide = rt::wide_path(text.view());
  TOOLINFOW info{};
  info.cbSize = TTTOOLINFOW_V2_SIZE;
  info.hwnd = hwnd_;
  info.uId = 0;
  info.lpszText = wide.data();
  if (!prop(hwnd_, kToolTips)) {
    set_prop(hwnd_, kToolTips, 1);
    info.uFlags = TTF_SUBCLASS | (atCursor ? 0 : TTF_CENTERTIP);
    GetClientRect(hwnd_, &info.rect);
    SendMessageW(g_tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
  } else {
    SendMessageW(g_tooltip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&info));
  }
}

void PngControl::Move(std::optional<int> left, std::optional<int> top, std::optional<int> width,
                      std::optional<int> height) {
  rt::Rect now = place_of(hwnd_);
  rt::Rect next{left.value_or(now.left), top.value_or(now.top), width.value_or(now.width), height.value_or(now.height)};
  UINT flags = 0;
  if (!left && !top) flags |= SWP_NOMOVE;
  if (!width && !height) flags |= SWP_NOSIZE;
  keep_place(hwnd_, next);
  move_to_place(hwnd_, flags);
}

bool PngControl::Exists() const { return IsWindow(hwnd_) == 1; }

void PngControl::Redraw() { InvalidateRect(hwnd_, nullptr, FALSE); }

int PngControl::Send(UINT message, WPARAM wParam, LPARAM lParam) {
  return static_cast<int>(SendMessageW(hwnd_, message, wParam, lParam));
}

bool PngControl::SetProperty(const rt::Text& name, int value) {
  return SetPropA(hwnd_, name.c_str(), reinterpret_cast<HANDLE>(static_cast<INT_PTR>(value))) != FALSE;
}

int PngControl::GetProperty(const rt::Text& name) const {
  return static_cast<int>(reinterpret_cast<INT_PTR>(GetPropA(hwnd_, name.c_str())));
}

}  // namespace ui
