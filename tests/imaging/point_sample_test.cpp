// PointSampleImage: whole-row copies, picks through the maps, offsets,
// views, clipping and the failures.
#include <gtest/gtest.h>

#include "imaging/sampling/sampling.h"
#include "imaging/seams.h"
#include "tests/imaging/image_fixtures.h"

namespace {

// The source pixel each destination pixel of a rectangle must hold; -1 for
// "untouched".
struct Pick {
  int32_t x, y;
};

void ExpectPicks(TestImage& destination, uint32_t untouched, int32_t width, int32_t height,
                 const std::vector<Pick>& picks, uint8_t tag, const char* name) {
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      const Pick& p = picks[y * width + x];
      const uint32_t expected = p.x < 0 ? untouched : PatternPixel(p.x, p.y, tag);
      EXPECT_EQ(destination.At(x, y), expected) << name << " at (" << x << ", " << y << ")";
    }
}

}  // namespace

TEST(PointSampleImage, EqualRectanglesCopyEveryPixel) {
  for (uint32_t kind : {CreateInMemory, CreateAsDib}) {
    TestImage source(200, 100, kind), destination(200, 100, kind);
    source.FillPattern();
    destination.Fill(0);
    ASSERT_EQ(PointSampleImage(destination.get(), 0, 0, 199, 99, source.get(), 0, 0, 199, 99, 0),
              1);
    EXPECT_EQ(LastError(), ImgErrGeneral);
    for (int32_t y = 0; y < 100; ++y)
      for (int32_t x = 0; x < 200; ++x)
        ASSERT_EQ(destination.At(x, y), source.At(x, y)) << x << "," << y;
    EXPECT_EQ(source->lockCount, 0);
    EXPECT_EQ(destination->lockCount, 0);
  }
}

TEST(PointSampleImage, TableOfPicks) {
  constexpr uint32_t kUntouched = 0x11111111;
  struct Case {
    const char* name;
    int32_t destRect[4], sourceRect[4];
    int32_t offsetX, offsetY;
    std::vector<Pick> picks;  // over the 4 x 2 destination
  } cases[] = {
      {"4 x 4 -> 2 x 2",
       {0, 0, 1, 1},
       {0, 0, 3, 3},
       0,
       0,
       {{0, 0}, {2, 0}, {-1, 0}, {-1, 0}, {0, 2}, {2, 2}, {-1, 0}, {-1, 0}}},
      {"one row into a shifted place",
       {1, 1, 3, 1},
       {1, 2, 3, 2},
       0,
       0,
       {{-1, 0}, {-1, 0}, {-1, 0}, {-1, 0}, {-1, 0}, {1, 2}, {2, 2}, {3, 2}}},
      // A one-pixel column offset shifts the picks, also at equal widths.
      {"equal widths, offset one column",
       {0, 0, 3, 1},
       {0, 0, 3, 1},
       256,
       0,
       {{0, 0}, {0, 0}, {1, 0}, {2, 0}, {0, 1}, {0, 1}, {1, 1}, {2, 1}}},
      {"equal widths, offset minus one column",
       {0, 0, 3, 1},
       {0, 0, 3, 1},
       -256,
       0,
       {{1, 0}, {2, 0}, {3, 0}, {3, 0}, {1, 1}, {2, 1}, {3, 1}, {3, 1}}},
      {"equal sizes, offset one row",
       {0, 0, 3, 1},
       {0, 0, 3, 1},
       0,
       256,
       {{-1, 0}, {-1, 0}, {-1, 0}, {-1, 0}, {0, 0}, {1, 0}, {2, 0}, {3, 0}}},
      // Only the columns with a source column are written.
      {"region left of the source",
       {0, 0, 3, 0},
       {-2, 0, 1, 0},
       0,
       0,
       {{-1, 0}, {-1, 0}, {0, 0}, {1, 0}, {-1, 0}, {-1, 0}, {-1, 0}, {-1, 0}}},
      {"enlarging 2 x 1 -> 4 x 2",
       {0, 0, 3, 1},
       {0, 0, 1, 0},
       0,
       0,
       {{0, 0}, {0, 0}, {1, 0}, {1, 0}, {0, 0}, {0, 0}, {1, 0}, {1, 0}}},
  };
  for (const Case& c : cases) {
    ContextOptions options;
    options.Offsets(c.offsetX, c.offsetY);
    TestImage source(4, 4, CreateInMemory), destination(4, 2, CreateInMemory);
    source.FillPattern();
    destination.Fill(kUntouched);
    EXPECT_EQ(PointSampleImage(destination.get(), c.destRect[0], c.destRect[1], c.destRect[2],
                               c.destRect[3], source.get(), c.sourceRect[0], c.sourceRect[1],
                               c.sourceRect[2], c.sourceRect[3], 0),
              1)
        << c.name;
    ExpectPicks(destination, kUntouched, 4, 2, c.picks, 0x40, c.name);
  }
}

