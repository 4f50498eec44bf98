// ValidateImage: whether a record holds a usable image, with the repair of a
// lost memory device context.
#include "imaging/image/image.h"

namespace {

bool IsDcType(DWORD type) { return type == OBJ_DC || type == OBJ_MEMDC; }

// GetObjectType can lag behind a bitmap that GDI still describes; a
// readable BITMAP counts.
bool BitmapStillThere(HBITMAP dib) {
  if (GetObjectType(dib) == OBJ_BITMAP) return true;
  BITMAP description;
  return GetObjectW(dib, sizeof description, &description) != 0;
}

// The DC went away while the DIB section survived: a new memory DC takes
// its place. The default bitmap of the lost DC is not known any more.
bool RecreateDc(ImageRecord* image) {
  RaiseNotification(ImgNoteDcRecreated);
  GdiFlush();
  if (image->dc) {
    if (image->defaultBitmap) SelectObject(image->dc, image->defaultBitmap);
    DeleteDC(image->dc);
  }
  image->dc = nullptr;
  image->defaultBitmap = nullptr;
  image->dc = CreateCompatibleDC(nullptr);
  GdiFlush();
  return image->dc != nullptr;
}

bool ValidateDibSection(ImageRecord* image) {
  bool dcGood = IsDcType(GetObjectType(image->dc));
  bool dibGood = GetObjectType(image->dib) == OBJ_BITMAP;
  if (dcGood && dibGood) return true;
  Sleep(0);
  GdiFlush();
  if (!dcGood) dcGood = IsDcType(GetObjectType(image->dc));
  if (!dibGood) dibGood = BitmapStillThere(image->dib);
  if (dcGood) return dibGood;
  if (!dibGood) return false;
  return RecreateDc(image);
}

}  // namespace

bool ValidateImage(ImageRecord* image) {
  ThreadContextRecord* context = CurrentThreadContext();
  if (!context) return false;
  context->lastError = ImgErrBadObject;
  if (!RecordAccessible(context, image) || image->tag != ImageTag) return false;
  if (image->state & StateClosing) {
    context->lastError = ImgErrBusy;
    return false;
  }
  context->lastError = ImgErrGeneral;
  switch (image->kind) {
    case KindDibSection:
      return ValidateDibSection(image);
    case KindOwnMemory:
    case KindCallerMemory:
      return MemoryKindValid(image);
    default:
      return false;
  }
}
