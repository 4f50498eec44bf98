// ResizeImage: replaces an image by a resampled copy of a new size (build a
// second image, swap, destroy the old one).
#include "imaging/sampling/sampling.h"
#include "support/fault_guard.h"

namespace {

// Destroys the temporary image of a failed resize; the failure's code
// stands.
int DiscardTemporary(ThreadContextRecord* context, ImageRecord* temporary, int32_t error) {
  context->lastError = error;
  KeepingLastError([temporary] { DestroyImage(temporary); });
  return 0;
}

// A record without a usable image simply receives a new one.
int ReplaceUnusableImage(ImageRecord* image, int32_t newWidth, int32_t newHeight, uint32_t flags) {
  ImageRecord temporary = {};
  if (!CreateImage(&temporary, newWidth, newHeight, flags)) return 0;
  SwapImages(image, &temporary);
  if (ValidateImage(&temporary)) DestroyImage(&temporary);
  return 1;
}

// Fills the temporary image from the image. A processor fault ends the
// step; the locks the resampler held then are taken back, so that neither
// record is left counting a lock nobody holds.
bool ResampleInto(ImageRecord* temporary, ImageRecord* image, int32_t oldWidth, int32_t oldHeight,
                  int* result) {
  const LONG temporaryLocks = temporary->lockCount;
  const LONG imageLocks = image->lockCount;
  *result = 0;
  if (RunGuarded([&] {
        RefreshImage(temporary);
        RefreshImage(image);
        *result = ResampleImage(temporary, 0, 0, temporary->width - 1, temporary->height - 1, image,
                                oldWidth - 1, oldHeight - 1, 0);
      }))
    return true;
  InterlockedExchange(&temporary->lockCount, temporaryLocks);
  InterlockedExchange(&image->lockCount, imageLocks);
  return false;
}

}  // namespace

int ResizeImage(ImageRecord* image, int32_t newWidth, int32_t newHeight) {
  ThreadContextRecord* context = CurrentThreadContext();
  if (!context) return 0;
  context->lastError = ImgErrBadObject;
  if (ProbeMemory(image, sizeof *image, true) != 0) return 0;
  if (image->state & StateClosing) {
    context->lastError = ImgErrBusy;
    return 0;
  }
  context->lastError = ImgErrGeneral;
  if (newWidth < 1 || newHeight < 1) return 0;
  const uint32_t flags = image->kind == KindDibSection ? CreateAsDib : CreateInMemory;
  if (!RefreshImage(image)) return ReplaceUnusableImage(image, newWidth, newHeight, flags);
  const int32_t oldWidth = image->width;
  const int32_t oldHeight = image->height;
  if (oldWidth == newWidth && oldHeight == newHeight) return 1;

  ImageRecord temporary = {};
  if (!CreateImage(&temporary, newWidth, newHeight, flags)) return 0;
  const bool reduced = temporary.width != newWidth || temporary.height != newHeight;
  // Only a complete new image replaces the old one: when the resampling
  // failed or faulted, its pixels were never written.
  int resampled;
  if (!ResampleInto(&temporary, image, oldWidth, oldHeight, &resampled))
    return DiscardTemporary(context, &temporary, ImgErrBadObject);
  if (!resampled) return DiscardTemporary(context, &temporary, context->lastError);
  SwapImages(image, &temporary);
  DestroyImage(&temporary);
  return reduced ? 99 : 1;
}
