// Size and place of a top-level window.
#pragma once
#include <windows.h>

// Makes the client area of window width x height pixels: a first guess from
// the frame it has now (a frame wider than 24 or taller than 64 pixels is
// taken for a not yet settled one: 4 and 20 instead), then up to three
// corrections by what is still missing. False only for a null window.
bool SetClientSize(HWND window, int width, int height);

// Centres window on the full rectangle (taskbar included) of the monitor
// nearest to it; without monitor information, on the work area, or on the
// desktop when the work area's centre lies outside it. False for a null
// handle or one that is not a window, else the result of the final move.
bool CenterWindowOnMonitor(HWND window);
