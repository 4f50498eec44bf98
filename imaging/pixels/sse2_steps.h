// Steps the SSE2 twins share: the strips of columns they run in, loading a
// pixel, and packing channel lanes back into pixels, the saturation of the
// packs clamping each channel to a byte.
#pragma once
#include <emmintrin.h>

#include <algorithm>
#include <cstdint>

#include "imaging/pixels/resample_steps.h"

namespace resample {

// Columns per strip. A twin keeps per-column state for one strip (spans,
// source columns and weights, cached horizontal results) on the stack.
constexpr int32_t kStripColumns = 256;

// Calls strip(start, count) for the job's columns, kStripColumns at a time.
template <typename StripFunction>
void ForEachStrip(const ResampleJob& job, StripFunction strip) {
  for (int32_t start = job.firstColumn; start <= job.lastColumn; start += kStripColumns)
    strip(start, std::min(kStripColumns, job.lastColumn - start + 1));
}

// ForEachStrip for the two averages: fills spans with the column spans of
// each strip before calling strip(start, count).
template <typename StripFunction>
void ForEachSpanStrip(const ResampleJob& job, ColumnSpan* spans, StripFunction strip) {
  int32_t prevCol = ColumnBeforeFirstSpan(job);
  ForEachStrip(job, [&](int32_t start, int32_t count) {
    for (int32_t i = 0; i < count; ++i) spans[i] = NextColumnSpan(job, start + i, &prevCol);
    strip(start, count);
  });
}

// One pixel in the low 32 bits, the rest zero.
inline __m128i LoadPixel(uint32_t pixel) { return _mm_cvtsi32_si128(int32_t(pixel)); }

// A pixel from its four channels in the low four 16-bit lanes.
inline uint32_t PackWords(__m128i channels) {
  return uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(channels, channels)));
}

// A pixel from its four channels in 32-bit lanes.
inline uint32_t PackDwords(__m128i channels) {
  return PackWords(_mm_packs_epi32(channels, channels));
}

// Four pixels, each from its four channels in 32-bit lanes, stored at out.
inline void StoreFourPixels(uint32_t* out, __m128i p0, __m128i p1, __m128i p2, __m128i p3) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                   _mm_packus_epi16(_mm_packs_epi32(p0, p1), _mm_packs_epi32(p2, p3)));
}

}  // namespace resample
