// The splash window's picture, read back from the screen: its size at the
// screen's DPI, one to one with the picture the window holds, after every
// kind of repaint. The program carries the sample's picture as its own
// "JPEG" resource.
//
// QLN_PICTURE_DUMP, when set, names a folder where the decoded picture and
// the client area are written as raw 32-bit BGRA rows (with a WxH header
// line), for a comparison outside Wine.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "imaging/image/image.h"
#include "imaging/seams.h"
#include "splash/jpeg_decode.h"
#include "splash/message_pump.h"
#include "splash/screen_dpi.h"
#include "splash/splash_picture.h"
#include "splash/splash_window.h"
#include "support/owners.h"

namespace {

// Pixels as 0x00RRGGBB, rows top-down.
struct Pixels {
  int width = 0, height = 0;
  std::vector<uint32_t> rgb;
  uint32_t at(int x, int y) const { return rgb[size_t(y) * width + x]; }
};

// Reads the 32-bit top-down pixels of a bitmap, alpha dropped.
Pixels ReadBitmap(HDC dc, HBITMAP bitmap, int width, int height) {
  Pixels out;
  out.width = width;
  out.height = height;
  out.rgb.resize(size_t(width) * height);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  GetDIBits(dc, bitmap, 0, height, out.rgb.data(), &info, DIB_RGB_COLORS);
  for (uint32_t& p : out.rgb) p &= 0x00FFFFFF;
  return out;
}

// What the screen shows of the window's client area: copied from the
// screen's own DC, not from the window's.
Pixels ScreenClient(HWND window) {
  RECT client;
  GetClientRect(window, &client);
  POINT origin = {0, 0};
  ClientToScreen(window, &origin);
  WindowDcOwner screen(nullptr);
  MemoryDcOwner memory(CreateCompatibleDC(screen.dc));
  GdiObjectOwner bitmap(CreateCompatibleBitmap(screen.dc, client.right, client.bottom));
  {
    SelectionOwner selected(memory.dc, bitmap.object);
    BitBlt(memory.dc, 0, 0, client.right, client.bottom, screen.dc, origin.x, origin.y, SRCCOPY);
  }
  return ReadBitmap(screen.dc, static_cast<HBITMAP>(bitmap.object), client.right, client.bottom);
}

Pixels ImagePixels(ImageRecord* image) {
  Pixels out;
  if (LockImage(image, 0) != 1) return out;
  out.width = image->width;
  out.height = image->height;
  for (int y = 0; y < image->height; ++y)
    for (int x = 0; x < image->width; ++x)
      out.rgb.push_back(image->pixels[size_t(y) * image->stride + x] & 0x00FFFFFF);
  UnlockImage(image, 0);
  return out;
}

// The bitmap the decoder makes of this program's picture resource.
Pixels DecodedPicture() {
  HMODULE self = GetModuleHandleW(nullptr);
  HRSRC found = FindResourceW(self, MAKEINTRESOURCEW(kSplashPictureId), kSplashPictureType);
  const void* bytes = LockResource(LoadResource(self, found));
  GdiObjectOwner bitmap(DecodeJpegToBitmap(bytes, SizeofResource(self, found)));
  if (!bitmap.object) return {};
  BITMAP info = {};
  GetObjectW(bitmap.object, sizeof info, &info);
  WindowDcOwner screen(nullptr);
  return ReadBitmap(screen.dc, static_cast<HBITMAP>(bitmap.object), info.bmWidth, info.bmHeight);
}

// Lets the window and the display settle: paints, exposures and moves
// arrive from the display server a little later than the calls that cause
// them.
void Settle() {
  for (int i = 0; i < 15; ++i) {
    PumpMessages(0, false);
    Sleep(20);
  }
}

// Counts the pixels of a that differ from b inside the given client
// rectangle, or outside it when outside is true.
int Differences(const Pixels& a, const Pixels& b, const RECT& area, bool outside = false) {
  int count = 0;
  for (int y = 0; y < a.height && y < b.height; ++y)
    for (int x = 0; x < a.width && x < b.width; ++x) {
      const bool in = x >= area.left && x < area.right && y >= area.top && y < area.bottom;
      if (in != outside && a.at(x, y) != b.at(x, y)) ++count;
    }
  return count;
}

int Differences(const Pixels& a, const Pixels& b) {
  return Differences(a, b, RECT{0, 0, a.width, a.height});
}

void WriteDump(const char* name, const Pixels& pixels) {
  char folder[MAX_PATH];
  if (!GetEnvironmentVariableA("QLN_PICTURE_DUMP", folder, MAX_PATH)) return;
  std::string path = std::string(folder) + "\\" + name;
  FILE* f = fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr) << path;
  fprintf(f, "%dx%d\n", pixels.width, pixels.height);
  fwrite(pixels.rgb.data(), 4, pixels.rgb.size(), f);
  fclose(f);
}

