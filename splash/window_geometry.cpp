#include "splash/window_geometry.h"

namespace {

constexpr UINT kResize = SWP_NOMOVE | SWP_NOZORDER;
constexpr UINT kMove = SWP_NOSIZE | SWP_NOZORDER;
constexpr int kMaxFrameWidth = 24;
constexpr int kMaxFrameHeight = 64;
constexpr int kGuessFrameWidth = 4;
constexpr int kGuessFrameHeight = 20;
constexpr int kCorrections = 3;

int Width(const RECT& r) { return r.right - r.left; }
int Height(const RECT& r) { return r.bottom - r.top; }

}  // namespace

bool SetClientSize(HWND window, int width, int height) {
  if (!window) return false;
  SetWindowPos(window, nullptr, 0, 0, width, height, kResize);
  RECT client = {}, frame = {};
  GetClientRect(window, &client);
  GetWindowRect(window, &frame);
  int frameWidth = Width(frame) - Width(client);
  int frameHeight = Height(frame) - Height(client);
  if (frameWidth > kMaxFrameWidth) frameWidth = kGuessFrameWidth;
  if (frameHeight > kMaxFrameHeight) frameHeight = kGuessFrameHeight;
  int w = width + frameWidth;
  int h = height + frameHeight;
  SetWindowPos(window, nullptr, 0, 0, w, h, kResize);
  for (int i = 0; i < kCorrections; ++i) {
    GetClientRect(window, &client);
    if (Width(client) == width && Height(client) == height) return true;
    w += width - Width(client);
    h += height - Height(client);
    SetWindowPos(window, nullptr, 0, 0, w, h, kResize);
  }
  return true;
}

bool CenterWindowOnMonitor(HWND window) {
  if (!window || !IsWindow(window)) return false;
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
  const int cx = (area.left + area.right) / 2;
  const int cy = (area.top + area.bottom) / 2;
  RECT own = {};
  GetWindowRect(window, &own);
  const int x = cx - (Width(own) + 1) / 2;
  const int y = cy - (Height(own) + 1) / 2;
  return SetWindowPos(window, nullptr, x, y, 0, 0, kMove) != FALSE;
}
