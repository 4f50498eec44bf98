// ClearImageAlpha: makes a rectangle from the top-left corner transparent.
#include "imaging/image_internal.h"

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
