// The splash window: a captioned, topmost window that carries the status text
// in its title bar and shows the splash picture as its client area.
#include "splash/splash_window.h"

#include "splash/build_date.h"
#include "splash/screen_dpi.h"
#include "splash/splash_picture.h"
#include "splash/user_monitor.h"
#include "splash/window_geometry.h"
#include "support/path_utils.h"

HWND SplashWindow = nullptr;

namespace {

// Title bar, system menu with close button and a minimise button; no sizing
// border. WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX = 0x10CA0000.
constexpr DWORD kStyle = WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

// The DPI of the window's monitor as the system reports it (not rounded):
// its frame is sized for this one.
int WindowDpi = kBaseDpi;

// Fits the window around the picture, which CreateSplashWindow built for
// the monitor it creates the window on and hands over as the creation's
// parameter. -1 when there is no picture, so that the window is not created.
LRESULT FitPicture(HWND window, const CREATESTRUCTW* creation) {
  if (SplashImage.width <= 0 || SplashImage.height <= 0) return -1;
  const UserMonitor* monitor = static_cast<const UserMonitor*>(creation->lpCreateParams);
  if (monitor) WindowDpi = monitor->dpi;
  SetClientSize(window, SplashImage.width, SplashImage.height, WindowDpi);
  CenterWindowOnMonitor(window, monitor ? &monitor->area : nullptr);
  BringWindowToTop(window);
  BringWindowToTop(window);
  return 0;
}

// The window was dragged to a monitor of another DPI, or that monitor's
// scale changed: the picture is made anew for the new DPI (a failure keeps
// the one it has), the window takes the suggested place with the frame of
// the new DPI around the picture, and the picture is painted whole.
LRESULT FollowDpi(HWND window, WPARAM wParam, const RECT* suggested) {
  WindowDpi = LOWORD(wParam);
  RemakeSplashPicture(WindowDpi);
  const POINT corner = {suggested->left, suggested->top};
  SetClientSize(window, SplashImage.width, SplashImage.height, WindowDpi, &corner);
  InvalidateRect(window, nullptr, FALSE);
  return 0;
}

// Copies the picture into the paint rectangle, or into the whole client
// area when the system asks for an empty one.
void PaintPicture(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  if (!dc) return;
  RECT area = paint.rcPaint;
  if (IsRectEmpty(&area)) GetClientRect(window, &area);
  PaintSplashPicture(dc, area);
  EndPaint(window, &paint);
}

LRESULT CALLBACK SplashWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      return FitPicture(window, reinterpret_cast<const CREATESTRUCTW*>(lParam));
    case WM_DPICHANGED:
      return FollowDpi(window, wParam, reinterpret_cast<const RECT*>(lParam));
    case WM_DESTROY:
      // Later pumps meet the quit message and return at once; the sequence
      // carries on without a window.
      if (SplashWindow == window) SplashWindow = nullptr;
      FreeSplashPicture();
      PostQuitMessage(0);
      return 0;
    case WM_SIZE:
      InvalidateRect(window, nullptr, TRUE);
      return 0;
    case WM_PAINT:
      PaintPicture(window);
      return 0;
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    case WM_ERASEBKGND:
      return 1;  // the picture covers the whole client area
    case WM_SHOWWINDOW:
      // Topmost again on every show and hide; not passed on.
      SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0,
                   SWP_NOSIZE | SWP_NOMOVE | SWP_NOSENDCHANGING);
      return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void RegisterSplashClass(HINSTANCE module) {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.style = CS_PARENTDC;
  wc.lpfnWndProc = SplashWndProc;
  wc.hInstance = module;
  wc.hIcon = LoadIconW(module, MAKEINTRESOURCEW(101));
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = kSplashClassName;
  // A failure (the class exists already, or cannot be made) shows when the
  // window is created.
  RegisterClassExW(&wc);
}

}  // namespace

// Registers the class, builds the picture for the user's monitor, creates
// the window there, centred, and shows and paints it. Returns 1 when the
// window exists, else 0. SplashWindow owns nothing: the window lives until
// DestroyWindow or its close button.
int CreateSplashWindow(HINSTANCE module) {
  RegisterSplashClass(module);
  wchar_t title[kTitleCapacity];
  StrCopyBounded(title, kTitleCapacity, L"Installing Quillane ");
  StrAppendBounded(title, kTitleCapacity, kLauncherVersion);
  StrAppendBounded(title, kTitleCapacity, L" (");
  AppendBuildDate(title);
  StrAppendBounded(title, kTitleCapacity, L")");
  // Created where it will stay: a window created elsewhere and moved to a
  // monitor of another DPI would be told of the change inside its own
  // creation, and would have been scaled once for nothing.
  UserMonitor monitor = FindUserMonitor();
  if (!BuildSplashPicture(module, monitor.dpi)) return 0;
  const RECT place = CentredWindowRect(monitor.area, SplashImage.width, SplashImage.height, kStyle, 0,
                                       monitor.dpi);
  SplashWindow = CreateWindowExW(0, kSplashClassName, title, kStyle, place.left, place.top,
                                 place.right - place.left, place.bottom - place.top, nullptr, nullptr,
                                 module, &monitor);
  if (!SplashWindow) {
    FreeSplashPicture();
    return 0;
  }
  ShowWindow(SplashWindow, SW_SHOWNORMAL);
  UpdateWindow(SplashWindow);
  return SplashWindow != nullptr;
}

void SetStatusText(const wchar_t* text) {
  if (SplashWindow) SetWindowTextW(SplashWindow, text);
}

int SplashWindowDpi() { return WindowDpi; }
