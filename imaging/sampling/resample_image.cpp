// ResampleImage: the smooth resampler. Chooses the method by shape, flags
// and offsets, and runs its kernel over the mapped and clipped ranges.
#include "imaging/pixels/resample_kernels.h"
#include "imaging/sampling/sampling.h"

namespace {

// The source region (0, 0)..(sourceRight, sourceBottom) against the
// destination rectangle A x C.
struct Shape {
  int64_t sourceWidth, sourceHeight;  // of the region
  int64_t destWidth, destHeight;      // A and C
};

ResampleMethod ChooseMethod(const Shape& shape, bool offsetsZero, uint32_t flags) {
  const bool notEnlarging =
      shape.sourceWidth >= shape.destWidth && shape.sourceHeight >= shape.destHeight;
  const bool highQuality = (flags & ResampleHighQuality) != 0;
  if (!notEnlarging) return highQuality ? MethodBicubic : MethodBilinear;
  if (!offsetsZero) return MethodBilinear;
  if (!highQuality) return MethodFourPointAverage;
  const bool twofold =
      shape.sourceWidth >= 2 * shape.destWidth || shape.sourceHeight >= 2 * shape.destHeight;
  return twofold ? MethodAreaAverage : MethodBicubic;
}

bool Over64(const Shape& shape) {
  return shape.sourceHeight > 64 * shape.destHeight || shape.sourceWidth > 64 * shape.destWidth;
}

PixelPlane PlaneOf(const ImageRecord& image) {
  return {image.pixels, image.width, image.height, image.stride};
}

// Works on a view of the source region; the region starts at the source's
// top-left pixel, so the view never describes memory outside the image.
int ResampleOnView(ImageRecord* destination, int32_t destLeft, int32_t destTop, int32_t destRight,
                   int32_t destBottom, ImageRecord* source, int32_t sourceRight,
                   int32_t sourceBottom, uint32_t flags, bool* done) {
  ImageLockHold sourceLock;
  *done = sourceLock.Take(source);  // without the lock the work runs on the source itself
  if (!*done) return 0;
  ImageRecord view = {};
  if (!AttachRegionView(&view, *source, 0, 0, sourceRight, sourceBottom)) return 0;
  return ResampleImage(destination, destLeft, destTop, destRight, destBottom, &view, sourceRight,
                       sourceBottom, flags & ~uint32_t{ResampleViaView});
}

}  // namespace

int ResampleImage(ImageRecord* destination, int32_t destLeft, int32_t destTop, int32_t destRight,
                  int32_t destBottom, ImageRecord* source, int32_t sourceRight,
                  int32_t sourceBottom, uint32_t flags) {
  ThreadContextRecord* context = CurrentThreadContext();
  if (!context) return 0;
  context->lastError = ImgErrBadArgument;
  if (sourceRight < 0 || sourceBottom < 0 || destRight < destLeft || destBottom < destTop) return 0;
  const Shape shape = {int64_t{sourceRight} + 1, int64_t{sourceBottom} + 1,
                       int64_t{destRight} - destLeft + 1, int64_t{destBottom} - destTop + 1};
  const bool offsetsZero = context->offsetX == 0 && context->offsetY == 0;
  if (shape.sourceWidth == shape.destWidth && shape.sourceHeight == shape.destHeight && offsetsZero)
    return PointSampleImage(destination, destLeft, destTop, destRight, destBottom, source, 0, 0,
                            sourceRight, sourceBottom, flags);
  if (flags & ResampleViaView) {
    bool done;
    int result = ResampleOnView(destination, destLeft, destTop, destRight, destBottom, source,
                                sourceRight, sourceBottom, flags, &done);
    if (done) return result;
  }
  if (!RefreshImage(source)) {
    context->lastError = ImgErrBadObject;
    return 0;
  }
  context->lastError = ImgErrBadArgument;
  if (source->width < 1) return 0;

  const LockedSampling sampling(context,
                                {destination, destLeft, destTop, destRight, destBottom, source, 0,
                                 0, sourceRight, sourceBottom},
                                flags);
  if (!sampling.ready) return 0;
  const SampleRange& range = sampling.range;
  if (range.lastColumn < range.firstColumn || range.lastRow < range.firstRow) return 1;

  ResampleJob job;
  job.destination = PlaneOf(*destination);
  job.source = PlaneOf(*source);
  job.maps = {context->xIndex, context->xFraction, context->yIndex, context->yFraction};
  job.firstColumn = range.firstColumn;
  job.lastColumn = range.lastColumn;
  job.firstRow = range.firstRow;
  job.lastRow = range.lastRow;
  job.over64 = Over64(shape);
  KernelFor(ChooseMethod(shape, offsetsZero, flags), SimdLevel >= SimdSse2)(job);
  return 1;
}
