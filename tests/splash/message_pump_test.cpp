// The message pump with a real window of its own and real posted messages.
#include <gtest/gtest.h>
#include <windows.h>

#include <utility>
#include <vector>

#include "splash/message_pump.h"

namespace {

// Marks the messages this test posts, to tell them from the system's own.
constexpr WPARAM kMark = 0x5151;
constexpr UINT kNest = WM_APP + 1;   // pumps again from inside the dispatch
constexpr UINT kFlow = WM_APP + 2;   // posts itself again while the flow lasts
constexpr UINT kPlain = WM_APP + 3;

// What the test window's procedure saw and how it behaves.
struct Probe {
  std::vector<std::pair<UINT, WPARAM>> seen;
  int paints = 0;
  bool neverValidate = false;
  bool paintInvalidatesAgain = false;
  int deepestDepth = 0;
  std::vector<int> nestedResults;
  bool stopNesting = false;
  DWORD flowUntil = 0;  // tick count until which kFlow re-posts itself
  int flowCount = 0;
};
Probe probe;

bool Saw(UINT message, WPARAM w = kMark) {
  for (const auto& m : probe.seen)
    if (m.first == message && m.second == w) return true;
  return false;
}

LRESULT CALLBACK ProbeProc(HWND hwnd, UINT message, WPARAM w, LPARAM l) {
  probe.seen.emplace_back(message, w);
  switch (message) {
    case WM_PAINT:
      ++probe.paints;
      if (!probe.neverValidate) break;
      // The window keeps asking to be painted.
      if (probe.paintInvalidatesAgain) InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case kNest:
      if (PumpDepth > probe.deepestDepth) probe.deepestDepth = PumpDepth;
      if (probe.stopNesting) return 0;
      PostMessageW(hwnd, kNest, 0, 0);
      probe.nestedResults.push_back(PumpMessages(0, false));
      if (probe.nestedResults.back() == -1) probe.stopNesting = true;
      return 0;
    case kFlow:
      ++probe.flowCount;
      if (static_cast<LONG>(GetTickCount() - probe.flowUntil) < 0) PostMessageW(hwnd, kFlow, 0, 0);
      return 0;
    case WM_CLOSE:
    case WM_ACTIVATE:
    case WM_MOUSEACTIVATE:
    case WM_NCHITTEST:
    case WM_NCACTIVATE:
    case WM_TIMER:
    case WM_SYSKEYDOWN:
    case WM_DEADCHAR:
    case kPlain:
      if (w == kMark) return 0;  // ours: nothing more to do
      break;
  }
  return DefWindowProcW(hwnd, message, w, l);
}

// Drops whatever is still queued, quit messages included.
void DrainQueue() {
  MSG m;
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
  }
}

// One window for the whole suite: under Wine without a window manager,
// destroying a visible window waits two seconds for its unmapping.
class MessagePump : public ::testing::Test {
 protected:
  static HWND window;
  static void SetUpTestSuite() {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = ProbeProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"QlnPumpProbe";
    RegisterClassExW(&wc);
    window = CreateWindowExW(0, L"QlnPumpProbe", L"pump probe", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                             40, 40, 200, 120, nullptr, nullptr, wc.hInstance, nullptr);
  }
  static void TearDownTestSuite() {
    DestroyWindow(window);
    DrainQueue();
  }
  void SetUp() override {
    ASSERT_NE(window, nullptr);
    // Settle what earlier tests left with a plain loop.
    probe = Probe();
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
    probe = Probe();
  }
  void TearDown() override {
    probe.neverValidate = false;
    ValidateRect(window, nullptr);
    DrainQueue();
    EXPECT_EQ(PumpDepth, 0);
  }
};
HWND MessagePump::window = nullptr;

TEST_F(MessagePump, EmptyQueueReturnsOneAtOnce) {
  DWORD start = GetTickCount();
  EXPECT_EQ(PumpMessages(), 1);
  EXPECT_EQ(PumpMessages(250, true), 1);
  EXPECT_LT(GetTickCount() - start, 1000u);
  EXPECT_EQ(PumpDepth, 0);
}

// Every member of the input class, and messages next to it that are not.
const UINT kInputClass[] = {
    WM_ACTIVATE, WM_CLOSE, WM_MOUSEACTIVATE, WM_NCHITTEST, WM_NCACTIVATE,
    WM_NCMOUSEMOVE, WM_NCLBUTTONDOWN, WM_NCMBUTTONDBLCLK,
    WM_KEYDOWN, WM_KEYUP, WM_CHAR,
    WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_RBUTTONUP, WM_MOUSEWHEEL,
    WM_CAPTURECHANGED, WM_DROPFILES, WM_MOUSEHOVER, WM_MOUSELEAVE};
const UINT kNotInput[] = {WM_TIMER, WM_SYSKEYDOWN, WM_DEADCHAR, WM_PAINT, kPlain,
                          WM_NCMOUSEMOVE - 1, WM_MOUSEWHEEL + 1};

void PostAll(HWND window) {
  for (UINT m : kInputClass) PostMessageW(window, m, kMark, 0);
  for (UINT m : kNotInput) PostMessageW(window, m, kMark, 0);
}

TEST_F(MessagePump, DiscardModeDropsInputAndDispatchesTheRest) {
  PostAll(window);
  EXPECT_EQ(PumpMessages(250, true), 1);
  for (UINT m : kInputClass) EXPECT_FALSE(Saw(m)) << std::hex << m;
  for (UINT m : kNotInput) EXPECT_TRUE(Saw(m)) << std::hex << m;
}

