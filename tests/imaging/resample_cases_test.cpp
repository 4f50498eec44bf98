// The resampling kernels on small hand-made maps whose every output pixel is
// worked out by hand: which source pixels each average reads, the area
// average's division (including blocks whose sum needs more than 32 bits),
// the bilinear weights, the bicubic clamps after each pass and its rounding
// of ties to even, and the rows that are skipped. Each case runs through the
// scalar reference and the SSE2 twin. No Windows types: the same program
// also runs natively under the sanitizers.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "imaging/pixels/resample_kernels.h"
#include "imaging/seams.h"

namespace {

constexpr uint32_t kUntouched = 0xA5A5A5A5u;
constexpr int32_t kGuardPixels = 64;  // after the destination plane

uint32_t Grey(uint32_t v) { return v * 0x01010101u; }
uint32_t Bgra(uint32_t b, uint32_t g, uint32_t r, uint32_t a) {
  return b | (g << 8) | (r << 16) | (a << 24);
}

// Sixteen unrelated values, so that a wrong pixel read shows in the result.
std::vector<uint32_t> Scattered4x4() {
  const uint32_t v[16] = {3, 17, 40, 101, 9, 250, 77, 12, 60, 33, 201, 5, 144, 88, 19, 230};
  std::vector<uint32_t> p;
  for (uint32_t x : v) p.push_back(Grey(x));
  return p;
}

// (37r + 61c + 13rc) mod 256.
std::vector<uint32_t> Scattered6x6() {
  std::vector<uint32_t> p;
  for (uint32_t r = 0; r < 6; ++r)
    for (uint32_t c = 0; c < 6; ++c) p.push_back(Grey((37 * r + 61 * c + 13 * r * c) % 256));
  return p;
}

std::vector<uint32_t> Filled(size_t count, uint32_t pixel) { return std::vector<uint32_t>(count, pixel); }

// 99 pixels of 255 and one of 0 in the first 100 columns, then a 0 that the
// clamped map never reaches.
std::vector<uint32_t> NinetyNineWhite() {
  std::vector<uint32_t> p(101, Grey(255));
  p[40] = 0;
  p[100] = 0;
  return p;
}

// One row of 20,000 pixels: blue 255 and 254 alternating, green 1, red 0,
// alpha 128. With stride 0 every source row is this row.
std::vector<uint32_t> StripedRow() {
  std::vector<uint32_t> p;
  for (int c = 0; c < 20000; ++c) p.push_back(Bgra(c % 2 ? 254 : 255, 1, 0, 128));
  return p;
}

// Bicubic clamps, source 12 x 4 with y0 = 1 and fy = 128 for all three
// destination pixels:
// - columns 0..3 (x0 = 1, fx = 64): row 3 overshoots to -9.6 in the
//   horizontal pass; clamped to 0 the vertical pass gives 159, unclamped 161;
// - columns 4..7 (x0 = 5, fx = 128): row 0 overshoots to 302.75; clamped to
//   255 the result is 142, unclamped 136;
// - column 9 (fx = 0): green runs 0, 255, 255, 0 down the rows, red 255, 0,
//   0, 255; the vertical pass gives 318.75 and -63.75, clamped to 255 and 0.
std::vector<uint32_t> BicubicClampSource() {
  const uint32_t blue[4][8] = {{40, 128, 255, 200, 0, 255, 255, 128},
                               {0, 128, 0, 0, 200, 255, 128, 128},
                               {0, 200, 0, 40, 40, 128, 40, 40},
                               {255, 40, 0, 200, 0, 0, 128, 40}};
  const uint32_t green9[4] = {0, 255, 255, 0};
  const uint32_t red9[4] = {255, 0, 0, 255};
  std::vector<uint32_t> p;
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 12; ++c) {
      if (c < 8) p.push_back(blue[r][c]);
      else if (c == 9) p.push_back(Bgra(0, green9[r], red9[r], 0));
      else p.push_back(Bgra(7, 7, 7, 7));
    }
  }
  return p;
}

