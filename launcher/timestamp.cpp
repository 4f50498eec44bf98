#include "launcher/timestamp.h"

#include <cmath>

uint64_t ComposeTimestamp(uint32_t tickMs, uint64_t counter, uint64_t frequency) {
  const double micro =
      static_cast<double>(counter) * 1000000.0 / static_cast<double>(frequency) + 0.5;
  uint64_t microField = 0;
  // A double to integer conversion outside the target's range is undefined,
  // so take the field from the value itself: fmod is exact, and for values
  // below 2^64 it equals the truncated integer modulo 2^37.
  if (std::isfinite(micro) && micro >= 0.0)
    microField = static_cast<uint64_t>(std::fmod(micro, 137438953472.0));  // 2^37
  return ((uint64_t{tickMs} & kTimestampTickMask) << kTimestampMicroBits) |
         (microField & kTimestampMicroMask);
}

double ElapsedSeconds(uint64_t earlier, uint64_t later) {
  int64_t ticks = static_cast<int64_t>(later >> kTimestampMicroBits) -
                  static_cast<int64_t>(earlier >> kTimestampMicroBits);
  if (ticks < 0) ticks += int64_t{1} << 27;
  int64_t micros = static_cast<int64_t>(later & kTimestampMicroMask) -
                   static_cast<int64_t>(earlier & kTimestampMicroMask);
  if (micros < 0) micros += int64_t{1} << kTimestampMicroBits;
  const double r = static_cast<double>(ticks) * 0.001;
  const double v = static_cast<double>(micros) * 0.000001;
  if (r < 0.1) return v < 60.0 ? v : r;
  const double w = std::fabs(v - r) / r;
  if (w < 0.1) return v;
  if (w < 0.3333 && (v > r ? v : r) < 1.0) return v;
  return r;
}