// With a column offset the whole-row copy must not be taken: it would copy
// unshifted pixels, and where the region reaches beyond the source it would
// read the pixel behind the last one of the row.
TEST(PointSampleImage, ColumnOffsetNeverCopiesPastTheRow) {
  ContextOptions options;
  options.Offsets(128, 0);
  CallerPixels source(4, 2, 5);  // column 4 of the memory lies behind each row
  TestImage destination(8, 2, CreateInMemory);
  destination.Fill(0);
  ASSERT_EQ(PointSampleImage(destination.get(), 0, 0, 5, 1, source.image.get(), 0, 0, 5, 1, 0), 1);
  const int32_t picks[] = {0, 0, 1, 2, 3};
  for (int32_t y = 0; y < 2; ++y) {
    for (int32_t x = 0; x < 5; ++x)
      EXPECT_EQ(destination.At(x, y), PatternPixel(picks[x], y, 0x20)) << x << "," << y;
    EXPECT_EQ(destination.At(5, y), 0u);
  }
}

TEST(PointSampleImage, ViewOfARegion) {
  TestImage source(6, 5, CreateAsDib), destination(3, 2, CreateInMemory);
  source.FillPattern();
  destination.Fill(0);
  ASSERT_EQ(
      PointSampleImage(destination.get(), 0, 0, 2, 1, source.get(), 2, 1, 4, 2, ResampleViaView),
      1);
  EXPECT_EQ(LastError(), ImgErrGeneral);
  for (int32_t y = 0; y < 2; ++y)
    for (int32_t x = 0; x < 3; ++x)
      EXPECT_EQ(destination.At(x, y), PatternPixel(x + 2, y + 1)) << x << "," << y;
  EXPECT_EQ(source->lockCount, 0);
}

// A view's pixels begin at the region's corner: a corner left of or above
// the source would lie before the image's memory.
TEST(PointSampleImage, ViewStartingOutsideTheSourceIsRefused) {
  const int32_t corners[][2] = {{-1, 0}, {0, -1}, {-3, -3}};
  for (const auto& corner : corners) {
    CallerPixels source(4, 4, 4);
    TestImage destination(4, 4, CreateInMemory);
    destination.Fill(0x12345678);
    EXPECT_EQ(PointSampleImage(destination.get(), 0, 0, 3, 3, source.image.get(), corner[0],
                               corner[1], 3, 3, ResampleViaView),
              0);
    EXPECT_EQ(LastError(), ImgErrBadArgument);
    EXPECT_EQ(destination.At(0, 0), 0x12345678u);
    EXPECT_EQ(source.image->lockCount, 0);
  }
}

TEST(PointSampleImage, ClipKeepsPixelsOutsideAndInsideAsUnclipped) {
  TestImage source(10, 10, CreateInMemory), full(5, 5, CreateInMemory),
      clipped(5, 5, CreateInMemory);
  source.FillPattern();
  full.Fill(0);
  clipped.Fill(0);
  ASSERT_EQ(PointSampleImage(full.get(), 0, 0, 4, 4, source.get(), 0, 0, 9, 9, 0), 1);
  ContextOptions options;
  options.Clip(1, 2, 3, 3);
  ASSERT_EQ(PointSampleImage(clipped.get(), 0, 0, 4, 4, source.get(), 0, 0, 9, 9, ResampleClip), 1);
  for (int32_t y = 0; y < 5; ++y)
    for (int32_t x = 0; x < 5; ++x) {
      const bool inside = x >= 1 && x <= 3 && y >= 2 && y <= 3;
      EXPECT_EQ(clipped.At(x, y), inside ? full.At(x, y) : 0u) << x << "," << y;
    }
}

TEST(PointSampleImage, EmptyClipWritesNothingAndSucceeds) {
  ContextOptions options;
  options.Clip(3, 0, 2, 9);
  TestImage source(4, 4, CreateInMemory), destination(4, 4, CreateInMemory);
  source.FillPattern();
  destination.Fill(7);
  EXPECT_EQ(PointSampleImage(destination.get(), 0, 0, 3, 3, source.get(), 0, 0, 3, 3, ResampleClip),
            1);
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 4; ++x) EXPECT_EQ(destination.At(x, y), 7u);
}

