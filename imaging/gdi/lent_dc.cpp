// GetImageDC and ReleaseImageDC: lending an image's memory DC to GDI.
#include "imaging/gdi/gdi.h"

namespace {

// The image becomes a DIB section, the only kind with a DC to lend.
bool MakeDibSection(ImageRecord* image) {
  if (image->kind == KindDibSection) return true;
  RaiseNotification(ImgNoteConverted);
  return ConvertImageToDib(image) != 0;
}

}  // namespace

// The DC stays the image's: the caller gives it back with ReleaseImageDC and
// never deletes it. 0 when no DC can be lent.
HDC GetImageDC(ImageRecord* image, HDC* dc) {
  ThreadContextRecord* context = CurrentThreadContext();
  if (!context) return nullptr;
  if (!dc) {
    context->lastError = ImgErrBadArgument;
    return nullptr;
  }
  if (!RecordAccessible(context, image)) return nullptr;
  if (image->state & StateClosing) {
    context->lastError = ImgErrBusy;
    return nullptr;
  }
  if (!MakeDibSection(image)) {
    context->lastError = ImgErrFailed;
    return nullptr;
  }
  context->lastError = ImgErrGeneral;
  DIBSECTION description;
  if (!DescribeDibPatiently(image->dib, &description)) return nullptr;
  TakeDibGeometry(image, description);
  // A DC that cannot take the section would draw into its 1 x 1 default
  // bitmap instead: that is no DC to lend.
  if (GetCurrentObject(image->dc, OBJ_BITMAP) != image->dib) {
    HGDIOBJ previous = image->dc ? SelectObject(image->dc, image->dib) : nullptr;
    if (!previous || previous == HGDI_ERROR) return nullptr;
  }
  *dc = image->dc;
  SelectClipRgn(image->dc, nullptr);
  GdiFlush();
  return image->dc;
}

int ReleaseImageDC(ImageRecord* image, HDC* dc) {
  ThreadContextRecord* context = CurrentThreadContext();
  if (!context || !RecordAccessible(context, image)) return 0;
  context->lastError = ImgErrGeneral;
  if (image->kind != KindDibSection || !image->dc) {
    context->lastError = ImgErrFailed;
    return 0;
  }
  GdiFlush();
  SelectObject(image->dc, image->defaultBitmap);
  SelectClipRgn(image->dc, nullptr);
  if (dc) *dc = nullptr;
  return 1;
}
