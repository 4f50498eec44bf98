// ConvertImageToDib: memory and caller-memory images become DIB sections
// with the same pixels; what cannot be converted says so.
#include <gtest/gtest.h>

#include "imaging/gdi/gdi.h"
#include "tests/imaging/image_fixtures.h"

TEST(ConvertImageToDib, MemoryImageKeepsItsPixels) {
  for (int32_t width : {1, 3, 7, 64, 301}) {
    TestImage image(width, 5, CreateInMemory);
    image.FillPattern();
    ASSERT_EQ(ConvertImageToDib(image.get()), 1) << width;
    EXPECT_EQ(image->kind, KindDibSection);
    ASSERT_EQ(LockImage(image.get(), 0), 1);
    EXPECT_EQ(image->width, width);
    EXPECT_EQ(image->height, 5);
    for (int32_t y = 0; y < 5; ++y)
      for (int32_t x = 0; x < width; ++x)
        ASSERT_EQ(image.At(x, y), PatternPixel(x, y)) << x << "," << y;
    UnlockImage(image.get(), 0);
    EXPECT_EQ(image->lockCount, 0);
    EXPECT_EQ(image->ownerThread, 0);
  }
}

TEST(ConvertImageToDib, CallerMemoryIsCopiedAndLeftAlone) {
  CallerPixels caller(3, 2, 5);
  const std::vector<uint32_t> before = caller.memory;
  ASSERT_EQ(ConvertImageToDib(caller.image.get()), 1);
  EXPECT_EQ(caller.image->kind, KindDibSection);
  EXPECT_EQ(caller.image->stride, 3);
  for (int32_t y = 0; y < 2; ++y)
    for (int32_t x = 0; x < 3; ++x) EXPECT_EQ(caller.image.At(x, y), PatternPixel(x, y, 0x20));
  EXPECT_EQ(caller.memory, before);
}

// The thread's sampling offsets belong to resampling; a conversion moves no
// pixel, and the offsets are the thread's again afterwards.
TEST(ConvertImageToDib, SamplingOffsetsMoveNoPixel) {
  ContextOptions options;
  options.Offsets(300, -700);
  TestImage image(6, 4, CreateInMemory);
  image.FillPattern();
  ASSERT_EQ(ConvertImageToDib(image.get()), 1);
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 6; ++x) EXPECT_EQ(image.At(x, y), PatternPixel(x, y)) << x << "," << y;
  EXPECT_EQ(options.context->offsetX, 300);
  EXPECT_EQ(options.context->offsetY, -700);
}

TEST(ConvertImageToDib, DibSectionStaysAsItIs) {
  TestImage image(4, 4, CreateAsDib);
  const ImageRecord before = image.record;
  EXPECT_EQ(ConvertImageToDib(image.get()), 1);
  EXPECT_EQ(image->dib, before.dib);
  EXPECT_EQ(image->pixels, before.pixels);
}

TEST(ConvertImageToDib, TableOfFailures) {
  struct Case {
    const char* name;
    uint8_t tag, kind, state;
    int32_t error;
  } cases[] = {
      {"empty record", 0, 0, 0, ImgErrFailed},
      {"closing", ImageTag, KindOwnMemory, StateClosing, ImgErrBusy},
      {"unknown kind", ImageTag, 7, 0, ImgErrFailed},
  };
  for (const Case& c : cases) {
    ImageRecord record = {};
    record.tag = c.tag;
    record.kind = c.kind;
    record.state = c.state;
    EXPECT_EQ(ConvertImageToDib(&record), 0) << c.name;
    EXPECT_EQ(LastError(), c.error) << c.name;
    EXPECT_EQ(record.kind, c.kind) << c.name;
  }
}

TEST(ConvertImageToDib, UnreadableRecord) {
  EXPECT_EQ(ConvertImageToDib(reinterpret_cast<ImageRecord*>(16)), 0);
  EXPECT_EQ(LastError(), ImgErrBadObject);
}

// A size that no DIB section can have exactly fails without losing the image.
TEST(ConvertImageToDib, TooLargeForAnExactDibKeepsTheImage) {
  std::vector<uint32_t> pixels(70000, 5);
  TestImage image;
  ASSERT_EQ(AttachImage(image.get(), 70000, 1, 70000, pixels.data()), 1);
  EXPECT_EQ(ConvertImageToDib(image.get()), 0);
  EXPECT_EQ(LastError(), ImgErrFailed);
  EXPECT_EQ(image->kind, KindCallerMemory);
  EXPECT_EQ(image->basePixels, pixels.data());
  EXPECT_EQ(image->lockCount, 0);
}
