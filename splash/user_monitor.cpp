#include "splash/user_monitor.h"

#include "splash/screen_dpi.h"
#include "splash/window_geometry.h"
#include "support/system_library.h"

namespace {

// shellscalingapi.h's MDT_EFFECTIVE_DPI: the DPI the user chose for the
// monitor, the one the system scales windows by.
constexpr int kEffectiveDpi = 0;

using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
using AdjustWindowRectExForDpiFn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);

// Neither call is imported: an import the system lacks would stop the
// program before its first instruction on Windows 7 (and shcore.dll is not a
// known DLL, so an import would also let a planted copy load). Each is
// looked up once and kept for the life of the process.

int RealMonitorDpi(HMONITOR monitor) {
  static const GetDpiForMonitorFn get =
      ModuleProcedure<GetDpiForMonitorFn>(LoadSystemLibrary(L"shcore.dll"), "GetDpiForMonitor");
  UINT x = 0, y = 0;
  if (!get || FAILED(get(monitor, kEffectiveDpi, &x, &y))) return 0;
  return static_cast<int>(x);
}

bool RealFrameForDpi(RECT* rect, DWORD style, DWORD exStyle, int dpi) {
  // user32 is imported, so it is loaded already.
  static const AdjustWindowRectExForDpiFn adjust =
      ModuleProcedure<AdjustWindowRectExForDpiFn>(GetModuleHandleW(L"user32.dll"), "AdjustWindowRectExForDpi");
  RECT grown = *rect;
  if (!adjust || !adjust(&grown, style, FALSE, exStyle, static_cast<UINT>(dpi))) return false;
  *rect = grown;
  return true;
}

void WINAPI RealStartupInfo(STARTUPINFOW* out) { GetStartupInfoW(out); }

// The monitor that the start-up information names, or null. A program
// started from the taskbar or a jump list finds the taskbar's monitor in
// hStdOutput; when standard handles were given, hStdOutput is one of them.
HMONITOR ShellMonitor() {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  MonitorHooks.startupInfo(&startup);
  if (startup.dwFlags & STARTF_USESTDHANDLES) return nullptr;
  return reinterpret_cast<HMONITOR>(startup.hStdOutput);
}

HMONITOR ForegroundMonitor() {
  HWND foreground = MonitorHooks.foregroundWindow();
  return foreground ? MonitorHooks.monitorFromWindow(foreground, MONITOR_DEFAULTTONULL) : nullptr;
}

HMONITOR CursorMonitor() {
  POINT cursor = {};
  // No cursor position on a desktop that takes no input.
  if (!MonitorHooks.cursorPos(&cursor)) return nullptr;
  return MonitorHooks.monitorFromPoint(cursor, MONITOR_DEFAULTTONULL);
}

HMONITOR PrimaryMonitor() { return MonitorHooks.monitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY); }

// Takes monitor when the system knows it as one: the start-up value may be
// any handle, or a monitor unplugged since.
bool Take(HMONITOR monitor, UserMonitor* out) {
  if (!monitor) return false;
  MONITORINFO info = {};
  info.cbSize = sizeof info;
  if (!MonitorHooks.monitorInfo(monitor, &info)) return false;
  out->monitor = monitor;
  out->area = info.rcMonitor;
  return true;
}

}  // namespace

MonitorSeam RealMonitorSeam() {
  MonitorSeam seam;
  seam.startupInfo = RealStartupInfo;
  seam.foregroundWindow = GetForegroundWindow;
  seam.monitorFromWindow = MonitorFromWindow;
  seam.cursorPos = GetCursorPos;
  seam.monitorFromPoint = MonitorFromPoint;
  seam.monitorInfo = GetMonitorInfoW;
  seam.monitorDpi = RealMonitorDpi;
  seam.frameForDpi = RealFrameForDpi;
  return seam;
}

MonitorSeam MonitorHooks = RealMonitorSeam();

UserMonitor FindUserMonitor() {
  UserMonitor found = {};
  if (!Take(ShellMonitor(), &found) && !Take(ForegroundMonitor(), &found) &&
      !Take(CursorMonitor(), &found) && !Take(PrimaryMonitor(), &found))
    GetWindowRect(GetDesktopWindow(), &found.area);
  found.dpi = found.monitor ? MonitorHooks.monitorDpi(found.monitor) : 0;
  if (found.dpi <= 0) found.dpi = GetScreenDpi();
  if (found.dpi <= 0) found.dpi = kBaseDpi;
  return found;
}

RECT CentredWindowRect(const RECT& area, int width, int height, DWORD style, DWORD exStyle,
                       int dpi) {
  RECT frame = {0, 0, width, height};
  if (!MonitorHooks.frameForDpi(&frame, style, exStyle, dpi)) AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  const int w = frame.right - frame.left;
  const int h = frame.bottom - frame.top;
  const POINT corner = CentredCorner(area, w, h);
  return RECT{corner.x, corner.y, corner.x + w, corner.y + h};
}
