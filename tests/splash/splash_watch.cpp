// splash-watch LAUNCHER REPORT [HOLD_FOLDER]
// Starts a launcher without arguments, finds its splash window once it is
// visible and writes its geometry to REPORT:
//   client W H
//   window LEFT TOP RIGHT BOTTOM
//   monitor LEFT TOP RIGHT BOTTOM
//   exit CODE
// With HOLD_FOLDER, the launcher is held still (its threads suspended) as
// soon as the window has been painted, "ready" is written into the folder
// with the window's rectangle on the screen ("LEFT TOP WIDTH HEIGHT"), and
// the launcher goes on once a file "release" appears there (or after 60 s):
// a screenshot can be taken meanwhile. The exit status is 0 when the window
// was seen and the launcher ended, 1 otherwise.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <string>

#include "splash/splash_window.h"

namespace {

struct Search {
  DWORD process;
  HWND found;
};

BOOL CALLBACK FindSplash(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  wchar_t cls[64] = {};
  GetClassNameW(window, cls, 64);
  if (pid == search->process && lstrcmpW(cls, kSplashClassName) == 0 && IsWindowVisible(window)) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

// Suspends or resumes every thread of the process.
void HoldThreads(DWORD process, bool hold) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return;
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL ok = Thread32First(snapshot, &entry); ok; ok = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID != process) continue;
    HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID);
    if (!thread) continue;
    if (hold)
      SuspendThread(thread);
    else
      ResumeThread(thread);
    CloseHandle(thread);
  }
  CloseHandle(snapshot);
}

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: splash-watch LAUNCHER REPORT [HOLD_FOLDER]\n");
    return 2;
  }
  const std::wstring hold = argc > 3 ? argv[3] : L"";
  std::wstring line = L"\"" + std::wstring(argv[1]) + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(argv[1], &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    fprintf(stderr, "cannot start the launcher: %lu\n", GetLastError());
    return 1;
  }
  CloseHandle(process.hThread);

  Search search = {process.dwProcessId, nullptr};
  RECT client = {}, frame = {};
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof monitor;
  while (!search.found && WaitForSingleObject(process.hProcess, 5) == WAIT_TIMEOUT)
    EnumWindows(FindSplash, reinterpret_cast<LPARAM>(&search));
  if (search.found) {
    GetClientRect(search.found, &client);
    GetWindowRect(search.found, &frame);
    GetMonitorInfoW(MonitorFromWindow(search.found, MONITOR_DEFAULTTONEAREST), &monitor);
    if (!hold.empty()) {
      // The window paints itself while it is shown; give the display a
      // moment to take the picture in before the process stands still.
      Sleep(300);
      HoldThreads(process.dwProcessId, true);
      // Written aside and renamed, so that the one waiting never reads half
      // a line.
      const std::wstring partial = hold + L"\\ready.part";
      FILE* ready = _wfopen(partial.c_str(), L"w");
      if (ready) {
        fprintf(ready, "%ld %ld %ld %ld\n", frame.left, frame.top, frame.right - frame.left,
                frame.bottom - frame.top);
        fclose(ready);
        MoveFileExW(partial.c_str(), (hold + L"\\ready").c_str(), MOVEFILE_REPLACE_EXISTING);
      }
      for (int i = 0; i < 600 && !Exists(hold + L"\\release"); ++i) Sleep(100);
      HoldThreads(process.dwProcessId, false);
    }
  }
  const bool ended = WaitForSingleObject(process.hProcess, 600000) == WAIT_OBJECT_0;
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);

  FILE* report = _wfopen(argv[2], L"w");
  if (!report) return 1;
  fprintf(report, "client %ld %ld\n", client.right, client.bottom);
  fprintf(report, "window %ld %ld %ld %ld\n", frame.left, frame.top, frame.right, frame.bottom);
  fprintf(report, "monitor %ld %ld %ld %ld\n", monitor.rcMonitor.left, monitor.rcMonitor.top,
          monitor.rcMonitor.right, monitor.rcMonitor.bottom);
  fprintf(report, "exit %lu\n", code);
  fclose(report);
  return search.found && ended ? 0 : 1;
}
