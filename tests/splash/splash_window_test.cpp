// The splash window: class, styles, title, status text and closing; the
// monitor it opens on and the DPI it takes from there; and the build date
// in its title.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "source_date.h"
#include "splash/build_date.h"
#include "splash/message_pump.h"
#include "splash/splash_picture.h"
#include "splash/splash_window.h"
#include "splash/user_monitor.h"

namespace {

TEST(AppendDateText, Cases) {
  struct Case { const char* date; const wchar_t* expected; };
  const Case cases[] = {
      {"Oct 30 2021", L"T(30-Oct-2021"},
      {"Oct  5 2021", L"T(05-Oct-2021"},  // the compiler pads a day below 10
      {"  Jan 1 999", L"T(01-Jan-0999"},
      {"Sept 12 2021", L"T(12-Sept-2021"},
      {"May", L"T(00-May-0000"},
      {"", L"T(00-   -0000"},
      {nullptr, L"T(00-   -0000"},
  };
  for (const Case& c : cases) {
    wchar_t title[260] = L"T(";
    EXPECT_EQ(AppendDateText(title, c.date), 1);
    EXPECT_STREQ(title, c.expected) << (c.date ? c.date : "(null)");
  }
}

TEST(AppendDateText, CutAtTheTitleCapacity) {
  wchar_t title[260];
  wmemset(title, L'x', 255);
  title[255] = L'\0';
  AppendDateText(title, "Oct 30 2021");
  EXPECT_EQ(std::wstring(title), std::wstring(255, L'x') + L"30-O");
}

TEST(AppendBuildDate, MatchesThisBuild) {
  wchar_t title[260] = L"";
  AppendBuildDate(title);
  wchar_t expected[260] = L"";
  AppendDateText(expected, QLN_BUILD_DATE);
  EXPECT_STREQ(title, expected);
  EXPECT_EQ(wcslen(title), 11u);
  // That date is the day (UTC) of the build's moment, the seconds the build
  // stamps its products with.
  const time_t moment = static_cast<time_t>(QLN_SOURCE_DATE_EPOCH);
  const tm* day = gmtime(&moment);
  ASSERT_NE(day, nullptr);
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char fromMoment[16];
  snprintf(fromMoment, sizeof fromMoment, "%02d-%s-%04d", day->tm_mday, kMonths[day->tm_mon],
           day->tm_year + 1900);
  EXPECT_EQ(std::wstring(title), std::wstring(fromMoment, fromMoment + strlen(fromMoment)));
}

TEST(SplashWindow, CreatesTitlesAndCloses) {
  const HINSTANCE module = GetModuleHandleW(nullptr);
  ASSERT_TRUE(CreateSplashWindow(module));
  HWND window = SplashWindow;
  ASSERT_NE(window, nullptr);

  wchar_t className[64];
  GetClassNameW(window, className, 64);
  EXPECT_STREQ(className, L"QLNneo_SfxBox");
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  ASSERT_TRUE(GetClassInfoExW(module, L"QLNneo_SfxBox", &wc));
  EXPECT_EQ(wc.style, static_cast<UINT>(CS_PARENTDC));
  EXPECT_EQ(wc.hbrBackground, nullptr);

  const DWORD style = GetWindowLongW(window, GWL_STYLE);
  EXPECT_EQ(style & 0x10CA0000u, 0x10CA0000u);
  EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0u);
  EXPECT_TRUE(GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST);
  EXPECT_TRUE(IsWindowVisible(window));

  wchar_t title[260];
  GetWindowTextW(window, title, 260);
  wchar_t expected[260] = L"Installing Quillane 5.09.01 (";
  AppendBuildDate(expected);
  wcscat(expected, L")");
  EXPECT_STREQ(title, expected);

