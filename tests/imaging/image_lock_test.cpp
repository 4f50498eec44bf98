// Locks, exclusive claims and destruction on real threads.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "imaging/image/image.h"
#include "imaging/seams.h"
#include "support/owners.h"

namespace {

// Counts the notifications of the thread that installs it.
struct NoteCounter {
  static thread_local std::vector<DWORD>* notes;
  std::vector<DWORD> seen;
  ThreadContextRecord* context;
  static LONG CALLBACK Record(DWORD code, ULONG_PTR) {
    if (notes) notes->push_back(code);
    return 0;
  }
  NoteCounter() : context(CurrentThreadContext()) {
    notes = &seen;
    context->notifyCallback = Record;
  }
  ~NoteCounter() {
    context->notifyCallback = nullptr;
    notes = nullptr;
  }
  int Count(DWORD code) const {
    int n = 0;
    for (DWORD c : seen) n += c == code;
    return n;
  }
};
thread_local std::vector<DWORD>* NoteCounter::notes = nullptr;

int32_t LastError() { return CurrentThreadContext()->lastError; }

// Runs a function on its own thread.
struct Thread {
  std::function<void()> body;
  HandleOwner handle;
  DWORD id = 0;
  static DWORD WINAPI Run(void* param) {
    static_cast<Thread*>(param)->body();
    return 0;
  }
  explicit Thread(std::function<void()> fn) : body(std::move(fn)) {
    handle.h = CreateThread(nullptr, 0, Run, this, 0, &id);
  }
  void Join() { WaitForSingleObject(handle.h, INFINITE); }
  ~Thread() { Join(); }
};

struct Event {
  HandleOwner h{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  void Set() { SetEvent(h.h); }
  void Wait() { WaitForSingleObject(h.h, INFINITE); }
};

// A thread that takes an exclusive lock on the image and holds it until
// Release, then for holdMs more before it unlocks.
struct ExclusiveOwner {
  Event locked, release;
  Thread thread;
  ExclusiveOwner(ImageRecord* image, DWORD holdMs)
      : thread([this, image, holdMs] {
          ASSERT_EQ(LockImage(image, LockExclusive), 1);
          locked.Set();
          release.Wait();
          Sleep(holdMs);
          UnlockImage(image, LockExclusive);
        }) {
    locked.Wait();
  }
  void Release() { release.Set(); }
  ~ExclusiveOwner() { Release(); }
};

// The image waits of this file are short, so that time-outs are quick.
class ImageLock : public ::testing::Test {
 protected:
  void SetUp() override {
    saved = ImagingSeams.imageWaits;
    ImagingSeams.imageWaits = {300, 300};
    ASSERT_EQ(CreateImage(&image, 16, 16, 0), 1);
  }
  void TearDown() override {
    if (image.tag) {
      while (image.lockCount > 0) UnlockImage(&image, 0);
      image.state = 0;
      DestroyImage(&image);
    }
    ImagingSeams.imageWaits = saved;
  }
  ImageWaitTimes saved;
  ImageRecord image = {};
};

}  // namespace

TEST_F(ImageLock, LockBringsTheGeometryAndCounts) {
  image.width = image.height = image.stride = 0;
  image.pixels = nullptr;
  ASSERT_EQ(LockImage(&image, 0), 1);
  EXPECT_EQ(image.width, 16);
  EXPECT_EQ(image.height, 16);
  EXPECT_EQ(image.stride, 16);
  EXPECT_NE(image.pixels, nullptr);
  EXPECT_EQ(image.lockCount, 1);
  EXPECT_EQ(image.ownerThread, 0);
  ASSERT_EQ(LockImage(&image, LockExclusive), 1);
  EXPECT_EQ(image.lockCount, 2);
  EXPECT_EQ(static_cast<DWORD>(image.ownerThread), GetCurrentThreadId());
  // The owner's own further locks do not wait and keep the claim.
  ASSERT_EQ(LockImage(&image, 0), 1);
  EXPECT_EQ(static_cast<DWORD>(image.ownerThread), GetCurrentThreadId());
  EXPECT_EQ(UnlockImage(&image, LockExclusive), 1);
  EXPECT_EQ(image.ownerThread, 0);
  EXPECT_EQ(UnlockImage(&image, 0), 1);
  EXPECT_EQ(UnlockImage(&image, 0), 1);
  EXPECT_EQ(image.lockCount, 0);
}

TEST_F(ImageLock, MemoryKindsLockTheirBaseGeometry) {
  uint32_t pixels[6 * 4] = {};
  ImageRecord caller = {};
  ASSERT_EQ(AttachImage(&caller, 4, 6, 4, pixels), 1);
  caller.width = caller.height = caller.stride = 0;
  ASSERT_EQ(LockImage(&caller, 0), 1);
  EXPECT_EQ(caller.pixels, pixels);
  EXPECT_EQ(caller.width, 4);
  EXPECT_EQ(caller.height, 6);
  EXPECT_EQ(caller.stride, 4);
  EXPECT_EQ(UnlockImage(&caller, 0), 1);
  EXPECT_EQ(DestroyImage(&caller), 1);
}

TEST_F(ImageLock, TheLockCounterReportsItsBounds) {
  NoteCounter notes;
  // An unlock without a lock stays at 0 and says so.
  EXPECT_EQ(UnlockImage(&image, 0), 1);
  EXPECT_EQ(image.lockCount, 0);
  EXPECT_EQ(notes.Count(ImgNoteLockCount), 1);
  // The 256th nested lock is reported and still counts.
  for (int i = 0; i < 255; ++i) ASSERT_EQ(LockImage(&image, 0), 1);
  EXPECT_EQ(notes.Count(ImgNoteLockCount), 1);
  EXPECT_EQ(LockImage(&image, 0), 1);
  EXPECT_EQ(image.lockCount, 256);
  EXPECT_EQ(notes.Count(ImgNoteLockCount), 2);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(UnlockImage(&image, 0), 1);
  EXPECT_EQ(image.lockCount, 0);
}

TEST_F(ImageLock, ExclusiveWaitEndsWhenTheOwnerUnlocks) {
  ExclusiveOwner owner(&image, 100);
  NoteCounter notes;
  owner.Release();
  DWORD began = GetTickCount();
  ASSERT_EQ(LockImage(&image, 0), 1);
  DWORD took = GetTickCount() - began;
  EXPECT_GE(took, 80u);
  EXPECT_EQ(notes.Count(ImgNoteWaitTimeout), 0);  // ended by the unlock, not by the time
  EXPECT_EQ(image.ownerThread, 0);
  EXPECT_EQ(UnlockImage(&image, 0), 1);
}

TEST_F(ImageLock, ExclusiveWaitEndsWhenTheOwnerEnds) {
  DWORD ownerId;
  {
    Thread owner([&] { ASSERT_EQ(LockImage(&image, LockExclusive), 1); });
    owner.Join();
    ownerId = owner.id;
  }
  ASSERT_EQ(static_cast<DWORD>(image.ownerThread), ownerId);
  NoteCounter notes;
  DWORD began = GetTickCount();
  ASSERT_EQ(LockImage(&image, 0), 1);
  EXPECT_LT(GetTickCount() - began, 20u);  // an ended owner is not waited for
  EXPECT_EQ(image.ownerThread, 0);
  EXPECT_EQ(notes.Count(ImgNoteWaitTimeout), 0);
  // The ended thread's count is still there; both go.
  EXPECT_EQ(image.lockCount, 2);
  UnlockImage(&image, 0);
  UnlockImage(&image, 0);
}

TEST_F(ImageLock, ExclusiveWaitGivesUpAfterItsTime) {
  ExclusiveOwner owner(&image, 0);
  NoteCounter notes;
  DWORD began = GetTickCount();
  EXPECT_EQ(LockImage(&image, 0), 1);
  DWORD took = GetTickCount() - began;
  EXPECT_GE(took, 300u);
  EXPECT_LT(took, 1000u);
  EXPECT_EQ(notes.Count(ImgNoteWaitTimeout), 1);
  // The claim is dropped; the caller holds its own lock.
  EXPECT_EQ(image.ownerThread, 0);
  EXPECT_EQ(UnlockImage(&image, 0), 1);
  owner.Release();
}

TEST_F(ImageLock, DestroyRefusesNewLocksWhileItWaits) {
  Event locked, release;
  Thread holder([&] {
    ASSERT_EQ(LockImage(&image, 0), 1);
    locked.Set();
    release.Wait();
    Sleep(50);
    UnlockImage(&image, 0);
  });
  locked.Wait();
  int destroyed = -1;
  Event destroying;
  Thread destroyer([&] {
    destroying.Set();
    destroyed = DestroyImage(&image);
  });
  destroying.Wait();
  while (!(image.state & StateClosing)) Sleep(1);
  EXPECT_EQ(LockImage(&image, 0), 0);
  EXPECT_EQ(LastError(), ImgErrBusy);
  EXPECT_FALSE(ValidateImage(&image));
  EXPECT_EQ(LastError(), ImgErrBusy);
  EXPECT_EQ(RefreshImage(&image), 0);
  EXPECT_EQ(LastError(), ImgErrBusy);
  release.Set();
  destroyer.Join();
  EXPECT_EQ(destroyed, 1);
  static const ImageRecord zero = {};
  EXPECT_EQ(memcmp(&image, &zero, sizeof image), 0);
}

TEST_F(ImageLock, DestroyWaitsForAForeignOwner) {
  ExclusiveOwner owner(&image, 60);
  owner.Release();
  NoteCounter notes;
  DWORD began = GetTickCount();
  EXPECT_EQ(DestroyImage(&image), 1);
  EXPECT_GE(GetTickCount() - began, 40u);
  EXPECT_EQ(notes.Count(ImgNoteWaitTimeout), 0);
  EXPECT_EQ(image.tag, 0);
}

// A holder that outlives the lock wait keeps its storage: the destruction is
// refused, the record stays closing, and a later destruction finishes.
TEST_F(ImageLock, HolderOutlivingTheLockWaitKeepsItsPixels) {
  Event locked, destroyed, release;
  bool pixelsStillWritable = false;
  Thread holder([&] {
    ASSERT_EQ(LockImage(&image, 0), 1);
    uint32_t* pixels = image.pixels;
    locked.Set();
    destroyed.Wait();
    pixels[15 * 16 + 15] = 0xABCDEF01;
    pixelsStillWritable = pixels[15 * 16 + 15] == 0xABCDEF01;
    release.Wait();
    EXPECT_EQ(UnlockImage(&image, 0), 1);
  });
  locked.Wait();
  HBITMAP dib = image.dib;
  NoteCounter notes;
  EXPECT_EQ(DestroyImage(&image), 0);
  EXPECT_EQ(LastError(), ImgErrBusy);
  EXPECT_EQ(notes.Count(ImgNoteWaitTimeout), 1);
  EXPECT_EQ(GetObjectType(dib), static_cast<DWORD>(OBJ_BITMAP));
  EXPECT_TRUE(image.state & StateClosing);
  EXPECT_EQ(image.width, 0);
  destroyed.Set();
  EXPECT_EQ(LockImage(&image, 0), 0);
  EXPECT_EQ(LastError(), ImgErrBusy);
  // A new image cannot be made over the closing record while it is held.
  EXPECT_EQ(CreateImage(&image, 4, 4, 0), 0);
  EXPECT_EQ(LastError(), ImgErrBusy);
  EXPECT_EQ(image.dib, dib);
  release.Set();
  holder.Join();
  EXPECT_TRUE(pixelsStillWritable);
  EXPECT_EQ(image.lockCount, 0);
  // Once the holder has gone, the record can be reused.
  EXPECT_EQ(CreateImage(&image, 4, 4, 0), 1);
  EXPECT_EQ(GetObjectType(dib), 0u);
}

TEST_F(ImageLock, ConcurrentLockersCountExactly) {
  constexpr int kThreads = 8, kRounds = 2000;
  std::vector<std::unique_ptr<Thread>> threads;
  Event go;
  for (int t = 0; t < kThreads; ++t)
    threads.push_back(std::make_unique<Thread>([&] {
      go.Wait();
      for (int i = 0; i < kRounds; ++i) {
        if (LockImage(&image, 0)) UnlockImage(&image, 0);
      }
    }));
  go.Set();
  threads.clear();
  EXPECT_EQ(image.lockCount, 0);
  EXPECT_TRUE(ValidateImage(&image));
}