TEST(PointSampleImage, TableOfFailures) {
  struct Case {
    const char* name;
    int32_t destRect[4], sourceRect[4];
    bool emptySource;
    int32_t error;
  } cases[] = {
      {"source reversed horizontally", {0, 0, 3, 3}, {3, 0, 2, 3}, false, ImgErrBadArgument},
      {"source reversed vertically", {0, 0, 3, 3}, {0, 3, 3, 2}, false, ImgErrBadArgument},
      {"destination reversed horizontally", {3, 0, 2, 3}, {0, 0, 3, 3}, false, ImgErrBadArgument},
      {"destination reversed vertically", {0, 3, 3, 2}, {0, 0, 3, 3}, false, ImgErrBadArgument},
      {"source columns left of the source", {0, 0, 3, 3}, {-5, 0, -1, 3}, false, ImgErrBadArgument},
      {"source columns right of the source", {0, 0, 3, 3}, {4, 0, 7, 3}, false, ImgErrBadArgument},
      {"no source image", {0, 0, 3, 3}, {0, 0, 3, 3}, true, ImgErrBadObject},
  };
  for (const Case& c : cases) {
    TestImage source, destination(4, 4, CreateInMemory);
    if (!c.emptySource) source.Make(4, 4, CreateInMemory);
    EXPECT_EQ(PointSampleImage(destination.get(), c.destRect[0], c.destRect[1], c.destRect[2],
                               c.destRect[3], source.get(), c.sourceRect[0], c.sourceRect[1],
                               c.sourceRect[2], c.sourceRect[3], 0),
              0)
        << c.name;
    EXPECT_EQ(LastError(), c.error) << c.name;
  }
}

TEST(PointSampleImage, NoMapBlockFailsAndReleasesBothLocks) {
  TestImage source(4, 4, CreateInMemory), destination(2, 2, CreateInMemory);
  LoseMapBlockAndFailNext();
  EXPECT_EQ(PointSampleImage(destination.get(), 0, 0, 1, 1, source.get(), 0, 0, 3, 3, 0), 0);
  EXPECT_EQ(LastError(), ImgErrNoMemory);
  EXPECT_EQ(source->lockCount, 0);
  EXPECT_EQ(destination->lockCount, 0);
  EXPECT_EQ(PointSampleImage(destination.get(), 0, 0, 1, 1, source.get(), 0, 0, 3, 3, 0), 1);
}

TEST(PointSampleImage, DestinationThatCannotBeLocked) {
  TestImage source(4, 4, CreateInMemory);
  ImageRecord destination = {};  // holds no image
  EXPECT_EQ(PointSampleImage(&destination, 0, 0, 1, 1, source.get(), 0, 0, 3, 3, 0), 0);
  EXPECT_EQ(LastError(), ImgErrGeneral);  // the code LockImage left
  EXPECT_EQ(source->lockCount, 0);
}

TEST(BuildSampleMaps, MakesTheBlockOnceAndSetsTheTables) {
  TestImage source(4, 4, CreateInMemory), destination(2, 2, CreateInMemory);
  ThreadContextRecord* context = CurrentThreadContext();
  int32_t first = -1, last = -1;
  ASSERT_EQ(BuildSampleMaps(destination.get(), context, 0, 0, 1, 1, source.get(), 0, 0, 3, 3,
                            &first, &last),
            1);
  auto* base = static_cast<uint8_t*>(context->mapBlock);
  ASSERT_NE(base, nullptr);
  EXPECT_EQ(reinterpret_cast<uint8_t*>(context->xIndex), base + MapXIndexOffset);
  EXPECT_EQ(context->xFraction, base + MapXFractionOffset);
  EXPECT_EQ(reinterpret_cast<uint8_t*>(context->yIndex), base + MapYIndexOffset);
  EXPECT_EQ(context->yFraction, base + MapYFractionOffset);
  EXPECT_EQ(GlobalSize(context->mapBlock), SIZE_T{MapBlockBytes});
  EXPECT_EQ(first, 0);
  EXPECT_EQ(last, 1);
  EXPECT_EQ(context->xIndex[2], 3);
  EXPECT_EQ(context->yIndex[2], 4);
  HGLOBAL block = context->mapBlock;
  ASSERT_EQ(BuildSampleMaps(destination.get(), context, 0, 0, 1, 1, source.get(), 0, 0, 3, 3,
                            &first, &last),
            1);
  EXPECT_EQ(context->mapBlock, block);
}
