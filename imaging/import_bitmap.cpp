// ImportBitmap: a GDI bitmap becomes a DIB-section image.
#include <cstdlib>

#include "imaging/image_internal.h"
#include "imaging/sampling_internal.h"
#include "imaging/seams.h"
#include "support/owners.h"

namespace {

// GetObjectW also describes pens, brushes and fonts; only a bitmap counts.
bool DescribeBitmap(HBITMAP bitmap, BITMAP* out) {
  *out = BITMAP{};
  return GetObjectType(bitmap) == OBJ_BITMAP && GetObjectW(bitmap, sizeof *out, out) != 0;
}

// A copy of the bitmap at the image's reduced size, or null. The caller
// deletes it.
HBITMAP ScaledCopy(HBITMAP bitmap, const ImageRecord* image, BITMAP* copyInfo) {
  if (ImagingSeams.importForcedFailure == ImportFailCopy) return nullptr;
  HBITMAP copy = static_cast<HBITMAP>(
      CopyImage(bitmap, IMAGE_BITMAP, image->width, image->height, LR_CREATEDIBSECTION));
  if (copy && !DescribeBitmap(copy, copyInfo)) {
    DeleteObject(copy);
    return nullptr;
  }
  return copy;
}

// Converts the bitmap's pixels straight into the image's rows. The number of
// rows converted (0 when GetDIBits cannot convert this bitmap); -1 when the
// image cannot be locked.
int ConvertRows(ImageRecord* image, HBITMAP bitmap) {
  ImageLockHold lock;
  if (!lock.Take(image)) return -1;
  BITMAPV5HEADER header;
  FillV5Header(&header, image->width, image->height);
  if (ImagingSeams.importForcedFailure == ImportFailDibits) return 0;
  return GetDIBits(image->dc, bitmap, 0, static_cast<UINT>(image->height), image->pixels,
                   reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS);
}

// Bitmaps without an alpha channel leave undefined bytes there.
void ClearAlphaUnlessCarried(ImageRecord* image, const BITMAP& bitmapInfo) {
  const int bits = bitmapInfo.bmPlanes * bitmapInfo.bmBitsPixel;
  if (bits == 32 || bits == 16) return;
  ImageLockHold lock;
  if (lock.Take(image)) ClearImageAlpha(image, image->width - 1, image->height - 1);
}

// Destroys the half-made image, keeping the code of the step that failed.
int FailImport(ImageRecord* image) {
  KeepingLastError([image] {
    if (ValidateImage(image)) DestroyImage(image);
  });
  return 0;
}

}  // namespace

// The bitmap stays the caller's; a scaled copy made here is deleted before
// the return.
int ImportBitmap(ImageRecord* image, HBITMAP bitmap) {
  ThreadContextRecord* context = CurrentThreadContext();
  if (!context || !RecordAccessible(context, image)) return 0;
  context->lastError = ImgErrBadArgument;
  GdiFlush();
  BITMAP bitmapInfo;
  if (!DescribeBitmap(bitmap, &bitmapInfo)) return 0;
  const int32_t width = std::abs(bitmapInfo.bmWidth), height = std::abs(bitmapInfo.bmHeight);
  if (!CreateImage(image, width, height, CreateAsDib)) return 0;

  RefreshImage(image);
  const bool reduced = image->width != width || image->height != height;
  BITMAP copyInfo;
  GdiObjectOwner scaledCopy(reduced ? ScaledCopy(bitmap, image, &copyInfo) : nullptr);
  if (scaledCopy.object) {
    bitmap = static_cast<HBITMAP>(scaledCopy.object);
    bitmapInfo = copyInfo;
  }

  context->lastError = ImgErrBusy;
  // Without a scaled copy, GetDIBits would crop the bitmap to the reduced
  // size; StretchBlt scales it.
  int rows = reduced && !scaledCopy.object ? 0 : ConvertRows(image, bitmap);
  if (rows < 0) return FailImport(image);
  if (rows == 0 && !StretchBitmapIntoImage(context, image, bitmap, bitmapInfo))
    return FailImport(image);
  ClearAlphaUnlessCarried(image, bitmapInfo);
  return reduced ? 3 : 1;
}
