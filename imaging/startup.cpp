// Library start-up: the lock, the processor ladder and the SSE2 floor.
#include "imaging/imaging.h"
#include "imaging/seams.h"
#include "support/owners.h"

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
