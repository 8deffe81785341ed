// PNG check on Windows with GDI+, which the installer draws its logo with:
// the whole image is decoded.
#include <windows.h>
// GDI+ needs the COM declarations first.
#include <objidl.h>

#include <gdiplus.h>
#include <shlwapi.h>

#include "mkinstaller/checks.h"

namespace mkinstaller {

bool decode_png(const std::string& bytes, unsigned* width, unsigned* height, std::string* why) {
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
      if (w && h &&
          Gdiplus::DllExports::GdipBitmapLockBits(bitmap, &rect, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB,
                                                  &data) == Gdiplus::Ok) {
        Gdiplus::DllExports::GdipBitmapUnlockBits(bitmap, &data);
        *width = w;
        *height = h;
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

}  // namespace mkinstaller
