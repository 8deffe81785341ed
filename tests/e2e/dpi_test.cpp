// The installer, its prompt and the uninstaller at 100 %, 125 %, 150 % and
// 200 % display scaling (96, 120, 144 and 192 DPI): one road per scale, clicked
// by a real pointer at the scaled places, and a pixel check that the 200 %
// picture is drawn at 200 %, not stretched. Screenshots of the home page and
// the prompt at 144 and 192 DPI go to <build>/screenshots/dpi<N>-*.png.
//
// Wine 8 takes a process's DPI from LogPixels in HKEY_CURRENT_USER\Control
// Panel\Desktop when it is there (else from HKEY_CURRENT_CONFIG\Software\Fonts)
// when the process starts. The test sets it in the shared prefix for the
// programs it starts and puts back what was there; end-to-end tests run one
// at a time, so no other test sees it.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "runtime/value/codepage.h"
#include "tests/e2e/support/installer_fixture.h"
#include "tests/support/paths.h"
#include "tests/support/zip_writer.h"

namespace {

using e2e::Installer;

class LogPixels {
 public:
  explicit LogPixels(int dpi) {
    RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key_,
                    nullptr);
    DWORD size = sizeof old_;
    had_ = RegQueryValueExW(key_, L"LogPixels", nullptr, nullptr, reinterpret_cast<BYTE*>(&old_), &size) ==
           ERROR_SUCCESS;
    DWORD value = static_cast<DWORD>(dpi);
    RegSetValueExW(key_, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  }
  ~LogPixels() {
    if (had_)
      RegSetValueExW(key_, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&old_), sizeof old_);
    else
      RegDeleteValueW(key_, L"LogPixels");
    RegCloseKey(key_);
  }
  LogPixels(const LogPixels&) = delete;
  LogPixels& operator=(const LogPixels&) = delete;

 private:
  HKEY key_ = nullptr;
  DWORD old_ = 0;
  bool had_ = false;
};

struct Place {
  const char* unit;
  int left, top, width, height;
};
// The installer window's design table, in 96-DPI pixels.
const Place kHome[] = {
    {"图片框1", 0, 0, 600, 240},         {"关闭", 556, 16, 28, 28},          {"logo", 255, 68, 90, 90},
    {"标签_软件名称", 120, 183, 360, 40}, {"立即安装", 195, 252, 210, 56},    {"许可协议", 26, 355, 110, 24},
    {"自定义安装", 478, 355, 96, 24},
};
const Place kCustom[] = {{"安装目录", 48, 152, 402, 38}, {"浏览", 455, 152, 90, 38}, {"快捷方式", 48, 200, 176, 24}};

