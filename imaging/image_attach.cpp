// AttachImage: an image over pixel memory that stays the caller's.
#include "imaging/image_internal.h"

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
