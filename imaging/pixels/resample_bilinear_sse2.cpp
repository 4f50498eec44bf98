// Bilinear interpolation, SSE2 twin of the scalar reference. One channel per
// lane: each pair of horizontal neighbours is interleaved channel by channel
// into 16-bit lanes, so one pmaddwd forms TL * wTL + TR * wTR (and the
// bottom pair likewise) for all four channels. The sum never exceeds
// 65,280, the shift by 8 truncates as the reference does, and the
// reference's shortcuts (both fractions 0, four equal samples) give the very
// value the arithmetic gives, so the twin has no branches for them.
#include "imaging/pixels/sse2_steps.h"

using namespace resample;

namespace {

// Per column of a strip: the two source columns and the fraction.
struct StripColumns {
  int32_t x0[kStripColumns];
  int32_t x1[kStripColumns];
  int32_t fx[kStripColumns];
};

// Channel sums of one pixel in four 32-bit lanes, already shifted by 8.
inline __m128i BlendPixel(const uint32_t* top, const uint32_t* bottom, int32_t x0, int32_t x1,
                          __m128i topWeights, __m128i bottomWeights) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i topPair = _mm_unpacklo_epi8(_mm_unpacklo_epi8(LoadPixel(top[x0]), LoadPixel(top[x1])), zero);
  const __m128i bottomPair =
      _mm_unpacklo_epi8(_mm_unpacklo_epi8(LoadPixel(bottom[x0]), LoadPixel(bottom[x1])), zero);
  const __m128i sum = _mm_add_epi32(_mm_madd_epi16(topPair, topWeights),
                                    _mm_madd_epi16(bottomPair, bottomWeights));
  return _mm_srli_epi32(sum, 8);
}

// The weights of four columns as (wTL | wTR << 16) and (wBL | wBR << 16),
// one column per 32-bit lane.
inline void Weights(__m128i fx, __m128i fy, __m128i* top, __m128i* bottom) {
  const __m128i wBR = _mm_srli_epi32(_mm_mullo_epi16(fx, fy), 8);  // fx * fy < 65,536
  const __m128i wBL = _mm_sub_epi32(fy, wBR);
  const __m128i wTR = _mm_sub_epi32(fx, wBR);
  const __m128i wTL =
      _mm_sub_epi32(_mm_sub_epi32(_mm_sub_epi32(_mm_set1_epi32(256), wTR), wBL), wBR);
  *top = _mm_or_si128(wTL, _mm_slli_epi32(wTR, 16));
  *bottom = _mm_or_si128(wBL, _mm_slli_epi32(wBR, 16));
}

void BlendRow(const StripColumns& columns, int32_t count, const uint32_t* top,
              const uint32_t* bottom, uint32_t fy, uint32_t* out) {
  const __m128i fyLanes = _mm_set1_epi32(int32_t(fy));
  int32_t i = 0;
  for (; i + 4 <= count; i += 4) {
    __m128i topW, bottomW;
    Weights(_mm_loadu_si128(reinterpret_cast<const __m128i*>(columns.fx + i)), fyLanes, &topW,
            &bottomW);
    const __m128i p0 = BlendPixel(top, bottom, columns.x0[i], columns.x1[i],
                                  _mm_shuffle_epi32(topW, 0x00), _mm_shuffle_epi32(bottomW, 0x00));
    const __m128i p1 = BlendPixel(top, bottom, columns.x0[i + 1], columns.x1[i + 1],
                                  _mm_shuffle_epi32(topW, 0x55), _mm_shuffle_epi32(bottomW, 0x55));
    const __m128i p2 = BlendPixel(top, bottom, columns.x0[i + 2], columns.x1[i + 2],
                                  _mm_shuffle_epi32(topW, 0xAA), _mm_shuffle_epi32(bottomW, 0xAA));
    const __m128i p3 = BlendPixel(top, bottom, columns.x0[i + 3], columns.x1[i + 3],
                                  _mm_shuffle_epi32(topW, 0xFF), _mm_shuffle_epi32(bottomW, 0xFF));
    StoreFourPixels(out + i, p0, p1, p2, p3);
  }
  for (; i < count; ++i) {
    __m128i topW, bottomW;
    Weights(_mm_set1_epi32(columns.fx[i]), fyLanes, &topW, &bottomW);
    const __m128i p = BlendPixel(top, bottom, columns.x0[i], columns.x1[i], topW, bottomW);
    out[i] = PackDwords(p);
  }
}

}  // namespace

void BilinearSse2(const ResampleJob& job) {
  StripColumns columns;
  ForEachStrip(job, [&](int32_t start, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
      columns.x0[i] = job.maps.xIndex[start + i];
      columns.x1[i] = NextIndex(columns.x0[i], job.source.width);
      columns.fx[i] = job.maps.xFraction[start + i];
    }
    for (int32_t y = job.firstRow; y <= job.lastRow; ++y) {
      const int32_t y0 = job.maps.yIndex[y];
      if (!RowWritten(job, y0, y)) continue;
      BlendRow(columns, count, PlaneRow(job.source, y0),
               PlaneRow(job.source, NextIndex(y0, job.source.height)), job.maps.yFraction[y],
               PlaneRow(job.destination, y) + start);
    }
  });
}
