// Sizing a window's client area and centring a window on its monitor, with
// test windows whose frames are as the tests say.
#include <gtest/gtest.h>
#include <windows.h>

#include "splash/user_monitor.h"
#include "splash/window_geometry.h"

namespace {

// A window whose frame is as wide and tall as a test says, whatever its
// style: WM_NCCALCSIZE takes the frame off the window rectangle.
struct Frame {
  int left, top, right, bottom;
  int growEachMove;  // extra frame per move: a frame that never settles
};
Frame TestFrame;
int Moves;

LRESULT CALLBACK FramedProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCALCSIZE) {
    RECT* r = reinterpret_cast<RECT*>(lParam);
    r->left += TestFrame.left;
    r->top += TestFrame.top;
    r->right -= TestFrame.right + Moves * TestFrame.growEachMove;
    r->bottom -= TestFrame.bottom;
    if (r->right < r->left) r->right = r->left;
    if (r->bottom < r->top) r->bottom = r->top;
    return 0;
  }
  if (message == WM_WINDOWPOSCHANGED &&
      !(reinterpret_cast<WINDOWPOS*>(lParam)->flags & SWP_NOSIZE))
    ++Moves;
  return DefWindowProcW(window, message, wParam, lParam);
}

HWND FramedWindow(const Frame& frame) {
  static bool registered = false;
  if (!registered) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = FramedProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"QlnFramedTest";
    RegisterClassW(&wc);
    registered = true;
  }
  TestFrame = frame;
  HWND window = CreateWindowExW(0, L"QlnFramedTest", L"", WS_POPUP, 0, 0, 100, 100, nullptr,
                                nullptr, GetModuleHandleW(nullptr), nullptr);
  Moves = 0;
  return window;
}

TEST(SetClientSize, ReachesTheSizeThroughItsGuessAndCorrections) {
  struct Case {
    const char* what;
    Frame frame;
    int width, height;
    int moves;  // changes of size that SetClientSize makes
    bool exact;
  };
  const Case cases[] = {
      {"no frame", {0, 0, 0, 0, 0}, 400, 300, 1, true},
      {"a usual frame", {3, 22, 3, 3, 0}, 301, 199, 2, true},
      // Wider than 24 or taller than 64: the guess is 4 x 20, one correction.
      {"a wide frame", {20, 30, 20, 5, 0}, 400, 300, 3, true},
      {"a tall frame", {2, 60, 2, 30, 0}, 500, 375, 3, true},
      // A frame that grows with every move: three corrections, then done.
      {"a frame that never settles", {2, 20, 2, 2, 1}, 400, 300, 5, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HWND window = FramedWindow(c.frame);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(SetClientSize(window, c.width, c.height));
    RECT client;
    GetClientRect(window, &client);
    if (c.exact) {
      EXPECT_EQ(client.right, c.width);
      EXPECT_EQ(client.bottom, c.height);
    }
    EXPECT_EQ(Moves, c.moves);
    DestroyWindow(window);
  }
  EXPECT_FALSE(SetClientSize(nullptr, 10, 10));
}

// A system that knows frames per DPI: the test frame of {3, 22, 3, 3} at
// 96 DPI, scaled to the DPI asked for.
bool ScaledTestFrame(RECT* rect, DWORD, DWORD, int dpi) {
  rect->left -= 3 * dpi / 96;
  rect->top -= 22 * dpi / 96;
  rect->right += 3 * dpi / 96;
  rect->bottom += 3 * dpi / 96;
  return true;
}
bool NoFramesPerDpi(RECT*, DWORD, DWORD, int) { return false; }

// With the window's DPI the first guess is the frame at that DPI, with no
// measuring move before it; where the system knows no such frames, or no DPI
// is given, the frame is measured as before.
TEST(SetClientSize, GuessesTheFrameAtTheWindowsDpi) {
  struct Case {
    const char* what;
    bool (*frameForDpi)(RECT*, DWORD, DWORD, int);
    int dpi;
    int moves;
  };
  const Case cases[] = {
      {"the frame at the window's DPI", ScaledTestFrame, 96, 1},
      // The system's frame for 192 DPI is larger than the window's: one
      // correction takes the difference off.
      {"a frame that differs from the guess", ScaledTestFrame, 192, 2},
      {"no frames per DPI", NoFramesPerDpi, 144, 2},
      {"no DPI given", ScaledTestFrame, 0, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MonitorHooks.frameForDpi = c.frameForDpi;
    HWND window = FramedWindow({3, 22, 3, 3, 0});
    ASSERT_NE(window, nullptr);
    const POINT corner = {37, 41};
    EXPECT_TRUE(SetClientSize(window, 301, 199, c.dpi, &corner));
    RECT client, frame;
    GetClientRect(window, &client);
    GetWindowRect(window, &frame);
    EXPECT_EQ(client.right, 301);
    EXPECT_EQ(client.bottom, 199);
    EXPECT_EQ(frame.left, 37);
    EXPECT_EQ(frame.top, 41);
    EXPECT_EQ(Moves, c.moves);
    DestroyWindow(window);
  }
  MonitorHooks = RealMonitorSeam();
}

TEST(CenterWindowOnMonitor, CentresOnTheMonitorRectangle) {
  HWND window = FramedWindow({0, 0, 0, 0, 0});
  ASSERT_NE(window, nullptr);
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof monitor;
  ASSERT_TRUE(GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor));
  const RECT& m = monitor.rcMonitor;
  // An odd width and height: the half is rounded up, so the window sits
  // half a pixel left of and above the centre.
  for (const SIZE size : {SIZE{301, 199}, SIZE{400, 300}}) {
    SetWindowPos(window, nullptr, 5, 7, size.cx, size.cy, SWP_NOZORDER);
    EXPECT_TRUE(CenterWindowOnMonitor(window));
    RECT placed;
    GetWindowRect(window, &placed);
    EXPECT_EQ(placed.left, (m.left + m.right) / 2 - (size.cx + 1) / 2);
    EXPECT_EQ(placed.top, (m.top + m.bottom) / 2 - (size.cy + 1) / 2);
    EXPECT_EQ(placed.right - placed.left, size.cx);
  }
  // A given rectangle, another monitor's, instead of the nearest monitor.
  const RECT other = {1920, -200, 4800, 1420};
  EXPECT_TRUE(CenterWindowOnMonitor(window, &other));
  RECT placed;
  GetWindowRect(window, &placed);
  EXPECT_EQ(placed.left, 3360 - 200);
  EXPECT_EQ(placed.top, 610 - 150);
  DestroyWindow(window);
  EXPECT_FALSE(CenterWindowOnMonitor(window));
  EXPECT_FALSE(CenterWindowOnMonitor(nullptr));
}

}  // namespace