RECT in_parent(HWND hwnd) {
  RECT r;
  GetWindowRect(hwnd, &r);
  MapWindowPoints(HWND_DESKTOP, GetParent(hwnd), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

void expect_scaled(const RECT& r, int left, int top, int width, int height, int dpi) {
  auto px = [&](int v) { return MulDiv(v, dpi, 96); };
  EXPECT_NEAR(r.left, px(left), 1);
  EXPECT_NEAR(r.top, px(top), 1);
  EXPECT_NEAR(r.right - r.left, px(width), 1);
  EXPECT_NEAR(r.bottom - r.top, px(height), 1);
}

void expect_places(HWND top, const Place* places, std::size_t n, int dpi) {
  for (std::size_t i = 0; i < n; ++i) {
    SCOPED_TRACE(places[i].unit);
    HWND h = e2e::find_unit(top, places[i].unit);
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(IsWindowVisible(h));
    expect_scaled(in_parent(h), places[i].left, places[i].top, places[i].width, places[i].height, dpi);
  }
}

// ---- the pixel check -------------------------------------------------------

// A grey picture of a piece of the screen.
struct Grey {
  int w = 0, h = 0;
  std::vector<float> v;
  float at(int x, int y) const { return v[static_cast<std::size_t>(y) * w + x]; }
};

Grey capture(const RECT& r) {
  Grey g;
  g.w = r.right - r.left;
  g.h = r.bottom - r.top;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = g.w;
  info.bmiHeader.biHeight = -g.h;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  HBITMAP dib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(mem, dib);
  BitBlt(mem, 0, 0, g.w, g.h, screen, r.left, r.top, SRCCOPY);
  GdiFlush();
  const auto* p = static_cast<const BYTE*>(bits);
  for (int i = 0; i < g.w * g.h; ++i) g.v.push_back(0.114f * p[4 * i] + 0.587f * p[4 * i + 1] + 0.299f * p[4 * i + 2]);
  SelectObject(mem, old);
  DeleteObject(dib);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  return g;
}

// What the picture would look like drawn at half the DPI (2 x 2 averaged)
// and then stretched back smoothly: the blurred copy.
Grey blurred_copy(const Grey& g) {
  Grey half;
  half.w = g.w / 2;
  half.h = g.h / 2;
  for (int y = 0; y < half.h; ++y)
    for (int x = 0; x < half.w; ++x)
      half.v.push_back((g.at(2 * x, 2 * y) + g.at(2 * x + 1, 2 * y) + g.at(2 * x, 2 * y + 1) +
                        g.at(2 * x + 1, 2 * y + 1)) / 4);
  Grey out;
  out.w = half.w * 2;
  out.h = half.h * 2;
  for (int y = 0; y < out.h; ++y)
    for (int x = 0; x < out.w; ++x) {
      float sx = std::clamp((x - 0.5f) / 2, 0.0f, half.w - 1.0f), sy = std::clamp((y - 0.5f) / 2, 0.0f, half.h - 1.0f);
      int x0 = static_cast<int>(sx), y0 = static_cast<int>(sy);
      int x1 = std::min(x0 + 1, half.w - 1), y1 = std::min(y0 + 1, half.h - 1);
      float fx = sx - x0, fy = sy - y0;
      float top = half.at(x0, y0) * (1 - fx) + half.at(x1, y0) * fx;
      float bottom = half.at(x0, y1) * (1 - fx) + half.at(x1, y1) * fx;
      out.v.push_back(top * (1 - fy) + bottom * fy);
    }
  return out;
}

float contrast(const Grey& g) {
  auto [lo, hi] = std::minmax_element(g.v.begin(), g.v.end());
  return *hi - *lo;
}

// Of the steps between neighbouring pixels that are an edge at all (a tenth
// of the contrast), the share that are steep (half of it): high for an edge
// drawn at this resolution, low for one stretched from a smaller picture.
double steepness(const Grey& g, float c) {
  int edges = 0, steep = 0;
  for (int y = 0; y < g.h; ++y)
    for (int x = 0; x + 1 < g.w; ++x) {
      float d = std::fabs(g.at(x + 1, y) - g.at(x, y));
      if (d >= c / 10) ++edges;
      if (d >= c / 2) ++steep;
    }
  return edges ? static_cast<double>(steep) / edges : 0;
}

// Of the 2 x 2 blocks (aligned with the window) that hold an edge, the share
// that are not one flat colour: none in a copy stretched by pixel doubling.
double fine_blocks(const Grey& g, float c) {
  int with_edge = 0, fine = 0;
  for (int y = 0; y + 1 < g.h; y += 2)
    for (int x = 0; x + 1 < g.w; x += 2) {
      float a = g.at(x, y), b = g.at(x + 1, y), d = g.at(x, y + 1), e = g.at(x + 1, y + 1);
      float hi = std::max({a, b, d, e}), lo = std::min({a, b, d, e});
      bool edge = std::fabs(a - g.at(std::max(x - 1, 0), y)) >= c / 10 || hi - lo >= c / 10 ||
                  std::fabs(a - g.at(x, std::max(y - 1, 0))) >= c / 10;
      if (!edge) continue;
      ++with_edge;
      if (hi - lo >= c / 20) ++fine;
    }
  return with_edge ? static_cast<double>(fine) / with_edge : 0;
}

void expect_sharp(HWND piece, const char* what) {
  SCOPED_TRACE(what);
  RECT r;
  GetWindowRect(piece, &r);
  Grey g = capture(r);
  float c = contrast(g);
  ASSERT_GT(c, 60) << "nothing drawn";
  double own = steepness(g, c), stretched = steepness(blurred_copy(g), c);
  EXPECT_GT(own, 1.25 * stretched) << "edges as soft as a stretched copy: " << own << " against " << stretched;
  EXPECT_GT(fine_blocks(g, c), 0.3) << "pixels come in doubled blocks";
}

// ---- the road ---------------------------------------------------------------

class DpiTest : public testing::TestWithParam<int> {
 protected:
  static void SetUpTestSuite() {
    SetProcessDPIAware();  // the test reads the screen in its real pixels
    dir_ = new std::string(testsupport::scratch_dir("e2e-dpi"));
    std::string marker = e2e::read_all(testsupport::native_path(MARKER_EXE_PATH));
    std::string uninst = e2e::read_all(testsupport::native_path(UNINST_EXE_PATH));
    package_ = new std::string(testsupport::make_zip(
        {{.name = "{app}/Demo.exe", .data = marker, .deflate = true},
         {.name = "{app}/uninst.exe", .data = uninst, .deflate = true}}));
  }
  static void TearDownTestSuite() {
    delete dir_;
    delete package_;
  }
  static std::string* dir_;
  static std::string* package_;
};
std::string* DpiTest::dir_ = nullptr;
std::string* DpiTest::package_ = nullptr;

TEST_P(DpiTest, the_installer_its_prompt_and_the_uninstaller_are_laid_out_at_the_scale_and_install) {
  const int dpi = GetParam();
  auto px = [&](int v) { return MulDiv(v, dpi, 96); };
  const bool shots = dpi == 144 || dpi == 192;
  const std::string tag = "dpi" + std::to_string(dpi);
  LogPixels scale(dpi);

  const std::string name = "清晰Sharp" + std::to_string(dpi);
  e2e::Config config = {{"softname", name},      {"softversion", "1.0"}, {"urlremote", ""},
                        {"urlfull", ""},         {"framework", ""},      {"mainfile", "Demo.exe"},
                        {"installtype", "disk"}, {"companyname", "示例公司"}, {"companyurl", ""},
                        {"protocol", ""}};
  std::string exe = e2e::make_installer(*dir_, e2e::config_json(config), package_, tag + ".exe");
  ASSERT_FALSE(exe.empty());
  Installer setup(exe);
  ASSERT_TRUE(setup.ok());
  HWND top = setup.window();
  ASSERT_NE(setup.unit("立即安装"), nullptr);
  // Into the screen's corner: at 200 % the window is wider than the test screen allows at its design place.
  SetWindowPos(top, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);

  RECT window, client;
  GetWindowRect(top, &window);
  GetClientRect(top, &client);
  EXPECT_NEAR(window.right - window.left, px(600), 1);
  EXPECT_NEAR(window.bottom - window.top, px(400), 1);
  EXPECT_EQ(client.right, window.right - window.left) << "borderless at every scale";
  expect_places(top, kHome, std::size(kHome), dpi);
  // The logo's PNG control lies exactly over the logo's picture box.
  HWND header = setup.unit("图片框1");
  HWND logo = FindWindowExW(header, nullptr, L"Static", nullptr);
  ASSERT_NE(logo, nullptr);
  expect_scaled(in_parent(logo), 255, 68, 90, 90, dpi);

  SetCursorPos(0, 1000);
  if (shots) {
    EXPECT_TRUE(setup.shot(tag + "-home.png"));
  }
  if (dpi == 192) {
    Sleep(500);
    expect_sharp(setup.unit("标签_软件名称"), "the software's name");
    expect_sharp(logo, "the logo");
  }

  // The close question: the prompt at the scale, centred over the installer.
  e2e::click(setup.unit("关闭"));
  HWND prompt = setup.prompt(10000);
  ASSERT_NE(prompt, nullptr);
  ASSERT_NE(e2e::wait_unit(prompt, "确定", 5000), nullptr);
  RECT p;
  GetWindowRect(prompt, &p);
  GetWindowRect(top, &window);
  EXPECT_NEAR(p.right - p.left, px(420), 1);
  EXPECT_NEAR(p.bottom - p.top, px(210), 1);
  EXPECT_NEAR(p.left, window.left + (window.right - window.left - (p.right - p.left)) / 2, 1);
  EXPECT_NEAR(p.top, window.top + (window.bottom - window.top - (p.bottom - p.top)) / 2, 1);
  expect_scaled(in_parent(e2e::find_unit(prompt, "确定")), 296, 139, 90, 36, dpi);
  if (shots) {
    Sleep(500);
    EXPECT_TRUE(e2e::screenshot(prompt, e2e::screenshot_dir() + "\\" + tag + "-prompt.png"));
  }
  e2e::click(e2e::find_unit(prompt, "取消"));
  ASSERT_TRUE(e2e::wait_until([&] { return !IsWindow(prompt); }, 10000));

  // The custom page and back, then the install, all by the pointer.
  e2e::click(setup.unit("自定义安装"));
  ASSERT_TRUE(setup.wait_page(1, 10000));
  expect_places(top, kCustom, std::size(kCustom), dpi);
  std::string target = setup.text("安装目录");
  e2e::click(setup.unit("返回首页"));
  ASSERT_TRUE(setup.wait_page(0, 10000));
  e2e::click(setup.unit("立即安装"));
  ASSERT_TRUE(setup.wait_page(3, 60000)) << "page " << setup.page();
  e2e::click(setup.unit("安装完成"));
  DWORD code = 1;
  EXPECT_TRUE(setup.wait_exit(20000, &code));
  ASSERT_TRUE(e2e::path_exists(target + "\\uninst.exe"));

  // The uninstaller's question at the same scale, centred on the screen; then it removes the installation.
  e2e::Process uninstaller = e2e::Process::start(target + "\\uninst.exe");
  ASSERT_TRUE(uninstaller.started());
  HWND question = nullptr;
  ASSERT_TRUE(e2e::wait_until(
      [&] {
        for (HWND h : e2e::top_windows(uninstaller.pid())) {
          if (HWND label = e2e::find_unit(h, "信息标签"); label && !e2e::window_text(label).empty()) question = h;
        }
        return question != nullptr;
      },
      30000));
  GetWindowRect(question, &p);
  RECT area;
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  EXPECT_NEAR(p.right - p.left, px(420), 1);
  EXPECT_NEAR(p.bottom - p.top, px(210), 1);
  EXPECT_NEAR(p.left, area.left + (area.right - area.left - (p.right - p.left)) / 2, 1);
  e2e::click(e2e::find_unit(question, "确定"));
  EXPECT_NE(e2e::answer_prompt(uninstaller, true), "(no prompt window)");
  ASSERT_TRUE(uninstaller.wait(20000, &code));
  EXPECT_EQ(code, 0u);
}

// Without the declaration Windows would stretch the 96-DPI picture as a bitmap.
TEST(DpiManifest, both_programs_declare_per_monitor_awareness_with_fall_backs) {
  for (const std::string& exe : {e2e::setup_exe(), testsupport::native_path(UNINST_EXE_PATH)}) {
    SCOPED_TRACE(exe);
    HMODULE module = LoadLibraryExW(rt::wide_path(exe).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    HRSRC res = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));  // RT_MANIFEST
    ASSERT_NE(res, nullptr);
    std::string manifest(static_cast<const char*>(LockResource(LoadResource(module, res))), SizeofResource(module, res));
    FreeLibrary(module);
    EXPECT_NE(manifest.find(">PerMonitorV2, PerMonitor</dpiAwareness>"), std::string::npos);
    EXPECT_NE(manifest.find(">true/pm</dpiAware>"), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(Scales, DpiTest, testing::Values(96, 120, 144, 192),
                         [](const testing::TestParamInfo<int>& info) { return std::to_string(info.param) + "dpi"; });

}  // namespace
