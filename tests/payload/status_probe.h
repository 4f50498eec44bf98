// A stand-in splash window that records every status text it is given.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "splash/splash_window.h"

namespace status_probe {

inline std::vector<std::wstring>& Texts() {
  static std::vector<std::wstring> texts;
  return texts;
}

inline LRESULT CALLBACK ProbeProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_SETTEXT && l) Texts().push_back(reinterpret_cast<const wchar_t*>(l));
  return DefWindowProcW(window, message, w, l);
}

// Makes the probe the splash window for the lifetime of the object.
struct Probe {
  HWND previous;
  Probe() : previous(SplashWindow) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = ProbeProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"QlnStatusProbe";
    RegisterClassW(&wc);
    SplashWindow = CreateWindowExW(0, wc.lpszClassName, L"", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                   nullptr, nullptr, wc.hInstance, nullptr);
    Texts().clear();
  }
  ~Probe() {
    DestroyWindow(SplashWindow);
    SplashWindow = previous;
  }
};

}  // namespace status_probe