class SplashPicture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CreateSplashWindow(GetModuleHandleW(nullptr)));
    window = SplashWindow;
    Settle();
  }
  void TearDown() override {
    if (IsWindow(window)) DestroyWindow(window);
    // The quit message of WM_DESTROY is not for the next test.
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
  HWND window = nullptr;
};

TEST_F(SplashPicture, ClientIsThePictureAtTheScreenDpi) {
  const Pixels decoded = DecodedPicture();
  ASSERT_GT(decoded.width, 0);
  RECT client;
  GetClientRect(window, &client);
  EXPECT_EQ(SplashImage.width, ScaleForDpi(decoded.width));
  EXPECT_EQ(SplashImage.height, ScaleForDpi(decoded.height));
  EXPECT_EQ(client.right, SplashImage.width);
  EXPECT_EQ(client.bottom, SplashImage.height);
  printf("screen %d DPI: picture %dx%d, client %ldx%ld\n", GetScreenDpi(), decoded.width,
         decoded.height, client.right, client.bottom);

  const Pixels screen = ScreenClient(window);
  const Pixels image = ImagePixels(&SplashImage);
  EXPECT_EQ(Differences(screen, image), 0) << "the screen shows other pixels than the picture";
  if (GetScreenDpi() == 96) {
    EXPECT_EQ(Differences(screen, decoded), 0) << "at 96 DPI the decoded picture is shown as it is";
  }
  WriteDump("decoded.bgra", decoded);
  WriteDump("screen.bgra", screen);
}

// The window is centred on the full rectangle of its monitor, taskbar
// included: rounding as the window code does it.
TEST_F(SplashPicture, CentredOnTheMonitor) {
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof monitor;
  ASSERT_TRUE(GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor));
  RECT frame;
  GetWindowRect(window, &frame);
  const RECT& area = monitor.rcMonitor;
  const LONG w = frame.right - frame.left, h = frame.bottom - frame.top;
  EXPECT_EQ(frame.left, (area.left + area.right) / 2 - (w + 1) / 2);
  EXPECT_EQ(frame.top, (area.top + area.bottom) / 2 - (h + 1) / 2);
}

