// The one message pump of the launcher's thread.
#include "splash/message_pump.h"

#include <windows.h>

int PumpDepth = 0;

namespace {

// Deepest nesting allowed: window procedures and dialogs may pump again from
// inside a dispatched message, and each level costs stack.
constexpr int kMaxPumpDepth = 100;
// A window that gets more paints than this within one call is validated so
// the system stops making them; beyond the second limit the call gives up.
constexpr int kPaintsBeforeValidate = 100;
constexpr int kPaintsBeforeGivingUp = 200;
constexpr DWORD kDefaultBudgetMs = 15000;

// User input that discard mode takes off the queue unseen: keyboard and
// mouse in the client and non-client areas, activation by mouse, close
// requests and dropped files. WM_SYSKEYDOWN, WM_DEADCHAR and WM_TIMER are not
// input here and are always dispatched.
bool IsInputMessage(UINT message) {
  switch (message) {
    case WM_ACTIVATE:
    case WM_CLOSE:
    case WM_MOUSEACTIVATE:
    case WM_NCHITTEST:
    case WM_NCACTIVATE:
    case WM_CAPTURECHANGED:
    case WM_DROPFILES:
    case WM_MOUSEHOVER:
    case WM_MOUSELEAVE:
      return true;
  }
  return (message >= WM_NCMOUSEMOVE && message <= WM_NCMBUTTONDBLCLK) ||
         (message >= WM_KEYDOWN && message <= WM_CHAR) ||
         (message >= WM_MOUSEMOVE && message <= WM_MOUSEWHEEL);
}

bool NextMessage(MSG* message) { return PeekMessageW(message, nullptr, 0, 0, PM_REMOVE) > 0; }

}  // namespace

// Never waits for a message: returns as soon as the queue is empty. The budget
// is checked only after a dispatched message; dropped input is fetched
// without a time check, since dropping costs nothing.
int PumpMessages(int budgetMs, bool discardInput) {
  if (PumpDepth > kMaxPumpDepth) return -1;
  ++PumpDepth;
  const DWORD budget = budgetMs >= 1 ? static_cast<DWORD>(budgetMs) : kDefaultBudgetMs;
  const DWORD start = GetTickCount();
  HWND paintWindow = nullptr;
  int paintCount = 0;
  HWND repaintLater = nullptr;

  MSG message;
  bool have = NextMessage(&message);
  while (have) {
    if (discardInput && IsInputMessage(message.message)) {
      have = NextMessage(&message);
      continue;
    }
    if (message.message == WM_QUIT) {
      // Taking the quit message off the queue would hide it from the outer
      // loops that must see it too.
      PostQuitMessage(0);
      --PumpDepth;
      return 0;
    }
    if (message.message == WM_PAINT && message.hwnd) {
      if (message.hwnd == paintWindow) {
        ++paintCount;
        if (paintCount > kPaintsBeforeValidate) {
          ValidateRect(message.hwnd, nullptr);
          repaintLater = message.hwnd;
        }
        if (paintCount > kPaintsBeforeGivingUp) {
          InvalidateRect(message.hwnd, nullptr, FALSE);
          --PumpDepth;
          return -1;
        }
      } else {
        paintWindow = message.hwnd;
        paintCount = 0;
      }
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
    // Unsigned difference: correct across the 49.7-day wrap of the tick count.
    if (GetTickCount() - start >= budget) break;
    Sleep(0);
    have = NextMessage(&message);
  }
  if (repaintLater) InvalidateRect(repaintLater, nullptr, FALSE);
  --PumpDepth;
  return 1;
}
