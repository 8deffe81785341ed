// The PNG picture control, its memory stream and the image services: real
// windows, drawing into memory DCs and reading the pixels back.
#include <windows.h>
#include <commctrl.h>
#include <gdiplus.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "runtime/value/codepage.h"
#include "tests/support/windows_win.h"
#include "ui/assets.h"
#include "ui/image_services.h"
#include "ui/png_control.h"

namespace {

namespace gp = Gdiplus::DllExports;

// Encodes a w x h PNG whose pixels come from a function of (x, y) -> ARGB.
rt::Bytes make_png(int w, int h, const std::function<Gdiplus::ARGB(int, int)>& pixel) {
  Gdiplus::GpBitmap* bitmap = nullptr;
  gp::GdipCreateBitmapFromScan0(w, h, 0, PixelFormat32bppARGB, nullptr, &bitmap);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) gp::GdipBitmapSetPixel(bitmap, x, y, pixel(x, y));
  IStream* stream = nullptr;
  CreateStreamOnHGlobal(nullptr, TRUE, &stream);
  const CLSID png{0x557CF406, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
  gp::GdipSaveImageToStream(bitmap, stream, &png, nullptr);
  gp::GdipDisposeImage(bitmap);
  HGLOBAL block = nullptr;
  GetHGlobalFromStream(stream, &block);
  STATSTG stat{};
  stream->Stat(&stat, STATFLAG_NONAME);
  rt::Bytes bytes(GlobalLock(block), static_cast<std::size_t>(stat.cbSize.QuadPart));
  GlobalUnlock(block);
  stream->Release();
  return bytes;
}

constexpr Gdiplus::ARGB kRed = 0xFFFF0000;
constexpr COLORREF kScreenRed = RGB(255, 0, 0);

// The parent of the controls: paints a two-colour checkerboard of 8-pixel
// squares, and answers colour messages with a brush the tests recognise.
constexpr LRESULT kParentBrush = 0x5150;
COLORREF pattern_at(int x, int y) { return ((x / 8 + y / 8) % 2) ? RGB(0, 0, 255) : RGB(255, 255, 0); }

LRESULT CALLBACK parent_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      RECT rc;
      GetClientRect(hwnd, &rc);
      for (int y = 0; y < rc.bottom; y += 8)
        for (int x = 0; x < rc.right; x += 8) {
          RECT cell{x, y, x + 8, y + 8};
          HBRUSH b = CreateSolidBrush(pattern_at(x, y));
          FillRect(dc, &cell, b);
          DeleteObject(b);
        }
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_CTLCOLORSTATIC:
      return kParentBrush;
    default:
      return DefWindowProcW(hwnd, msg, wp, lp);
  }
}

using testsupport::pump;

class PngTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ui::StartImageServices(); }
  void SetUp() override {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = parent_proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"PngTestParent";
    RegisterClassExW(&wc);
    parent_ = CreateWindowExW(0, L"PngTestParent", L"parent", WS_POPUP, 40, 40, 400, 300, nullptr, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
  }
  void TearDown() override { DestroyWindow(parent_); }

  // Draws the control into a fresh memory DC and reads a pixel there.
  struct Drawn {
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ old;
    COLORREF at(int x, int y) const { return GetPixel(dc, x, y); }
    ~Drawn() {
      SelectObject(dc, old);
      DeleteObject(bitmap);
      DeleteDC(dc);
    }
  };
  Drawn draw(HWND control) {
    HDC screen = GetDC(nullptr);
    RECT r;
    GetWindowRect(control, &r);
    Drawn d{CreateCompatibleDC(screen), CreateCompatibleBitmap(screen, r.right - r.left, r.bottom - r.top), nullptr};
    d.old = SelectObject(d.dc, d.bitmap);
    ReleaseDC(nullptr, screen);
    ui::DrawPngControl(control, d.dc);
    return d;
  }

  HWND parent_ = nullptr;
};

TEST(FitSize, shrinks_only_and_keeps_the_aspect) {
  auto fit = [](int iw, int ih, int w, int h) {
    ui::FittedSize f = ui::FitSize(iw, ih, w, h);
    return std::make_pair(f.width, f.height);
  };
  EXPECT_EQ(fit(400, 100, 200, 200), std::make_pair(200, 50));
  EXPECT_EQ(fit(100, 400, 200, 200), std::make_pair(50, 200));
  EXPECT_EQ(fit(100, 80, 200, 200), std::make_pair(100, 80)) << "never enlarged";
  EXPECT_EQ(fit(300, 300, 200, 100), std::make_pair(100, 100));
  EXPECT_EQ(fit(3, 1000, 200, 100), std::make_pair(0, 100)) << "truncated toward zero";
}

