// Processor probes. Apart from the MMX feature bit, every rung of the ladder
// rests on an executed instruction and its known answer: a processor or an
// operating system that faults on an instruction (no OS support for the
// register state, an emulator gap) or computes it wrongly stays below.
#include "imaging/imaging.h"
#include "imaging/imaging_seams.h"
#include "support/fault_guard.h"

volatile LONG ProbeSabotageLevel = 0;
volatile LONG ProbeSabotageMode = ProbeSabotageNone;

namespace {

// Operands: low 32 bits of an xmm register, the rest zero (movd).
constexpr uint32_t kFloat320 = 0x43A00000;  // 320.0f
constexpr uint32_t kFloat295 = 0x43938000;  // 295.0f

bool Sabotaged(LONG level, LONG mode) {
  return ProbeSabotageLevel == level && ProbeSabotageMode == mode;
}

// Runs body under the guard; an exception of any kind fails the probe.
template <class F>
int GuardedProbe(F&& body) {
  bool passed = false;
  if (!RunGuarded([&] { passed = body(); })) return 0;
  return passed ? 1 : 0;
}

void ExecuteUndefined() { __asm__ __volatile__("ud2"); }

}  // namespace

int ProbeCpuid() {
  return GuardedProbe([] {
    uint32_t a = 0, b, c, d;
    __asm__ __volatile__("cpuid" : "+a"(a), "=b"(b), "=c"(c), "=d"(d));
    return true;
  });
}

int ProbeSse() {
  if (!ProbeCpuid()) return 0;
  uint32_t second = Sabotaged(SimdSse, ProbeSabotageWrongAnswer) ? kFloat320 : kFloat295;
  return GuardedProbe([&] {
    if (Sabotaged(SimdSse, ProbeSabotageFault)) ExecuteUndefined();
    int32_t sum;
    __asm__ __volatile__(
        "movd %1, %%xmm0\n\t"
        "movd %2, %%xmm1\n\t"
        "addps %%xmm1, %%xmm0\n\t"
        "cvttss2si %%xmm0, %0"
        : "=r"(sum)
        : "r"(kFloat320), "r"(second)
        : "xmm0", "xmm1");
    return sum == 615;
  });
}

int ProbeSse2() {
  if (!ProbeCpuid()) return 0;
  uint32_t second = Sabotaged(SimdSse2, ProbeSabotageWrongAnswer) ? 0x9F3E82D7u : 0x9F3E82D6u;
  return GuardedProbe([&] {
    if (Sabotaged(SimdSse2, ProbeSabotageFault)) ExecuteUndefined();
    uint32_t product;
    __asm__ __volatile__(
        "movd %1, %%xmm0\n\t"
        "movd %2, %%xmm1\n\t"
        "pmulhuw %%xmm1, %%xmm0\n\t"
        "movd %%xmm0, %0"
        : "=r"(product)
        : "r"(0x3B45C12Au), "r"(second)
        : "xmm0", "xmm1");
    return product == 0x24DE62B8u;
  });
}

int ProbeSse3() {
  if (!ProbeCpuid()) return 0;
  uint32_t second = Sabotaged(SimdSse3, ProbeSabotageWrongAnswer) ? kFloat320 : kFloat295;
  return GuardedProbe([&] {
    if (Sabotaged(SimdSse3, ProbeSabotageFault)) ExecuteUndefined();
    int32_t difference;
    // The low lane of addsubps subtracts: 320 - 295.
    __asm__ __volatile__(
        "movd %1, %%xmm0\n\t"
        "movd %2, %%xmm1\n\t"
        "addsubps %%xmm1, %%xmm0\n\t"
        "cvttss2si %%xmm0, %0"
        : "=r"(difference)
        : "r"(kFloat320), "r"(second)
        : "xmm0", "xmm1");
    return difference == 25;
  });
}

int ProbeSsse3() {
  if (!ProbeCpuid()) return 0;
  uint32_t second = Sabotaged(SimdSsse3, ProbeSabotageWrongAnswer) ? 0x038BE202u : 0x038BE201u;
  return GuardedProbe([&] {
    if (Sabotaged(SimdSsse3, ProbeSabotageFault)) ExecuteUndefined();
    uint32_t sums;
    // Unsigned bytes in the destination, signed bytes in the source.
    __asm__ __volatile__(
        "movd %1, %%xmm0\n\t"
        "movd %2, %%xmm1\n\t"
        "pmaddubsw %%xmm1, %%xmm0\n\t"
        "movd %%xmm0, %0"
        : "=r"(sums)
        : "r"(0x1F3D0409u), "r"(second)
        : "xmm0", "xmm1");
    return sums == 0xE47CFF91u;
  });
}

int ProbeSse41() {
  if (!ProbeCpuid()) return 0;
  uint32_t second = Sabotaged(SimdSse41, ProbeSabotageWrongAnswer) ? 0x038BE202u : 0x038BE201u;
  return GuardedProbe([&] {
    if (Sabotaged(SimdSse41, ProbeSabotageFault)) ExecuteUndefined();
    uint32_t product;
    __asm__ __volatile__(
        "movd %1, %%xmm0\n\t"
        "movd %2, %%xmm1\n\t"
        "pmulld %%xmm1, %%xmm0\n\t"
        "movd %%xmm0, %0"
        : "=r"(product)
        : "r"(0x1F3D0409u), "r"(second)
        : "xmm0", "xmm1");
    return product == 0x48AFF609u;
  });
}

// MMX is the one rung taken from a feature bit (leaf 1, EDX bit 23): there is
// no MMX result this library depends on.
static bool HasMmxBit() {
  bool present = false;
  RunGuarded([&] {
    uint32_t a = 0, b, c, d;
    __asm__ __volatile__("cpuid" : "+a"(a), "=b"(b), "=c"(c), "=d"(d));
    if (a < 1) return;
    a = 1;
    __asm__ __volatile__("cpuid" : "+a"(a), "=b"(b), "=c"(c), "=d"(d));
    present = (d >> 23) & 1;
  });
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
