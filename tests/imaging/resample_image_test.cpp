// ResampleImage: which method runs for each shape, flag and offset, what the
// destination pixels of the worked examples read, ranges, views and the
// failures.
#include <gtest/gtest.h>

#include <random>

#include "imaging/pixels/resample_kernels.h"
#include "imaging/pixels/sample_maps.h"
#include "imaging/sampling/sampling.h"
#include "tests/imaging/image_fixtures.h"

namespace {

// Channels b, g, r, a of one pixel.
uint32_t Bgra(uint32_t b, uint32_t g, uint32_t r, uint32_t a) {
  return b | (g << 8) | (r << 16) | (a << 24);
}

uint32_t ChannelOf(uint32_t pixel, int k) { return (pixel >> (8 * k)) & 0xFF; }

void FillRandom(TestImage& image, uint32_t seed) {
  std::mt19937 random(seed);
  for (int32_t y = 0; y < image->height; ++y)
    for (int32_t x = 0; x < image->width; ++x) image.At(x, y) = random();
}

// What one kernel, run directly over maps computed for the same request,
// makes of the destination (preset to `background`).
std::vector<uint32_t> KernelResult(ResampleMethod method, TestImage& source, int32_t destWidth,
                                   int32_t destHeight, int32_t sourceRight, int32_t sourceBottom,
                                   int32_t offsetX, int32_t offsetY, bool over64,
                                   uint32_t background) {
  std::vector<int32_t> xIndex(MapXIndexEntries), yIndex(MapYIndexEntries);
  std::vector<uint8_t> xFraction(MapXFractionEntries), yFraction(MapYFractionEntries);
  SampleMapRequest request = {0,       0,           destWidth - 1, destHeight - 1, 0,
                              0,       sourceRight, sourceBottom,  destWidth,      source->width,
                              offsetX, offsetY};
  int32_t first, last;
  ComputeSampleMaps({xIndex.data(), xFraction.data(), yIndex.data(), yFraction.data()}, request,
                    &first, &last);
  std::vector<uint32_t> out(static_cast<size_t>(destWidth) * destHeight, background);
  ResampleJob job;
  job.destination = {out.data(), destWidth, destHeight, destWidth};
  job.source = {source->pixels, source->width, source->height, source->stride};
  job.maps = {xIndex.data(), xFraction.data(), yIndex.data(), yFraction.data()};
  job.firstColumn = first;
  job.lastColumn = last;
  job.firstRow = 0;
  job.lastRow = destHeight - 1;
  job.over64 = over64;
  KernelFor(method, false)(job);
  return out;
}

std::vector<uint32_t> PixelsOf(TestImage& image) {
  std::vector<uint32_t> out;
  for (int32_t y = 0; y < image->height; ++y)
    for (int32_t x = 0; x < image->width; ++x) out.push_back(image.At(x, y));
  return out;
}

}  // namespace