TEST_F(PngTest, back_types_place_a_wide_image_natural_stretched_or_fitted_and_centred) {
  rt::Bytes wide = make_png(400, 100, [](int, int) { return kRed; });
  ui::PngControl control;
  HWND hwnd = control.Create(parent_, wide, 0, 0, 200, 200);
  ASSERT_TRUE(hwnd);
  EXPECT_EQ(control.GetProperty("PngControl_Type"), ui::kPngPicture);

  control.SetBackType(ui::kBackFit);  // 200 x 50 at (0, 75)
  {
    Drawn d = draw(hwnd);
    EXPECT_NE(d.at(100, 74), kScreenRed);
    EXPECT_EQ(d.at(100, 75), kScreenRed);
    EXPECT_EQ(d.at(0, 100), kScreenRed);
    EXPECT_EQ(d.at(199, 124), kScreenRed);
    EXPECT_NE(d.at(100, 125), kScreenRed);
  }
  control.SetBackType(ui::kBackStretch);
  {
    Drawn d = draw(hwnd);
    // (The outermost pixels are blended with the edge by GDI+'s scaling.)
    EXPECT_EQ(d.at(3, 3), kScreenRed);
    EXPECT_EQ(d.at(196, 196), kScreenRed);
    EXPECT_EQ(d.at(100, 190), kScreenRed);
  }
  for (int natural : {0, 7}) {
    control.SetBackType(natural);  // 400 x 100 at (0, 0), clipped
    Drawn d = draw(hwnd);
    EXPECT_EQ(d.at(199, 99), kScreenRed);
    EXPECT_NE(d.at(0, 100), kScreenRed);
  }
}

TEST_F(PngTest, transparent_pixels_show_the_cached_parent_pattern_when_the_control_repaints_alone) {
  // Transparent everywhere but an opaque red 10 x 10 square in the middle.
  rt::Bytes holed = make_png(40, 40, [](int x, int y) {
    return (x >= 15 && x < 25 && y >= 15 && y < 25) ? kRed : Gdiplus::ARGB(0x00000000);
  });
  ui::PngControl control;
  HWND hwnd = control.Create(parent_, holed, 36, 20, 40, 40);
  ShowWindow(parent_, SW_SHOWNOACTIVATE);
  UpdateWindow(parent_);
  pump();
  ASSERT_NE(GetPropA(parent_, "hCacheDC"), nullptr) << "the parent's paint fills the cache";
  EXPECT_EQ(reinterpret_cast<UINT_PTR>(GetPropA(parent_, "nCacheWidth")), 400u);
  EXPECT_EQ(reinterpret_cast<UINT_PTR>(GetPropA(parent_, "nCacheHieght")), 300u);

  // The control alone repaints: its background comes from the cache.
  InvalidateRect(hwnd, nullptr, FALSE);
  UpdateWindow(hwnd);
  Drawn d = draw(hwnd);
  for (POINT p : {POINT{0, 0}, POINT{5, 30}, POINT{39, 39}, POINT{12, 3}})
    EXPECT_EQ(d.at(p.x, p.y), pattern_at(36 + p.x, 20 + p.y)) << p.x << "," << p.y;
  EXPECT_EQ(d.at(20, 20), kScreenRed);

  // And on the screen too.
  HDC dc = GetDC(hwnd);
  EXPECT_EQ(GetPixel(dc, 5, 30), pattern_at(36 + 5, 20 + 30));
  EXPECT_EQ(GetPixel(dc, 20, 20), kScreenRed);
  ReleaseDC(hwnd, dc);
}

