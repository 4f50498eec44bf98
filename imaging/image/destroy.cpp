// DestroyImage: release an image's storage and empty its record.
#include "imaging/image/image.h"
#include "imaging/seams.h"
#include "support/fault_guard.h"

namespace {

// Waits up to the seam imageWaits.lockWaitMs, 20 ms at a time, for the last
// lock to go. False (after ImgNoteWaitTimeout) when locks are still held.
bool WaitForLocks(ImageRecord* image) {
  const LONG limit = ImagingSeams.imageWaits.lockWaitMs;
  for (LONG waited = 0; image->lockCount != 0 && waited < limit; waited += ImageWaitStepMs)
    Sleep(ImageWaitStepMs);
  if (image->lockCount == 0) return true;
  RaiseNotification(ImgNoteWaitTimeout);
  return false;
}

// Only a record that holds an image owns storage: a kind byte without the
// tag is no proof that its slots are handles of ours.
bool ReleaseStorage(ImageRecord* image) {
  return RunGuarded([&] {
    FaultIfForced();
    if (image->tag != ImageTag) return;
    switch (image->kind) {
      case KindDibSection:
        GdiFlush();
        if (image->dc) {
          if (image->defaultBitmap) SelectObject(image->dc, image->defaultBitmap);
          DeleteDC(image->dc);
        }
        if (image->dib) DeleteObject(image->dib);
        image->dc = nullptr;
        image->dib = nullptr;
        image->defaultBitmap = nullptr;
        break;
      case KindOwnMemory:
        if (image->block) GlobalFree(image->block);
        image->block = nullptr;
        break;
      default:  // caller memory, or nothing
        break;
    }
  });
}

}  // namespace

int DestroyImage(ImageRecord* image) {
  ThreadContextRecord* context = CurrentThreadContext();
  if (!context || !RecordAccessible(context, image)) return 0;
  // Closing is set with a full barrier before lockCount is read, and
  // LockImage counts its lock before it reads state: one of the two always
  // sees the other.
  __sync_fetch_and_or(&image->state, StateClosing);
  image->width = 0;
  image->height = 0;
  image->stride = 0;
  context->lastError = ImgErrBusy;
  if (HoldsImage(image)) {
    WaitForForeignOwner(image);
    InterlockedExchange(&image->ownerThread, 0);
    // A lock holder that outlives the wait would be left with released
    // pixels. The storage is kept instead: the record stays closing, so no
    // new lock succeeds, and a later DestroyImage finishes the job.
    if (!WaitForLocks(image)) return 0;
  }
  context->lastError = ImgErrGeneral;
  if (!ReleaseStorage(image)) return 0;
  InterlockedExchange(&image->lockCount, 0);
  // Closing stays set until the clear below empties the record: a lock that
  // counts itself after the release must still see closing or a cleared
  // tag, never a record that looks whole over released storage.
  if (auto hook = ImagingSeams.imageCrossingHook) hook(ImageCrossing::DestroyBeforeClear);
  return ClearRecordFrom(image, 0) ? 1 : 0;
}
