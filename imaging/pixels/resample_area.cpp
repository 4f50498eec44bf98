// Area average, scalar reference: a box filter over each destination
// pixel's source span, every source pixel counted once.
#include "imaging/pixels/resample_steps.h"

using namespace resample;

void AreaAverageReference(const ResampleJob& job) {
  ForEachAverageRow(job, [&job](int32_t y, int64_t lastRow, int64_t t) {
    const uint32_t* lastSourceRow = PlaneRow(job.source, t);
    uint32_t* out = PlaneRow(job.destination, y);
    int32_t prevCol = ColumnBeforeFirstSpan(job);
    for (int32_t x = job.firstColumn; x <= job.lastColumn; ++x) {
      const ColumnSpan span = NextColumnSpan(job, x, &prevCol);
      const int64_t rows = t - lastRow;
      const int64_t columns = int64_t(span.last) - span.first + 1;
      const int64_t n = (rows > 0 && columns > 0) ? rows * columns : 0;
      if (n < 2) {
        out[x] = lastSourceRow[span.last];
        continue;
      }
      uint64_t sum[4] = {0, 0, 0, 0};
      for (int64_t r = lastRow + 1; r <= t; ++r) {
        const uint32_t* row = PlaneRow(job.source, r);
        for (int32_t c = span.first; c <= span.last; ++c) {
          for (int k = 0; k < 4; ++k) sum[k] += Channel(row[c], k);
        }
      }
      uint32_t pixel = 0;
      for (int k = 0; k < 4; ++k) {
        uint32_t average;
        if (AreaDividesInSinglePrecision(job.over64, n)) {
          average = uint32_t(float(int32_t(sum[k])) / float(int32_t(n)));
        } else {
          average = uint32_t(sum[k] / uint64_t(n));
        }
        pixel |= average << (8 * k);
      }
      out[x] = pixel;
    }
  });
}
