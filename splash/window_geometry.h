// Size and place of a top-level window.
#pragma once
#include <windows.h>

// Makes the client area of window width x height pixels: a first guess,
// then up to three corrections by what is still missing. With dpi (the
// window's own DPI) and a system that knows frames per DPI, the guess is
// the frame at that DPI; otherwise it is the frame the window has now (a
// frame wider than 24 or taller than 64 pixels is taken for a not yet
// settled one: 4 and 20 instead, sizes of a frame at 96 DPI). With at, the
// window's top-left corner goes there in the move of the first guess.
// False only for a null window.
bool SetClientSize(HWND window, int width, int height, int dpi = 0, const POINT* at = nullptr);

// Centres window on area when one is given, else on the full rectangle
// (taskbar included) of the monitor nearest to it; without monitor
// information, on the work area, or on the desktop when the work area's
// centre lies outside it. False for a null handle or one that is not a
// window, else the result of the final move.
bool CenterWindowOnMonitor(HWND window, const RECT* area = nullptr);

// The top-left corner that centres a width x height rectangle on area; the
// halves of odd sizes are rounded up, so such a rectangle sits half a pixel
// left of and above the centre.
POINT CentredCorner(const RECT& area, int width, int height);
