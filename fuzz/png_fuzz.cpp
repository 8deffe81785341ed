// Reads arbitrary bytes as a PNG logo, as both copies of the builder do:
// never a crash or a read past the input; an image that decodes has the
// pixels its size says, and written again (the builder's own encoder) it
// decodes to the same pixels.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "mkinstaller/image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  mkinstaller::Image image;
  std::string why;
  if (!mkinstaller::decode_png_image(bytes, &image, &why)) return 0;
  if (image.rgba.size() != std::size_t{image.width} * image.height * 4) std::abort();
  mkinstaller::Image again;
  if (!mkinstaller::decode_png_image(mkinstaller::encode_png(image), &again, &why) || again.rgba != image.rgba)
    std::abort();
  return 0;
}
