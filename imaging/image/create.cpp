// CreateImage, an image whose storage belongs to the library, with the
// size rules it applies; AttachImage, an image over pixel memory that stays
// the caller's.
#include <cmath>
#include <cstddef>
#include <cstdlib>

#include "imaging/gdi/gdi.h"
#include "imaging/image/image.h"
#include "imaging/seams.h"

namespace {

// A very flat size may round its short side down to nothing.
int64_t AtLeastOne(int64_t v) { return v < 1 ? 1 : v; }

// Before CreateImage and AttachImage reuse a record: destroys the image it
// holds, also one whose earlier destruction was refused. False (with the
// destruction's lastError) when the old image could not be destroyed.
bool ReleaseHeldImage(ImageRecord* image) {
  // A closing record is one whose destruction was refused while locks were
  // still held; it owns storage that must not be lost or overwritten.
  bool closing = HoldsImage(image) && (image->state & StateClosing);
  if (!closing && !ValidateImage(image)) return true;
  return DestroyImage(image) != 0;
}

// Neither GDI nor a 32-bit process can hold a pixel block of 2 GiB or more;
// larger byte counts would wrap in 32-bit arithmetic, so they fail here as
// the platform would.
constexpr int64_t kMaxImageBytes = 0x7FFFFFFF;

bool CreateForcedToFail(LONG step) { return ImagingSeams.createForcedFailure == step; }

// Destroys whatever was made; lastError stays error.
int FailCreate(ThreadContextRecord* context, ImageRecord* image, int32_t error) {
  context->lastError = error;
  KeepingLastError([image] { DestroyImage(image); });
  return 0;
}

bool MakeOwnMemory(ImageRecord* image, int32_t w, int32_t h) {
  image->baseWidth = w;
  image->baseHeight = h;
  image->baseStride = w;
  image->block = CreateForcedToFail(CreateFailBlock)
                     ? nullptr
                     : GlobalAlloc(GMEM_FIXED, static_cast<SIZE_T>(w) * static_cast<SIZE_T>(h) * 4);
  if (!image->block) return false;
  image->width = image->baseWidth;
  image->height = image->baseHeight;
  image->stride = image->baseStride;
  image->pixels = static_cast<uint32_t*>(image->block);  // a fixed block's handle is its address
  return true;
}

// Each object goes into the record as soon as it exists, so that a failure
// further on releases it through DestroyImage.
bool MakeDibSection(ImageRecord* image, int32_t w, int32_t h) {
  image->dc = CreateForcedToFail(CreateFailDc) ? nullptr : CreateCompatibleDC(nullptr);
  if (!image->dc) return false;
  BITMAPV5HEADER header;
  FillV5Header(&header, w, h);
  void* bits = nullptr;
  image->dib = CreateForcedToFail(CreateFailDib)
                   ? nullptr
                   : CreateDIBSection(image->dc, reinterpret_cast<BITMAPINFO*>(&header),
                                      DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!image->dib) return false;
  image->defaultBitmap = GetCurrentObject(image->dc, OBJ_BITMAP);
  GdiFlush();
  DIBSECTION description;
  if (CreateForcedToFail(CreateFailDescription) || !GetObjectType(image->dib) ||
      !DescribeDib(image->dib, &description))
    return false;
  TakeDibGeometry(image, description);
  return true;
}

}  // namespace

SizeFit FitImageSize(int64_t* w, int64_t* h, uint32_t flags) {
  const bool exact = flags & CreateExactSize;
  bool reduced = false;
  if (*w > ImageMaxSide) {
    if (exact) return SizeFit::TooLarge;
    *h = AtLeastOne(static_cast<int64_t>(double(*h) / double(*w) * ImageMaxSide + 0.5));
    *w = ImageMaxSide;
    reduced = true;
  }
  if (*h > ImageMaxSide) {
    if (exact) return SizeFit::TooLarge;
    *w = AtLeastOne(static_cast<int64_t>(double(*w) / double(*h) * ImageMaxSide + 0.5));
    *h = ImageMaxSide;
    reduced = true;
  }
  if (*w * *h > ImageMaxPixels && !(flags & CreateNoPixelCap)) {
    if (exact) return SizeFit::TooLarge;
    double s = std::sqrt(double(ImageMaxPixels) / (double(*w) * double(*h)));
    *w = AtLeastOne(static_cast<int64_t>(double(*w) * s));
    *h = AtLeastOne(static_cast<int64_t>(double(*h) * s));
    reduced = true;
  }
  return reduced ? SizeFit::Reduced : SizeFit::AsAsked;
}

int CreateImage(ImageRecord* image, int32_t width, int32_t height, uint32_t flags) {
  ThreadContextRecord* context = CurrentThreadContext();
  if (!context || !RecordAccessible(context, image)) return 0;
  // In 64 bits: the absolute value of INT32_MIN does not fit in 32.
  int64_t w = std::llabs(static_cast<int64_t>(width));
  int64_t h = std::llabs(static_cast<int64_t>(height));
  if (w < 1 || h < 1) {
    context->lastError = ImgErrBadArgument;
    return 0;
  }
  context->lastError = ImgErrGeneral;
  if (!ReleaseHeldImage(image)) return 0;
  context->lastError = ImgErrGeneral;

  SizeFit fit = FitImageSize(&w, &h, flags);
  if (fit == SizeFit::TooLarge) return FailCreate(context, image, ImgErrTooLarge);

  if (!ClearRecordFrom(image, offsetof(ImageRecord, tag))) return FailCreate(context, image, ImgErrBadObject);
  context->lastError = ImgErrGeneral;
  image->tag = ImageTag;
  image->kind = (flags & CreateInMemory) ? KindOwnMemory : KindDibSection;
  InterlockedExchange(&image->ownerThread, 0);
  InterlockedExchange(&image->lockCount, 0);
  image->state = 0;

  bool made = w * h * 4 <= kMaxImageBytes &&
              (image->kind == KindOwnMemory ? MakeOwnMemory(image, int32_t(w), int32_t(h))
                                            : MakeDibSection(image, int32_t(w), int32_t(h)));
  if (!made) return FailCreate(context, image, context->lastError);
  if (!ValidateImage(image)) return FailCreate(context, image, context->lastError);
  return fit == SizeFit::Reduced ? 3 : 1;
}

int AttachImage(ImageRecord* image, int32_t width, int32_t height, int32_t stride, void* pixels) {
  ThreadContextRecord* context = CurrentThreadContext();
  if (!context) return 0;
  if (width < 1 || height < 1 || stride < 1 || ProbeMemory(pixels, 4, false) != 0) {
    context->lastError = ImgErrBadArgument;
    return 0;
  }
  if (!RecordAccessible(context, image)) return 0;
  context->lastError = ImgErrGeneral;
  if (!ReleaseHeldImage(image)) return 0;
  if (!ClearRecordFrom(image, 0)) {
    DestroyImage(image);
    context->lastError = ImgErrBadObject;
    return 0;
  }
  context->lastError = ImgErrGeneral;
  image->tag = ImageTag;
  image->kind = KindCallerMemory;
  image->basePixels = static_cast<uint32_t*>(pixels);
  image->baseWidth = width;
  image->baseHeight = height;
  image->baseStride = stride;
  image->width = width;
  image->height = height;
  image->stride = stride;
  image->pixels = image->basePixels;
  return 1;
}
