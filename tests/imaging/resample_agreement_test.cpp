// Seeded random agreement of each resampling kernel's SSE2 twin with its
// scalar reference, bit for bit: many sizes and strides, column and row
// sub-ranges as a clip rectangle gives them, rows beyond the destination,
// the 64-fold flag on and off, arbitrary (unordered) maps as well as maps
// from the sample-map arithmetic with offsets. No Windows types: the same
// program also runs natively under the sanitizers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/pixels/resample_kernels.h"
#include "imaging/pixels/sample_maps.h"
#include "imaging/seams.h"

namespace {

#ifndef RESAMPLE_AGREEMENT_ROUNDS
#define RESAMPLE_AGREEMENT_ROUNDS 400
#endif

constexpr uint32_t kSeed = 0x51A7E5u;
constexpr int32_t kGuardPixels = 16;

// xorshift32: the same sequence from every compiler and library.
struct Random {
  uint32_t state;
  uint32_t Next() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  }
  int32_t Range(int32_t low, int32_t high) {  // inclusive
    return low + int32_t(Next() % uint32_t(high - low + 1));
  }
  bool Chance(int percent) { return Range(0, 99) < percent; }
};

// Pictures of several characters: noise, flat patches (equal samples, the
// shortcuts), hard black and white edges (bicubic overshoot both ways), and
// smooth ramps.
uint32_t PixelFor(Random& random, int style, int32_t x, int32_t y) {
  switch (style) {
    case 0:
      return random.Next();
    case 1:
      return ((x / 3 + y / 2) % 2) ? 0xFFFFFFFFu : 0xFF000000u;
    case 2:
      return random.Chance(80) ? 0x80402010u : random.Next();
    default: {
      const uint32_t v = uint32_t(x * 7 + y * 3) & 0xFF;
      return v | ((255 - v) << 8) | ((v ^ 0x5A) << 16) | (uint32_t(y) & 0xFF) << 24;
    }
  }
}

struct Maps {
  std::vector<int32_t> xIndex, yIndex;
  std::vector<uint8_t> xFraction, yFraction;
};

Maps EmptyMaps() {
  Maps m;
  m.xIndex.assign(MapXIndexEntries, 0);
  m.yIndex.assign(MapYIndexEntries, 0);
  m.xFraction.assign(MapXFractionEntries, 0);
  m.yFraction.assign(MapYFractionEntries, 0);
  return m;
}

// Arbitrary entries: columns inside the source (the map builder clamps
// them), rows anywhere near it (it does not); optionally sorted, as real
// maps are.
void FillRandomMaps(Random& random, Maps* m, int32_t sourceWidth, int32_t sourceHeight,
                    int32_t columns, int32_t rows) {
  const bool sorted = random.Chance(50);
  for (int32_t i = 0; i <= columns; ++i) {
    m->xIndex[i] = random.Range(0, sourceWidth - 1);
    m->xFraction[i] = uint8_t(random.Chance(20) ? 0 : random.Next());
  }
  for (int32_t i = 0; i <= rows; ++i) {
    m->yIndex[i] = random.Chance(90) ? random.Range(0, sourceHeight - 1)
                                     : random.Range(-3, sourceHeight + 3);
    m->yFraction[i] = uint8_t(random.Chance(20) ? (random.Chance(50) ? 0 : 128) : random.Next());
  }
  if (sorted) {
    std::sort(m->xIndex.begin(), m->xIndex.begin() + columns + 1);
    std::sort(m->yIndex.begin(), m->yIndex.begin() + rows + 1);
  }
}

struct Trial {
  std::string what;
  std::vector<uint32_t> source;
  PixelPlane sourcePlane;
  int32_t destinationWidth, destinationHeight, destinationStride;
  Maps maps;
  int32_t firstColumn, lastColumn, firstRow, lastRow;
  bool over64;
};

// A source of random size and stride, and a destination that reduces it,
// enlarges it, or mixes the two.
void MakeImages(Random& random, Trial* trial) {
  const int kind = random.Range(0, 9);
  int32_t sw, sh, dw, dh;
  if (kind < 3) {  // reduction, sometimes far beyond 64-fold, rows over 256 pixels
    dw = random.Range(1, 12);
    dh = random.Range(1, 12);
    sw = dw * random.Range(1, random.Chance(30) ? 90 : 8) + random.Range(0, 5);
    sh = dh * random.Range(1, random.Chance(30) ? 90 : 8) + random.Range(0, 5);
    sw = std::min(sw, 1400);
    sh = std::min(sh, 700);
  } else if (kind < 6) {  // enlargement
    sw = random.Range(1, 24);
    sh = random.Range(1, 24);
    dw = sw * random.Range(1, 5) + random.Range(0, 7);
    dh = sh * random.Range(1, 5) + random.Range(0, 7);
  } else {
    sw = random.Range(1, 300);
    sh = random.Range(1, 60);
    dw = random.Range(1, 300);
    dh = random.Range(1, 60);
  }
  const int32_t stride = sw + (random.Chance(50) ? 0 : random.Range(1, 9));
  const int style = random.Range(0, 3);
  trial->source.assign(size_t(stride) * sh, 0);
  for (int32_t y = 0; y < sh; ++y)
    for (int32_t x = 0; x < sw; ++x) trial->source[size_t(y) * stride + x] = PixelFor(random, style, x, y);
  trial->sourcePlane = {trial->source.data(), sw, sh, stride};
  trial->destinationWidth = dw;
  trial->destinationHeight = dh;
  trial->destinationStride = dw + (random.Chance(50) ? 0 : random.Range(1, 5));
}

