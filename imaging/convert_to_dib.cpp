// ConvertImageToDib: an image of another kind becomes a DIB-section image
// with the same pixels (build a second image, swap, destroy the old one).
#include "imaging/sampling_internal.h"

namespace {

// A conversion keeps every pixel where it is: the thread's sampling offsets
// are set aside while its maps are built, so that they map one to one.
struct OffsetsSetAside {
  ThreadContextRecord* context;
  int32_t offsetX, offsetY;
  explicit OffsetsSetAside(ThreadContextRecord* c)
      : context(c), offsetX(c->offsetX), offsetY(c->offsetY) {
    c->offsetX = 0;
    c->offsetY = 0;
  }
  ~OffsetsSetAside() {
    context->offsetX = offsetX;
    context->offsetY = offsetY;
  }
  QLN_NO_COPY(OffsetsSetAside);
};

// Copies every row of image into the DIB section of copy, one block copy
// per row. Copies nothing when either image cannot be locked.
void CopyIntoDib(ThreadContextRecord* context, ImageRecord* copy, ImageRecord* image) {
  if (!RefreshImage(image)) return;
  OffsetsSetAside oneToOne(context);
  const int32_t right = image->width - 1;
  const int32_t bottom = image->height - 1;
  const LockedSampling sampling(context, {copy, 0, 0, right, bottom, image, 0, 0, right, bottom},
                                0);
  if (sampling.ready) PointSampleRows(*copy, *image, *context, sampling.range, 0, true);
}

}  // namespace

int ConvertImageToDib(ImageRecord* image) {
  ThreadContextRecord* context = CurrentThreadContext();
  if (!context) return 0;
  if (ProbeMemory(image, sizeof *image, true) != 0) {
    context->lastError = ImgErrBadObject;
    return 0;
  }
  if (image->state & StateClosing) {
    context->lastError = ImgErrBusy;
    return 0;
  }
  if (image->kind == KindDibSection) return 1;
  if (LockImage(image, LockExclusive)) {
    ImageRecord copy = {};
    if (CreateImage(&copy, image->width, image->height, CreateAsDib | CreateExactSize)) {
      CopyIntoDib(context, &copy, image);
      UnlockImage(image, LockExclusive);
      SwapImages(image, &copy);
      DestroyImage(&copy);
    } else {
      UnlockImage(image, LockExclusive);
    }
  }
  if (image->kind == KindDibSection) return 1;
  context->lastError = ImgErrFailed;
  return 0;
}
