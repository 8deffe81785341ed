// GDI+ start-up and the decoded images of the window units.
#include <windows.h>
#include <gdiplus.h>
#include <shlwapi.h>

#include <cstdint>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

#include "runtime/units/units.h"
#include "runtime/units/units_impl.h"
#include "runtime/win/lock_win.h"

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

namespace {

// Every shared image that has holders, with a digest of its bytes. Holder
// counts change under the lock, so that a lookup never finds an image that
// is being freed.
struct TableEntry {
  std::uint64_t digest;
  SharedImage* image;
};
Lock g_images_lock;
std::vector<TableEntry> g_images;

std::uint64_t digest_of(const void* data, std::size_t n) {
  std::uint64_t h = 14695981039346656037ull ^ n;  // FNV-1a
  for (const auto* p = static_cast<const unsigned char*>(data); n--; ++p) h = (h ^ *p) * 1099511628211ull;
  return h;
}

}  // namespace

ImageHold::ImageHold(const void* data, std::size_t n) {
  if (!data || n == 0) return;
  std::uint64_t digest = digest_of(data, n);
  {
    std::lock_guard<Lock> lock(g_images_lock);
    for (const TableEntry& e : g_images) {
      const Bytes& b = e.image->bytes();
      if (e.digest == digest && b.size() == n && std::memcmp(b.data(), data, n) == 0) {
        image_ = e.image;
        ++image_->holders_;
        return;
      }
    }
  }
  // Copied outside the lock; a second copy of the same bytes made meanwhile
  // by another thread only costs a second decode.
  image_ = new SharedImage(Bytes(data, n));
  image_->holders_ = 1;
  std::lock_guard<Lock> lock(g_images_lock);
  g_images.push_back({digest, image_});
}

ImageHold::ImageHold(const ImageHold& other) : image_(other.image_) {
  if (!image_) return;
  std::lock_guard<Lock> lock(g_images_lock);
  ++image_->holders_;
}

ImageHold& ImageHold::operator=(ImageHold other) noexcept {
  std::swap(image_, other.image_);
  return *this;
}

void ImageHold::reset() {
  SharedImage* image = std::exchange(image_, nullptr);
  if (!image) return;
  {
    std::lock_guard<Lock> lock(g_images_lock);
    if (--image->holders_ > 0) return;
    for (std::size_t i = 0; i < g_images.size(); ++i) {
      if (g_images[i].image == image) {
        g_images[i] = g_images.back();
        g_images.pop_back();
        break;
      }
    }
  }
  delete image;
}

SharedImage::~SharedImage() {
  if (image_) gp::GdipDisposeImage(static_cast<Gdiplus::GpImage*>(image_));
  if (stream_) static_cast<IStream*>(stream_)->Release();
}

void SharedImage::decode() {
  // Under the table's lock: an image is never decoded twice, nor by two threads at once.
  std::lock_guard<Lock> lock(g_images_lock);
  if (decoded_) return;
  decoded_ = true;
  start_gdiplus();
  IStream* stream = SHCreateMemStream(bytes_.data(), static_cast<UINT>(bytes_.size()));
  if (!stream) return;
  Gdiplus::GpImage* image = nullptr;
  if (gp::GdipLoadImageFromStream(stream, &image) != Gdiplus::Ok) {
    stream->Release();
    return;
  }
  if (void* copy = own_image_copy(image)) {
    // The copy owns its pixels; the stream can go.
    image_ = copy;
    own_pixels_ = true;
    stream->Release();
  } else {
    image_ = image;
    stream_ = stream;
  }
  UINT w = 0, h = 0;
  gp::GdipGetImageWidth(static_cast<Gdiplus::GpImage*>(image_), &w);
  gp::GdipGetImageHeight(static_cast<Gdiplus::GpImage*>(image_), &h);
  width_ = static_cast<int>(w);
  height_ = static_cast<int>(h);
}

void* SharedImage::bitmap() {
  decode();
  return own_pixels_ ? image_ : nullptr;
}

void* SharedImage::image() {
  decode();
  return image_;
}

int SharedImage::width() { return bitmap() ? width_ : 0; }
int SharedImage::height() { return bitmap() ? height_ : 0; }

namespace units {

const Bytes& Picture::bytes() const {
  static const Bytes none;
  return shared_ ? shared_->bytes() : none;
}

}  // namespace units
}  // namespace rt
