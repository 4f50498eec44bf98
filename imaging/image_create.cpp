// CreateImage: an image whose storage belongs to the library.
#include <cstddef>
#include <cstdlib>

#include "imaging/image_internal.h"
#include "imaging/image_size.h"
#include "imaging/seams.h"

namespace {

// Neither GDI nor a 32-bit process can hold a pixel block of 2 GiB or more;
// larger byte counts would wrap in 32-bit arithmetic, so they fail here as
// the platform would.
constexpr int64_t kMaxImageBytes = 0x7FFFFFFF;

bool ForcedToFail(LONG step) { return ImagingSeams.createForcedFailure == step; }

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
  image->block = ForcedToFail(CreateFailBlock)
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
  image->dc = ForcedToFail(CreateFailDc) ? nullptr : CreateCompatibleDC(nullptr);
  if (!image->dc) return false;
  BITMAPV5HEADER header;
  FillV5Header(&header, w, h);
  void* bits = nullptr;
  image->dib = ForcedToFail(CreateFailDib)
                   ? nullptr
                   : CreateDIBSection(image->dc, reinterpret_cast<BITMAPINFO*>(&header),
                                      DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!image->dib) return false;
  image->defaultBitmap = GetCurrentObject(image->dc, OBJ_BITMAP);
  GdiFlush();
  DIBSECTION description;
  if (ForcedToFail(CreateFailDescription) || !GetObjectType(image->dib) ||
      !DescribeDib(image->dib, &description))
    return false;
  TakeDibGeometry(image, description);
  return true;
}

}  // namespace

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
