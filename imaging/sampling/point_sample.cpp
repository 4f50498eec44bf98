// PointSampleImage: copies or picks source pixels, without interpolation.
#include "imaging/sampling/sampling.h"

namespace {

// Works on a view of the source region so that the region's top-left pixel
// is the view's (0, 0). A region left of or above the source would make a
// view of memory before the image, so it is refused.
int SampleViaView(ImageRecord* destination, int32_t destLeft, int32_t destTop, int32_t destRight,
                  int32_t destBottom, ImageRecord* source, int32_t sourceLeft, int32_t sourceTop,
                  int32_t sourceRight, int32_t sourceBottom, uint32_t flags, bool* done) {
  *done = true;
  if (sourceLeft < 0 || sourceTop < 0) return 0;
  ImageLockHold sourceLock;
  if (!sourceLock.Take(source)) {  // then the work runs on the source itself
    *done = false;
    return 0;
  }
  ImageRecord view = {};
  if (!AttachRegionView(&view, *source, sourceLeft, sourceTop, sourceRight, sourceBottom)) return 0;
  return PointSampleImage(destination, destLeft, destTop, destRight, destBottom, &view, 0, 0,
                          sourceRight - sourceLeft, sourceBottom - sourceTop,
                          flags & ~uint32_t{ResampleViaView});
}

}  // namespace

int PointSampleImage(ImageRecord* destination, int32_t destLeft, int32_t destTop, int32_t destRight,
                     int32_t destBottom, ImageRecord* source, int32_t sourceLeft, int32_t sourceTop,
                     int32_t sourceRight, int32_t sourceBottom, uint32_t flags) {
  ThreadContextRecord* context = CurrentThreadContext();
  if (!context) return 0;
  context->lastError = ImgErrBadArgument;
  if (sourceRight < sourceLeft || sourceBottom < sourceTop || destRight < destLeft ||
      destBottom < destTop)
    return 0;
  if (flags & ResampleViaView) {
    bool done;
    int result = SampleViaView(destination, destLeft, destTop, destRight, destBottom, source,
                               sourceLeft, sourceTop, sourceRight, sourceBottom, flags, &done);
    if (done) return result;
  }
  if (!RefreshImage(source)) {
    context->lastError = ImgErrBadObject;
    return 0;
  }
  context->lastError = ImgErrBadArgument;
  const int32_t lastSourceColumn = source->width - 1;
  if ((sourceLeft < 0 && sourceRight < 0) ||
      (sourceLeft > lastSourceColumn && sourceRight > lastSourceColumn))
    return 0;

  const LockedSampling sampling(context,
                                {destination, destLeft, destTop, destRight, destBottom, source,
                                 sourceLeft, sourceTop, sourceRight, sourceBottom},
                                flags);
  if (!sampling.ready) return 0;
  // Whole rows are copied only where the column map is one to one; with an
  // offset the map shifts the columns and every pixel goes through it.
  const bool wholeRows =
      int64_t{destRight} - destLeft == int64_t{sourceRight} - sourceLeft && context->offsetX == 0;
  PointSampleRows(*destination, *source, *context, sampling.range, int64_t{sourceLeft} - destLeft,
                  wholeRows);
  return 1;
}
