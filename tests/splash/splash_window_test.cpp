// The splash window: class, styles, title, status text and closing; and the
// build date in its title.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "splash/build_date.h"
#include "splash/message_pump.h"
#include "splash/splash_window.h"

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
  AppendDateText(expected, __DATE__);
  EXPECT_STREQ(title, expected);
  EXPECT_EQ(wcslen(title), 11u);
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

}  // namespace
