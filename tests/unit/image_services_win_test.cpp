#include "ui/image_services.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "ui/assets.h"
#include "ui/png_control.h"

namespace {

DWORD WINAPI sleeper(void*) {
  Sleep(INFINITE);
  return 0;
}

TEST(ImageServices, frame_dimension_has_the_time_guid_layout_and_the_dialog_class_exists) {
  ui::StartImageServices();
  const rt::Bytes& id = ui::FrameDimensionTime();
  rt::Bytes expected{0x6D, 0xBD, 0xED, 0x6A, 0xB5, 0x3F, 0x8A, 0x41, 0x83, 0xA6, 0x7F, 0x45, 0x22, 0x9D, 0xC8, 0x72};
  EXPECT_EQ(id, expected);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  ASSERT_TRUE(GetClassInfoExW(GetModuleHandleW(nullptr), L"CometLoadDialog", &wc));
  EXPECT_EQ(wc.lpfnWndProc, ui::CometDialogProc);
  EXPECT_EQ(wc.style, static_cast<UINT>(CS_HREDRAW | CS_VREDRAW));
}

TEST(ImageServices, a_dialog_releases_its_thread_image_and_block_when_destroyed) {
  ui::StartImageServices();
  HWND bare = CreateWindowExA(0, "CometLoadDialog", "", WS_POPUP, 0, 0, 50, 50, nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(bare);
  EXPECT_TRUE(DestroyWindow(bare)) << "nothing set, nothing released";

  HWND dialog = CreateWindowExA(0, "CometLoadDialog", "", WS_POPUP, 0, 0, 50, 50, nullptr, nullptr, nullptr, nullptr);
  HANDLE thread = CreateThread(nullptr, 0, sleeper, nullptr, 0, nullptr);
  HANDLE watch = nullptr;
  DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &watch, SYNCHRONIZE, FALSE, 0);
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, 64);
  SetPropA(dialog, "Comet_Thread", thread);
  SetPropA(dialog, "Comet_Image", ui::LoadImageFromBytes(ui::assets::bytes(ui::assets::close_normal)));
  SetPropA(dialog, "Comet_Stream", block);
  DestroyWindow(dialog);
  EXPECT_EQ(WaitForSingleObject(watch, 5000), WAIT_OBJECT_0) << "the animation thread ended";
  CloseHandle(watch);
}

}  // namespace
