// Area average, SSE2 twin of the scalar reference. Block sums gather in
// 16-bit lanes (the channels of even and odd pixels side by side) and widen
// to 32-bit lanes before a lane can overflow. The single-precision division
// runs on four lanes, one per channel. The exact division (above a 64-fold
// reduction, and for very large blocks) gathers each block row into double
// lanes, which hold any sum below 2^53 exactly; the quotient of two exact
// doubles truncates to floor(S / n) because a non-integral S / n lies at
// least 1 / n from the next integer, far more than half a unit in the last
// place near 256.
#include "imaging/pixels/sse2_steps.h"

using namespace resample;

namespace {

// A 16-bit lane holds 257 values of 255. A row of w pixels adds at most
// w / 2 + 2 values to any lane (two per four-pixel load, one for each of
// the two-pixel and one-pixel tails).
constexpr int64_t kNarrowCapacity = 257;
// A run of at most kRunStep pixels is widened before its lanes overflow.
constexpr int32_t kRunStep = 256;
static_assert(kRunStep / 2 + 2 <= kNarrowCapacity, "a run fits the 16-bit lanes");

// Adds width pixels from p to 8 x 16-bit lanes: the channels of even
// pixels, then of odd pixels.
inline __m128i AddRun(__m128i narrow, const uint32_t* p, int32_t width) {
  const __m128i zero = _mm_setzero_si128();
  int32_t i = 0;
  for (; i + 4 <= width; i += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    narrow = _mm_add_epi16(narrow, _mm_add_epi16(_mm_unpacklo_epi8(v, zero),
                                                 _mm_unpackhi_epi8(v, zero)));
  }
  if (width & 2) {
    const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + i));
    narrow = _mm_add_epi16(narrow, _mm_unpacklo_epi8(v, zero));
    i += 2;
  }
  if (width & 1) {
    narrow = _mm_add_epi16(narrow, _mm_unpacklo_epi8(LoadPixel(p[i]), zero));
  }
  return narrow;
}

// 8 x 16-bit lanes folded into 4 x 32-bit channel sums.
inline __m128i Widen(__m128i narrow) {
  const __m128i zero = _mm_setzero_si128();
  return _mm_add_epi32(_mm_unpacklo_epi16(narrow, zero), _mm_unpackhi_epi16(narrow, zero));
}

// Channel sums of one row of the block, 4 x 32 bits.
inline __m128i RowSum(const uint32_t* p, int32_t width) {
  __m128i wide = _mm_setzero_si128();
  for (int32_t done = 0; done < width; done += kRunStep)
    wide = _mm_add_epi32(wide, Widen(AddRun(_mm_setzero_si128(), p + done,
                                            std::min(kRunStep, width - done))));
  return wide;
}

// A block: rows of width pixels from p on, stride apart.
struct Block {
  const uint32_t* p;
  std::ptrdiff_t stride;
  int64_t rows;
  int32_t width;
  int64_t n;
};

// floor(S / n) per channel, S gathered in doubles row by row.
uint32_t ExactAverage(const Block& b) {
  __m128d low = _mm_setzero_pd(), high = _mm_setzero_pd();
  const uint32_t* p = b.p;
  for (int64_t r = 0; r < b.rows; ++r, p += b.stride) {
    const __m128i row = RowSum(p, b.width);
    low = _mm_add_pd(low, _mm_cvtepi32_pd(row));
    high = _mm_add_pd(high, _mm_cvtepi32_pd(_mm_srli_si128(row, 8)));
  }
  const __m128d count = _mm_set1_pd(double(b.n));
  return PackDwords(_mm_unpacklo_epi64(_mm_cvttpd_epi32(_mm_div_pd(low, count)),
                                         _mm_cvttpd_epi32(_mm_div_pd(high, count))));
}

// The narrow sums of a block of a fixed small width, the usual case of
// reductions up to fourfold, with the run's loop and tails unrolled.
template <int kWidth>
inline __m128i NarrowBlock(const uint32_t* p, std::ptrdiff_t stride, int64_t rows) {
  const __m128i zero = _mm_setzero_si128();
  __m128i narrow = zero;
  for (int64_t r = 0; r < rows; ++r, p += stride) {
    if (kWidth == 4) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      narrow = _mm_add_epi16(narrow, _mm_add_epi16(_mm_unpacklo_epi8(v, zero),
                                                   _mm_unpackhi_epi8(v, zero)));
    } else {
      const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
      narrow = _mm_add_epi16(narrow, _mm_unpacklo_epi8(v, zero));
      if (kWidth == 3)
        narrow = _mm_add_epi16(narrow, _mm_unpacklo_epi8(LoadPixel(p[2]), zero));
    }
  }
  return narrow;
}

// S / n in single precision, truncated; S < 2^24 here. Small blocks (the
// usual case) gather in 16-bit lanes throughout.
uint32_t SinglePrecisionAverage(const Block& b) {
  const uint32_t* p = b.p;
  __m128i sum;
  if (b.rows * (b.width / 2 + 2) <= kNarrowCapacity) {
    switch (b.width) {
      case 2: sum = Widen(NarrowBlock<2>(p, b.stride, b.rows)); break;
      case 3: sum = Widen(NarrowBlock<3>(p, b.stride, b.rows)); break;
      case 4: sum = Widen(NarrowBlock<4>(p, b.stride, b.rows)); break;
      default: {
        __m128i narrow = _mm_setzero_si128();
        for (int64_t r = 0; r < b.rows; ++r, p += b.stride) narrow = AddRun(narrow, p, b.width);
        sum = Widen(narrow);
      }
    }
  } else {
    sum = _mm_setzero_si128();
    for (int64_t r = 0; r < b.rows; ++r, p += b.stride) sum = _mm_add_epi32(sum, RowSum(p, b.width));
  }
  const __m128 quotient = _mm_div_ps(_mm_cvtepi32_ps(sum), _mm_set1_ps(float(int32_t(b.n))));
  return PackDwords(_mm_cvttps_epi32(quotient));
}

}  // namespace

void AreaAverageSse2(const ResampleJob& job) {
  ColumnSpan spans[kStripColumns];
  ForEachSpanStrip(job, spans, [&](int32_t start, int32_t count) {
    ForEachAverageRow(job, [&](int32_t y, int64_t lastRow, int64_t t) {
      const uint32_t* lastSourceRow = PlaneRow(job.source, t);
      uint32_t* out = PlaneRow(job.destination, y) + start;
      const int64_t rows = t - lastRow;
      for (int32_t i = 0; i < count; ++i) {
        const int32_t width = spans[i].last - spans[i].first + 1;
        const int64_t n = (rows > 0 && width > 0) ? rows * width : 0;
        if (n < 2) {
          out[i] = lastSourceRow[spans[i].last];
          continue;
        }
        const Block block = {PlaneRow(job.source, lastRow + 1) + spans[i].first, job.source.stride,
                             rows, width, n};
        out[i] = AreaDividesInSinglePrecision(job.over64, n) ? SinglePrecisionAverage(block)
                                                             : ExactAverage(block);
      }
    });
  });
}
