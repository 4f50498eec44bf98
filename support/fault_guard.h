// A fault guard: runs a region so that a processor fault or a raised
// structured exception inside it ends the region, instead of the process.
//
// GCC for MinGW has no __try/__except. The guard registers its own exception
// frame for the region and leaves it with longjmp when an exception arrives.
// STATUS_GUARD_PAGE_VIOLATION (0x80000001) and STATUS_STACK_OVERFLOW
// (0xC00000FD) are never taken: they pass on to outer handlers.
//
// The region must not own C++ objects with destructors that have to run when
// it is left early; put them outside the region.
#pragma once
#include <cstdint>
#include <type_traits>

// Runs fn(context) under the guard. Returns true when fn ran to its end and
// false when an exception ended it; *code (when given) receives the
// exception code, or 0 after a clean run.
bool RunGuardedCall(void (*fn)(void*), void* context, uint32_t* code = nullptr);

// The same for any callable: RunGuarded([&] { ... }).
template <class F>
bool RunGuarded(F&& body, uint32_t* code = nullptr) {
  using Body = std::remove_reference_t<F>;
  return RunGuardedCall([](void* c) { (*static_cast<Body*>(c))(); },
                        static_cast<void*>(&body), code);
}
