// Simultaneous first calls on many threads in a fresh process.
#include <gtest/gtest.h>

#include <vector>

#include "imaging/runtime/runtime.h"
#include "imaging/seams.h"
#include "support/owners.h"

namespace {

struct Racer {
  HANDLE go;
  ThreadContextRecord* record;
};

DWORD WINAPI RaceToFirstCall(void* param) {
  auto* racer = static_cast<Racer*>(param);
  WaitForSingleObject(racer->go, INFINITE);
  racer->record = CurrentThreadContext();
  return 0;
}

}  // namespace

TEST(StartupRace, SixteenFirstCallsStartTheLibraryOnce) {
  constexpr int kThreads = 16;
  ASSERT_EQ(StartCount, 0);
  HandleOwner go(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  std::vector<Racer> racers(kThreads, Racer{go.h, nullptr});
  std::vector<HANDLE> threads;
  for (Racer& racer : racers) {
    HANDLE thread = CreateThread(nullptr, 0, RaceToFirstCall, &racer, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    threads.push_back(thread);
  }
  SetEvent(go.h);
  WaitForMultipleObjects(kThreads, threads.data(), TRUE, INFINITE);
  for (HANDLE thread : threads) CloseHandle(thread);

  EXPECT_EQ(ImagingSeams.probeRunCount, 1);
  EXPECT_EQ(ImagingSeams.lockInitCount, 1);
  EXPECT_GE(StartCount, 1);
  EXPECT_GE(SimdLevel, SimdSse2);
  // One record per thread, each distinct.
  for (int i = 0; i < kThreads; ++i) {
    ASSERT_NE(racers[i].record, nullptr) << i;
    for (int j = 0; j < i; ++j) EXPECT_NE(racers[i].record, racers[j].record);
  }

  // Once started, later first calls on new threads do not start again.
  LONG attempts = ImagingSeams.startAttemptCount;
  Racer late{go.h, nullptr};
  HandleOwner thread(CreateThread(nullptr, 0, RaceToFirstCall, &late, 0, nullptr));
  WaitForSingleObject(thread.h, INFINITE);
  EXPECT_NE(late.record, nullptr);
  EXPECT_EQ(ImagingSeams.startAttemptCount, attempts);
  EXPECT_EQ(ImagingSeams.probeRunCount, 1);
}
