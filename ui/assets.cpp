#include "ui/assets.h"

// Each file is assembled into read-only data between two labels, in a section
// of its own so that a program which never shows an image leaves it out.
#define UI_ASSET(name, file)                                                                  \
  asm(".section .rdata$ui_asset_" #name ",\"dr\"\n"                                           \
      ".balign 4\n"                                                                           \
      "_ui_asset_" #name "_begin:\n"                                                          \
      ".incbin \"" ASSET_DIR "/" file "\"\n"                                                  \
      "_ui_asset_" #name "_end:\n"                                                            \
      ".text\n");                                                                             \
  extern "C" const unsigned char ui_asset_##name##_begin[] asm("_ui_asset_" #name "_begin");  \
  extern "C" const unsigned char ui_asset_##name##_end[] asm("_ui_asset_" #name "_end");      \
  const rt::ImageRef name{ui_asset_##name##_begin, ui_asset_##name##_end};

namespace ui::assets {

UI_ASSET(button_normal, "button_normal.png")
UI_ASSET(button_hover, "button_hover.png")
UI_ASSET(close_normal, "close_normal.png")
UI_ASSET(close_hover, "close_hover.png")
UI_ASSET(browse, "browse.png")
UI_ASSET(logo, "logo.png")

rt::Bytes bytes(const rt::ImageRef& image) { return rt::Bytes(image.begin, image.size()); }

}  // namespace ui::assets