struct KernelCase {
  const char* name;
  ResampleMethod method;
  bool over64;
  int32_t sourceWidth, sourceHeight, sourceStride;  // stride 0: one row repeated
  std::vector<uint32_t> source;
  std::vector<int32_t> xIndex;
  std::vector<uint8_t> xFraction;
  std::vector<int32_t> yIndex;
  std::vector<uint8_t> yFraction;
  int32_t destinationWidth, destinationHeight;
  int32_t firstColumn, lastColumn, firstRow, lastRow;
  std::vector<uint32_t> expected;  // the whole destination plane afterwards
};

const uint32_t U = kUntouched;

std::vector<KernelCase> Cases() {
  return {
      // 4 x 4 to 2 x 2: columns 0, 2, 3 (4 clamped), rows 0, 2, 4.
      // (0,0) averages rows 0-1 x columns 0-1: (3 + 17 + 9 + 250) >> 2 = 69;
      // (1,0) reads column 2 twice in rows 0 and 1: (40 + 40 + 77 + 77) >> 2;
      // row 1 reads rows 2 and 3; column 3 is never read.
      {"four-point 4x4 to 2x2", MethodFourPointAverage, false, 4, 4, 4, Scattered4x4(),
       {0, 2, 3}, {0, 0, 0}, {0, 2, 4}, {0, 0, 0}, 2, 2, 0, 1, 0, 1,
       {Grey(69), Grey(58), Grey(81), Grey(110)}},
      // The same blocks for the area average: (0,1) is the mean of source
      // column 2 in rows 0 and 1, (40 + 77) / 2 truncated.
      {"area 4x4 to 2x2", MethodAreaAverage, false, 4, 4, 4, Scattered4x4(), {0, 2, 3},
       {0, 0, 0}, {0, 2, 4}, {0, 0, 0}, 2, 2, 0, 1, 0, 1,
       {Grey(69), Grey(58), Grey(81), Grey(110)}},
      // 6 x 6 to 2 x 2 (columns 0, 3, 5 clamped; rows 0, 3, 6): the
      // four-point average reads rows 1, 2 / 4, 5 and columns 1, 2 / 3, 4;
      // the area average the whole blocks, column 5 never.
      {"four-point 6x6 to 2x2", MethodFourPointAverage, false, 6, 6, 6, Scattered6x6(),
       {0, 3, 5}, {128, 128, 128}, {0, 3, 6}, {128, 128, 128}, 2, 2, 0, 1, 0, 1,
       {Grey(176), Grey(81), Grey(89), Grey(136)}},
      {"area 6x6 to 2x2", MethodAreaAverage, false, 6, 6, 6, Scattered6x6(), {0, 3, 5},
       {128, 128, 128}, {0, 3, 6}, {128, 128, 128}, 2, 2, 0, 1, 0, 1,
       {Grey(111), Grey(125), Grey(118), Grey(159)}},
      // Rows whose source span lies outside the source keep their pixels:
      // row 0 ends at source row -1, row 2 at 8; row 1 reads rows 0 and 1.
      {"four-point skips rows outside", MethodFourPointAverage, false, 4, 4, 4,
       Scattered4x4(), {0, 2, 3}, {0, 0, 0}, {0, 0, 2, 9}, {0, 0, 0, 0}, 2, 3, 0, 1, 0, 2,
       {U, U, Grey(69), Grey(58), U, U}},
      // Area blocks of fewer than two pixels give the pixel at (t, c): an
      // empty column span (c = 1 = prevCol) and then a one-pixel block.
      {"area empty span", MethodAreaAverage, false, 4, 4, 4, Scattered4x4(), {2, 2, 3},
       {0, 0, 0}, {0, 2}, {0, 0}, 2, 1, 0, 1, 0, 0, {Grey(250), Grey(58)}},
      {"area one-pixel block", MethodAreaAverage, false, 4, 4, 4, Scattered4x4(), {2, 3, 3},
       {0, 0, 0}, {1, 2}, {0, 0}, 1, 1, 0, 0, 0, 0, {Grey(77)}},
      // A block of 100 pixels of 255 averages to 255 on both paths (the
      // reciprocal multiply, (25,500 x 655) >> 16, would give 254), and so
      // does a block of three (21,845 as reciprocal would give 254).
      {"area 100 white, single precision", MethodAreaAverage, false, 101, 1, 101,
       Filled(101, Grey(255)), {0, 100}, {0, 0}, {0, 1}, {0, 0}, 1, 1, 0, 0, 0, 0,
       {Grey(255)}},
      {"area 100 white, over 64", MethodAreaAverage, true, 101, 1, 101, Filled(101, Grey(255)),
       {0, 100}, {0, 0}, {0, 1}, {0, 0}, 1, 1, 0, 0, 0, 0, {Grey(255)}},
      {"area 3 white, over 64", MethodAreaAverage, true, 4, 1, 4, Filled(4, Grey(255)), {0, 3},
       {0, 0}, {0, 1}, {0, 0}, 1, 1, 0, 0, 0, 0, {Grey(255)}},
      // 99 x 255 + 0 = 25,245; / 100 = 252.45, truncated.
      {"area 99 white one black, single precision", MethodAreaAverage, false, 101, 1, 101,
       NinetyNineWhite(), {0, 100}, {0, 0}, {0, 1}, {0, 0}, 1, 1, 0, 0, 0, 0, {Grey(252)}},
      {"area 99 white one black, over 64", MethodAreaAverage, true, 101, 1, 101,
       NinetyNineWhite(), {0, 100}, {0, 0}, {0, 1}, {0, 0}, 1, 1, 0, 0, 0, 0, {Grey(252)}},
      // 19,999 columns x 1,000 rows: the blue sum 5,089,746,000 needs more
      // than 32 bits; its mean 254.5 truncates to 254.
      {"area block beyond 32-bit sums, over 64", MethodAreaAverage, true, 20000, 1000, 0,
       StripedRow(), {0, 19999}, {0, 0}, {0, 1000}, {0, 0}, 1, 1, 0, 0, 0, 0,
       {Bgra(254, 1, 0, 128)}},
      {"area block beyond 32-bit sums, no over 64", MethodAreaAverage, false, 20000, 1000, 0,
       StripedRow(), {0, 19999}, {0, 0}, {0, 1000}, {0, 0}, 1, 1, 0, 0, 0, 0,
       {Bgra(254, 1, 0, 128)}},
      // fx = 204, fy = 102: wBR = 20,808 >> 8 = 81, wBL = 21, wTR = 123,
      // wTL = 31. Each channel has 255 in one corner only: 255 w >> 8.
      {"bilinear weights", MethodBilinear, false, 2, 2, 2,
       {Bgra(255, 0, 0, 0), Bgra(0, 255, 0, 0), Bgra(0, 0, 255, 0), Bgra(0, 0, 0, 255)}, {0},
       {204}, {0}, {102}, 1, 1, 0, 0, 0, 0, {Bgra(30, 122, 20, 80)}},
      // At the last column x1 = x0: (10 (89 + 39) + 201 (90 + 38)) >> 8 = 105.
      {"bilinear last column", MethodBilinear, false, 2, 2, 2,
       {Grey(99), Grey(10), Grey(99), Grey(201)}, {1}, {77}, {0}, {128}, 1, 1, 0, 0, 0, 0,
       {Grey(105)}},
      // Row entries -1 and 2 lie outside the 2-row source; destination row 3
      // lies outside the 3-row destination.
      {"bilinear skips rows outside", MethodBilinear, false, 2, 2, 2,
       {Grey(10), Grey(20), Grey(30), Grey(40)}, {0}, {0}, {-1, 1, 2, 0}, {0, 0, 0, 0}, 1, 3, 0,
       0, 0, 3, {U, Grey(30), U}},
      {"bicubic clamps after both passes", MethodBicubic, false, 12, 4, 12,
       BicubicClampSource(), {1, 5, 9}, {64, 128, 0}, {1}, {128}, 3, 1, 0, 2, 0, 0,
       {159, 142, Bgra(0, 255, 0, 0)}},
      // fx = 128 on samples 0, 0, v, v gives v / 2 exactly: 0.5, 1.5, 127.5
      // and 2.5 round to the even neighbours 0, 2, 128 and 2.
      {"bicubic ties to even", MethodBicubic, false, 4, 1, 4,
       {0, 0, Bgra(1, 3, 255, 5), Bgra(1, 3, 255, 5)}, {1}, {128}, {0}, {0}, 1, 1, 0, 0, 0, 0,
       {Bgra(0, 2, 128, 2)}},
      // Both fractions 0: the pixel (y0, x0) itself.
      {"bicubic at whole indices", MethodBicubic, false, 4, 4, 4, Scattered4x4(), {2}, {0},
       {1}, {0}, 1, 1, 0, 0, 0, 0, {Grey(77)}},
      {"bicubic skips rows outside", MethodBicubic, false, 4, 4, 4, Scattered4x4(), {2}, {0},
       {4, -3}, {0, 0}, 1, 2, 0, 0, 0, 1, {U, U}},
  };
}

