// The library's run time: start-up with the processor ladder, the table of
// per-thread context records with their map blocks, and the guarded access
// to what callers hand in (memory, notification callbacks).
#pragma once
#include "imaging/imaging.h"
#include "imaging/pixels/sample_maps.h"

// Rungs of the processor ladder; each needs every rung below it.
enum : int32_t {
  SimdNone = 0,
  SimdMmx = 1,
  SimdSse = 2,
  SimdSse2 = 3,
  SimdSse3 = 4,
  SimdSsse3 = 5,
  SimdSse41 = 6,
};

// Set by StartImaging; read-only once the library has started.
extern volatile LONG StartCount;      // 0 = not started; +1 per successful StartImaging
extern CRITICAL_SECTION ContextLock;  // guards the context table's making, claims, reclaims
extern volatile LONG SimdLevel;       // highest rung whose probes all passed

// Makes the lock, probes the processor and refuses anything below SSE2.
// 1 when the library is started (now or earlier), 0 when this attempt
// failed; a failed attempt leaves the library not started, and the next one
// probes again (the lock is made once per process).
int StartImaging();

// Runs the processor ladder and returns the highest rung whose probes all
// pass, without touching SimdLevel. StartImaging stores its answer.
int32_t MeasureSimdLevel();

// Each executes its instruction under a fault guard and compares the known
// answer: 1 pass, 0 fail (fault or wrong answer).
int ProbeCpuid();
int ProbeSse();
int ProbeSse2();
int ProbeSse3();
int ProbeSsse3();
int ProbeSse41();

enum : uint32_t { ThreadContextCount = 128 };

// The table of ThreadContextCount records; null until first needed, then kept
// for the life of the process.
extern ThreadContextRecord* volatile ThreadContextTable;

// Layout of the sampling map block in a ThreadContextRecord: the four
// tables one after the other.
enum : uint32_t {
  MapXIndexOffset = 0,
  MapXFractionOffset = MapXIndexOffset + MapXIndexEntries * sizeof(int32_t),
  MapYIndexOffset = MapXFractionOffset + MapXFractionEntries * sizeof(uint8_t),
  MapYFractionOffset = MapYIndexOffset + MapYIndexEntries * sizeof(int32_t),
  MapBlockBytes = MapYFractionOffset + MapYFractionEntries * sizeof(uint8_t),
};

// The record's map block with its four table addresses set, allocated
// zero-filled on first need. Owned by the record (released when the record
// is reclaimed). False with lastError ImgErrNoMemory when the block cannot
// be allocated.
bool EnsureMapBlock(ThreadContextRecord* context);

enum class ThreadFate { Alive, Ended, Unknown };

// Whether a thread of this process has ended, as the context table and the
// image locks judge it. Opens the thread with THREAD_ALL_ACCESS, then
// THREAD_QUERY_INFORMATION, then THREAD_QUERY_LIMITED_INFORMATION. No
// handle: Ended. Otherwise reads its exit code: STILL_ACTIVE is Alive, any
// other code Ended, a failed query Unknown.
ThreadFate QueryThreadFate(DWORD threadId);

// True when the thread with this id exists and has not ended (id 0: false).
bool IsThreadAlive(DWORD threadId);

// 0 when every probed byte of [address, address + length) was accessible
// (with writeBack, also writable); 1 for a null address or a faulting access.
// Touches the first byte, one byte per page and the last byte.
int ProbeMemory(const void* address, size_t length, bool writeBack);

// Calls the thread's notifyCallback with code. 1 when there is no callback
// or it returned normally; 0 when the thread has no record, the callback
// address is bad or the callback faulted. Never changes lastError.
int RaiseNotification(DWORD code);

// Counts one forced failure off a seam counter (a failure count in
// ImagingSeams): true while the counter was above zero. Interlocked, so that
// of threads racing for the last forced failure only one takes it.
inline bool TakeForcedFailure(volatile LONG* remaining) {
  return *remaining > 0 && InterlockedDecrement(remaining) >= 0;
}

// Runs a clean-up call of the library without changing lastError, so that
// a function reports the code of the step that failed, not of its clean-up.
template <class F>
void KeepingLastError(F&& cleanUp) {
  ThreadContextRecord* context = CurrentThreadContext();
  const int32_t kept = context ? context->lastError : 0;
  cleanUp();
  if (context) context->lastError = kept;
}
