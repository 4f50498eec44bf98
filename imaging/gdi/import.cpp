// ImportBitmap: a GDI bitmap becomes a DIB-section image, converted row by
// row or drawn through a lent DC; ClearImageAlpha for bitmaps that carry no
// alpha.
#include <cstdlib>

#include "imaging/gdi/gdi.h"
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

// Gives the lent DC back on every road out.
struct LentDc {
  ImageRecord* image;
  HDC dc = nullptr;
  explicit LentDc(ImageRecord* lender) : image(lender) { GetImageDC(image, &dc); }
  ~LentDc() {
    if (dc) KeepingLastError([this] { ReleaseImageDC(image, &dc); });
  }
  QLN_NO_COPY(LentDc);
};

// Draws the whole bitmap into the whole image through the image's lent DC,
// scaled with HALFTONE, in up to 10 attempts 10 ms apart. bitmapInfo is the
// bitmap's own description (its sizes as it reports them). False with
// lastError set when the DC cannot be lent, the bitmap cannot be selected or
// every attempt failed. This is the road for bitmaps whose pixels GetDIBits
// will not convert.
bool StretchBitmapIntoImage(ThreadContextRecord* context, ImageRecord* image, HBITMAP bitmap,
                            const BITMAP& bitmapInfo) {
  LentDc lent(image);
  if (!lent.dc) return false;
  MemoryDcOwner source(CreateCompatibleDC(lent.dc));
  // A bitmap that is selected elsewhere cannot be selected here; drawing
  // from the memory DC's own 1 x 1 bitmap instead would fill the image with
  // one colour and call that the picture.
  SelectionOwner selected(source.dc, bitmap);
  if (!selected.ok()) {
    context->lastError = ImgErrFailed;
    return false;
  }
  StretchModeBracket mode(lent.dc, HALFTONE);
  SetBrushOrgEx(lent.dc, 0, 0, nullptr);
  const int32_t width = image->width, height = image->height;
  for (int attempt = 0; attempt < 10; ++attempt) {
    if (StretchBlt(lent.dc, 0, 0, width, height, source.dc, 0, 0, bitmapInfo.bmWidth,
                   bitmapInfo.bmHeight, SRCCOPY))
      return true;
    GdiFlush();
    Sleep(10);
  }
  context->lastError = ImgErrFailed;
  return false;
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

int ClearImageAlpha(ImageRecord* image, int32_t right, int32_t bottom) {
  ThreadContextRecord* context = CurrentThreadContext();
  if (!context) return 0;
  context->lastError = ImgErrGeneral;
  // The caller's lock has brought the geometry up to date.
  const int32_t width = image->width, height = image->height, stride = image->stride;
  uint32_t* pixels = image->pixels;
  if (!pixels || width < 1 || height < 1) return 0;
  if (right > width - 1) right = width - 1;
  if (right < 0) right = 0;
  if (bottom > height - 1) bottom = height - 1;
  if (bottom < 0) bottom = 0;
  for (int32_t y = 0; y <= bottom; ++y) {
    uint32_t* row = pixels + static_cast<ptrdiff_t>(y) * stride;
    for (int32_t x = 0; x <= right; ++x) row[x] &= 0x00FFFFFFu;
  }
  return 1;
}
