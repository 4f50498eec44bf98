// A lock and a destruction of the same image that cross on two threads,
// held at the points where they meet.
#include <gtest/gtest.h>

#include <cstring>

#include "imaging/image/image.h"
#include "imaging/seams.h"
#include "support/owners.h"

namespace {

HANDLE LockPaused, DestroyAtClear, LockDone;

// Each side stops once at its point and lets the other side run; the waits
// are bounded so that a side that never arrives cannot hang the test.
void HoldAtCrossing(ImageCrossing point) {
  if (point == ImageCrossing::LockBeforeCount) {
    SetEvent(LockPaused);
    WaitForSingleObject(DestroyAtClear, 5000);
  } else {
    SetEvent(DestroyAtClear);
    WaitForSingleObject(LockDone, 5000);
  }
}

struct LockAttempt {
  ImageRecord* image;
  int result = -1;
  int32_t error = 0;
  static DWORD WINAPI Run(void* param) {
    auto* attempt = static_cast<LockAttempt*>(param);
    attempt->result = LockImage(attempt->image, 0);
    attempt->error = CurrentThreadContext()->lastError;
    SetEvent(LockDone);
    return 0;
  }
};

// The lock read the geometry before the destruction began and counts itself
// only after the storage is gone: it must be refused, not handed pixels
// that were just released.
TEST(ImageCrossing, ALockCountedAfterTheReleaseIsRefused) {
  struct Case {
    const char* name;
    uint32_t flags;
  };
  const Case cases[] = {{"own memory", CreateInMemory}, {"DIB section", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HandleOwner paused(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    HandleOwner atClear(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    HandleOwner done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    LockPaused = paused.h;
    DestroyAtClear = atClear.h;
    LockDone = done.h;
    ImageRecord image = {};
    ASSERT_EQ(CreateImage(&image, 8, 8, c.flags), 1);

    ImagingSeams.imageCrossingHook = HoldAtCrossing;
    LockAttempt attempt{&image};
    HandleOwner locker(CreateThread(nullptr, 0, LockAttempt::Run, &attempt, 0, nullptr));
    ASSERT_EQ(WaitForSingleObject(LockPaused, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(DestroyImage(&image), 1);
    WaitForSingleObject(locker.h, INFINITE);
    ImagingSeams.imageCrossingHook = nullptr;

    EXPECT_EQ(attempt.result, 0);
    EXPECT_EQ(attempt.error, ImgErrBusy);
    static const ImageRecord zero = {};
    EXPECT_EQ(memcmp(&image, &zero, sizeof image), 0);
  }
}

}  // namespace
