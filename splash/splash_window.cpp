// The splash window: a captioned, topmost window that carries the status text
// in its title bar. Until the picture is drawn here, the client area is a
// plain panel of fixed size, centred on the work area.
#include "splash/splash_window.h"

#include "support/path_utils.h"
#include "splash/build_date.h"

HWND SplashWindow = nullptr;

namespace {

// Title bar, system menu with close button and a minimise button; no sizing
// border. WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX = 0x10CA0000.
constexpr DWORD kStyle = WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr int kPanelWidth = 400;
constexpr int kPanelHeight = 240;

// Sizes the window so its client area is the panel and centres it on the
// work area (the screen minus the taskbar).
void PlacePanel(HWND window) {
  RECT frame = {0, 0, kPanelWidth, kPanelHeight};
  AdjustWindowRectEx(&frame, kStyle, FALSE, 0);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  RECT area;
  if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0))
    GetWindowRect(GetDesktopWindow(), &area);
  const int x = (area.left + area.right) / 2 - (width + 1) / 2;
  const int y = (area.top + area.bottom) / 2 - (height + 1) / 2;
  SetWindowPos(window, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void PaintPanel(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  if (!dc) return;
  RECT area = paint.rcPaint;
  if (IsRectEmpty(&area)) GetClientRect(window, &area);
  FillRect(dc, &area, GetSysColorBrush(COLOR_WINDOW));
  EndPaint(window, &paint);
}

LRESULT CALLBACK SplashWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      PlacePanel(window);
      BringWindowToTop(window);
      BringWindowToTop(window);
      return 0;
    case WM_DESTROY:
      // Later pumps meet the quit message and return at once; the sequence
      // carries on without a window.
      if (SplashWindow == window) SplashWindow = nullptr;
      PostQuitMessage(0);
      return 0;
    case WM_SIZE:
      InvalidateRect(window, nullptr, TRUE);
      return 0;
    case WM_PAINT:
      PaintPanel(window);
      return 0;
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    case WM_ERASEBKGND:
      return 1;  // painting covers the whole client area
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
