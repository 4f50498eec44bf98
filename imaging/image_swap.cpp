// SwapImages: exchange two records, so that a newly made image can take an
// old one's place and the old one be destroyed under the other record.
#include "imaging/image_internal.h"

int SwapImages(ImageRecord* a, ImageRecord* b) {
  ThreadContextRecord* context = CurrentThreadContext();
  if (!context) return 0;
  context->lastError = ImgErrBadObject;
  if (!RecordAccessible(context, a) || !RecordAccessible(context, b)) return 0;
  ImageRecord held = *a;
  *a = *b;
  *b = held;
  return 1;
}
