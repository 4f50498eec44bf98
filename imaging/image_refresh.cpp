// RefreshImage: re-read an image's size from its storage.
#include "imaging/image_internal.h"

int RefreshImage(ImageRecord* image) {
  ThreadContextRecord* context = CurrentThreadContext();
  if (!context) return 0;
  context->lastError = ImgErrBadObject;
  if (!RecordAccessible(context, image) || image->tag != ImageTag) return 0;
  if (image->state & StateClosing) {
    context->lastError = ImgErrBusy;
    return 0;
  }
  context->lastError = ImgErrBadObject;
  switch (image->kind) {
    case KindDibSection: {
      DIBSECTION description;
      if (!GetObjectType(image->dib) || !DescribeDib(image->dib, &description)) return 0;
      TakeDibGeometry(image, description);
      return reinterpret_cast<uintptr_t>(description.dsBm.bmBits) > 0x10000 ? 1 : 0;
    }
    case KindOwnMemory:
    case KindCallerMemory:
      if (!MemoryKindValid(image)) return 0;
      image->width = image->baseWidth;
      image->height = image->baseHeight;
      return 1;
    default:
      return 0;
  }
}