// No repaint ever shows a background: the whole client area is the picture
// after each of them.
TEST_F(SplashPicture, EveryRepaintShowsThePicture) {
  const Pixels image = ImagePixels(&SplashImage);

  InvalidateRect(window, nullptr, TRUE);
  UpdateWindow(window);
  Settle();
  EXPECT_EQ(Differences(ScreenClient(window), image), 0) << "after a whole-client invalidate";

  // Another topmost window, painted white, over the picture and away again.
  RECT frame;
  GetWindowRect(window, &frame);
  HWND cover = CreateWindowExW(WS_EX_TOPMOST, L"Static", L"", WS_POPUP | WS_VISIBLE,
                               frame.left + 30, frame.top + 40, 200, 120, nullptr, nullptr,
                               nullptr, nullptr);
  ASSERT_NE(cover, nullptr);
  UpdateWindow(cover);
  Settle();
  EXPECT_GT(Differences(ScreenClient(window), image), 0) << "the cover did not cover anything";
  SetWindowPos(cover, nullptr, frame.left - 250, frame.top, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  Settle();
  DestroyWindow(cover);
  Settle();
  EXPECT_EQ(Differences(ScreenClient(window), image), 0) << "after a window passed over it";

  ShowWindow(window, SW_HIDE);
  Settle();
  ShowWindow(window, SW_SHOW);
  Settle();
  EXPECT_EQ(Differences(ScreenClient(window), image), 0) << "after a hide and a show";
}

// A paint of one small rectangle draws exactly that part of the picture, at
// the same place.
TEST_F(SplashPicture, SmallPaintRedrawsItsRectangleOnly) {
  const Pixels image = ImagePixels(&SplashImage);
  RECT client;
  GetClientRect(window, &client);
  {
    // Drawn straight onto the window: nothing is invalidated by this.
    WindowDcOwner dc(window);
    GdiObjectOwner magenta(CreateSolidBrush(RGB(255, 0, 255)));
    FillRect(dc.dc, &client, static_cast<HBRUSH>(magenta.object));
  }
  Settle();
  const RECT small = {20, 30, 30, 40};
  InvalidateRect(window, &small, FALSE);
  UpdateWindow(window);
  Settle();
  const Pixels screen = ScreenClient(window);
  EXPECT_EQ(Differences(screen, image, small), 0) << "the rectangle shows the picture";
  Pixels fill = image;
  for (uint32_t& p : fill.rgb) p = 0xFF00FF;
  EXPECT_EQ(Differences(screen, fill, small, true), 0) << "nothing outside it was drawn";
}

// Told of a new DPI (Wine never tells, and reports one DPI for every
// monitor: the message is sent here as the system would send it), the
// window takes the suggested place and the picture made for that DPI from
// the decoded one; back at 96 DPI that is the decoded picture itself. With
// QLN_PICTURE_DUMP the client area at each DPI is written as
// screen-<dpi>.bgra for the comparison with Pillow's bilinear enlargement.
TEST_F(SplashPicture, DpiChangeRemakesThePictureFromTheDecodedOne) {
  const Pixels decoded = DecodedPicture();
  ASSERT_GT(decoded.width, 0);
  struct Step {
    int dpi;
    POINT corner;
  };
  const Step steps[] = {{144, {40, 30}}, {120, {70, 50}}, {96, {110, 80}}};
  for (const Step& step : steps) {
    SCOPED_TRACE(step.dpi);
    const int width = ScaleLengthForDpi(decoded.width, step.dpi);
    const int height = ScaleLengthForDpi(decoded.height, step.dpi);
    // The system suggests the window's rectangle scaled linearly.
    RECT suggested = {step.corner.x, step.corner.y, step.corner.x + width + 20,
                      step.corner.y + height + 40};
    SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(step.dpi, step.dpi),
                 reinterpret_cast<LPARAM>(&suggested));
    Settle();
    RECT frame, client;
    GetWindowRect(window, &frame);
    GetClientRect(window, &client);
    EXPECT_EQ(frame.left, step.corner.x);
    EXPECT_EQ(frame.top, step.corner.y);
    EXPECT_EQ(client.right, width);
    EXPECT_EQ(client.bottom, height);
    EXPECT_EQ(SplashImage.width, width);
    EXPECT_EQ(SplashImage.height, height);
    const Pixels screen = ScreenClient(window);
    EXPECT_EQ(Differences(screen, ImagePixels(&SplashImage)), 0) << "the screen shows other pixels";
    if (step.dpi == 96) {
      EXPECT_EQ(Differences(screen, decoded), 0) << "at 96 DPI the decoded picture is shown as it is";
    }
    WriteDump(("screen-" + std::to_string(step.dpi) + ".bgra").c_str(), screen);
  }
  WriteDump("decoded.bgra", decoded);
}

// A picture that cannot be made for the new DPI leaves the one the window
// has: it still takes the suggested place, around the old picture.
TEST_F(SplashPicture, AFailedRemakeKeepsThePicture) {
  const ImageRecord before = SplashImage;
  ImagingSeams.createForcedFailure = CreateFailDib;
  RECT suggested = {60, 45, 60 + 700, 45 + 420};
  SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
  ImagingSeams.createForcedFailure = CreateFailNone;
  Settle();
  EXPECT_EQ(SplashImage.pixels, before.pixels);
  EXPECT_EQ(SplashImage.width, before.width);
  RECT frame, client;
  GetWindowRect(window, &frame);
  GetClientRect(window, &client);
  EXPECT_EQ(frame.left, 60);
  EXPECT_EQ(frame.top, 45);
  EXPECT_EQ(client.right, before.width);
  EXPECT_EQ(client.bottom, before.height);
  EXPECT_EQ(Differences(ScreenClient(window), ImagePixels(&SplashImage)), 0);
}

// WM_DESTROY frees the picture: the record is empty again.
TEST_F(SplashPicture, DestroyingTheWindowFreesThePicture) {
  EXPECT_EQ(SplashImage.tag, ImageTag);
  DestroyWindow(window);
  EXPECT_EQ(SplashImage.tag, 0);
  EXPECT_EQ(SplashImage.pixels, nullptr);
}

}  // namespace
