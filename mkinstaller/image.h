// Images of the builder: the logo decoded, scaled and written again as PNG,
// and the installer's icon made from it (or read from an .ico file).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mkinstaller {

// Pixels in rows from the top, 4 bytes each: red, green, blue, alpha (not
// premultiplied).
struct Image {
  unsigned width = 0, height = 0;
  std::vector<std::uint8_t> rgba;
};

// Decodes a whole PNG image, every chunk checked, the same on every system:
// 8-bit RGBA whatever its colour type and bit depth (16-bit samples
// rounded, colour-space chunks not applied).
bool decode_png_image(const std::string& bytes, Image* image, std::string* why);
// A PNG file of the image (8-bit RGBA, deflated), the same bytes for the
// same pixels.
std::string encode_png(const Image& image);

// The image scaled to width x height: each target pixel averages the source
// pixels it covers (a tent filter as wide as the scale; plain interpolation
// when enlarging), in premultiplied alpha so that transparent pixels lend no
// colour to their neighbours.
Image scale(const Image& image, unsigned width, unsigned height);
// The image scaled to fit a size x size square, centred on transparency.
Image fit_square(const Image& image, unsigned size);

// One image of an icon, as an .ico file and RT_ICON hold it.
struct IconImage {
  unsigned width = 0, height = 0;  // 256 is written as 0
  std::uint16_t planes = 1, bit_count = 32;
  std::string data;  // a DIB (BITMAPINFOHEADER, XOR and AND masks) or a PNG
};

// The icon sizes made from a logo.
inline constexpr unsigned kIconSizes[] = {16, 24, 32, 48, 256};
// Images of every size in kIconSizes: 32-bit DIBs, and a PNG for 256.
std::vector<IconImage> icon_from_image(const Image& square);
// The images of an .ico file; false with the reason.
bool parse_ico(const std::string& bytes, std::vector<IconImage>* images, std::string* why);

}  // namespace mkinstaller