// Columns and rows as a clip rectangle leaves them; rows may run past the
// destination's last row, which the kernels skip.
void ChooseRanges(Random& random, Trial* trial) {
  const int32_t dw = trial->destinationWidth, dh = trial->destinationHeight;
  trial->firstColumn = random.Chance(60) ? 0 : random.Range(0, dw - 1);
  trial->lastColumn = random.Chance(60) ? dw - 1 : random.Range(trial->firstColumn, dw - 1);
  trial->firstRow = random.Chance(60) ? 0 : random.Range(0, dh - 1);
  trial->lastRow = random.Chance(60) ? dh - 1 : random.Range(trial->firstRow, dh + 2);
}

Trial MakeTrial(Random& random, int round) {
  Trial trial;
  MakeImages(random, &trial);
  trial.maps = EmptyMaps();
  const bool real = false;
  ChooseRanges(random, &trial);
  FillRandomMaps(random, &trial.maps, trial.sourcePlane.width, trial.sourcePlane.height,
                 trial.lastColumn + 1, trial.lastRow + 1);
  trial.over64 = random.Chance(50);
  trial.what = "round " + std::to_string(round) + (real ? " real maps " : " random maps ") +
               std::to_string(trial.sourcePlane.width) + "x" +
               std::to_string(trial.sourcePlane.height) + " (stride " +
               std::to_string(trial.sourcePlane.stride) + ") -> " +
               std::to_string(trial.destinationWidth) + "x" +
               std::to_string(trial.destinationHeight) + " columns " +
               std::to_string(trial.firstColumn) + ".." + std::to_string(trial.lastColumn) +
               " rows " + std::to_string(trial.firstRow) + ".." + std::to_string(trial.lastRow) +
               (trial.over64 ? " over64" : "");
  return trial;
}

std::vector<uint32_t> RunKernel(const Trial& trial, ResampleKernel kernel, uint32_t fill) {
  std::vector<uint32_t> destination(
      size_t(trial.destinationStride) * trial.destinationHeight + kGuardPixels, fill);
  const ResampleJob job{
      {destination.data(), trial.destinationWidth, trial.destinationHeight,
       trial.destinationStride},
      trial.sourcePlane,
      {trial.maps.xIndex.data(), trial.maps.xFraction.data(), trial.maps.yIndex.data(),
       trial.maps.yFraction.data()},
      trial.firstColumn, trial.lastColumn, trial.firstRow, trial.lastRow, trial.over64};
  kernel(job);
  return destination;
}

// The kernel a resampling by this method runs, with the switch that runs a
// resampling on the scalar references on or off.
ResampleKernel ChosenKernel(ResampleMethod method, bool referencesOnly) {
  ImagingSeams.referenceKernelsOnly = referencesOnly;
  const ResampleKernel kernel = KernelFor(method, true);
  ImagingSeams.referenceKernelsOnly = false;
  return kernel;
}

}  // namespace

TEST(ResampleKernelAgreement, Sse2MatchesReferenceBitForBit) {
  Random random{kSeed};
  for (int round = 0; round < RESAMPLE_AGREEMENT_ROUNDS; ++round) {
    const Trial trial = MakeTrial(random, round);
    const uint32_t fill = random.Next();
    for (int m = 0; m < MethodCount; ++m) {
      const char* const name = ResampleKernels[m].name;
      const ResampleKernel reference = ChosenKernel(ResampleMethod(m), true);
      const ResampleKernel sse2 = ChosenKernel(ResampleMethod(m), false);
      ASSERT_NE(reference, sse2) << name;
      const std::vector<uint32_t> expected = RunKernel(trial, reference, fill);
      const std::vector<uint32_t> got = RunKernel(trial, sse2, fill);
      size_t mismatch = 0;
      while (mismatch < got.size() && got[mismatch] == expected[mismatch]) ++mismatch;
      ASSERT_EQ(mismatch, got.size())
          << name << ", seed " << kSeed << ", " << trial.what << ": pixel " << mismatch
          << std::hex << " sse2 0x" << got[mismatch] << " reference 0x" << expected[mismatch];
      for (int32_t i = 0; i < kGuardPixels; ++i)
        ASSERT_EQ(got[got.size() - 1 - i], fill) << name << " wrote past the plane, " << trial.what;
    }
  }
}
