// Steps shared by the point sampler, the conversion to a DIB section and
// the smooth resampler.
#pragma once
#include "imaging/image_internal.h"
#include "support/owners.h"

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

// UnlockImage for a shared lock taken by Take. The unlock keeps the
// thread's lastError, so that the code of a failure stands when the lock is
// released on the way out.
struct ImageLockHold {
  ImageRecord* image = nullptr;
  bool held = false;
  ImageLockHold() = default;
  bool Take(ImageRecord* record) {
    image = record;
    held = LockImage(record, 0) != 0;
    return held;
  }
  ~ImageLockHold();
  QLN_NO_COPY(ImageLockHold);
};

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
