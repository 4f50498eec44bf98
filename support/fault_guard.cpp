#include "support/fault_guard.h"

// Placeholder: runs the region unguarded.
bool RunGuardedCall(void (*fn)(void*), void* context, uint32_t* code) {
  fn(context);
  if (code) *code = 0;
  return true;
}
