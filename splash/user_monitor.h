// The monitor the splash window opens on, that monitor's own DPI, and the
// frame a window has at a given DPI. The per-monitor calls of newer Windows
// versions are looked up when present, so that the program still starts on
// Windows 7, where it runs aware of the system DPI only.
#pragma once
#include <windows.h>

// How the monitors are reached; tests stand in for them. MonitorHooks holds
// the real ones unless a test swaps them.
struct MonitorSeam {
  void(WINAPI* startupInfo)(STARTUPINFOW* out);
  HWND(WINAPI* foregroundWindow)();
  HMONITOR(WINAPI* monitorFromWindow)(HWND window, DWORD flags);
  BOOL(WINAPI* cursorPos)(POINT* out);
  HMONITOR(WINAPI* monitorFromPoint)(POINT point, DWORD flags);
  BOOL(WINAPI* monitorInfo)(HMONITOR monitor, MONITORINFO* out);
  // The monitor's effective DPI, or 0 where the system has none per monitor
  // (shcore's GetDpiForMonitor came with Windows 8.1).
  int (*monitorDpi)(HMONITOR monitor);
  // Grows rect from a client rectangle to the window rectangle of a window
  // of that style at dpi (AdjustWindowRectExForDpi, Windows 10 1607). False,
  // rect untouched, where the system lacks it.
  bool (*frameForDpi)(RECT* rect, DWORD style, DWORD exStyle, int dpi);
};

extern MonitorSeam MonitorHooks;
MonitorSeam RealMonitorSeam();

// The monitor the user works on.
struct UserMonitor {
  HMONITOR monitor;  // null when no monitor could be named at all
  RECT area;         // its full rectangle, taskbar included
  int dpi;           // its own DPI as the system reports it, not rounded
};

// The shell's monitor when the start-up information carries one (a
// program started from the taskbar or a jump list: hStdOutput holds the
// monitor's handle when no standard handles were given), else the monitor of
// the foreground window, else the one under the cursor, else the primary.
// Each candidate counts only when the system knows it as a monitor. The DPI
// is the monitor's own where the system has per-monitor DPI, else the
// system's (GetScreenDpi, 96 without a screen). Without any monitor the area
// is the desktop window's rectangle.
UserMonitor FindUserMonitor();

// The window rectangle for a client area of width x height of a window of
// style and exStyle at dpi, centred on area as CenterWindowOnMonitor centres
// (the halves of odd sizes rounded up). The frame comes from frameForDpi, or
// where the system lacks it from AdjustWindowRectEx at the system DPI.
RECT CentredWindowRect(const RECT& area, int width, int height, DWORD style, DWORD exStyle,
                       int dpi);
