#include "splash/window_geometry.h"

#include "splash/user_monitor.h"

namespace {

constexpr UINT kResize = SWP_NOMOVE | SWP_NOZORDER;
constexpr UINT kMove = SWP_NOSIZE | SWP_NOZORDER;
// A window that follows a change of DPI keeps its place in the order and
// does not take the focus.
constexpr UINT kMoveAndResize = SWP_NOZORDER | SWP_NOACTIVATE;
constexpr int kMaxFrameWidth = 24;
constexpr int kMaxFrameHeight = 64;
constexpr int kGuessFrameWidth = 4;
constexpr int kGuessFrameHeight = 20;
constexpr int kCorrections = 3;

int Width(const RECT& r) { return r.right - r.left; }
int Height(const RECT& r) { return r.bottom - r.top; }

// The window size for the client size from the frame at dpi, or false
// where the system knows no frames per DPI.
bool FrameAtDpi(HWND window, int width, int height, int dpi, int* w, int* h) {
  RECT frame = {0, 0, width, height};
  if (dpi <= 0 ||
      !MonitorHooks.frameForDpi(&frame, static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE)),
                                static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE)), dpi))
    return false;
  *w = Width(frame);
  *h = Height(frame);
  return true;
}

// The window size for the client size from the frame the window has now,
// measured at the client size itself.
void FrameMeasured(HWND window, int width, int height, int* w, int* h) {
  SetWindowPos(window, nullptr, 0, 0, width, height, kResize);
  RECT client = {}, frame = {};
  GetClientRect(window, &client);
  GetWindowRect(window, &frame);
  int frameWidth = Width(frame) - Width(client);
  int frameHeight = Height(frame) - Height(client);
  if (frameWidth > kMaxFrameWidth) frameWidth = kGuessFrameWidth;
  if (frameHeight > kMaxFrameHeight) frameHeight = kGuessFrameHeight;
  *w = width + frameWidth;
  *h = height + frameHeight;
}

// The monitor nearest to window, or the work area or desktop without one.
RECT NearestMonitorArea(HWND window) {
  RECT area = {};
  GetWindowRect(GetDesktopWindow(), &area);
  RECT work = {};
  if (SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0)) {
    const POINT centre = {(work.left + work.right) / 2, (work.top + work.bottom) / 2};
    if (PtInRect(&area, centre)) area = work;
  }
  if (HMONITOR monitor = MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST)) {
    MONITORINFO info = {};
    info.cbSize = sizeof info;  // 40: the plain record, without a device name
    if (GetMonitorInfoW(monitor, &info)) area = info.rcMonitor;
  }
  return area;
}

}  // namespace

bool SetClientSize(HWND window, int width, int height, int dpi, const POINT* at) {
  if (!window) return false;
  int w = 0, h = 0;
  if (!FrameAtDpi(window, width, height, dpi, &w, &h)) FrameMeasured(window, width, height, &w, &h);
  if (at)
    SetWindowPos(window, nullptr, at->x, at->y, w, h, kMoveAndResize);
  else
    SetWindowPos(window, nullptr, 0, 0, w, h, kResize);
  RECT client = {};
  for (int i = 0; i < kCorrections; ++i) {
    GetClientRect(window, &client);
    if (Width(client) == width && Height(client) == height) return true;
    w += width - Width(client);
    h += height - Height(client);
    SetWindowPos(window, nullptr, 0, 0, w, h, kResize);
  }
  return true;
}

bool CenterWindowOnMonitor(HWND window, const RECT* given) {
  if (!window || !IsWindow(window)) return false;
  const RECT area = given ? *given : NearestMonitorArea(window);
  RECT own = {};
  GetWindowRect(window, &own);
  const POINT corner = CentredCorner(area, Width(own), Height(own));
  return SetWindowPos(window, nullptr, corner.x, corner.y, 0, 0, kMove) != FALSE;
}

POINT CentredCorner(const RECT& area, int width, int height) {
  return POINT{(area.left + area.right) / 2 - (width + 1) / 2, (area.top + area.bottom) / 2 - (height + 1) / 2};
}
