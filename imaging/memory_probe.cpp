// Access test of caller memory under the fault guard.
#include <algorithm>

#include "imaging/imaging.h"
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