  // Centred on the monitor, taskbar included.
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof monitor;
  GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor);
  RECT frame;
  GetWindowRect(window, &frame);
  const RECT& area = monitor.rcMonitor;
  EXPECT_NEAR((frame.left + frame.right) / 2, (area.left + area.right) / 2, 1);
  EXPECT_NEAR((frame.top + frame.bottom) / 2, (area.top + area.bottom) / 2, 1);

  SetStatusText(L"Preparing installation data ...");
  GetWindowTextW(window, title, 260);
  EXPECT_STREQ(title, L"Preparing installation data ...");

  // Hidden, it stays topmost.
  ShowWindow(window, SW_HIDE);
  EXPECT_TRUE(GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST);
  ShowWindow(window, SW_SHOWNORMAL);

  // The close button's message destroys the window and posts a quit message.
  PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(PumpMessages(), 0);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(SplashWindow, nullptr);
  SetStatusText(L"goes nowhere");  // no window: nothing happens
  EXPECT_EQ(PumpMessages(), 0);
  MSG m;
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
  }
}

// The program carries the launcher's manifest: the system reads it as
// aware of each monitor's own DPI (without the dpiAwareness element it would
// read dpiAware alone: aware of the system DPI). Wine tells the two kinds of
// per-monitor awareness apart in no call, so the second kind that Windows
// gets from "PerMonitorV2" is not seen here. The calls are Windows 10's,
// looked up as the launcher looks up its own.
TEST(SplashWindow, TheManifestAsksForPerMonitorAwareness) {
  using ContextFn = DPI_AWARENESS_CONTEXT(WINAPI*)();
  using AwarenessFn = int(WINAPI*)(DPI_AWARENESS_CONTEXT);
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  auto current = reinterpret_cast<ContextFn>(
      reinterpret_cast<void*>(GetProcAddress(user32, "GetThreadDpiAwarenessContext")));
  auto awareness = reinterpret_cast<AwarenessFn>(
      reinterpret_cast<void*>(GetProcAddress(user32, "GetAwarenessFromDpiAwarenessContext")));
  ASSERT_TRUE(current && awareness);
  EXPECT_EQ(awareness(current()), 2);  // DPI_AWARENESS_PER_MONITOR_AWARE
}

// Two monitors side by side for the monitor seam: the primary at 96 DPI and
// a larger one at 144 DPI to its right, standing 200 pixels higher.
const HMONITOR kPrimary = reinterpret_cast<HMONITOR>(0x10041);
const HMONITOR kSecond = reinterpret_cast<HMONITOR>(0x20043);
const HWND kWindowOnPrimary = reinterpret_cast<HWND>(0x30010);
const HWND kWindowOnSecond = reinterpret_cast<HWND>(0x30020);
const HWND kWindowOffScreen = reinterpret_cast<HWND>(0x30030);
constexpr RECT kPrimaryArea = {0, 0, 1920, 1080};
constexpr RECT kSecondArea = {1920, -200, 4800, 1420};

// What the stand-ins answer in one case.
struct World {
  DWORD startupFlags;
  HANDLE startupOutput;
  HWND foreground;
  bool cursorKnown;
  POINT cursor;
  bool perMonitorDpi;  // false: a system before Windows 8.1
};
World Now;

void WINAPI FakeStartupInfo(STARTUPINFOW* out) {
  out->dwFlags = Now.startupFlags;
  out->hStdOutput = Now.startupOutput;
}
HWND WINAPI FakeForeground() { return Now.foreground; }
HMONITOR WINAPI FakeMonitorFromWindow(HWND window, DWORD) {
  return window == kWindowOnPrimary ? kPrimary : window == kWindowOnSecond ? kSecond : nullptr;
}
BOOL WINAPI FakeCursorPos(POINT* out) {
  *out = Now.cursor;
  return Now.cursorKnown;
}
HMONITOR WINAPI FakeMonitorFromPoint(POINT p, DWORD flags) {
  if (PtInRect(&kPrimaryArea, p)) return kPrimary;
  if (PtInRect(&kSecondArea, p)) return kSecond;
  return flags == MONITOR_DEFAULTTOPRIMARY ? kPrimary : nullptr;
}
BOOL WINAPI FakeMonitorInfo(HMONITOR monitor, MONITORINFO* out) {
  if (out->cbSize != sizeof(MONITORINFO)) return FALSE;
  if (monitor != kPrimary && monitor != kSecond) return FALSE;
  out->rcMonitor = monitor == kPrimary ? kPrimaryArea : kSecondArea;
  out->rcWork = out->rcMonitor;
  out->rcWork.bottom -= 40;
  out->dwFlags = monitor == kPrimary ? MONITORINFOF_PRIMARY : 0;
  return TRUE;
}
int FakeMonitorDpi(HMONITOR monitor) {
  if (!Now.perMonitorDpi) return 0;
  return monitor == kSecond ? 144 : 96;
}

class MonitorSeamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MonitorSeam seam = RealMonitorSeam();
    seam.startupInfo = FakeStartupInfo;
    seam.foregroundWindow = FakeForeground;
    seam.monitorFromWindow = FakeMonitorFromWindow;
    seam.cursorPos = FakeCursorPos;
    seam.monitorFromPoint = FakeMonitorFromPoint;
    seam.monitorInfo = FakeMonitorInfo;
    seam.monitorDpi = FakeMonitorDpi;
    MonitorHooks = seam;
  }
  void TearDown() override {
    MonitorHooks = RealMonitorSeam();
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
};

// The window opens on the user's monitor, with the picture (420 x 240) at
// that monitor's DPI, centred on the monitor's full rectangle.
TEST_F(MonitorSeamTest, TheWindowOpensOnTheUsersMonitorAtItsDpi) {
  const HANDLE secondAsHandle = reinterpret_cast<HANDLE>(kSecond);
  const HANDLE aFile = reinterpret_cast<HANDLE>(0x44);
  const POINT onPrimary = {100, 900}, onSecond = {2000, -100}, nowhere = {-500, -500};
  struct Case {
    const char* what;
    World world;
    HMONITOR monitor;
    SIZE client;
  };
  const Case cases[] = {
      {"the shell's monitor before the foreground window's",
       {0, secondAsHandle, kWindowOnPrimary, true, onPrimary, true}, kSecond, {630, 360}},
      {"the shell's monitor with the flag the shell sets beside it",
       {0x400, secondAsHandle, kWindowOnPrimary, true, onPrimary, true}, kSecond, {630, 360}},
      {"standard handles given: hStdOutput is no monitor",
       {STARTF_USESTDHANDLES, secondAsHandle, kWindowOnPrimary, true, onSecond, true}, kPrimary, {420, 240}},
      {"a start-up handle that is no monitor",
       {0, aFile, kWindowOnSecond, true, onPrimary, true}, kSecond, {630, 360}},
      {"the foreground window on the primary monitor",
       {0, nullptr, kWindowOnPrimary, true, onSecond, true}, kPrimary, {420, 240}},
      {"the foreground window on the second monitor",
       {0, nullptr, kWindowOnSecond, true, onPrimary, true}, kSecond, {630, 360}},
      {"no foreground window: the cursor's monitor",
       {0, nullptr, nullptr, true, onSecond, true}, kSecond, {630, 360}},
      {"a foreground window on no monitor: the cursor's monitor",
       {0, nullptr, kWindowOffScreen, true, onSecond, true}, kSecond, {630, 360}},
      {"no foreground window, the cursor on no monitor: the primary",
       {0, nullptr, nullptr, true, nowhere, true}, kPrimary, {420, 240}},
      {"no foreground window, no cursor: the primary",
       {0, nullptr, nullptr, false, onSecond, true}, kPrimary, {420, 240}},
      // Before Windows 8.1 every monitor has the system's DPI (96 here).
      {"no per-monitor DPI: the second monitor at the system's DPI",
       {0, secondAsHandle, nullptr, false, onPrimary, false}, kSecond, {420, 240}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Now = c.world;
    EXPECT_EQ(FindUserMonitor().monitor, c.monitor);
    ASSERT_TRUE(CreateSplashWindow(GetModuleHandleW(nullptr)));
    HWND window = SplashWindow;
    RECT client, frame;
    GetClientRect(window, &client);
    GetWindowRect(window, &frame);
    EXPECT_EQ(client.right, c.client.cx);
    EXPECT_EQ(client.bottom, c.client.cy);
    EXPECT_EQ(SplashImage.width, c.client.cx);
    const RECT& area = c.monitor == kPrimary ? kPrimaryArea : kSecondArea;
    const LONG w = frame.right - frame.left, h = frame.bottom - frame.top;
    EXPECT_EQ(frame.left, (area.left + area.right) / 2 - (w + 1) / 2);
    EXPECT_EQ(frame.top, (area.top + area.bottom) / 2 - (h + 1) / 2);
    DestroyWindow(window);
  }
}

}  // namespace
