// Four-point average, scalar reference: per destination pixel the corners
// of its source span's lower right quarter, (middle row, middle column) to
// (last row, last column), averaged by a truncating shift.
#include "imaging/pixels/resample_steps.h"

using namespace resample;

void FourPointAverageReference(const ResampleJob& job) {
  ForEachAverageRow(job, [&job](int32_t y, int64_t lastRow, int64_t t) {
    const uint32_t* middleRow = PlaneRow(job.source, MiddleRow(job, lastRow, t));
    const uint32_t* lastSourceRow = PlaneRow(job.source, t);
    uint32_t* out = PlaneRow(job.destination, y);
    int32_t prevCol = ColumnBeforeFirstSpan(job);
    for (int32_t x = job.firstColumn; x <= job.lastColumn; ++x) {
      const ColumnSpan span = NextColumnSpan(job, x, &prevCol);
      const uint32_t a = middleRow[span.middle];
      const uint32_t b = middleRow[span.last];
      const uint32_t c = lastSourceRow[span.middle];
      const uint32_t d = lastSourceRow[span.last];
      if (a == b && a == c && a == d) {
        out[x] = a;
        continue;
      }
      uint32_t pixel = 0;
      for (int k = 0; k < 4; ++k) {
        const uint32_t sum = Channel(a, k) + Channel(b, k) + Channel(c, k) + Channel(d, k);
        pixel |= (sum >> 2) << (8 * k);
      }
      out[x] = pixel;
    }
  });
}