// Runs one case; the tables get room beyond the entries the case gives.
std::vector<uint32_t> RunCase(const KernelCase& c, ResampleKernel kernel) {
  std::vector<uint32_t> source = c.source;
  std::vector<int32_t> xIndex = c.xIndex, yIndex = c.yIndex;
  std::vector<uint8_t> xFraction = c.xFraction, yFraction = c.yFraction;
  xIndex.resize(xIndex.size() + 8, 0);
  yIndex.resize(yIndex.size() + 8, 0);
  xFraction.resize(xFraction.size() + 8, 0);
  yFraction.resize(yFraction.size() + 8, 0);
  std::vector<uint32_t> destination(
      size_t(c.destinationWidth) * c.destinationHeight + kGuardPixels, kUntouched);
  const ResampleJob job{
      {destination.data(), c.destinationWidth, c.destinationHeight, c.destinationWidth},
      {source.data(), c.sourceWidth, c.sourceHeight, c.sourceStride},
      {xIndex.data(), xFraction.data(), yIndex.data(), yFraction.data()},
      c.firstColumn, c.lastColumn, c.firstRow, c.lastRow, c.over64};
  kernel(job);
  for (int32_t i = 0; i < kGuardPixels; ++i)
    EXPECT_EQ(destination[destination.size() - 1 - i], kUntouched) << "written past the plane";
  destination.resize(destination.size() - kGuardPixels);
  return destination;
}

}  // namespace

