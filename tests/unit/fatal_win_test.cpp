// The fatal report as a person sees it: a message box whose Chinese text reads
// correctly although Wine runs with ANSI code page 1252.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>

#include "runtime/value/codepage.h"
#include "runtime/value/value.h"

namespace {

// Waits for this process's message box captioned "错误", reads its text, reports
// whether it matches, and presses OK.
void answer_report_box(std::string expected) {
  std::wstring caption = rt::wide_path("错误");
  for (int i = 0; i < 300; ++i) {
    HWND box = FindWindowW(L"#32770", caption.c_str());
    DWORD pid = 0;
    if (box) GetWindowThreadProcessId(box, &pid);
    if (box && pid == GetCurrentProcessId()) {
      wchar_t text[1024] = {};
      GetDlgItemTextW(box, 0xFFFF, text, 1024);
      std::string got = rt::cp936_from_wchar(text);
      // The static control may show CR LF as it was given; compare the lines.
      std::fputs(got == expected ? "BOX-TEXT-MATCHES\n" : ("BOX-TEXT-DIFFERS\n" + rt::utf8_from_cp936(got)).c_str(),
                 stderr);
      std::fflush(stderr);
      PostMessageW(box, WM_COMMAND, IDOK, 0);
      return;
    }
    Sleep(50);
  }
  std::fputs("NO-BOX\n", stderr);
  std::fflush(stderr);
}

TEST(FatalReportDeathTest, MessageBoxShowsTheChineseReport) {
  std::string expected = rt::format_report(4, rt::error_kind_message(4), rt::ErrorSite{9, 2});
  EXPECT_EXIT(
      {
        std::thread(answer_report_box, expected).detach();
        rt::rt_error(4, 9, 2);
      },
      testing::ExitedWithCode(-1), testing::HasSubstr("BOX-TEXT-MATCHES"));
}

}  // namespace
