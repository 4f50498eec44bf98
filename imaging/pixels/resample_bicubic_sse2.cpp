// Bicubic interpolation, SSE2 twin of the scalar reference, one channel per
// single-precision lane, the operations in the reference's order.
//
// The horizontal pass of a source row at a destination column depends on
// nothing else, and its result is rounded and clamped to a whole byte value
// before the vertical pass reads it. So each is computed once and kept:
// columns run in strips, and per strip four row buffers hold the
// horizontal results of the last source rows used. Consecutive destination
// rows share three or four of their four source rows, which saves most of
// the horizontal work and changes no bit.
//
// Rounding is cvtps2dq in the default mode, to nearest with ties to even;
// the final clamp is the saturation of the two packs. Both fractions 0 give
// the pixel (y0, x0) through the arithmetic as well (t = 0 leaves p1), so
// the reference's shortcut needs no branch.
#include "imaging/pixels/sse2_steps.h"

using namespace resample;

namespace {

constexpr int kCachedRows = 4;

struct Powers {
  __m128 t, t2, t3;
};

Powers PowersOf(uint32_t fraction) {
  const float t = float(fraction) * 0.00390625f;
  const float t2 = t * t;
  const float t3 = t2 * t;
  return {_mm_set1_ps(t), _mm_set1_ps(t2), _mm_set1_ps(t3)};
}

// Per column of a strip: the four source columns and the powers of fx.
struct StripColumns {
  int32_t first[kStripColumns];  // column -1
  bool contiguous[kStripColumns];  // columns -1, 0, +1, +2 are first .. first + 3
  int32_t columns[kStripColumns][4];
  Powers powers[kStripColumns];
};

// Horizontal results of one source row for the strip's columns.
struct RowCache {
  int64_t sourceRow[kCachedRows];  // -1: empty
  __m128 values[kCachedRows][kStripColumns];
};

inline __m128 Cubic(__m128 p0, __m128 p1, __m128 p2, __m128 p3, const Powers& w) {
  const __m128 a3 = _mm_sub_ps(_mm_sub_ps(_mm_add_ps(p3, p1), p2), p0);
  const __m128 a2 = _mm_sub_ps(_mm_sub_ps(p0, p1), a3);
  const __m128 a1 = _mm_sub_ps(p2, p0);
  return _mm_add_ps(
      _mm_add_ps(_mm_add_ps(_mm_mul_ps(a3, w.t3), _mm_mul_ps(a2, w.t2)), _mm_mul_ps(a1, w.t)), p1);
}

void HorizontalPass(const StripColumns& strip, int32_t count, const uint32_t* row, __m128* out) {
  const __m128i zero = _mm_setzero_si128();
  const __m128 low = _mm_setzero_ps();
  const __m128 high = _mm_set1_ps(255.0f);
  for (int32_t i = 0; i < count; ++i) {
    __m128i four;
    if (strip.contiguous[i]) {
      four = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + strip.first[i]));
    } else {
      const int32_t* c = strip.columns[i];
      four = _mm_unpacklo_epi64(_mm_unpacklo_epi32(LoadPixel(row[c[0]]), LoadPixel(row[c[1]])),
                                _mm_unpacklo_epi32(LoadPixel(row[c[2]]), LoadPixel(row[c[3]])));
    }
    const __m128i front = _mm_unpacklo_epi8(four, zero);
    const __m128i back = _mm_unpackhi_epi8(four, zero);
    const __m128 value =
        Cubic(_mm_cvtepi32_ps(_mm_unpacklo_epi16(front, zero)),
              _mm_cvtepi32_ps(_mm_unpackhi_epi16(front, zero)),
              _mm_cvtepi32_ps(_mm_unpacklo_epi16(back, zero)),
              _mm_cvtepi32_ps(_mm_unpackhi_epi16(back, zero)), strip.powers[i]);
    const __m128 rounded = _mm_cvtepi32_ps(_mm_cvtps_epi32(value));
    out[i] = _mm_min_ps(_mm_max_ps(rounded, low), high);
  }
}

void VerticalPass(const __m128* const in[4], int32_t count, const Powers& w, uint32_t* out) {
  int32_t i = 0;
  for (; i + 4 <= count; i += 4) {
    __m128i r[4];
    for (int k = 0; k < 4; ++k)
      r[k] = _mm_cvtps_epi32(Cubic(in[0][i + k], in[1][i + k], in[2][i + k], in[3][i + k], w));
    StoreFourPixels(out + i, r[0], r[1], r[2], r[3]);
  }
  for (; i < count; ++i) {
    const __m128i r = _mm_cvtps_epi32(Cubic(in[0][i], in[1][i], in[2][i], in[3][i], w));
    out[i] = PackDwords(r);
  }
}

void PrepareStrip(const ResampleJob& job, int32_t start, int32_t count, StripColumns* strip) {
  const int32_t width = job.source.width;
  for (int32_t i = 0; i < count; ++i) {
    const int32_t x0 = job.maps.xIndex[start + i];
    int32_t* c = strip->columns[i];
    c[0] = PreviousIndex(x0);
    c[1] = x0;
    c[2] = NextIndex(x0, width);
    c[3] = SecondNextIndex(x0, width);
    strip->first[i] = c[0];
    strip->contiguous[i] = c[1] == c[0] + 1 && c[2] == c[0] + 2 && c[3] == c[0] + 3;
    strip->powers[i] = PowersOf(job.maps.xFraction[start + i]);
  }
}

// The cached horizontal results of source row r, computed into a slot that
// holds none of the rows the current destination row needs.
const __m128* CachedRow(const ResampleJob& job, const StripColumns& strip, int32_t count,
                        const int64_t needed[4], int64_t r, RowCache* cache) {
  int slot = -1;
  for (int s = 0; s < kCachedRows; ++s) {
    if (cache->sourceRow[s] == r) return cache->values[s];
    if (slot < 0 && cache->sourceRow[s] != needed[0] && cache->sourceRow[s] != needed[1] &&
        cache->sourceRow[s] != needed[2] && cache->sourceRow[s] != needed[3])
      slot = s;
  }
  HorizontalPass(strip, count, PlaneRow(job.source, r), cache->values[slot]);
  cache->sourceRow[slot] = r;
  return cache->values[slot];
}

}  // namespace

void BicubicSse2(const ResampleJob& job) {
  static_assert(sizeof(StripColumns) + sizeof(RowCache) < 64 * 1024, "strip state on the stack");
  StripColumns strip;
  RowCache cache;
  const int32_t height = job.source.height;
  ForEachStrip(job, [&](int32_t start, int32_t count) {
    PrepareStrip(job, start, count, &strip);
    for (int s = 0; s < kCachedRows; ++s) cache.sourceRow[s] = -1;
    for (int32_t y = job.firstRow; y <= job.lastRow; ++y) {
      const int32_t y0 = job.maps.yIndex[y];
      if (!RowWritten(job, y0, y)) continue;
      const int64_t needed[4] = {PreviousIndex(y0), y0, NextIndex(y0, height),
                                 SecondNextIndex(y0, height)};
      const __m128* in[4];
      for (int k = 0; k < 4; ++k) in[k] = CachedRow(job, strip, count, needed, needed[k], &cache);
      VerticalPass(in, count, PowersOf(job.maps.yFraction[y]), PlaneRow(job.destination, y) + start);
    }
  });
}
