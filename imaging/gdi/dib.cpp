// The DIB header of every 32-bit image, and ConvertImageToDib: an image of
// another kind becomes a DIB-section image with the same pixels (build a
// second image, swap, destroy the old one).
#include <cstring>

#include "imaging/gdi/gdi.h"
#include "imaging/sampling/sampling.h"

namespace {

// LCS_sRGB, whose header spelling is a multi-character constant.
constexpr DWORD kColourSpaceSrgb = 0x73524742;

}  // namespace

int FillV5Header(BITMAPV5HEADER* header, int32_t width, int32_t height) {
  memset(header, 0, sizeof *header);
  header->bV5Size = sizeof *header;
  header->bV5Width = width;
  header->bV5Height = -height;  // top-down rows
  header->bV5Planes = 1;
  header->bV5BitCount = 32;
  header->bV5Compression = BI_RGB;
  header->bV5XPelsPerMeter = 3780;  // 96 DPI
  header->bV5YPelsPerMeter = 3780;
  header->bV5RedMask = 0x00FF0000;
  header->bV5GreenMask = 0x0000FF00;
  header->bV5BlueMask = 0x000000FF;
  header->bV5AlphaMask = 0xFF000000;
  header->bV5CSType = kColourSpaceSrgb;
  return 1;
}

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
