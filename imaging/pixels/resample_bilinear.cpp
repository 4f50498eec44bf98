// Bilinear interpolation, scalar reference: four neighbours weighted in
// 1/256, the weights derived from the two fractions so that they sum to 256,
// the sum shifted right by 8 with no rounding term.
#include "imaging/pixels/resample_steps.h"

using namespace resample;

void BilinearReference(const ResampleJob& job) {
  const int32_t sourceWidth = job.source.width;
  for (int32_t y = job.firstRow; y <= job.lastRow; ++y) {
    const int32_t y0 = job.maps.yIndex[y];
    if (!RowWritten(job, y0, y)) continue;
    const uint32_t fy = job.maps.yFraction[y];
    const uint32_t* top = PlaneRow(job.source, y0);
    const uint32_t* bottom = PlaneRow(job.source, NextIndex(y0, job.source.height));
    uint32_t* out = PlaneRow(job.destination, y);
    for (int32_t x = job.firstColumn; x <= job.lastColumn; ++x) {
      const int32_t x0 = job.maps.xIndex[x];
      const int32_t x1 = NextIndex(x0, sourceWidth);
      const uint32_t fx = job.maps.xFraction[x];
      const uint32_t tl = top[x0], tr = top[x1], bl = bottom[x0], br = bottom[x1];
      if ((fx == 0 && fy == 0) || (tl == tr && tl == bl && tl == br)) {
        out[x] = tl;
        continue;
      }
      const uint32_t wBR = (fx * fy) >> 8;
      const uint32_t wBL = fy - wBR;
      const uint32_t wTR = fx - wBR;
      const uint32_t wTL = 256 - wTR - wBL - wBR;
      uint32_t pixel = 0;
      for (int k = 0; k < 4; ++k) {
        const uint32_t sum = Channel(tl, k) * wTL + Channel(tr, k) * wTR +
                             Channel(bl, k) * wBL + Channel(br, k) * wBR;
        pixel |= (sum >> 8) << (8 * k);
      }
      out[x] = pixel;
    }
  }
}
