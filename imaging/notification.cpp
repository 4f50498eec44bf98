// The calling thread's notification callback.
#include "imaging/imaging.h"
#include "support/fault_guard.h"

int RaiseNotification(DWORD code) {
  ThreadContextRecord* context = CurrentThreadContext();
  if (!context) return 0;
  ImgNotifyProc callback = context->notifyCallback;
  if (!callback) return 1;
  // IsBadCodePtr takes only the access violation its own probe causes. Under
  // the guard a probe fault reported as anything else (Wine under qemu's
  // user-mode emulation names every page fault an illegal instruction) still
  // reads as a bad pointer (bad keeps its value) instead of ending the process.
  FARPROC entry = reinterpret_cast<FARPROC>(reinterpret_cast<void*>(callback));
  bool bad = true;
  RunGuarded([&] { bad = IsBadCodePtr(entry); });
  if (bad) return 0;
  ULONG_PTR data = context->notifyData;
  return RunGuarded([&] { callback(code, data); }) ? 1 : 0;
}
