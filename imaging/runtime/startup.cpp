// Library start-up: the lock, the processor ladder and the SSE2 floor.
#include "imaging/runtime/runtime.h"
#include "imaging/seams.h"
#include "support/fault_guard.h"
#include "support/owners.h"

// ---------------------------------------------------------------------------
// Processor probes. Apart from the MMX feature bit, every rung of the ladder
// rests on an executed instruction and its known answer: a processor or an
// operating system that faults on an instruction (no OS support for the
// register state, an emulator gap) or computes it wrongly stays below.

namespace {

struct CpuidResult {
  uint32_t a, b, c, d;
};

CpuidResult Cpuid(uint32_t leaf) {
  CpuidResult r;
  __asm__ __volatile__("cpuid" : "=a"(r.a), "=b"(r.b), "=c"(r.c), "=d"(r.d) : "a"(leaf), "c"(0));
  return r;
}

// Defines name(a, b): loads a and b into the low 32 bits of xmm0 and xmm1
// (movd clears the rest), executes `instruction xmm1, xmm0` and returns the
// low 32 bits of xmm0, read with `take` (movd, or cvttss2si for a
// single-precision result converted with truncation).
#define QLN_XMM_INSTRUCTION(name, instruction, take)                                     \
  uint32_t name(uint32_t a, uint32_t b) {                                                \
    uint32_t r;                                                                          \
    __asm__ __volatile__("movd %1, %%xmm0\n\tmovd %2, %%xmm1\n\t" instruction          \
                         " %%xmm1, %%xmm0\n\t" take " %%xmm0, %0"                        \
                         : "=r"(r)                                                       \
                         : "r"(a), "r"(b)                                                \
                         : "xmm0", "xmm1");                                              \
    return r;                                                                            \
  }

QLN_XMM_INSTRUCTION(ExecuteAddps, "addps", "cvttss2si")
QLN_XMM_INSTRUCTION(ExecutePmulhuw, "pmulhuw", "movd")
QLN_XMM_INSTRUCTION(ExecuteAddsubps, "addsubps", "cvttss2si")  // low lane: a - b
QLN_XMM_INSTRUCTION(ExecutePmaddubsw, "pmaddubsw", "movd")     // a unsigned, b signed bytes
QLN_XMM_INSTRUCTION(ExecutePmulld, "pmulld", "movd")
#undef QLN_XMM_INSTRUCTION

struct ProbeCase {
  LONG rung;
  uint32_t (*execute)(uint32_t, uint32_t);
  uint32_t a, b;
  uint32_t answer;
};

constexpr uint32_t kFloat320 = 0x43A00000;  // 320.0f
constexpr uint32_t kFloat295 = 0x43938000;  // 295.0f

// Runs the instruction under the guard; any exception fails the probe. The
// seam swaps in an undefined instruction or a wrong operand.
int RunProbe(const ProbeCase& probe) {
  if (!ProbeCpuid()) return 0;
  const bool sabotaged = ImagingSeams.probeSabotageLevel == probe.rung;
  const long mode = ImagingSeams.probeSabotageMode;
  const bool fault = sabotaged && mode == ProbeSabotageFault;
  const uint32_t b = probe.b + (sabotaged && mode == ProbeSabotageWrongAnswer ? 0x00100001u : 0);
  uint32_t result = ~probe.answer;
  if (!RunGuarded([&] {
        if (fault) __asm__ __volatile__("ud2");
        result = probe.execute(probe.a, b);
      }))
    return 0;
  return result == probe.answer ? 1 : 0;
}

}  // namespace

int ProbeCpuid() {
  return RunGuarded([] { Cpuid(0); }) ? 1 : 0;
}

int ProbeSse() { return RunProbe({SimdSse, ExecuteAddps, kFloat320, kFloat295, 615}); }
int ProbeSse2() { return RunProbe({SimdSse2, ExecutePmulhuw, 0x3B45C12A, 0x9F3E82D6, 0x24DE62B8}); }
int ProbeSse3() { return RunProbe({SimdSse3, ExecuteAddsubps, kFloat320, kFloat295, 25}); }
int ProbeSsse3() { return RunProbe({SimdSsse3, ExecutePmaddubsw, 0x1F3D0409, 0x038BE201, 0xE47CFF91}); }
int ProbeSse41() { return RunProbe({SimdSse41, ExecutePmulld, 0x1F3D0409, 0x038BE201, 0x48AFF609}); }

// MMX is the one rung taken from a feature bit (leaf 1, EDX bit 23): nothing
// in this library computes with MMX.
static bool HasMmxBit() {
  bool present = false;
  RunGuarded([&] { present = Cpuid(0).a >= 1 && ((Cpuid(1).d >> 23) & 1); });
  return present;
}

int32_t MeasureSimdLevel() {
  if (!ProbeCpuid() || !HasMmxBit()) return SimdNone;
  static int (*const kLadder[])() = {ProbeSse, ProbeSse2, ProbeSse3, ProbeSsse3, ProbeSse41};
  int32_t level = SimdMmx;
  for (int (*probe)() : kLadder) {
    if (!probe()) break;
    ++level;
  }
  return level;
}

// ---------------------------------------------------------------------------
// Start-up

volatile LONG StartCount = 0;
CRITICAL_SECTION ContextLock;
volatile LONG SimdLevel = SimdNone;

namespace {

// Serialises start-up attempts, so that simultaneous first calls on several
// threads make the lock once and probe once. A slim lock needs no making of
// its own, which is why it and not ContextLock guards the start.
SRWLOCK StartGate = SRWLOCK_INIT;
bool LockMade = false;  // written only under StartGate

}  // namespace

int StartImaging() {
  InterlockedIncrement(&ImagingSeams.startAttemptCount);
  if (StartCount != 0) {
    InterlockedIncrement(&StartCount);
    return 1;
  }
  SrwExclusiveHold gate(&StartGate);
  // Another thread may have finished the start while this one waited.
  if (StartCount != 0) {
    InterlockedIncrement(&StartCount);
    return 1;
  }
  // A lock made by an earlier, failed attempt is kept: initialising a
  // critical section twice would corrupt it.
  if (!LockMade) {
    if (!InitializeCriticalSectionAndSpinCount(&ContextLock, 512)) return 0;
    LockMade = true;
    InterlockedIncrement(&ImagingSeams.lockInitCount);
  }
  InterlockedExchange(&SimdLevel, SimdNone);
  InterlockedIncrement(&ImagingSeams.probeRunCount);
  InterlockedExchange(&SimdLevel, MeasureSimdLevel());
  if (SimdLevel < SimdSse2) return 0;
  // Published last: a thread that sees StartCount set also sees the lock and
  // SimdLevel (interlocked writes are full barriers).
  InterlockedIncrement(&StartCount);
  return 1;
}
