// The splash window: a captioned, topmost window that carries the status text
// in its title bar and shows the splash picture as its client area.
#include "splash/splash_window.h"

#include "splash/build_date.h"
#include "splash/splash_picture.h"
#include "splash/window_geometry.h"
#include "support/path_utils.h"

HWND SplashWindow = nullptr;

namespace {

// Title bar, system menu with close button and a minimise button; no sizing
// border. WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX = 0x10CA0000.
constexpr DWORD kStyle = WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

// Builds the picture and fits the window around it. -1 when there is no
// picture, so that the window is not created.
LRESULT CreatePicture(HWND window, const CREATESTRUCTW* creation) {
  if (!BuildSplashPicture(creation->hInstance)) return -1;
  SetClientSize(window, SplashImage.width, SplashImage.height);
  CenterWindowOnMonitor(window);
  BringWindowToTop(window);
  BringWindowToTop(window);
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
      return CreatePicture(window, reinterpret_cast<const CREATESTRUCTW*>(lParam));
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

// Registers the class, creates, shows and paints the window. Returns 1 when
// the window exists, else 0. SplashWindow owns nothing: the window lives
// until DestroyWindow or its close button.
int CreateSplashWindow(HINSTANCE module) {
  RegisterSplashClass(module);
  wchar_t title[kTitleCapacity];
  StrCopyBounded(title, kTitleCapacity, L"Installing Quillane 5.09.01 (");
  AppendBuildDate(title);
  StrAppendBounded(title, kTitleCapacity, L")");
  SplashWindow = CreateWindowExW(0, kSplashClassName, title, kStyle, 0, 0, 100, 100, nullptr, nullptr,
                                 module, nullptr);
  if (!SplashWindow) return 0;
  ShowWindow(SplashWindow, SW_SHOWNORMAL);
  UpdateWindow(SplashWindow);
  return SplashWindow != nullptr;
}

void SetStatusText(const wchar_t* text) {
  if (SplashWindow) SetWindowTextW(SplashWindow, text);
}
