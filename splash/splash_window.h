// The splash window: its class, its handle and its status text.
#pragma once
#include <windows.h>

// The splash window's class; watchers outside the process find it by this.
constexpr wchar_t kSplashClassName[] = L"QLNneo_SfxBox";

// The product version the title carries ("Installing Quillane 5.09.01 (...)"),
// and the run's log with it.
constexpr wchar_t kLauncherVersion[] = L"5.09.01";

// The DPI of the window's monitor as the system reports it (not rounded),
// which the picture was scaled for unless its enlargement failed (it then
// keeps its size); 96 before the first window exists.
int SplashWindowDpi();

// The splash window's handle; null before it exists and after WM_DESTROY.
extern HWND SplashWindow;

// Registers the class kSplashClassName for module (the program's own, whose
// resources hold the icon) and creates the window. Returns nonzero when the
// window exists; sets SplashWindow.
int CreateSplashWindow(HINSTANCE module);

// Sets the status text (the window's title). Does nothing without a window.
void SetStatusText(const wchar_t* text);
