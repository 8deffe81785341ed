// PNG check with libpng: the whole image is decoded, so a damaged file is
// found here and not by the installer.
#include <png.h>

#include <vector>

#include "mkinstaller/checks.h"

namespace mkinstaller {

bool decode_png(const std::string& bytes, unsigned* width, unsigned* height, std::string* why) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) {
    *why = std::string("not a readable PNG image (") + image.message + ")";
    return false;
  }
  if (std::uint64_t{image.width} * image.height > (1u << 26)) {
    png_image_free(&image);
    *why = "the PNG image is too large for a logo";
    return false;
  }
  image.format = PNG_FORMAT_RGBA;
  std::vector<png_byte> pixels(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
    *why = std::string("a damaged PNG image (") + image.message + ")";
    return false;
  }
  *width = image.width;
  *height = image.height;
  return true;
}

}  // namespace mkinstaller