// Random pixels make every method's result unlike every other's, so the
// destination shows which one ran. (Where every span is at most two source
// pixels wide, the four-point and the area average read the same pixels and
// agree; the cases that choose between them use threefold spans.)
TEST(ResampleImage, MethodChoiceTable) {
  struct Case {
    const char* name;
    int32_t sourceWidth, sourceHeight, destWidth, destHeight;
    uint32_t flags;
    int32_t offsetX, offsetY;
    ResampleMethod method;
    bool over64;
  } cases[] = {
      {"threefold", 12, 12, 4, 4, 0, 0, 0, MethodFourPointAverage, false},
      {"threefold, high quality", 12, 12, 4, 4, ResampleHighQuality, 0, 0, MethodAreaAverage,
       false},
      {"threefold in width only, high quality", 12, 8, 4, 7, ResampleHighQuality, 0, 0,
       MethodAreaAverage, false},
      {"threefold in height only, high quality", 8, 12, 7, 4, ResampleHighQuality, 0, 0,
       MethodAreaAverage, false},
      {"below twofold, high quality", 8, 8, 5, 5, ResampleHighQuality, 0, 0, MethodBicubic, false},
      {"below twofold", 8, 8, 5, 5, 0, 0, 0, MethodFourPointAverage, false},
      {"reducing with a column offset", 8, 8, 4, 4, 0, 64, 0, MethodBilinear, false},
      {"reducing with a row offset, high quality", 8, 8, 4, 4, ResampleHighQuality, 0, -64,
       MethodBilinear, false},
      {"same size with an offset", 6, 6, 6, 6, 0, 32, 0, MethodBilinear, false},
      {"same size with an offset, high quality", 6, 6, 6, 6, ResampleHighQuality, 0, 32,
       MethodBilinear, false},
      {"enlarging", 4, 4, 9, 7, 0, 0, 0, MethodBilinear, false},
      {"enlarging, high quality", 4, 4, 9, 7, ResampleHighQuality, 0, 0, MethodBicubic, false},
      {"enlarging with an offset, high quality", 4, 4, 9, 7, ResampleHighQuality, 100, 100,
       MethodBicubic, false},
      {"wider, lower", 4, 8, 8, 4, 0, 0, 0, MethodBilinear, false},
      {"wider, lower, high quality", 4, 8, 8, 4, ResampleHighQuality, 0, 0, MethodBicubic, false},
      {"above 64-fold, high quality", 130, 3, 2, 1, ResampleHighQuality, 0, 0, MethodAreaAverage,
       true},
      {"exactly 64-fold, high quality", 128, 3, 2, 1, ResampleHighQuality, 0, 0, MethodAreaAverage,
       false},
      {"above 64-fold", 130, 3, 2, 1, 0, 0, 0, MethodFourPointAverage, true},
  };
  constexpr uint32_t kBackground = 0x5A5A5A5A;
  for (const Case& c : cases) {
    ContextOptions options;
    options.Offsets(c.offsetX, c.offsetY);
    TestImage source(c.sourceWidth, c.sourceHeight, CreateInMemory);
    TestImage destination(c.destWidth, c.destHeight, CreateInMemory);
    FillRandom(source, 7);
    destination.Fill(kBackground);
    ASSERT_EQ(ResampleImage(destination.get(), 0, 0, c.destWidth - 1, c.destHeight - 1,
                            source.get(), c.sourceWidth - 1, c.sourceHeight - 1, c.flags),
              1)
        << c.name;
    EXPECT_EQ(LastError(), ImgErrGeneral) << c.name;
    const std::vector<uint32_t> got = PixelsOf(destination);
    std::vector<uint32_t> results[MethodCount];
    for (int m = 0; m < MethodCount; ++m) {
      const auto method = static_cast<ResampleMethod>(m);
      results[m] = KernelResult(method, source, c.destWidth, c.destHeight, c.sourceWidth - 1,
                                c.sourceHeight - 1, c.offsetX, c.offsetY,
                                method == MethodAreaAverage && c.over64, kBackground);
    }
    EXPECT_EQ(got, results[c.method]) << c.name << ": " << ResampleKernels[c.method].name << " expected";
    for (int m = 0; m < MethodCount; ++m) {
      const bool averages = (m == MethodAreaAverage && c.method == MethodFourPointAverage) ||
                            (m == MethodFourPointAverage && c.method == MethodAreaAverage);
      if (m != c.method && !(averages && c.sourceWidth < 3 * c.destWidth &&
                             c.sourceHeight < 3 * c.destHeight)) {
        EXPECT_NE(results[m], results[c.method]) << c.name << ": " << ResampleKernels[m].name << " alike";
      }
    }
  }
}

