// BuildSampleMaps: the calling thread's map block, filled for one request.
#include "imaging/imaging.h"
#include "imaging/sample_maps.h"

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
