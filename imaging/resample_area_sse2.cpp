// Area average, SSE2 twin of the scalar reference. Block sums gather in
// 16-bit lanes (the channels of even and odd pixels side by side) and widen
// to 32-bit lanes before a lane can overflow. The single-precision division
// runs on four lanes, one per channel. The exact division (above a 64-fold
// reduction, and for very large blocks) gathers each block row into double
// lanes, which hold any sum below 2^53 exactly; the quotient of two exact
// doubles truncates to floor(S / n) because a non-integral S / n lies at
// least 1 / n from the next integer, far more than half a unit in the last
// place near 256.
#include <emmintrin.h>

#include "imaging/resample_steps.h"

using namespace resample;

namespace {

constexpr int32_t kStripColumns = 256;

struct StripColumns {
  int32_t first[kStripColumns];
  int32_t last[kStripColumns];
};

// Channel sums of a block under construction.
struct ChannelSums {
  __m128i narrow;       // 8 x 16 bits: channels of even pixels, then of odd pixels
  int32_t narrowCount;  // bound on the values added to any narrow lane
  __m128i wide;         // 4 x 32 bits, one per channel
};

// A 16-bit lane holds 257 values of 255.
constexpr int32_t kNarrowCapacity = 257;
// At most 256 pixels per step: a lane then takes at most 256 / 2 + 2 values.
constexpr int32_t kRunStep = 256;

inline void Widen(ChannelSums* s) {
  const __m128i zero = _mm_setzero_si128();
  s->wide = _mm_add_epi32(s->wide, _mm_add_epi32(_mm_unpacklo_epi16(s->narrow, zero),
                                                 _mm_unpackhi_epi16(s->narrow, zero)));
  s->narrow = zero;
  s->narrowCount = 0;
}

// Adds count pixels from p on.
void AddRun(ChannelSums* s, const uint32_t* p, int32_t count) {
  const __m128i zero = _mm_setzero_si128();
  while (count > 0) {
    const int32_t step = std::min(count, kRunStep);
    const int32_t load = step / 2 + 2;
    if (s->narrowCount + load > kNarrowCapacity) Widen(s);
    s->narrowCount += load;
    __m128i narrow = s->narrow;
    int32_t i = 0;
    for (; i + 4 <= step; i += 4) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
      narrow = _mm_add_epi16(narrow, _mm_add_epi16(_mm_unpacklo_epi8(v, zero),
                                                   _mm_unpackhi_epi8(v, zero)));
    }
    if (i + 2 <= step) {
      const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + i));
      narrow = _mm_add_epi16(narrow, _mm_unpacklo_epi8(v, zero));
      i += 2;
    }
    if (i < step) {
      narrow = _mm_add_epi16(narrow, _mm_unpacklo_epi8(_mm_cvtsi32_si128(int32_t(p[i])), zero));
    }
    s->narrow = narrow;
    p += step;
    count -= step;
  }
}

inline uint32_t PackChannels(__m128i channels) {
  const __m128i words = _mm_packs_epi32(channels, channels);
  return uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(words, words)));
}

// floor(S / n) per channel, S gathered in doubles row by row.
uint32_t ExactAverage(const PixelPlane& source, int64_t firstRow, int64_t lastRow,
                      int32_t firstColumn, int32_t columns, int64_t n) {
  __m128d low = _mm_setzero_pd(), high = _mm_setzero_pd();
  for (int64_t r = firstRow; r <= lastRow; ++r) {
    ChannelSums s = {_mm_setzero_si128(), 0, _mm_setzero_si128()};
    AddRun(&s, PlaneRow(source, r) + firstColumn, columns);
    Widen(&s);
    low = _mm_add_pd(low, _mm_cvtepi32_pd(s.wide));
    high = _mm_add_pd(high, _mm_cvtepi32_pd(_mm_srli_si128(s.wide, 8)));
  }
  const __m128d count = _mm_set1_pd(double(n));
  const __m128i q = _mm_unpacklo_epi64(_mm_cvttpd_epi32(_mm_div_pd(low, count)),
                                       _mm_cvttpd_epi32(_mm_div_pd(high, count)));
  return PackChannels(q);
}

// S / n in single precision, truncated; S < 2^24 here.
uint32_t SinglePrecisionAverage(const PixelPlane& source, int64_t firstRow, int64_t lastRow,
                                int32_t firstColumn, int32_t columns, int64_t n) {
  ChannelSums s = {_mm_setzero_si128(), 0, _mm_setzero_si128()};
  for (int64_t r = firstRow; r <= lastRow; ++r) AddRun(&s, PlaneRow(source, r) + firstColumn, columns);
  Widen(&s);
  const __m128 quotient = _mm_div_ps(_mm_cvtepi32_ps(s.wide), _mm_set1_ps(float(int32_t(n))));
  return PackChannels(_mm_cvttps_epi32(quotient));
}

}  // namespace

void AreaAverageSse2(const ResampleJob& job) {
  StripColumns columns;
  int32_t prevCol = ColumnBeforeFirstSpan(job);
  for (int32_t start = job.firstColumn; start <= job.lastColumn; start += kStripColumns) {
    const int32_t count = std::min(kStripColumns, job.lastColumn - start + 1);
    for (int32_t i = 0; i < count; ++i) {
      const ColumnSpan span = NextColumnSpan(job, start + i, &prevCol);
      columns.first[i] = span.first;
      columns.last[i] = span.last;
    }
    int64_t lastRow = RowBeforeFirstSpan(job);
    for (int32_t y = job.firstRow; y <= job.lastRow; ++y) {
      const int64_t t = SpanEndRow(job, y);
      if (RowWritten(job, t, y)) {
        const uint32_t* lastSourceRow = PlaneRow(job.source, t);
        uint32_t* out = PlaneRow(job.destination, y) + start;
        const int64_t rows = t - lastRow;
        for (int32_t i = 0; i < count; ++i) {
          const int32_t width = columns.last[i] - columns.first[i] + 1;
          const int64_t n = (rows > 0 && width > 0) ? rows * width : 0;
          if (n < 2) {
            out[i] = lastSourceRow[columns.last[i]];
          } else if (AreaDividesInSinglePrecision(job.over64, n)) {
            out[i] = SinglePrecisionAverage(job.source, lastRow + 1, t, columns.first[i], width, n);
          } else {
            out[i] = ExactAverage(job.source, lastRow + 1, t, columns.first[i], width, n);
          }
        }
      }
      lastRow = std::max(lastRow, t);
    }
  }
}