TEST_F(MessagePump, OrdinaryModeDispatchesEverything) {
  PostAll(window);
  EXPECT_EQ(PumpMessages(0, false), 1);
  for (UINT m : kInputClass) EXPECT_TRUE(Saw(m)) << std::hex << m;
  for (UINT m : kNotInput) EXPECT_TRUE(Saw(m)) << std::hex << m;
}

TEST_F(MessagePump, KeyPressesAreTranslatedOnlyWhenKept) {
  const LPARAM scanA = 0x001E0001;
  PostMessageW(window, WM_KEYDOWN, 'A', scanA);
  EXPECT_EQ(PumpMessages(0, false), 1);
  EXPECT_TRUE(Saw(WM_KEYDOWN, 'A'));
  EXPECT_TRUE(Saw(WM_CHAR, 'a'));

  probe = Probe();
  PostMessageW(window, WM_KEYDOWN, 'A', scanA);
  EXPECT_EQ(PumpMessages(250, true), 1);
  EXPECT_FALSE(Saw(WM_KEYDOWN, 'A'));
  EXPECT_FALSE(Saw(WM_CHAR, 'a'));
}

TEST_F(MessagePump, QuitIsPostedAgainAndEndsEveryLaterCall) {
  PostMessageW(window, kPlain, kMark, 0);
  PostQuitMessage(0);
  EXPECT_EQ(PumpMessages(), 0);
  EXPECT_TRUE(Saw(kPlain));  // posted before the quit, so handled first
  EXPECT_EQ(PumpMessages(250, true), 0);
  EXPECT_EQ(PumpMessages(), 0);
  MSG m;
  EXPECT_TRUE(PeekMessageW(&m, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(PumpMessages(), 1);  // gone once someone takes it for good
}

TEST_F(MessagePump, NestingStopsAtTheHundredAndSecondCall) {
  PostMessageW(window, kNest, 0, 0);
  EXPECT_EQ(PumpMessages(), 1);
  EXPECT_EQ(probe.deepestDepth, 101);
  ASSERT_EQ(probe.nestedResults.size(), 101u);
  // The innermost call (the 102nd) returned at once; the 100 below it ran.
  EXPECT_EQ(probe.nestedResults.front(), -1);
  for (size_t i = 1; i < probe.nestedResults.size(); ++i) EXPECT_EQ(probe.nestedResults[i], 1);
  EXPECT_EQ(PumpDepth, 0);
}

TEST_F(MessagePump, DepthAboveTheLimitReturnsWithoutTouchingTheQueue) {
  PostMessageW(window, kPlain, kMark, 0);
  PumpDepth = 101;
  int result = PumpMessages();
  int depthAfter = PumpDepth;
  PumpDepth = 0;
  EXPECT_EQ(result, -1);
  EXPECT_EQ(depthAfter, 101);
  EXPECT_FALSE(Saw(kPlain));
  EXPECT_EQ(PumpMessages(), 1);
  EXPECT_TRUE(Saw(kPlain));
}

TEST_F(MessagePump, PaintStormIsValidatedAtThe102ndPaint) {
  probe.neverValidate = true;
  InvalidateRect(window, nullptr, FALSE);
  EXPECT_EQ(PumpMessages(), 1);
  EXPECT_EQ(probe.paints, 102);
  // Validated so the storm stopped, invalidated again on the way out.
  EXPECT_TRUE(GetUpdateRect(window, nullptr, FALSE));
}

TEST_F(MessagePump, EndlessPaintsEndTheCallAtThe202nd) {
  probe.neverValidate = true;
  probe.paintInvalidatesAgain = true;
  InvalidateRect(window, nullptr, FALSE);
  EXPECT_EQ(PumpMessages(), -1);
  EXPECT_EQ(probe.paints, 201);  // the 202nd is not dispatched
  EXPECT_TRUE(GetUpdateRect(window, nullptr, FALSE));
}

TEST_F(MessagePump, BudgetEndsACallWhileMessagesKeepArriving) {
  DWORD start = GetTickCount();
  probe.flowUntil = start + 3000;
  PostMessageW(window, kFlow, 0, 0);
  EXPECT_EQ(PumpMessages(100, false), 1);
  DWORD spent = GetTickCount() - start;
  EXPECT_GE(spent, 100u);
  EXPECT_LT(spent, 2500u);  // well before the flow would have ended
  EXPECT_GT(probe.flowCount, 1);
}

TEST_F(MessagePump, BudgetsBelowOneMeanFifteenSeconds) {
  // A flow of 400 ms outlasts a 50 ms budget but not the default one.
  for (int budget : {0, -5, 15000}) {
    probe = Probe();
    DWORD start = GetTickCount();
    probe.flowUntil = start + 400;
    PostMessageW(window, kFlow, 0, 0);
    EXPECT_EQ(PumpMessages(budget, false), 1) << budget;
    EXPECT_GE(GetTickCount() - start, 400u) << budget;
    MSG m;
    EXPECT_FALSE(PeekMessageW(&m, window, kFlow, kFlow, PM_NOREMOVE)) << budget;  // flow drained
  }
  probe = Probe();
  probe.flowUntil = GetTickCount() + 400;
  PostMessageW(window, kFlow, 0, 0);
  EXPECT_EQ(PumpMessages(50, false), 1);
  MSG m;
  EXPECT_TRUE(PeekMessageW(&m, window, kFlow, kFlow, PM_NOREMOVE));  // cut short
}

}  // namespace
