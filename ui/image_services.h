// Image services, started once at program start before the first window:
// GDI+ for the whole process, the identifier of the GDI+ time frame dimension
// (the image loader selects the first frame along it), and the window class
// "CometLoadDialog" for loading dialogs that show an animated image.
#pragma once

#include <windows.h>

#include "runtime/value/value.h"

namespace ui {

// GDI+ (never shut down), the frame dimension, the "CometLoadDialog" class.
void StartImageServices();

// The 16 bytes of {6AEDBD6D-3FB5-418A-83A6-7F45229DC872} in memory layout;
// empty before StartImageServices.
const rt::Bytes& FrameDimensionTime();

// Window procedure of "CometLoadDialog". Properties read: "Comet_Thread"
// (animation thread, ended and closed at WM_DESTROY), "Comet_Image" (GDI+
// image, disposed), "Comet_Stream" (global memory block, freed), "CometHitMove"
// (1: a left-button press anywhere drags the dialog).
LRESULT CALLBACK CometDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace ui
