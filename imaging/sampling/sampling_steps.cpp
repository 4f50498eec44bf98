// Steps shared by the point sampler, the conversion to a DIB section and
// the smooth resampler: the thread's sample maps, the row picker, region
// views and the locked sampling of one request.
#include <algorithm>
#include <cstddef>

#include "imaging/pixels/pixel_run.h"
#include "imaging/pixels/sample_maps.h"
#include "imaging/sampling/sampling.h"

namespace {

// The last destination row the row tables describe.
constexpr int32_t kLastTableRow = SampleMapLastEntry - 1;

uint32_t* PixelAt(const ImageRecord& image, int32_t x, int32_t y) {
  return image.pixels + static_cast<ptrdiff_t>(y) * image.stride + x;
}

// Columns from the maps' range, rows from the destination rectangle cut to
// the tables, both cut to the context's clip rectangle under ResampleClip.
SampleRange ClipSampleRange(const ThreadContextRecord& context, int32_t firstColumn,
                            int32_t lastColumn, int32_t destTop, int32_t destBottom,
                            uint32_t flags) {
  SampleRange range = {firstColumn, lastColumn, std::max(destTop, 0),
                       std::min(destBottom, kLastTableRow)};
  if (flags & ResampleClip) {
    range.firstColumn = std::max({range.firstColumn, context.clipLeft, 0});
    range.lastColumn = std::min(range.lastColumn, context.clipRight);
    range.firstRow = std::max(range.firstRow, context.clipTop);
    range.lastRow = std::min(range.lastRow, context.clipBottom);
  }
  return range;
}

}  // namespace

void PointSampleRows(const ImageRecord& destination, const ImageRecord& source,
                     const ThreadContextRecord& context, const SampleRange& range,
                     int64_t sourceShift, bool wholeRows) {
  if (range.lastColumn < range.firstColumn) return;
  const int32_t* xIndex = context.xIndex;
  const bool copyRows = wholeRows && range.lastColumn > range.firstColumn;
  const size_t runBytes = (static_cast<size_t>(range.lastColumn) - range.firstColumn + 1) * 4;
  for (int32_t y = range.firstRow; y <= range.lastRow; ++y) {
    const int32_t sy = context.yIndex[y];
    if (sy < 0 || sy > source.height - 1 || y < 0 || y > destination.height - 1) continue;
    uint32_t* to = PixelAt(destination, 0, y);
    if (copyRows) {
      CopyPixelRun(to + range.firstColumn,
                   PixelAt(source, static_cast<int32_t>(range.firstColumn + sourceShift), sy),
                   runBytes);
      continue;
    }
    const uint32_t* from = PixelAt(source, 0, sy);
    for (int32_t x = range.firstColumn; x <= range.lastColumn; ++x) to[x] = from[xIndex[x]];
  }
}

int AttachRegionView(ImageRecord* view, const ImageRecord& source, int32_t left, int32_t top,
                     int32_t right, int32_t bottom) {
  const int64_t width = std::min<int64_t>(int64_t{right} + 1, source.width) - left;
  const int64_t height = std::min<int64_t>(int64_t{bottom} + 1, source.height) - top;
  if (width < 1 || height < 1) return AttachImage(view, 0, 0, source.stride, source.pixels);
  return AttachImage(view, static_cast<int32_t>(width), static_cast<int32_t>(height), source.stride,
                     PixelAt(source, left, top));
}

int BuildSampleMaps(ImageRecord* destination, ThreadContextRecord* context, int32_t destLeft,
                    int32_t destTop, int32_t destRight, int32_t destBottom, ImageRecord* source,
                    int32_t sourceLeft, int32_t sourceTop, int32_t sourceRight,
                    int32_t sourceBottom, int32_t* firstColumn, int32_t* lastColumn) {
  // A block the heap no longer knows is forgotten, not freed: freeing an
  // invalid handle could release memory that is someone else's by now.
  if (context->mapBlock && GlobalFlags(context->mapBlock) == GMEM_INVALID_HANDLE)
    context->mapBlock = nullptr;
  if (!EnsureMapBlock(context)) return 0;
  const MutableSampleMapTables maps = {context->xIndex, context->xFraction, context->yIndex,
                                       context->yFraction};
  const SampleMapRequest request = {destLeft,      destTop,          destRight,
                                    destBottom,    sourceLeft,       sourceTop,
                                    sourceRight,   sourceBottom,     destination->width,
                                    source->width, context->offsetX, context->offsetY};
  ComputeSampleMaps(maps, request, firstColumn, lastColumn);
  return 1;
}

LockedSampling::LockedSampling(ThreadContextRecord* context, const SamplingRequest& request,
                               uint32_t flags) {
  context->lastError = ImgErrBadObject;
  if (!destinationLock.Take(request.destination) || !sourceLock.Take(request.source)) return;
  context->lastError = ImgErrGeneral;
  int32_t firstColumn, lastColumn;
  if (!BuildSampleMaps(request.destination, context, request.destLeft, request.destTop,
                       request.destRight, request.destBottom, request.source, request.sourceLeft,
                       request.sourceTop, request.sourceRight, request.sourceBottom, &firstColumn,
                       &lastColumn))
    return;
  range = ClipSampleRange(*context, firstColumn, lastColumn, request.destTop, request.destBottom,
                          flags);
  ready = true;
}
