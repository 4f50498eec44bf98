// The per-thread context table on real threads, and the small services
// beside it.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "imaging/runtime/runtime.h"
#include "imaging/seams.h"
#include "support/owners.h"

namespace {

// A thread that takes its record (and optionally a map block), reports it,
// and lives until released.
struct Worker {
  bool wantMapBlock = false;
  HandleOwner claimed{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  HandleOwner release{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  HandleOwner thread;
  DWORD id = 0;
  ThreadContextRecord* record = nullptr;
  void* mapBlock = nullptr;

  static DWORD WINAPI Run(void* param) {
    auto* self = static_cast<Worker*>(param);
    self->record = CurrentThreadContext();
    if (self->record && self->wantMapBlock && EnsureMapBlock(self->record))
      self->mapBlock = self->record->mapBlock;
    SetEvent(self->claimed.h);
    WaitForSingleObject(self->release.h, INFINITE);
    return 0;
  }

  void Start(bool withMapBlock) {
    wantMapBlock = withMapBlock;
    thread.h = CreateThread(nullptr, 64 * 1024, Run, this, STACK_SIZE_PARAM_IS_A_RESERVATION, &id);
    ASSERT_NE(thread.h, nullptr);
    WaitForSingleObject(claimed.h, INFINITE);
  }

  // Ends the thread and forgets its handle, so that only the table's
  // liveness test can tell it has ended.
  void End() {
    SetEvent(release.h);
    WaitForSingleObject(thread.h, INFINITE);
    CloseHandle(thread.h);
    thread.h = nullptr;
  }

  ~Worker() {
    if (thread.h) {
      SetEvent(release.h);
      WaitForSingleObject(thread.h, INFINITE);
    }
  }
};

int FirstFreeIndex() {
  for (uint32_t i = 0; i < ThreadContextCount; ++i)
    if (ThreadContextTable[i].threadId == 0) return static_cast<int>(i);
  return -1;
}

int IndexOf(const ThreadContextRecord* record) {
  return static_cast<int>(record - ThreadContextTable);
}

bool AddressReleased(void* address) {
  MEMORY_BASIC_INFORMATION info = {};
  if (!VirtualQuery(address, &info, sizeof info)) return false;
  return info.State != MEM_COMMIT;
}

}  // namespace

TEST(ThreadContext, SameThreadAlwaysGetsItsOwnRecord) {
  ThreadContextRecord* mine = CurrentThreadContext();
  ASSERT_NE(mine, nullptr);
  EXPECT_EQ(mine->threadId, GetCurrentThreadId());
  for (int i = 0; i < 100; ++i) ASSERT_EQ(CurrentThreadContext(), mine);
}

TEST(ThreadContext, ANewThreadTakesTheNextFreeRecordInOrder) {
  ASSERT_NE(CurrentThreadContext(), nullptr);
  int expected = FirstFreeIndex();
  ASSERT_GE(expected, 0);
  Worker worker;
  worker.Start(false);
  ASSERT_NE(worker.record, nullptr);
  EXPECT_EQ(IndexOf(worker.record), expected);
  EXPECT_EQ(worker.record->threadId, worker.id);
  EXPECT_EQ(worker.record->lastError, ImgErrGeneral);
  EXPECT_NE(worker.record, CurrentThreadContext());
}

TEST(ThreadContext, FullTableRefusesALiveStrangerAndReclaimsEndedThreads) {
  ASSERT_NE(CurrentThreadContext(), nullptr);
  // Start threads until one is refused: by then every record belongs to a
  // live thread (records of threads that ended in earlier tests have been
  // reclaimed on the way). Every third thread holds maps.
  std::vector<std::unique_ptr<Worker>> workers;
  for (;;) {
    auto worker = std::make_unique<Worker>();
    worker->Start(workers.size() % 3 == 0);
    if (!worker->record) break;
    workers.push_back(std::move(worker));
  }
  ASSERT_GE(workers.size(), 100u);
  EXPECT_EQ(FirstFreeIndex(), -1);

  // A further newcomer is refused too, and nobody's record changes hands.
  {
    Worker stranger;
    stranger.Start(false);
    EXPECT_EQ(stranger.record, nullptr);
    for (auto& w : workers) EXPECT_EQ(w->record->threadId, w->id);
  }

  // End every other worker; the next newcomer reclaims all of their records
  // and takes the first of them in table order.
  std::vector<ThreadContextRecord*> ended;
  std::vector<void*> releasedBlocks;
  for (size_t i = 0; i < workers.size(); i += 2) {
    workers[i]->End();
    ended.push_back(workers[i]->record);
    if (workers[i]->mapBlock) releasedBlocks.push_back(workers[i]->mapBlock);
  }
  ASSERT_FALSE(releasedBlocks.empty());
  ThreadContextRecord* firstEnded = ended.front();
  for (ThreadContextRecord* r : ended) firstEnded = r < firstEnded ? r : firstEnded;

  Worker newcomer;
  newcomer.Start(false);
  ASSERT_EQ(newcomer.record, firstEnded);
  EXPECT_EQ(newcomer.record->threadId, newcomer.id);
  EXPECT_EQ(newcomer.record->lastError, ImgErrGeneral);
  EXPECT_EQ(newcomer.record->mapBlock, nullptr);
  EXPECT_EQ(newcomer.record->xIndex, nullptr);
  for (ThreadContextRecord* r : ended) {
    if (r == firstEnded) continue;
    EXPECT_EQ(r->threadId, 0u);
    EXPECT_EQ(r->lastError, ImgErrGeneral);
    EXPECT_EQ(r->mapBlock, nullptr);
  }
  for (void* block : releasedBlocks) EXPECT_TRUE(AddressReleased(block)) << block;
  // The live workers keep their records and their maps.
  for (size_t i = 1; i < workers.size(); i += 2) {
    EXPECT_EQ(workers[i]->record->threadId, workers[i]->id);
    EXPECT_EQ(workers[i]->record->mapBlock, workers[i]->mapBlock);
  }
}

// A thread whose exit code cannot be read may still be running: its record
// stays through a reclaim pass, while IsThreadAlive calls it not alive.
TEST(ThreadContext, UnreadableExitCodeKeepsTheRecord) {
  ASSERT_NE(CurrentThreadContext(), nullptr);
  std::vector<std::unique_ptr<Worker>> workers;
  for (;;) {
    auto worker = std::make_unique<Worker>();
    worker->Start(false);
    if (!worker->record) break;
    workers.push_back(std::move(worker));
  }
  ASSERT_GE(workers.size(), 2u);
  // The earlier record in table order is the unreadable one.
  Worker* unreadable = workers[0].get();
  Worker* ended = workers[1].get();
  if (ended->record < unreadable->record) std::swap(unreadable, ended);
  // Its handle stays open, so the thread object can still be opened.
  SetEvent(unreadable->release.h);
  WaitForSingleObject(unreadable->thread.h, INFINITE);
  ended->End();
  ImagingSeams.unreadableExitCodeThread = unreadable->id;
  EXPECT_FALSE(IsThreadAlive(unreadable->id));
  Worker newcomer;
  newcomer.Start(false);
  ImagingSeams.unreadableExitCodeThread = 0;
  EXPECT_EQ(newcomer.record, ended->record);
  EXPECT_EQ(unreadable->record->threadId, unreadable->id);
}

TEST(ThreadContext, MapBlockTablesSitAtTheirOffsets) {
  ThreadContextRecord* mine = CurrentThreadContext();
  ASSERT_NE(mine, nullptr);
  ASSERT_TRUE(EnsureMapBlock(mine));
  auto* base = static_cast<uint8_t*>(mine->mapBlock);
  EXPECT_EQ(GlobalSize(mine->mapBlock), MapBlockBytes);
  EXPECT_EQ(reinterpret_cast<uint8_t*>(mine->xIndex), base);
  EXPECT_EQ(mine->xFraction, base + 262208);
  EXPECT_EQ(reinterpret_cast<uint8_t*>(mine->yIndex), base + 327808);
  EXPECT_EQ(mine->yFraction, base + 590016);
  EXPECT_EQ(mine->yFraction[69439], 0);
  void* first = mine->mapBlock;
  ASSERT_TRUE(EnsureMapBlock(mine));
  EXPECT_EQ(mine->mapBlock, first);
}

TEST(ThreadContext, IsThreadAliveFollowsTheThreadsLife) {
  EXPECT_FALSE(IsThreadAlive(0));
  EXPECT_TRUE(IsThreadAlive(GetCurrentThreadId()));
  Worker worker;
  worker.Start(false);
  DWORD id = worker.id;
  EXPECT_TRUE(IsThreadAlive(id));
  // Ended but its handle still open: the thread object exists, its exit code
  // says it has ended.
  SetEvent(worker.release.h);
  WaitForSingleObject(worker.thread.h, INFINITE);
  EXPECT_FALSE(IsThreadAlive(id));
  worker.End();
  EXPECT_FALSE(IsThreadAlive(id));
}

namespace {

// Three pages: read-write, read-only, no access.
struct ProbePages {
  uint8_t* base;
  DWORD page;
  ProbePages() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    page = info.dwPageSize;
    base = static_cast<uint8_t*>(VirtualAlloc(nullptr, 3 * page, MEM_COMMIT, PAGE_READWRITE));
    DWORD old;
    VirtualProtect(base + page, page, PAGE_READONLY, &old);
    VirtualProtect(base + 2 * page, page, PAGE_NOACCESS, &old);
  }
  ~ProbePages() { VirtualFree(base, 0, MEM_RELEASE); }
};

}  // namespace

TEST(ProbeMemory, TableOfRanges) {
  ProbePages pages;
  ASSERT_NE(pages.base, nullptr);
  uint8_t* rw = pages.base;
  uint8_t* none = pages.base + 2 * pages.page;
  struct Case {
    const char* name;
    const void* address;
    size_t length;
    bool writeBack;
    int expected;
  } cases[] = {
      {"null address", nullptr, 16, false, 1},
      {"null address, length 0", nullptr, 0, false, 1},
      {"length 0 on readable memory", rw, 0, false, 0},
      {"length 0 touches the first byte", none, 0, false, 1},
      {"one writable page, write-back", rw, pages.page, true, 0},
      {"writable and read-only pages, read", rw + 10, 2 * pages.page - 20, false, 0},
      {"read-only page, write-back", rw + 10, 2 * pages.page - 20, true, 1},
      {"last byte on a no-access page", rw + 100, 2 * pages.page, false, 1},
      {"middle page without access", none - 10, 20, false, 1},
      {"range past the end of the address space", rw, SIZE_MAX, false, 1},
  };
  for (const Case& c : cases) EXPECT_EQ(ProbeMemory(c.address, c.length, c.writeBack), c.expected) << c.name;
}

TEST(ProbeMemory, WriteBackKeepsTheBytes) {
  uint8_t bytes[600];
  for (int i = 0; i < 600; ++i) bytes[i] = static_cast<uint8_t>(i * 7);
  ASSERT_EQ(ProbeMemory(bytes, sizeof bytes, true), 0);
  for (int i = 0; i < 600; ++i) ASSERT_EQ(bytes[i], static_cast<uint8_t>(i * 7));
}

namespace {

DWORD seenCode;
ULONG_PTR seenData;
int calls;

LONG CALLBACK Recorder(DWORD code, ULONG_PTR data) {
  seenCode = code;
  seenData = data;
  ++calls;
  return 0;
}

LONG CALLBACK Faulting(DWORD, ULONG_PTR) {
  ++calls;
  *static_cast<volatile int*>(nullptr) = 1;
  return 0;
}

struct CallbackScope {
  ThreadContextRecord* context;
  CallbackScope(ImgNotifyProc callback, ULONG_PTR data) : context(CurrentThreadContext()) {
    context->notifyCallback = callback;
    context->notifyData = data;
    calls = 0;
  }
  ~CallbackScope() {
    context->notifyCallback = nullptr;
    context->notifyData = 0;
  }
};

}  // namespace

TEST(RaiseNotification, WithoutCallbackSucceedsQuietly) {
  ThreadContextRecord* mine = CurrentThreadContext();
  ASSERT_NE(mine, nullptr);
  mine->lastError = ImgErrBusy;
  EXPECT_EQ(RaiseNotification(ImgNoteWaitTimeout), 1);
  EXPECT_EQ(mine->lastError, ImgErrBusy);
}

TEST(RaiseNotification, CallsTheCallbackWithCodeAndData) {
  CallbackScope scope(Recorder, 0x5150);
  scope.context->lastError = ImgErrTooLarge;
  EXPECT_EQ(RaiseNotification(ImgNoteDcRecreated), 1);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(seenCode, ImgNoteDcRecreated);
  EXPECT_EQ(seenData, 0x5150u);
  EXPECT_EQ(scope.context->lastError, ImgErrTooLarge);
}

TEST(RaiseNotification, BadOrFaultingCallbackReportsZero) {
  {
    CallbackScope scope(reinterpret_cast<ImgNotifyProc>(reinterpret_cast<void*>(0x10)), 0);
    EXPECT_EQ(RaiseNotification(ImgNoteLockCount), 0);
  }
  {
    CallbackScope scope(Faulting, 0);
    scope.context->lastError = ImgErrBadArgument;
    EXPECT_EQ(RaiseNotification(ImgNoteLockCount), 0);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(scope.context->lastError, ImgErrBadArgument);
  }
}

namespace {

volatile LONG sharedScratch = 0;  // a live thread found its maps changed under it
volatile LONG churned = 0;

// A short-lived thread: takes its record and maps, marks the maps with its
// id, gives other threads time to run, and checks that the mark stayed.
DWORD WINAPI ShortLived(void*) {
  ThreadContextRecord* mine = CurrentThreadContext();
  if (!mine) return 0;  // the table was full of live threads for a moment
  DWORD self = GetCurrentThreadId();
  if (mine->threadId != self || !EnsureMapBlock(mine)) {
    InterlockedIncrement(&sharedScratch);
    return 0;
  }
  mine->xIndex[0] = static_cast<int32_t>(self);
  mine->yFraction[69439] = static_cast<uint8_t>(self);
  Sleep(1);
  if (mine->xIndex[0] != static_cast<int32_t>(self) || mine->yFraction[69439] != static_cast<uint8_t>(self) ||
      CurrentThreadContext() != mine)
    InterlockedIncrement(&sharedScratch);
  InterlockedIncrement(&churned);
  return 0;
}

// Starts short-lived threads one after another.
DWORD WINAPI Spawner(void* param) {
  int count = *static_cast<int*>(param);
  for (int i = 0; i < count; ++i) {
    HANDLE thread = CreateThread(nullptr, 64 * 1024, ShortLived, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (!thread) continue;
    if (i % 4 == 3) WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
  return 0;
}

}  // namespace

// Many threads come and go while the table is full, so that claims and
// reclaim passes overlap: no live thread ever sees its maps used by another.
TEST(ThreadContext, ClaimsAndReclaimsUnderChurnNeverShareARecord) {
  ASSERT_NE(CurrentThreadContext(), nullptr);
  constexpr int kSpawners = 6;
  int perSpawner = 150;
  std::vector<HANDLE> spawners;
  for (int i = 0; i < kSpawners; ++i)
    spawners.push_back(CreateThread(nullptr, 0, Spawner, &perSpawner, 0, nullptr));
  WaitForMultipleObjects(kSpawners, spawners.data(), TRUE, INFINITE);
  for (HANDLE s : spawners) CloseHandle(s);
  // Let the last short-lived threads finish.
  for (int i = 0; i < 200 && churned < kSpawners * perSpawner * 9 / 10; ++i) Sleep(10);
  EXPECT_EQ(sharedScratch, 0);
  EXPECT_GE(churned, kSpawners * perSpawner / 2);
}
