// Checks and guarded writes shared by the image operations, and the
// exchange of two records.
#include <cstdlib>
#include <cstring>

#include "imaging/image/image.h"
#include "imaging/seams.h"
#include "support/fault_guard.h"

void FaultIfForced() {
  if (TakeForcedFailure(&ImagingSeams.forcedRecordFaults)) *static_cast<volatile int*>(nullptr) = 0;
}

bool RecordAccessible(ThreadContextRecord* context, ImageRecord* image) {
  if (ProbeMemory(image, sizeof *image, true) == 0) return true;
  context->lastError = ImgErrBadObject;
  return false;
}

bool HoldsImage(const ImageRecord* image) {
  return image->tag == ImageTag && image->kind >= KindDibSection && image->kind <= KindCallerMemory;
}

bool MemoryKindValid(const ImageRecord* image) {
  return reinterpret_cast<uintptr_t>(image->basePixels) > 0x10000 && image->baseWidth != 0 &&
         image->baseHeight != 0 && image->baseStride != 0;
}

bool DescribeDib(HBITMAP dib, DIBSECTION* out) {
  memset(out, 0, sizeof *out);
  return dib && GetObjectW(dib, sizeof *out, out) != 0;
}

bool DescribeDibPatiently(HBITMAP dib, DIBSECTION* out) {
  if (DescribeDib(dib, out)) return true;
  GdiFlush();
  Sleep(0);
  return DescribeDib(dib, out);
}

void TakeDibGeometry(ImageRecord* image, const DIBSECTION& description) {
  image->width = std::abs(description.dsBm.bmWidth);
  image->height = std::abs(description.dsBm.bmHeight);
  image->stride = description.dsBm.bmWidthBytes / 4;
  image->pixels = static_cast<uint32_t*>(description.dsBm.bmBits);
}

bool TouchPixel(uint32_t* pixel) {
  return RunGuarded([&] {
    volatile LONG* cell = reinterpret_cast<volatile LONG*>(pixel);
    LONG value = *cell;
    InterlockedCompareExchange(cell, value, value);
  });
}

bool ClearRecordFrom(ImageRecord* image, size_t byteOffset) {
  return RunGuarded([&] {
    FaultIfForced();
    memset(reinterpret_cast<uint8_t*>(image) + byteOffset, 0, sizeof *image - byteOffset);
  });
}

void WaitForForeignOwner(ImageRecord* image) {
  const DWORD self = GetCurrentThreadId();
  DWORD first = static_cast<DWORD>(image->ownerThread);
  // The claim of a thread that has ended is dropped at once.
  if (first == 0 || first == self || !IsThreadAlive(first)) return;
  for (LONG waited = 0;;) {
    DWORD owner = static_cast<DWORD>(image->ownerThread);
    if (owner == 0 || owner == self) return;
    if (waited > ImagingSeams.imageWaits.ownerWaitMs) {
      RaiseNotification(ImgNoteWaitTimeout);
      return;
    }
    Sleep(ImageWaitStepMs);
    waited += ImageWaitStepMs;
    if (!IsThreadAlive(owner)) return;
  }
}

// Lets a newly made image take an old one's place, so that the old one can
// be destroyed under the other record.
int SwapImages(ImageRecord* a, ImageRecord* b) {
  ThreadContextRecord* context = CurrentThreadContext();
  if (!context) return 0;
  context->lastError = ImgErrBadObject;
  if (!RecordAccessible(context, a) || !RecordAccessible(context, b)) return 0;
  ImageRecord held = *a;
  *a = *b;
  *b = held;
  return 1;
}