TEST_F(PngTest, attach_subclasses_a_parent_once_and_adjusts_styles) {
  SetWindowLongPtrW(parent_, GWL_STYLE, GetWindowLongPtrW(parent_, GWL_STYLE) | WS_CLIPCHILDREN);
  HWND first = CreateWindowExW(0, L"Static", L"", WS_CHILD | WS_CLIPSIBLINGS, 0, 0, 10, 10, parent_, nullptr,
                               nullptr, nullptr);
  HWND second = CreateWindowExW(0, L"Static", L"", WS_CHILD, 20, 0, 10, 10, parent_, nullptr, nullptr, nullptr);
  ui::PngControl a, b;
  ASSERT_TRUE(a.Attach(first));
  auto former = GetPropA(parent_, "PngControl_WndProc");
  EXPECT_EQ(GetWindowLongPtrW(parent_, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(ui::PngParentProc));
  ASSERT_TRUE(b.Attach(second));
  EXPECT_EQ(GetPropA(parent_, "PngControl_WndProc"), former) << "not subclassed again";
  EXPECT_EQ(GetWindowLongPtrW(first, GWL_STYLE) & WS_CLIPSIBLINGS, 0);
  EXPECT_NE(GetWindowLongPtrW(first, GWL_EXSTYLE) & WS_EX_TRANSPARENT, 0);
  EXPECT_EQ(GetWindowLongPtrW(parent_, GWL_STYLE) & WS_CLIPCHILDREN, 0);
  EXPECT_FALSE(ui::PngControl().Attach(reinterpret_cast<HWND>(0x4321)));
}

TEST_F(PngTest, colour_messages_are_passed_on_for_other_children_and_made_transparent_for_png_kinds) {
  HWND plain = CreateWindowExW(0, L"Static", L"", WS_CHILD, 0, 0, 10, 10, parent_, nullptr, nullptr, nullptr);
  HWND edit = CreateWindowExW(0, L"Edit", L"", WS_CHILD, 0, 20, 50, 20, parent_, nullptr, nullptr, nullptr);
  ui::PngControl p, e;
  p.Attach(plain);
  e.Attach(edit);
  e.SetProperty("PngControl_Type", ui::kPngEdit);
  e.SetProperty("PngControl_TextColor", static_cast<int>(RGB(1, 2, 3)));
  HDC dc = GetDC(parent_);
  EXPECT_EQ(SendMessageW(parent_, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(plain)),
            kParentBrush);
  LRESULT brush = SendMessageW(parent_, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(edit));
  EXPECT_EQ(brush, reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH)));
  EXPECT_EQ(GetTextColor(dc), RGB(1, 2, 3));
  EXPECT_EQ(GetBkMode(dc), TRANSPARENT);
  ReleaseDC(parent_, dc);
}

TEST_F(PngTest, print_client_for_a_window_that_is_no_png_control_copies_nothing) {
  ui::PngControl control;
  control.Create(parent_, rt::Bytes(), 0, 0, 20, 20);
  ShowWindow(parent_, SW_SHOWNOACTIVATE);
  UpdateWindow(parent_);
  HWND plain = CreateWindowExW(0, L"Static", L"", WS_CHILD, 0, 0, 10, 10, parent_, nullptr, nullptr, nullptr);
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  HBITMAP bm = CreateCompatibleBitmap(screen, 10, 10);
  HGDIOBJ old = SelectObject(mem, bm);
  SetPixel(mem, 1, 1, RGB(9, 9, 9));
  SendMessageW(parent_, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(mem), reinterpret_cast<LPARAM>(plain));
  EXPECT_EQ(GetPixel(mem, 1, 1), RGB(9, 9, 9));
  SendMessageW(parent_, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(mem), reinterpret_cast<LPARAM>(control.Handle()));
  EXPECT_EQ(GetPixel(mem, 1, 1), pattern_at(1, 1)) << "a PNG control gets the cached background";
  SelectObject(mem, old);
  DeleteObject(bm);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
}

TEST_F(PngTest, a_state_image_control_draws_the_image_of_its_state_on_custom_draw) {
  HWND button = CreateWindowExW(0, L"Button", L"", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 50, 50, 40, 30, parent_,
                                nullptr, nullptr, nullptr);
  ui::PngControl control;
  ASSERT_TRUE(control.Attach(button));
  auto solid = [](Gdiplus::ARGB c) {
    return ui::LoadImageFromBytes(make_png(40, 30, [c](int, int) { return c; }));
  };
  control.SetProperty("PngControl_Type", ui::kPngStateImage);
  control.SetProperty("PngControl_BackType", ui::kBackStretch);
  control.SetProperty("PngControl_NormalImage", static_cast<int>(reinterpret_cast<INT_PTR>(solid(kRed))));
  control.SetProperty("PngControl_OverlImage", static_cast<int>(reinterpret_cast<INT_PTR>(solid(0xFF0000FF))));
  ShowWindow(parent_, SW_SHOWNOACTIVATE);
  UpdateWindow(parent_);
  pump();
  auto custom_draw_pixel = [&] {
    NMHDR hdr{button, 0, static_cast<UINT>(NM_CUSTOMDRAW)};
    SendMessageW(parent_, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&hdr));
    HDC dc = GetWindowDC(button);
    COLORREF c = GetPixel(dc, 20, 15);
    ReleaseDC(button, dc);
    return c;
  };
  control.SetProperty("Comet_DrawState", 1);
  EXPECT_EQ(custom_draw_pixel(), RGB(0, 0, 255)) << "hover";
  control.SetProperty("Comet_DrawState", 2);
  EXPECT_EQ(custom_draw_pixel(), kScreenRed) << "no pressed image: the normal one";
}

