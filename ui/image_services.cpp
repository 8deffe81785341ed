#include "ui/image_services.h"

#include <gdiplus.h>
#include <objbase.h>

#include "runtime/units/units.h"

namespace ui {

namespace {

rt::Bytes g_frame_dimension;

void* prop(HWND hwnd, const char* name) { return GetPropA(hwnd, name); }

}  // namespace

const rt::Bytes& FrameDimensionTime() { return g_frame_dimension; }

void StartImageServices() {
  // One GDI+ start for the process; the window units share it.
  rt::start_gdiplus();

  g_frame_dimension = rt::Bytes::zeros(16);
  // The identifier is ASCII, so the ANSI code page converts it faithfully.
  const char* text = "{6AEDBD6D-3FB5-418A-83A6-7F45229DC872}";
  int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), n);
  CLSIDFromString(wide.c_str(), reinterpret_cast<CLSID*>(g_frame_dimension.data()));

  // A Unicode class, so a dialog's Chinese caption survives any ANSI code page.
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = CometDialogProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = L"CometLoadDialog";
  RegisterClassExW(&wc);
}

LRESULT CALLBACK CometDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DESTROY: {
      // Thread first: it draws the image from the memory block.
      if (HANDLE thread = prop(window, "Comet_Thread")) {
        // The animation thread has no way to be asked to stop; it is ended here.
        TerminateThread(thread, 0);
        WaitForSingleObject(thread, 1000);
        CloseHandle(thread);
      }
      if (void* image = prop(window, "Comet_Image"))
        Gdiplus::DllExports::GdipDisposeImage(static_cast<Gdiplus::GpImage*>(image));
      if (void* block = prop(window, "Comet_Stream")) GlobalFree(block);
      break;
    }
    case WM_LBUTTONDOWN: {
      LRESULT r = DefWindowProcW(window, message, wParam, lParam);
      if (reinterpret_cast<UINT_PTR>(prop(window, "CometHitMove")) == 1) {
        ReleaseCapture();
        SendMessageW(window, WM_NCLBUTTONDOWN, HTCAPTION, 0);
      }
      return r;
    }
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace ui
