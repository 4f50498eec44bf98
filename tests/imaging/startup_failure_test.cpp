// Failed start-ups in a fresh process: what each attempt leaves for the next.
// The steps depend on each other, so they run as one sequence.
#include <gtest/gtest.h>

#include "imaging/runtime/runtime.h"
#include "imaging/seams.h"

namespace {

void Sabotage(LONG level, LONG mode) {
  ImagingSeams.probeSabotageLevel = level;
  ImagingSeams.probeSabotageMode = mode;
}

}  // namespace

TEST(StartupFailure, FailedAttemptsLeaveOneLockAndNoStart) {
  ASSERT_EQ(StartCount, 0);

  // A faulting SSE probe stops the ladder at MMX.
  Sabotage(SimdSse, ProbeSabotageFault);
  EXPECT_EQ(StartImaging(), 0);
  EXPECT_EQ(SimdLevel, SimdMmx);
  EXPECT_EQ(StartCount, 0);
  EXPECT_EQ(ImagingSeams.lockInitCount, 1);

  // A wrong SSE2 answer stops it at SSE; the lock is not made again.
  Sabotage(SimdSse2, ProbeSabotageWrongAnswer);
  EXPECT_EQ(StartImaging(), 0);
  EXPECT_EQ(SimdLevel, SimdSse);
  EXPECT_EQ(StartCount, 0);
  EXPECT_EQ(ImagingSeams.lockInitCount, 1);

  // The gate retries 52 times, 20 ms apart, then gives up with no record.
  Sabotage(SimdSse2, ProbeSabotageFault);
  LONG attemptsBefore = ImagingSeams.startAttemptCount;
  DWORD began = GetTickCount();
  EXPECT_EQ(CurrentThreadContext(), nullptr);
  DWORD took = GetTickCount() - began;
  EXPECT_EQ(ImagingSeams.startAttemptCount - attemptsBefore, 52);
  EXPECT_GE(took, 51u * 20u - 100u);
  EXPECT_EQ(ImagingSeams.lockInitCount, 1);
  EXPECT_EQ(StartCount, 0);
  EXPECT_EQ(ThreadContextTable, nullptr);

  // The processor is healthy again, but the table cannot be made: start-up
  // succeeds and the gate still answers none, after ten allocation attempts.
  Sabotage(0, ProbeSabotageNone);
  ImagingSeams.tableAllocFailures = 10;
  LONG probesBefore = ImagingSeams.probeRunCount;
  EXPECT_EQ(CurrentThreadContext(), nullptr);
  EXPECT_EQ(ImagingSeams.tableAllocFailures, 0);
  EXPECT_EQ(StartCount, 1);
  EXPECT_GE(SimdLevel, SimdSse2);
  EXPECT_EQ(ImagingSeams.probeRunCount - probesBefore, 1);
  EXPECT_EQ(ThreadContextTable, nullptr);

  // The next call makes the table; a started library never probes again.
  ThreadContextRecord* mine = CurrentThreadContext();
  ASSERT_NE(mine, nullptr);
  EXPECT_EQ(mine, &ThreadContextTable[0]);
  EXPECT_EQ(mine->threadId, GetCurrentThreadId());
  EXPECT_EQ(mine->lastError, ImgErrGeneral);
  EXPECT_EQ(StartImaging(), 1);
  EXPECT_EQ(StartCount, 2);
  EXPECT_EQ(ImagingSeams.probeRunCount - probesBefore, 1);
  EXPECT_EQ(ImagingSeams.lockInitCount, 1);
}
