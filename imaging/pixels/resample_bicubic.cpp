// Bicubic interpolation (cubic convolution, a = -1), scalar reference: a
// horizontal pass over four source rows, each rounded and clamped to a
// byte, then a vertical pass over the four results, in single precision one
// operation at a time.
#include <cmath>

#include "imaging/pixels/resample_steps.h"

using namespace resample;

namespace {

struct CubicPowers {
  float t, t2, t3;
};

CubicPowers PowersOf(uint32_t fraction) {
  CubicPowers p;
  p.t = float(fraction) * 0.00390625f;
  p.t2 = p.t * p.t;
  p.t3 = p.t2 * p.t;
  return p;
}

// lrintf rounds in the current mode, which is to nearest, ties to even.
uint32_t Cubic(uint32_t s0, uint32_t s1, uint32_t s2, uint32_t s3, const CubicPowers& w) {
  const float p0 = float(s0), p1 = float(s1), p2 = float(s2), p3 = float(s3);
  const float a3 = p3 + p1 - p2 - p0;
  const float a2 = p0 - p1 - a3;
  const float a1 = p2 - p0;
  const float value = ((a3 * w.t3 + a2 * w.t2) + a1 * w.t) + p1;
  const long rounded = lrintf(value);
  return uint32_t(std::min(std::max(rounded, 0L), 255L));
}

}  // namespace

void BicubicReference(const ResampleJob& job) {
  const int32_t sourceWidth = job.source.width;
  const int32_t sourceHeight = job.source.height;
  for (int32_t y = job.firstRow; y <= job.lastRow; ++y) {
    const int32_t y0 = job.maps.yIndex[y];
    if (!RowWritten(job, y0, y)) continue;
    const uint32_t fy = job.maps.yFraction[y];
    const CubicPowers vertical = PowersOf(fy);
    const uint32_t* rows[4] = {
        PlaneRow(job.source, PreviousIndex(y0)), PlaneRow(job.source, y0),
        PlaneRow(job.source, NextIndex(y0, sourceHeight)),
        PlaneRow(job.source, SecondNextIndex(y0, sourceHeight))};
    uint32_t* out = PlaneRow(job.destination, y);
    for (int32_t x = job.firstColumn; x <= job.lastColumn; ++x) {
      const int32_t x0 = job.maps.xIndex[x];
      const uint32_t fx = job.maps.xFraction[x];
      if (fx == 0 && fy == 0) {
        out[x] = rows[1][x0];
        continue;
      }
      const int32_t columns[4] = {PreviousIndex(x0), x0, NextIndex(x0, sourceWidth),
                                  SecondNextIndex(x0, sourceWidth)};
      const CubicPowers horizontal = PowersOf(fx);
      uint32_t pixel = 0;
      for (int k = 0; k < 4; ++k) {
        uint32_t across[4];
        for (int r = 0; r < 4; ++r) {
          const uint32_t* row = rows[r];
          across[r] = Cubic(Channel(row[columns[0]], k), Channel(row[columns[1]], k),
                            Channel(row[columns[2]], k), Channel(row[columns[3]], k), horizontal);
        }
        pixel |= Cubic(across[0], across[1], across[2], across[3], vertical) << (8 * k);
      }
      out[x] = pixel;
    }
  }
}
