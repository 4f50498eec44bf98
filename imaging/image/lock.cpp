// LockImage and UnlockImage: counted locks around pixel access, with an
// optional exclusive claim on later lockers; RefreshImage, which re-reads an
// image's size from its storage.
#include "imaging/image/image.h"
#include "imaging/seams.h"

namespace {

// A DIB section that is already locked keeps its cached geometry once its
// first pixel proves readable and writable; otherwise the geometry is read
// again from the section.
bool RefreshDibGeometry(ImageRecord* image) {
  if (image->pixels && image->lockCount != 0 && TouchPixel(image->pixels)) return true;
  DIBSECTION description;
  if (!DescribeDibPatiently(image->dib, &description)) return false;
  TakeDibGeometry(image, description);
  return image->pixels && TouchPixel(image->pixels);
}

bool RefreshGeometry(ImageRecord* image) {
  switch (image->kind) {
    case KindDibSection:
      return RefreshDibGeometry(image);
    case KindOwnMemory:
    case KindCallerMemory:
      if (!MemoryKindValid(image)) return false;
      image->width = image->baseWidth;
      image->height = image->baseHeight;
      image->stride = image->baseStride;
      image->pixels = image->basePixels;
      return true;
    default:
      return false;
  }
}

// Takes one count back; a counter below zero is put back to zero.
bool DropLockCount(ImageRecord* image) {
  if (InterlockedDecrement(&image->lockCount) >= 0) return true;
  InterlockedExchange(&image->lockCount, 0);
  return false;
}

}  // namespace

int LockImage(ImageRecord* image, uint32_t flags) {
  ThreadContextRecord* context = CurrentThreadContext();
  if (!context || !RecordAccessible(context, image)) return 0;
  if (image->state & StateClosing) {
    context->lastError = ImgErrBusy;
    return 0;
  }
  context->lastError = ImgErrGeneral;
  const DWORD self = GetCurrentThreadId();
  DWORD owner = static_cast<DWORD>(image->ownerThread);
  if (owner != 0 && owner != self) {
    WaitForForeignOwner(image);
    InterlockedExchange(&image->ownerThread, 0);
  }
  if (!RefreshGeometry(image)) return 0;
  if (auto hook = ImagingSeams.imageCrossingHook) hook(ImageCrossing::LockBeforeCount);
  if (InterlockedIncrement(&image->lockCount) > 255) RaiseNotification(ImgNoteLockCount);
  // A destruction that began after the test above has either seen this
  // count (and waits for it) or already released the storage: in that case
  // the count is taken back and the lock refused.
  if ((image->state & StateClosing) || image->tag != ImageTag) {
    DropLockCount(image);
    context->lastError = ImgErrBusy;
    return 0;
  }
  if (flags & LockExclusive) InterlockedExchange(&image->ownerThread, static_cast<LONG>(self));
  if (!image->pixels) {
    UnlockImage(image, 0);
    return 0;
  }
  return 1;
}

int UnlockImage(ImageRecord* image, uint32_t /*flags*/) {
  ThreadContextRecord* context = CurrentThreadContext();
  if (!context || !RecordAccessible(context, image)) return 0;
  context->lastError = ImgErrGeneral;
  // Only the owner's own claim is given up, never one that another thread
  // made in the meantime.
  const LONG self = static_cast<LONG>(GetCurrentThreadId());
  InterlockedCompareExchange(&image->ownerThread, 0, self);
  if (image->kind < KindDibSection || image->kind > KindCallerMemory) return 0;
  if (!DropLockCount(image)) RaiseNotification(ImgNoteLockCount);
  return 1;
}

ImageLockHold::~ImageLockHold() {
  if (held) KeepingLastError([this] { UnlockImage(image, 0); });
}

int RefreshImage(ImageRecord* image) {
  ThreadContextRecord* context = CurrentThreadContext();
  if (!context) return 0;
  context->lastError = ImgErrBadObject;
  if (!RecordAccessible(context, image) || image->tag != ImageTag) return 0;
  if (image->state & StateClosing) {
    context->lastError = ImgErrBusy;
    return 0;
  }
  context->lastError = ImgErrBadObject;
  switch (image->kind) {
    case KindDibSection: {
      DIBSECTION description;
      if (!GetObjectType(image->dib) || !DescribeDib(image->dib, &description)) return 0;
      TakeDibGeometry(image, description);
      return reinterpret_cast<uintptr_t>(description.dsBm.bmBits) > 0x10000 ? 1 : 0;
    }
    case KindOwnMemory:
    case KindCallerMemory:
      if (!MemoryKindValid(image)) return 0;
      image->width = image->baseWidth;
      image->height = image->baseHeight;
      return 1;
    default:
      return 0;
  }
}