// The worked 4 x 4 -> 2 x 2 reduction: which source pixels each destination
// pixel reads, in both averages. Column 3 is never read.
TEST(ResampleImage, FourByFourToTwoByTwoReadings) {
  TestImage source(4, 4, CreateInMemory);
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 4; ++x)
      source.At(x, y) = Bgra(x * 10 + y, y * 40 + x, 3 * x + 7 * y, 255);
  for (int32_t y = 0; y < 4; ++y) source.At(3, y) = 0xFFFFFFFF;
  auto at = [&](int32_t x, int32_t y) { return source.At(x, y); };
  // Per channel: the truncated mean of the listed source pixels, the way
  // each method forms it.
  auto fourPoint = [&](uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    uint32_t out = 0;
    for (int k = 0; k < 4; ++k)
      out |= ((ChannelOf(a, k) + ChannelOf(b, k) + ChannelOf(c, k) + ChannelOf(d, k)) >> 2)
             << (8 * k);
    return out;
  };
  auto area = [&](std::vector<uint32_t> block) {
    uint32_t out = 0;
    for (int k = 0; k < 4; ++k) {
      uint32_t sum = 0;
      for (uint32_t p : block) sum += ChannelOf(p, k);
      out |= static_cast<uint32_t>(static_cast<float>(sum) / static_cast<float>(block.size()))
             << (8 * k);
    }
    return out;
  };
  const uint32_t fourPointExpected[2][2] = {{fourPoint(at(0, 0), at(1, 0), at(0, 1), at(1, 1)),
                                             fourPoint(at(2, 0), at(2, 0), at(2, 1), at(2, 1))},
                                            {fourPoint(at(0, 2), at(1, 2), at(0, 3), at(1, 3)),
                                             fourPoint(at(2, 2), at(2, 2), at(2, 3), at(2, 3))}};
  const uint32_t areaExpected[2][2] = {
      {area({at(0, 0), at(1, 0), at(0, 1), at(1, 1)}), area({at(2, 0), at(2, 1)})},
      {area({at(0, 2), at(1, 2), at(0, 3), at(1, 3)}), area({at(2, 2), at(2, 3)})}};
  for (uint32_t flags : {0u, uint32_t{ResampleHighQuality}}) {
    TestImage destination(2, 2, CreateAsDib);
    ASSERT_EQ(ResampleImage(destination.get(), 0, 0, 1, 1, source.get(), 3, 3, flags), 1);
    for (int32_t y = 0; y < 2; ++y)
      for (int32_t x = 0; x < 2; ++x)
        EXPECT_EQ(destination.At(x, y), flags ? areaExpected[y][x] : fourPointExpected[y][x])
            << "flags " << flags << " at (" << x << ", " << y << ")";
  }
}

// 100 x 100 -> 125 x 125: column 1 reads source column 0 at 204/256, row 0
// reads source row 0 at 102/256.
TEST(ResampleImage, HundredToHundredTwentyFiveBilinearReadings) {
  TestImage source(100, 100, CreateInMemory), destination(125, 125, CreateInMemory);
  source.Fill(0);
  source.At(0, 0) = Bgra(255, 0, 0, 0);  // TL in blue
  source.At(1, 0) = Bgra(0, 255, 0, 0);  // TR in green
  source.At(0, 1) = Bgra(0, 0, 255, 0);  // BL in red
  source.At(1, 1) = Bgra(0, 0, 0, 255);  // BR in alpha
  source.At(0, 2) = 0x01020304;
  ASSERT_EQ(ResampleImage(destination.get(), 0, 0, 124, 124, source.get(), 99, 99, 0), 1);
  // Column 1, row 0: fx 204, fy 102: wBR = 81, wBL = 21, wTR = 123, wTL = 31.
  EXPECT_EQ(destination.At(1, 0),
            Bgra(255 * 31 >> 8, 255 * 123 >> 8, 255 * 21 >> 8, 255 * 81 >> 8));
  // Column 0, row 0: fx 0, fy 102: wTL = 154, wBL = 102.
  EXPECT_EQ(destination.At(0, 0), Bgra(255 * 154 >> 8, 0, 255 * 102 >> 8, 0));
  // Column 0, row 2: both fractions 0 (source row 2 exactly).
  EXPECT_EQ(destination.At(0, 2), 0x01020304u);
}

TEST(ResampleImage, ClipWritesOnlyInsideAndReadsAsUnclipped) {
  for (uint32_t flags : {0u, uint32_t{ResampleHighQuality}}) {
    for (int32_t destSize : {3, 7, 13}) {
      TestImage source(10, 10, CreateInMemory), full(destSize, destSize, CreateInMemory),
          clipped(destSize, destSize, CreateInMemory);
      FillRandom(source, 3);
      full.Fill(0);
      clipped.Fill(0);
      ASSERT_EQ(
          ResampleImage(full.get(), 0, 0, destSize - 1, destSize - 1, source.get(), 9, 9, flags),
          1);
      ContextOptions options;
      options.Clip(1, 1, destSize - 2, destSize - 2);
      ASSERT_EQ(ResampleImage(clipped.get(), 0, 0, destSize - 1, destSize - 1, source.get(), 9, 9,
                              flags | ResampleClip),
                1);
      for (int32_t y = 0; y < destSize; ++y)
        for (int32_t x = 0; x < destSize; ++x) {
          const bool inside = x >= 1 && x <= destSize - 2 && y >= 1 && y <= destSize - 2;
          EXPECT_EQ(clipped.At(x, y), inside ? full.At(x, y) : 0u)
              << "size " << destSize << ", flags " << flags << " at " << x << "," << y;
        }
    }
  }
}

