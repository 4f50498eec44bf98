// The drawing road of ImportBitmap, for bitmaps whose pixels GetDIBits will
// not convert.
#include "imaging/image_internal.h"
#include "support/owners.h"

namespace {

// Gives the lent DC back on every road out.
struct LentDc {
  ImageRecord* image;
  HDC dc = nullptr;
  explicit LentDc(ImageRecord* lender) : image(lender) { GetImageDC(image, &dc); }
  ~LentDc() {
    if (dc) KeepingLastError([this] { ReleaseImageDC(image, &dc); });
  }
  LentDc(const LentDc&) = delete;
  LentDc& operator=(const LentDc&) = delete;
};

}  // namespace

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
