// The window images linked into the program: flat, rounded, in the installer's
// blue. Made by tools/make_assets.py; the PNG files live in assets/.
#pragma once

#include "runtime/units/units.h"

namespace ui::assets {

extern const rt::ImageRef button_normal;  // 210 x 56, the large action button
extern const rt::ImageRef button_hover;   // 210 x 56, the same under the pointer
extern const rt::ImageRef close_normal;   // 28 x 28, the header's close button
extern const rt::ImageRef close_hover;    // 28 x 28
extern const rt::ImageRef browse;         // 90 x 38, "浏览"
extern const rt::ImageRef logo;           // 256 x 256, the default logo

// The bytes of an image, for unit_set(..., kPropImage, ...) or PngControl.
rt::Bytes bytes(const rt::ImageRef& image);

}  // namespace ui::assets