TEST(ResampleKernelCases, EachOutputPixelAsWorkedOut) {
  for (const KernelCase& c : Cases()) {
    for (bool sse2 : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (sse2 ? " / sse2" : " / reference"));
      const ResampleKernelPair& kernels = ResampleKernels[c.method];
      const std::vector<uint32_t> got = RunCase(c, sse2 ? kernels.sse2 : kernels.reference);
      ASSERT_EQ(got.size(), c.expected.size());
      for (size_t i = 0; i < got.size(); ++i)
        EXPECT_EQ(got[i], c.expected[i]) << "destination pixel " << i << std::hex << " got 0x"
                                         << got[i] << " expected 0x" << c.expected[i];
    }
  }
}

TEST(ResampleKernelTable, ChoosesTwinOrReference) {
  for (int m = 0; m < MethodCount; ++m) {
    const ResampleKernelPair& kernels = ResampleKernels[m];
    EXPECT_NE(kernels.reference, kernels.sse2) << kernels.name;
    EXPECT_EQ(KernelFor(ResampleMethod(m), false), kernels.reference) << kernels.name;
    EXPECT_EQ(KernelFor(ResampleMethod(m), true), kernels.sse2) << kernels.name;
  }
  EXPECT_EQ(KernelFor(MethodCount, true), nullptr);
}

// The switch that runs a whole resampling on the scalar references.
TEST(ResampleKernelTable, ReferenceSwitchGivesReferences) {
  ImagingSeams.referenceKernelsOnly = true;
  for (int m = 0; m < MethodCount; ++m) {
    const ResampleKernelPair& kernels = ResampleKernels[m];
    EXPECT_EQ(KernelFor(ResampleMethod(m), true), kernels.reference) << kernels.name;
    EXPECT_EQ(KernelFor(ResampleMethod(m), false), kernels.reference) << kernels.name;
  }
  EXPECT_EQ(KernelFor(MethodCount, true), nullptr);
  ImagingSeams.referenceKernelsOnly = false;
  EXPECT_EQ(KernelFor(MethodFourPointAverage, true), ResampleKernels[0].sse2);
}
