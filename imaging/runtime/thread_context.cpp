// The table of per-thread context records, the gate every library
// operation passes first, the liveness of the threads that own records, and
// each record's block of sampling maps.
#include <cstring>

#include "imaging/runtime/runtime.h"
#include "imaging/seams.h"
#include "support/owners.h"

// ---------------------------------------------------------------------------
// Thread liveness

namespace {

HANDLE OpenThreadForQuery(DWORD threadId) {
  static const DWORD kRights[] = {THREAD_ALL_ACCESS, THREAD_QUERY_INFORMATION,
                                  THREAD_QUERY_LIMITED_INFORMATION};
  for (DWORD rights : kRights) {
    HANDLE thread = OpenThread(rights, FALSE, threadId);
    if (thread) return thread;
  }
  return nullptr;
}

}  // namespace

ThreadFate QueryThreadFate(DWORD threadId) {
  HandleOwner thread(OpenThreadForQuery(threadId));
  if (!thread.h) return ThreadFate::Ended;
  // Preset to a code that is not STILL_ACTIVE, so that a query that fails
  // without writing cannot pass for a live thread.
  DWORD exitCode = 0xC0000008;
  if (threadId == ImagingSeams.unreadableExitCodeThread || !GetExitCodeThread(thread.h, &exitCode))
    return ThreadFate::Unknown;
  return exitCode == STILL_ACTIVE ? ThreadFate::Alive : ThreadFate::Ended;
}

bool IsThreadAlive(DWORD threadId) {
  if (threadId == 0) return false;
  return QueryThreadFate(threadId) == ThreadFate::Alive;
}

// ---------------------------------------------------------------------------
// The table

ThreadContextRecord* volatile ThreadContextTable = nullptr;

namespace {

constexpr int kStartAttempts = 52;  // about one second, 20 ms apart
constexpr int kTableAttempts = 10;

bool StartWithRetries() {
  for (int attempt = 1;; ++attempt) {
    if (StartImaging()) return true;
    if (attempt == kStartAttempts) return false;
    Sleep(20);
  }
}

// Defaults of a new record. threadId is left alone: the caller decides when
// the record becomes free or claimed.
void ResetRecordFields(ThreadContextRecord* record) {
  DWORD id = record->threadId;
  memset(record, 0, sizeof *record);
  record->threadId = id;
  record->lastError = ImgErrGeneral;
}

ThreadContextRecord* AllocateTable() {
  if (TakeForcedFailure(&ImagingSeams.tableAllocFailures)) return nullptr;
  return static_cast<ThreadContextRecord*>(
      GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, ThreadContextCount * sizeof(ThreadContextRecord)));
}

// Makes the table once. The address is published only after every record
// holds its defaults, so a lock-free reader never sees a half-made table.
bool EnsureTable() {
  if (ThreadContextTable) return true;
  CriticalSectionHold hold(&ContextLock);
  if (ThreadContextTable) return true;
  for (int failures = 0;;) {
    ThreadContextRecord* table = AllocateTable();
    if (table) {
      for (uint32_t i = 0; i < ThreadContextCount; ++i) ResetRecordFields(&table[i]);
      InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&ThreadContextTable), table);
      return true;
    }
    if (++failures == kTableAttempts) return false;
    Sleep(failures <= 4 ? 0 : 100);
  }
}

ThreadContextRecord* FindRecord(DWORD threadId) {
  ThreadContextRecord* table = ThreadContextTable;
  for (uint32_t i = 0; i < ThreadContextCount; ++i)
    if (table[i].threadId == threadId) return &table[i];
  return nullptr;
}

// Under ContextLock.
ThreadContextRecord* ClaimFreeRecord(DWORD threadId) {
  ThreadContextRecord* record = FindRecord(0);
  if (record) InterlockedExchange(reinterpret_cast<volatile LONG*>(&record->threadId), threadId);
  return record;
}

// Under ContextLock. Frees the record of a thread that has ended. Thread ids
// are reused: a new thread with the same id may find the record by the
// lock-free lookup between the liveness test and the release. The id is
// therefore taken away first and the liveness asked once more; a thread that
// holds the id by then keeps the record, as its lookup would have given it.
void ReclaimIfEnded(ThreadContextRecord* record) {
  DWORD owner = record->threadId;
  if (owner == 0 || QueryThreadFate(owner) != ThreadFate::Ended) return;
  volatile LONG* id = reinterpret_cast<volatile LONG*>(&record->threadId);
  if (InterlockedCompareExchange(id, 0, static_cast<LONG>(owner)) != static_cast<LONG>(owner))
    return;
  if (IsThreadAlive(owner)) {
    InterlockedExchange(id, static_cast<LONG>(owner));
    return;
  }
  if (record->mapBlock) GlobalFree(record->mapBlock);
  ResetRecordFields(record);
}

}  // namespace

ThreadContextRecord* CurrentThreadContext() {
  if (StartCount < 1 && !StartWithRetries()) return nullptr;
  if (!EnsureTable()) return nullptr;
  DWORD self = GetCurrentThreadId();
  if (ThreadContextRecord* mine = FindRecord(self)) return mine;

  CriticalSectionHold hold(&ContextLock);
  // Looked for again under the lock: a reclaim pass may have held the id
  // away from the lock-free lookup for a moment.
  if (ThreadContextRecord* mine = FindRecord(self)) return mine;
  if (ThreadContextRecord* claimed = ClaimFreeRecord(self)) return claimed;
  ThreadContextRecord* table = ThreadContextTable;
  for (uint32_t i = 0; i < ThreadContextCount; ++i) ReclaimIfEnded(&table[i]);
  // Every record may still belong to a live thread. Handing one of them over
  // would let two live threads share its scratch maps, so the caller is
  // refused; its next call tries again.
  return ClaimFreeRecord(self);
}

// ---------------------------------------------------------------------------
// The map block

bool EnsureMapBlock(ThreadContextRecord* context) {
  if (!context->mapBlock) {
    HGLOBAL block = TakeForcedFailure(&ImagingSeams.mapBlockFailures)
                        ? nullptr
                        : GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, MapBlockBytes);
    if (!block) {
      context->lastError = ImgErrNoMemory;
      return false;
    }
    context->mapBlock = block;
  }
  // A fixed block's handle is its address.
  auto* base = static_cast<uint8_t*>(context->mapBlock);
  context->xIndex = reinterpret_cast<int32_t*>(base + MapXIndexOffset);
  context->xFraction = base + MapXFractionOffset;
  context->yIndex = reinterpret_cast<int32_t*>(base + MapYIndexOffset);
  context->yFraction = base + MapYFractionOffset;
  return true;
}
