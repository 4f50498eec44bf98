// What callers hand in, reached under the fault guard: the access test of
// caller memory and the calling thread's notification callback.
#include <algorithm>

#include "imaging/runtime/runtime.h"
#include "support/fault_guard.h"

namespace {

uintptr_t ProbeStep() {
  SYSTEM_INFO info = {};
  GetSystemInfo(&info);
  uintptr_t page = info.dwPageSize ? info.dwPageSize : 256;
  return std::max<uintptr_t>(page, 256);
}

}  // namespace

int ProbeMemory(const void* address, size_t length, bool writeBack) {
  if (!address) return 1;
  uintptr_t first = reinterpret_cast<uintptr_t>(address);
  uintptr_t last = first + (length > 0 ? length - 1 : 0);
  // A range that runs past the end of the address space cannot be accessible.
  if (last < first) return 1;
  uintptr_t step = ProbeStep();
  bool clean = RunGuarded([&] {
    for (uintptr_t at = first;;) {
      volatile uint8_t* byte = reinterpret_cast<volatile uint8_t*>(at);
      uint8_t value = *byte;
      // The write-back is an atomic exchange of the value with itself: it
      // proves the byte writable without undoing a store that another thread
      // makes to the same byte meanwhile (a record's fields, a first pixel).
      if (writeBack) __sync_val_compare_and_swap(const_cast<uint8_t*>(byte), value, value);
      if (at == last) break;
      at += std::min(step, last - at);
    }
  });
  return clean ? 0 : 1;
}

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
