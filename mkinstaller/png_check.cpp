// PNG decoding with libpng: the whole image is decoded, so a damaged file is
// found here and not by the installer.
#include <png.h>

#include "mkinstaller/checks.h"
#include "mkinstaller/image.h"

namespace mkinstaller {

bool decode_png_image(const std::string& bytes, Image* out, std::string* why) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) {
    *why = std::string("not a readable PNG image (") + image.message + ")";
    return false;
  }
  if (std::uint64_t{image.width} * image.height > (1u << 26)) {
    png_image_free(&image);
    *why = "the PNG image is too large for a logo (more than 67 million pixels)";
    return false;
  }
  image.format = PNG_FORMAT_RGBA;
  out->rgba.assign(PNG_IMAGE_SIZE(image), 0);
  if (!png_image_finish_read(&image, nullptr, out->rgba.data(), 0, nullptr)) {
    *why = std::string("a damaged PNG image (") + image.message + ")";
    return false;
  }
  out->width = image.width;
  out->height = image.height;
  return true;
}

bool decode_png(const std::string& bytes, unsigned* width, unsigned* height, std::string* why) {
  Image image;
  if (!decode_png_image(bytes, &image, why)) return false;
  *width = image.width;
  *height = image.height;
  return true;
}

}  // namespace mkinstaller
