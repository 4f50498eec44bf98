// The splash window's taskbar button as a progress bar: the share of the
// package written while it unpacks, a busy state while the signature check
// waits. Every call is optional: without a taskbar (or without its progress
// interface) nothing happens and nothing fails.
#pragma once
#include <windows.h>
#include <shobjidl.h>

#include <cstdint>

// How the taskbar is reached; tests stand in for it. TaskbarHooks holds the
// real ones unless a test swaps them.
struct TaskbarSeam {
  // A ready taskbar list (its HrInit done), owned by the caller, or null.
  ITaskbarList3* (*openTaskbar)();
  DWORD(WINAPI* tickCount)();
};

extern TaskbarSeam TaskbarHooks;
TaskbarSeam RealTaskbarSeam();

// Reaches the taskbar for window (which must exist), inside a COM apartment
// of this thread that StopTaskbarProgress leaves. A second call while
// started does nothing.
void StartTaskbarProgress(HWND window);

// done of total (bytes): the bar in its normal state. Shown at most once per
// frame; the first value of a series and the last (done == total) always.
void ShowTaskbarProgress(uint64_t done, uint64_t total);

// A busy bar without a value.
void ShowTaskbarWaiting();

// No bar; the next value starts a new series.
void ClearTaskbarProgress();

// Clears the bar, lets the taskbar go and leaves the apartment.
void StopTaskbarProgress();
