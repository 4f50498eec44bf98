// Four-point average, SSE2 twin of the scalar reference: the four samples
// widened to 16-bit lanes, one lane per channel, summed and shifted right by
// 2. Four equal samples give their own value through the arithmetic too, so
// the reference's shortcut needs no branch here.
#include "imaging/pixels/sse2_steps.h"

using namespace resample;

namespace {

// The averaged channels of one pixel in the low four 16-bit lanes.
inline __m128i AveragePixel(const uint32_t* middleRow, const uint32_t* lastRow, int32_t middle,
                            int32_t last) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i upper = _mm_unpacklo_epi32(LoadPixel(middleRow[middle]), LoadPixel(middleRow[last]));
  const __m128i lower = _mm_unpacklo_epi32(LoadPixel(lastRow[middle]), LoadPixel(lastRow[last]));
  __m128i sum = _mm_add_epi16(_mm_unpacklo_epi8(upper, zero), _mm_unpacklo_epi8(lower, zero));
  sum = _mm_add_epi16(sum, _mm_srli_si128(sum, 8));
  return _mm_srli_epi16(sum, 2);
}

void AverageRow(const ColumnSpan* spans, int32_t count, const uint32_t* middleRow,
                const uint32_t* lastRow, uint32_t* out) {
  int32_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const __m128i p0 = AveragePixel(middleRow, lastRow, spans[i].middle, spans[i].last);
    const __m128i p1 = AveragePixel(middleRow, lastRow, spans[i + 1].middle, spans[i + 1].last);
    const __m128i p2 = AveragePixel(middleRow, lastRow, spans[i + 2].middle, spans[i + 2].last);
    const __m128i p3 = AveragePixel(middleRow, lastRow, spans[i + 3].middle, spans[i + 3].last);
    const __m128i packed =
        _mm_packus_epi16(_mm_unpacklo_epi64(p0, p1), _mm_unpacklo_epi64(p2, p3));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), packed);
  }
  for (; i < count; ++i) {
    const __m128i p = AveragePixel(middleRow, lastRow, spans[i].middle, spans[i].last);
    out[i] = PackWords(p);
  }
}

}  // namespace

void FourPointAverageSse2(const ResampleJob& job) {
  ColumnSpan spans[kStripColumns];
  ForEachSpanStrip(job, spans, [&](int32_t start, int32_t count) {
    ForEachAverageRow(job, [&](int32_t y, int64_t lastRow, int64_t t) {
      AverageRow(spans, count, PlaneRow(job.source, MiddleRow(job, lastRow, t)),
                 PlaneRow(job.source, t), PlaneRow(job.destination, y) + start);
    });
  });
}
