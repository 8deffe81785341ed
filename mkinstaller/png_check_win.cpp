// PNG decoding on Windows with GDI+, which the installer draws its logo with:
// the whole image is decoded.
#include <windows.h>
// GDI+ needs the COM declarations first.
#include <objidl.h>

#include <gdiplus.h>
#include <shlwapi.h>

#include <cstring>

#include "mkinstaller/checks.h"
#include "mkinstaller/image.h"

namespace mkinstaller {

bool decode_png_image(const std::string& bytes, Image* out, std::string* why) {
  Gdiplus::GdiplusStartupInput input;
  ULONG_PTR token = 0;
  if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) {
    *why = "cannot start GDI+ to read the image";
    return false;
  }
  bool ok = false;
  IStream* stream = SHCreateMemStream(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<UINT>(bytes.size()));
  if (stream) {
    Gdiplus::GpBitmap* bitmap = nullptr;
    if (Gdiplus::DllExports::GdipCreateBitmapFromStream(stream, &bitmap) == Gdiplus::Ok && bitmap) {
      UINT w = 0, h = 0;
      Gdiplus::DllExports::GdipGetImageWidth(bitmap, &w);
      Gdiplus::DllExports::GdipGetImageHeight(bitmap, &h);
      // Reading every pixel finds damage in the image data.
      Gdiplus::Rect rect(0, 0, static_cast<INT>(w), static_cast<INT>(h));
      Gdiplus::BitmapData data{};
      if (w && h && std::uint64_t{w} * h <= (1u << 26) &&
          Gdiplus::DllExports::GdipBitmapLockBits(bitmap, &rect, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB,
                                                  &data) == Gdiplus::Ok) {
        out->width = w;
        out->height = h;
        out->rgba.resize(std::size_t{w} * h * 4);
        for (UINT y = 0; y < h; ++y) {
          const BYTE* row = static_cast<const BYTE*>(data.Scan0) + static_cast<std::ptrdiff_t>(y) * data.Stride;
          for (UINT x = 0; x < w; ++x) {
            std::uint8_t* p = &out->rgba[(std::size_t{y} * w + x) * 4];
            p[0] = row[x * 4 + 2];
            p[1] = row[x * 4 + 1];
            p[2] = row[x * 4];
            p[3] = row[x * 4 + 3];
          }
        }
        Gdiplus::DllExports::GdipBitmapUnlockBits(bitmap, &data);
        ok = true;
      }
      Gdiplus::DllExports::GdipDisposeImage(bitmap);
    }
    stream->Release();
  }
  Gdiplus::GdiplusShutdown(token);
  if (!ok) *why = "a damaged PNG image";
  return ok;
}

bool decode_png(const std::string& bytes, unsigned* width, unsigned* height, std::string* why) {
  Image image;
  if (!decode_png_image(bytes, &image, why)) return false;
  *width = image.width;
  *height = image.height;
  return true;
}

}  // namespace mkinstaller
