#include "support/fault_guard.h"

#include <windows.h>

// The guard is a real x86 exception registration record on the thread's
// fs:[0] chain, which is exactly what __try/__except builds: handlers that
// system code called from inside the region registers itself sit in front of
// ours and see their own faults first, and vectored handlers still run before
// any frame handler.
//
// On a fault the handler unwinds every frame above the guard (RtlUnwind runs
// their handlers with the unwinding flag and unlinks them), unlinks the guard
// itself and resumes behind the region with __builtin_longjmp. The builtin
// pair is used instead of the CRT's setjmp because the CRT's x86 longjmp reads
// the registration chain as if every frame were one of its own.

namespace {

// The system sees only `link`; the rest is ours. Lives on the stack of
// RunGuardedCall for the duration of the region.
struct GuardFrame {
  EXCEPTION_REGISTRATION_RECORD link;
  void* resume[5];  // __builtin_setjmp buffer
  volatile DWORD code;
};

EXCEPTION_REGISTRATION_RECORD* ChainHead() {
  EXCEPTION_REGISTRATION_RECORD* head;
  asm volatile("movl %%fs:0, %0" : "=r"(head) : : "memory");
  return head;
}

void SetChainHead(EXCEPTION_REGISTRATION_RECORD* head) {
  asm volatile("movl %0, %%fs:0" : : "r"(head) : "memory");
}

}  // namespace

// RtlUnwind may return with EBX, ESI and EDI changed (a documented quirk of
// the x86 unwinder), so it is called through this wrapper, which keeps them
// and relies on the unwinder restoring EBP and ESP from its captured context.
extern "C" void __cdecl QlnUnwindToFrame(void* frame, EXCEPTION_RECORD* record);
asm(".text\n"
    ".globl _QlnUnwindToFrame\n"
    "_QlnUnwindToFrame:\n"
    "  pushl %ebp\n"
    "  movl %esp, %ebp\n"
    "  pushl %ebx\n"
    "  pushl %esi\n"
    "  pushl %edi\n"
    "  pushl $0\n"          // ReturnValue
    "  pushl 12(%ebp)\n"    // ExceptionRecord
    "  pushl $0\n"          // TargetIp: return here
    "  pushl 8(%ebp)\n"     // TargetFrame
    "  call *__imp__RtlUnwind@16\n"
    "  leal -12(%ebp), %esp\n"
    "  popl %edi\n"
    "  popl %esi\n"
    "  popl %ebx\n"
    "  popl %ebp\n"
    "  ret\n");

// The frame handler (cdecl, as the x86 dispatchers call it). Passes on
// unwinds, guard-page violations (the stack grows through them, and memory
// managers use them) and stack overflows (nothing sound can run behind the
// region on an exhausted stack); takes every other exception.
extern "C" EXCEPTION_DISPOSITION __cdecl QlnGuardHandler(EXCEPTION_RECORD* record,
                                                         void* establisher, CONTEXT*,
                                                         void*) {
  if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND))
    return ExceptionContinueSearch;
  DWORD code = record->ExceptionCode;
  if (code == STATUS_GUARD_PAGE_VIOLATION || code == STATUS_STACK_OVERFLOW)
    return ExceptionContinueSearch;
  GuardFrame* frame = static_cast<GuardFrame*>(establisher);
  frame->code = code;
  QlnUnwindToFrame(frame, record);
  SetChainHead(frame->link.Next);
  __builtin_longjmp(frame->resume, 1);
}

namespace {

// Links the guard, runs the region, unlinks the guard. A C++ exception that
// leaves the region (regions should throw none) still unlinks the guard, so
// the chain never points into a dead stack frame.
__attribute__((noinline)) void RunLinked(GuardFrame* frame, void (*fn)(void*), void* context) {
  frame->link.Next = ChainHead();
  frame->link.Handler = reinterpret_cast<PEXCEPTION_ROUTINE>(&QlnGuardHandler);
  SetChainHead(&frame->link);
  try {
    fn(context);
  } catch (...) {
    SetChainHead(frame->link.Next);
    throw;
  }
  SetChainHead(frame->link.Next);
}

}  // namespace

bool RunGuardedCall(void (*fn)(void*), void* context, uint32_t* code) {
  GuardFrame frame;
  frame.code = 0;
  // The memory clobbers keep the compiler from moving the caller's stores
  // into or past the region, so what the region saw is what memory held.
  asm volatile("" : : : "memory");
  bool completed;
  if (__builtin_setjmp(frame.resume) == 0) {
    RunLinked(&frame, fn, context);
    completed = true;
  } else {
    completed = false;
  }
  asm volatile("" : : : "memory");
  if (code) *code = completed ? 0 : frame.code;
  return completed;
}
