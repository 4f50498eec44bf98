// Steps the resampling kernels share: row and pixel addressing, the row
// skip test, and the walk of source spans that the two averages use. Each
// scalar reference and its SSE2 twin take these from here, so the two can
// differ only in the arithmetic.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "imaging/pixels/resample_kernels.h"

namespace resample {

inline uint32_t* PlaneRow(const PixelPlane& plane, int64_t y) {
  return plane.pixels + static_cast<std::ptrdiff_t>(y) * plane.stride;
}

inline uint32_t Channel(uint32_t pixel, int k) { return (pixel >> (8 * k)) & 0xFFu; }

// A destination row is written only when it and the source row it rests on
// both lie inside their images.
inline bool RowWritten(const ResampleJob& job, int64_t sourceRow, int32_t y) {
  return sourceRow >= 0 && sourceRow < job.source.height && y >= 0 && y < job.destination.height;
}

// --- The two averages: each destination row or column owns the source span
// that ends one before the next entry's index.

// The last source row of destination row y (64 bits: row entries are not
// clamped, and the tables may hold anything a 32-bit entry can).
inline int64_t SpanEndRow(const ResampleJob& job, int32_t y) {
  return static_cast<int64_t>(job.maps.yIndex[y + 1]) - 1;
}

// The last source row consumed before the first row of the job.
inline int64_t RowBeforeFirstSpan(const ResampleJob& job) {
  return std::max<int64_t>(static_cast<int64_t>(job.maps.yIndex[job.firstRow]) - 1, -1);
}

// The middle row of the span lastRow + 1 .. t, kept inside the source.
inline int64_t MiddleRow(const ResampleJob& job, int64_t lastRow, int64_t t) {
  return std::min<int64_t>(std::max<int64_t>((lastRow + t + 1) >> 1, 0), job.source.height - 1);
}

// Calls row(y, lastRow, t) for each destination row of the job that is
// written, t being its span's last source row and lastRow the last source
// row consumed before it; skipped rows consume their span too.
template <typename RowFunction>
void ForEachAverageRow(const ResampleJob& job, RowFunction row) {
  int64_t lastRow = RowBeforeFirstSpan(job);
  for (int32_t y = job.firstRow; y <= job.lastRow; ++y) {
    const int64_t t = SpanEndRow(job, y);
    if (RowWritten(job, t, y)) row(y, lastRow, t);
    lastRow = std::max(lastRow, t);
  }
}

// The source columns of one destination column: first..last (empty when
// last < first) and the middle column the four-point average reads.
struct ColumnSpan {
  int32_t first;
  int32_t last;
  int32_t middle;
};

inline int32_t ColumnBeforeFirstSpan(const ResampleJob& job) {
  return std::max(job.maps.xIndex[job.firstColumn] - 1, -1);
}

// Walks columns x, x + 1, ... carrying prevCol (the last source column
// consumed) from one to the next.
inline ColumnSpan NextColumnSpan(const ResampleJob& job, int32_t x, int32_t* prevCol) {
  ColumnSpan span;
  span.last = std::max(job.maps.xIndex[x + 1] - 1, 0);
  span.middle = (*prevCol + span.last + 1) >> 1;
  span.first = *prevCol + 1;
  *prevCol = span.last;
  return span;
}

// The area average of n pixels divides in single precision below 65,536
// pixels without the 64-fold reduction; there the sum (below 2^24) and the
// quotient are exact enough that truncation gives floor(S / n). Above a
// 64-fold reduction, and for larger blocks (which only unusual maps make),
// it divides exactly in integers: the average of equal values is that value.
inline bool AreaDividesInSinglePrecision(bool over64, int64_t n) { return !over64 && n < 65536; }

// --- Bilinear and bicubic: the neighbours of a sample index, repeated at
// the image's edge.
inline int32_t NextIndex(int32_t i, int32_t extent) { return i < extent - 1 ? i + 1 : i; }
inline int32_t PreviousIndex(int32_t i) { return i > 0 ? i - 1 : i; }
inline int32_t SecondNextIndex(int32_t i, int32_t extent) {
  int32_t next = NextIndex(i, extent);
  return i < extent - 2 ? next + 1 : next;
}

}  // namespace resample
