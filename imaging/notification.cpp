// The calling thread's notification callback.
#include "imaging/imaging.h"
#include "support/fault_guard.h"

int RaiseNotification(DWORD code) {
  ThreadContextRecord* context = CurrentThreadContext();
  if (!context) return 0;
  ImgNotifyProc callback = context->notifyCallback;
  if (!callback) return 1;
  if (IsBadCodePtr(reinterpret_cast<FARPROC>(reinterpret_cast<void*>(callback)))) return 0;
  ULONG_PTR data = context->notifyData;
  return RunGuarded([&] { callback(code, data); }) ? 1 : 0;
}
