// Sampling inside the library: the sample maps of a thread, point sampling
// and the smooth resampler, and the steps they share with the conversion to
// a DIB section.
#pragma once
#include "imaging/image/image.h"

// Resampling flags of PointSampleImage and ResampleImage; no other bit counts.
enum : uint32_t {
  ResampleClip = 0x100,              // write only inside the context's clip rectangle
  ResampleViaView = 0x200,           // lock the source once and work on a view of its region
  ResampleHighQuality = 0x10000000,  // area average / bicubic instead of four-point / bilinear
};

// Rectangles below are inclusive corners: width = right - left + 1.

// Fills the calling thread's sample maps for one destination rectangle and
// source region, and gives the first and last destination column to write.
// Both images must be locked (their widths are read). 0 or 1.
int BuildSampleMaps(ImageRecord* destination, ThreadContextRecord* context, int32_t destLeft,
                    int32_t destTop, int32_t destRight, int32_t destBottom, ImageRecord* source,
                    int32_t sourceLeft, int32_t sourceTop, int32_t sourceRight,
                    int32_t sourceBottom, int32_t* firstColumn, int32_t* lastColumn);

// Copies or picks source pixels into the destination rectangle, without
// interpolation. 0 or 1.
int PointSampleImage(ImageRecord* destination, int32_t destLeft, int32_t destTop,
                     int32_t destRight, int32_t destBottom, ImageRecord* source,
                     int32_t sourceLeft, int32_t sourceTop, int32_t sourceRight,
                     int32_t sourceBottom, uint32_t flags);

// Fills the destination rectangle from the source region (0, 0) to
// (sourceRight, sourceBottom) with the method the sizes and flags choose.
// 0 or 1.
int ResampleImage(ImageRecord* destination, int32_t destLeft, int32_t destTop,
                  int32_t destRight, int32_t destBottom, ImageRecord* source,
                  int32_t sourceRight, int32_t sourceBottom, uint32_t flags);

// The destination columns and rows a sampling call writes (inclusive); no
// column is written when lastColumn < firstColumn.
struct SampleRange {
  int32_t firstColumn, lastColumn;
  int32_t firstRow, lastRow;
};

// Picks source pixels through the context's maps into the range; rows whose
// source row or destination row lies outside the images keep their pixels.
// With wholeRows (one-to-one columns) each row is one block copy from
// source column firstColumn + sourceShift. Both images are locked.
void PointSampleRows(const ImageRecord& destination, const ImageRecord& source,
                     const ThreadContextRecord& context, const SampleRange& range,
                     int64_t sourceShift, bool wholeRows);

// Attaches view to the locked source's region from (left, top) to (right,
// bottom), cut to the source; left and top must not be negative. The view
// keeps the source's stride. AttachImage's result.
int AttachRegionView(ImageRecord* view, const ImageRecord& source, int32_t left, int32_t top,
                     int32_t right, int32_t bottom);

// A destination rectangle and a source region (inclusive corners).
struct SamplingRequest {
  ImageRecord* destination;
  int32_t destLeft, destTop, destRight, destBottom;
  ImageRecord* source;
  int32_t sourceLeft, sourceTop, sourceRight, sourceBottom;
};

// Shared locks on the destination and then the source, and the thread's
// maps built for the request with the range they give, cut by the flags'
// clip. `ready` tells whether all of it succeeded; otherwise lastError
// holds the reason. The locks go, the source's first, with this record.
struct LockedSampling {
  ImageLockHold destinationLock;
  ImageLockHold sourceLock;
  bool ready = false;
  SampleRange range = {};
  LockedSampling(ThreadContextRecord* context, const SamplingRequest& request, uint32_t flags);
  QLN_NO_COPY(LockedSampling);
};
