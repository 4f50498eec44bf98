// The test harness itself: a Windows program under Wine with a real display.
#include <gtest/gtest.h>
#include <windows.h>

TEST(Harness, CreatesARealWindow) {
  HWND w = CreateWindowExW(0, L"STATIC", L"harness", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                           0, 0, 100, 100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(IsWindow(w));
  EXPECT_GT(GetSystemMetrics(SM_CXSCREEN), 0);
  DestroyWindow(w);
}
