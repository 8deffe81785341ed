// The PNG picture control: a "Static" child window that draws a GDI+ image
// (alpha channel honoured; the first frame of an animation) over the piece of
// its parent's background lying under it. The parent is subclassed and keeps
// a cache of its painted client area; a control paints by asking the parent
// for its background with WM_PRINTCLIENT, drawing the image on top in a
// memory bitmap, and copying the result to the screen in one go.
//
// A PngControl object holds only a window handle; all state lives in window
// properties ("PngControl_*", "Comet_*", "hCache*"), so objects can be copied
// freely and destroying one leaves the window untouched.
#pragma once

#include <windows.h>

#include <optional>

#include "runtime/value/value.h"

namespace ui {

// Kinds of control ("PngControl_Type").
enum PngControlType : int { kPngNone = 0, kPngPicture = 2, kPngStateImage = 3, kPngEdit = 4 };
// Image placement ("PngControl_BackType"): 0 natural size at (0,0), 1 stretched,
// 2 shrunk to fit and centred.
enum PngBackType : int { kBackNatural = 0, kBackStretch = 1, kBackFit = 2 };

class PngControl {
 public:
  PngControl() = default;                      // 0 construct
  PngControl(const PngControl&) = default;     // 1 copy
  PngControl& operator=(const PngControl&) = default;

  void SetBackImage(const rt::Bytes& bytes);  // 2
  HWND Create(HWND parent, const rt::Bytes& bytes, int left, int top, int width, int height);  // 3
  void SetBackType(int type);                 // 4
  void SetToolTip(const rt::Text& text, bool atCursor = true);  // 5
  void Move(std::optional<int> left = {}, std::optional<int> top = {}, std::optional<int> width = {},
            std::optional<int> height = {});  // 6
  HWND Handle() const { return hwnd_; }       // 7 (and 12)
  bool Exists() const;                        // 8
  void Redraw();                              // 9
  int Send(UINT message, WPARAM wParam, LPARAM lParam);  // 10
  bool Attach(HWND window);                   // 11
  bool SetProperty(const rt::Text& name, int value);     // 13
  int GetProperty(const rt::Text& name) const;           // 14

 private:
  HWND hwnd_ = nullptr;
};

// A GDI+ image (GpImage*) decoded from the bytes, or null. The image keeps
// its encoded bytes alive for as long as it exists.
void* LoadImageFromBytes(const rt::Bytes& bytes);

struct FittedSize {
  int width, height;
};
// Shrinks (never enlarges) an image size to fit a box, keeping the aspect.
FittedSize FitSize(int imageWidth, int imageHeight, int boxWidth, int boxHeight);

// Draws a type-2 or type-3 control into a DC: parent background under the
// control, then its image by its back type, in one copy.
void DrawPngControl(HWND control, HDC dc);

// Installed by the control; called only by the system.
LRESULT CALLBACK PngControlProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK PngParentProc(HWND parent, UINT message, WPARAM wParam, LPARAM lParam);

// The process-wide tooltip window (null before the first SetToolTip).
HWND ToolTipWindow();

}  // namespace ui
