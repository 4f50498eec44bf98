// The platform services the launcher's stages reach through one record, so
// that tests can drive the sequence on a virtual clock, see every status
// text and message box, and make the shell fail, without real waits.
// Hooks holds the real functions unless a test swaps them.
#pragma once
#include <windows.h>
#include <shellapi.h>

#include <cstdint>

struct LauncherHooks {
  void (*setStatusText)(const wchar_t* text);
  BOOL(WINAPI* showWindow)(HWND window, int command);
  int (*pumpMessages)(int budgetMs, bool discardInput);
  void(WINAPI* sleep)(DWORD milliseconds);
  DWORD(WINAPI* tickCount)();
  uint64_t (*readTimestamp)();
  int(WINAPI* messageBox)(HWND owner, LPCWSTR text, LPCWSTR caption, UINT flags);
  BOOL(WINAPI* shellExecuteEx)(SHELLEXECUTEINFOW* launch);
  // The process token's integrity level (ReadProcessIntegrity): under Wine
  // every process runs at High, so tests stand in for the other levels.
  DWORD (*readIntegrityLevel)();
  // The installer's job; Wine lets every process make and join one, so
  // tests stand in for a platform that refuses.
  HANDLE(WINAPI* createJobObject)(LPSECURITY_ATTRIBUTES attributes, LPCWSTR name);
  BOOL(WINAPI* assignProcessToJobObject)(HANDLE job, HANDLE process);
  // A job process's image path; fails for a moment after a process starts.
  BOOL(WINAPI* queryProcessImageName)(HANDLE process, DWORD flags, LPWSTR name, PDWORD size);
  // Marking what resists removal for deletion at the next restart.
  BOOL(WINAPI* moveFileEx)(LPCWSTR from, LPCWSTR to, DWORD flags);
};

extern LauncherHooks Hooks;

// The real functions, for tests that put them back or wrap them.
LauncherHooks RealLauncherHooks();

// Flags of every failure box: MB_OK | MB_ICONWARNING | MB_SYSTEMMODAL |
// MB_SETFOREGROUND | MB_TOPMOST.
constexpr UINT kFailureBoxFlags = 0x00051030;

// Shows one failure box; its answer is not read. A destroyed owner is
// replaced by none, and a pending quit message waits until the box is
// answered, so that the box is seen even after the splash window closed.
void ShowFailureMessage(HWND owner, const wchar_t* caption, const wchar_t* text);
