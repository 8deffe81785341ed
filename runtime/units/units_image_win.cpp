// GDI+ start-up and the decoded images of the window units.
#include <windows.h>
#include <gdiplus.h>
#include <shlwapi.h>

#include <cstring>

#include "runtime/units/units.h"
#include "runtime/units/units_impl.h"

namespace rt {

namespace gp = Gdiplus::DllExports;

void start_gdiplus() {
  static const bool started = [] {
    Gdiplus::GdiplusStartupInput input;  // version 1, no callback, background thread, external codecs
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);  // never shut down: images live until exit
    return true;
  }();
  (void)started;
}

void* own_image_copy(void* gp_image) {
  auto* image = static_cast<Gdiplus::GpImage*>(gp_image);
  UINT w = 0, h = 0;
  gp::GdipGetImageWidth(image, &w);
  gp::GdipGetImageHeight(image, &h);
  auto* source = reinterpret_cast<Gdiplus::GpBitmap*>(image);
  Gdiplus::GpBitmap* copy = nullptr;
  Gdiplus::Rect all(0, 0, static_cast<INT>(w), static_cast<INT>(h));
  Gdiplus::BitmapData in{}, out{};
  bool copied = false;
  if (w && h &&
      gp::GdipBitmapLockBits(source, &all, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB, &in) == Gdiplus::Ok) {
    if (gp::GdipCreateBitmapFromScan0(static_cast<INT>(w), static_cast<INT>(h), 0, PixelFormat32bppARGB, nullptr,
                                      &copy) == Gdiplus::Ok &&
        gp::GdipBitmapLockBits(copy, &all, Gdiplus::ImageLockModeWrite, PixelFormat32bppARGB, &out) == Gdiplus::Ok) {
      for (UINT y = 0; y < h; ++y)
        std::memcpy(static_cast<char*>(out.Scan0) + static_cast<std::ptrdiff_t>(y) * out.Stride,
                    static_cast<const char*>(in.Scan0) + static_cast<std::ptrdiff_t>(y) * in.Stride, w * 4);
      gp::GdipBitmapUnlockBits(copy, &out);
      copied = true;
    }
    gp::GdipBitmapUnlockBits(source, &in);
  }
  if (copied) {
    gp::GdipDisposeImage(image);
    return copy;
  }
  if (copy) gp::GdipDisposeImage(copy);
  return nullptr;
}

namespace units {

void Picture::reset() {
  if (image_) gp::GdipDisposeImage(static_cast<Gdiplus::GpImage*>(image_));
  image_ = nullptr;
  bytes_ = Bytes();
  width_ = height_ = 0;
}

void Picture::load(const void* data, std::size_t n) {
  reset();
  if (!data || n == 0) return;
  start_gdiplus();
  bytes_ = Bytes(data, n);
  IStream* stream = SHCreateMemStream(static_cast<const BYTE*>(data), static_cast<UINT>(n));
  if (!stream) return;
  Gdiplus::GpImage* image = nullptr;
  if (gp::GdipLoadImageFromStream(stream, &image) == Gdiplus::Ok) {
    // The copy owns its pixels; the stream can go.
    if (void* copy = own_image_copy(image)) {
      image_ = copy;
    } else {
      gp::GdipDisposeImage(image);
    }
  }
  stream->Release();
  if (image_) {
    UINT w = 0, h = 0;
    gp::GdipGetImageWidth(static_cast<Gdiplus::GpImage*>(image_), &w);
    gp::GdipGetImageHeight(static_cast<Gdiplus::GpImage*>(image_), &h);
    width_ = static_cast<int>(w);
    height_ = static_cast<int>(h);
  }
}

}  // namespace units
}  // namespace rt
