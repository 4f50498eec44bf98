// The processor ladder against this machine's CPUID flags, and sabotaged
// probes that must lower it.
#include <cpuid.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "imaging/runtime/runtime.h"
#include "imaging/seams.h"

namespace {

// The rung that the feature flags promise.
int32_t LevelFromFlags() {
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return SimdNone;
  const unsigned rungs[] = {(d >> 23) & 1u, (d >> 25) & 1u, (d >> 26) & 1u,
                            c & 1u,         (c >> 9) & 1u,  (c >> 19) & 1u};
  int32_t level = SimdNone;
  for (unsigned present : rungs) {
    if (!present) break;
    ++level;
  }
  return level;
}

struct SabotageScope {
  SabotageScope(LONG level, LONG mode) {
    ImagingSeams.probeSabotageLevel = level;
    ImagingSeams.probeSabotageMode = mode;
  }
  ~SabotageScope() {
    ImagingSeams.probeSabotageLevel = 0;
    ImagingSeams.probeSabotageMode = ProbeSabotageNone;
  }
};

}  // namespace

TEST(CpuProbes, StartedLevelMatchesCpuidFlags) {
  ASSERT_NE(CurrentThreadContext(), nullptr);
  EXPECT_EQ(SimdLevel, LevelFromFlags());
  EXPECT_EQ(MeasureSimdLevel(), LevelFromFlags());
}

TEST(CpuProbes, EachProbeAgreesWithItsFlag) {
  int32_t flags = LevelFromFlags();
  EXPECT_EQ(ProbeCpuid(), 1);
  EXPECT_EQ(ProbeSse(), flags >= SimdSse);
  EXPECT_EQ(ProbeSse2(), flags >= SimdSse2);
  EXPECT_EQ(ProbeSse3(), flags >= SimdSse3);
  EXPECT_EQ(ProbeSsse3(), flags >= SimdSsse3);
  EXPECT_EQ(ProbeSse41(), flags >= SimdSse41);
}

TEST(CpuProbes, AFailingProbeStopsTheLadderBelowIt) {
  int32_t flags = LevelFromFlags();
  for (LONG mode : {ProbeSabotageFault, ProbeSabotageWrongAnswer}) {
    for (LONG rung = SimdSse; rung <= SimdSse41; ++rung) {
      SabotageScope scope(rung, mode);
      EXPECT_EQ(MeasureSimdLevel(), std::min<int32_t>(flags, rung - 1)) << "rung " << rung << " mode " << mode;
    }
  }
  // The sabotage is gone again, and the started library never re-measured.
  EXPECT_EQ(MeasureSimdLevel(), flags);
  EXPECT_EQ(SimdLevel, flags);
}