TEST(ResampleImage, EmptyClipWritesNothingAndSucceeds) {
  ContextOptions options;
  options.Clip(0, 5, 9, 4);
  TestImage source(10, 10, CreateInMemory), destination(5, 5, CreateInMemory);
  FillRandom(source, 1);
  destination.Fill(9);
  EXPECT_EQ(ResampleImage(destination.get(), 0, 0, 4, 4, source.get(), 9, 9, ResampleClip), 1);
  EXPECT_EQ(PixelsOf(destination), std::vector<uint32_t>(25, 9));
}

// A region beyond the source reads its last column again and leaves rows
// without a source row alone, with or without a view.
TEST(ResampleImage, RegionBeyondTheSourceWithAndWithoutView) {
  TestImage source(6, 4, CreateAsDib);
  FillRandom(source, 5);
  std::vector<uint32_t> results[2];
  for (int via = 0; via < 2; ++via) {
    TestImage destination(4, 4, CreateInMemory);
    destination.Fill(0x77);
    ASSERT_EQ(ResampleImage(destination.get(), 0, 0, 3, 3, source.get(), 9, 7,
                            via ? uint32_t{ResampleViaView} : 0u),
              1);
    EXPECT_EQ(source->lockCount, 0);
    results[via] = PixelsOf(destination);
  }
  EXPECT_EQ(results[0], results[1]);
  EXPECT_EQ(results[0][15], 0x77u);  // the last row has no source row
}

TEST(ResampleImage, SameSizeCopiesThroughThePointSampler) {
  TestImage source(5, 3, CreateInMemory), destination(9, 9, CreateInMemory);
  source.FillPattern();
  destination.Fill(0);
  ASSERT_EQ(ResampleImage(destination.get(), 2, 4, 6, 6, source.get(), 4, 2, ResampleHighQuality),
            1);
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t x = 0; x < 5; ++x) EXPECT_EQ(destination.At(x + 2, y + 4), PatternPixel(x, y));
  EXPECT_EQ(destination.At(1, 4), 0u);
}

TEST(ResampleImage, TableOfFailures) {
  struct Case {
    const char* name;
    int32_t destRect[4], sourceRight, sourceBottom;
    bool emptySource;
    uint32_t flags;
    int32_t error;
  } cases[] = {
      {"source right negative", {0, 0, 1, 1}, -1, 3, false, 0, ImgErrBadArgument},
      {"source bottom negative", {0, 0, 1, 1}, 3, -1, false, 0, ImgErrBadArgument},
      {"source right negative, via view",
       {0, 0, 1, 1},
       -1,
       3,
       false,
       ResampleViaView,
       ImgErrBadArgument},
      {"destination reversed", {1, 0, 0, 1}, 3, 3, false, 0, ImgErrBadArgument},
      {"destination reversed vertically", {0, 1, 1, 0}, 3, 3, false, 0, ImgErrBadArgument},
      {"no source image", {0, 0, 1, 1}, 3, 3, true, 0, ImgErrBadObject},
  };
  for (const Case& c : cases) {
    TestImage source, destination(2, 2, CreateInMemory);
    if (!c.emptySource) source.Make(4, 4, CreateInMemory);
    EXPECT_EQ(ResampleImage(destination.get(), c.destRect[0], c.destRect[1], c.destRect[2],
                            c.destRect[3], source.get(), c.sourceRight, c.sourceBottom, c.flags),
              0)
        << c.name;
    EXPECT_EQ(LastError(), c.error) << c.name;
  }
}

TEST(ResampleImage, NoMapBlockFailsAndReleasesBothLocks) {
  TestImage source(8, 8, CreateInMemory), destination(3, 3, CreateInMemory);
  LoseMapBlockAndFailNext();
  EXPECT_EQ(ResampleImage(destination.get(), 0, 0, 2, 2, source.get(), 7, 7, 0), 0);
  EXPECT_EQ(LastError(), ImgErrNoMemory);
  EXPECT_EQ(source->lockCount, 0);
  EXPECT_EQ(destination->lockCount, 0);
}