TEST_F(PngTest, empty_or_undecodable_bytes_leave_no_image) {
  ui::PngControl control;
  control.Create(parent_, rt::Bytes(), 0, 0, 20, 20);
  EXPECT_EQ(control.GetProperty("PngControl_BackImage"), 0);
  control.SetBackImage(rt::Bytes(std::string_view("not a picture at all")));
  EXPECT_EQ(control.GetProperty("PngControl_BackImage"), 0);
  control.SetBackImage(ui::assets::bytes(ui::assets::logo));
  EXPECT_NE(control.GetProperty("PngControl_BackImage"), 0);
  // Decoded once for every holder of the same bytes (the logo's picture box too).
  rt::ImageHold logo(ui::assets::logo.begin, ui::assets::logo.size());
  EXPECT_EQ(control.GetProperty("PngControl_BackImage"), static_cast<int>(reinterpret_cast<INT_PTR>(logo->image())));
  EXPECT_EQ(ui::LoadImageFromBytes(rt::Bytes()), nullptr);
}

TEST_F(PngTest, move_keeps_what_is_not_given) {
  ui::PngControl control;
  HWND hwnd = control.Create(parent_, rt::Bytes(), 10, 20, 30, 40);
  auto rect = [&] {
    RECT r;
    GetWindowRect(hwnd, &r);
    MapWindowPoints(HWND_DESKTOP, parent_, reinterpret_cast<POINT*>(&r), 2);
    return std::make_tuple(r.left, r.top, r.right - r.left, r.bottom - r.top);
  };
  control.Move(50);
  EXPECT_EQ(rect(), std::make_tuple(50L, 20L, 30L, 40L));
  control.Move({}, {}, 70);
  EXPECT_EQ(rect(), std::make_tuple(50L, 20L, 70L, 40L));
  control.Move({}, 5, {}, 8);
  EXPECT_EQ(rect(), std::make_tuple(50L, 5L, 70L, 8L));
  control.Move();
  EXPECT_EQ(rect(), std::make_tuple(50L, 5L, 70L, 8L));
}

TEST_F(PngTest, tooltip_is_added_once_then_only_its_text_changes) {
  ui::PngControl control;
  HWND hwnd = control.Create(parent_, rt::Bytes(), 10, 20, 30, 40);
  control.SetToolTip("第一个提示", false);
  HWND tip = ui::ToolTipWindow();
  ASSERT_TRUE(tip);
  EXPECT_EQ(control.GetProperty("Comet_ToolTips"), 1);
  EXPECT_EQ(SendMessageW(tip, TTM_GETTOOLCOUNT, 0, 0), 1);
  wchar_t text[80] = {};
  TOOLINFOW info{};
  info.cbSize = TTTOOLINFOW_V2_SIZE;
  info.hwnd = hwnd;
  info.lpszText = text;
  ASSERT_TRUE(SendMessageW(tip, TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&info)));
  EXPECT_EQ(info.uFlags & (TTF_SUBCLASS | TTF_CENTERTIP), static_cast<UINT>(TTF_SUBCLASS | TTF_CENTERTIP));
  EXPECT_EQ(rt::cp936_from_wchar(text), std::string("第一个提示"));

  control.SetToolTip("第二个");
  EXPECT_EQ(SendMessageW(tip, TTM_GETTOOLCOUNT, 0, 0), 1);
  info.lpszText = text;
  SendMessageW(tip, TTM_GETTEXTW, 80, reinterpret_cast<LPARAM>(&info));
  EXPECT_EQ(rt::cp936_from_wchar(text), std::string("第二个"));
  EXPECT_EQ(ui::ToolTipWindow(), tip) << "one tooltip window for the process";
}

}  // namespace
