// ResizeImage: the new image replaces the old one only when it is complete;
// sizes, kinds and the failures that keep the old image.
#include <gtest/gtest.h>

#include "imaging/image/image.h"
#include "imaging/seams.h"
#include "tests/imaging/image_fixtures.h"

namespace {

// Refuses every lock of one record, from inside LockImage, as a destruction
// that begins on another thread would.
ImageRecord* refusedRecord = nullptr;
void RefuseLocksOfRecord(ImageCrossing point) {
  if (point == ImageCrossing::LockBeforeCount && refusedRecord)
    refusedRecord->state |= StateClosing;
}

struct RefuseLocks {
  explicit RefuseLocks(ImageRecord* image) {
    refusedRecord = image;
    ImagingSeams.imageCrossingHook = RefuseLocksOfRecord;
  }
  ~RefuseLocks() {
    ImagingSeams.imageCrossingHook = nullptr;
    refusedRecord->state &= ~StateClosing;
    refusedRecord = nullptr;
  }
};

// Caller memory whose rows from `readableRows` on lie on pages that fault.
struct FaultingPixels {
  static constexpr int32_t kSide = 64;  // 16 rows per 4 KiB page
  uint32_t* memory = static_cast<uint32_t*>(
      VirtualAlloc(nullptr, kSide* kSide * 4, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  TestImage image;
  explicit FaultingPixels(int32_t readableRows) {
    for (int32_t i = 0; i < kSide * kSide; ++i) memory[i] = 0x01010101u * (i & 0x7F);
    AttachImage(image.get(), kSide, kSide, kSide, memory);
    DWORD old;
    VirtualProtect(memory + readableRows * kSide, (kSide - readableRows) * kSide * 4, PAGE_NOACCESS,
                   &old);
  }
  ~FaultingPixels() {
    DestroyImage(image.get());
    VirtualFree(memory, 0, MEM_RELEASE);
  }
};

}  // namespace

TEST(ResizeImage, OwnSizeLeavesEveryPixel) {
  TestImage image(6, 4, CreateAsDib);
  image.FillPattern();
  const ImageRecord before = image.record;
  EXPECT_EQ(ResizeImage(image.get(), 6, 4), 1);
  EXPECT_EQ(image->dib, before.dib);
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 6; ++x) EXPECT_EQ(image.At(x, y), PatternPixel(x, y));
}

TEST(ResizeImage, ZeroSizesLeaveTheImage) {
  const int32_t sizes[][2] = {{0, 4}, {6, 0}, {-6, 4}, {0, 0}};
  for (const auto& size : sizes) {
    TestImage image(6, 4, CreateInMemory);
    const ImageRecord before = image.record;
    EXPECT_EQ(ResizeImage(image.get(), size[0], size[1]), 0);
    EXPECT_EQ(LastError(), ImgErrGeneral);
    EXPECT_EQ(image->block, before.block);
    EXPECT_EQ(image->width, 6);
  }
}

TEST(ResizeImage, EmptyRecordGetsAMemoryImage) {
  TestImage image;
  EXPECT_EQ(ResizeImage(image.get(), 7, 3), 1);
  EXPECT_EQ(image->tag, ImageTag);
  EXPECT_EQ(image->kind, KindOwnMemory);
  EXPECT_EQ(image->width, 7);
  EXPECT_EQ(image->height, 3);
}

TEST(ResizeImage, ReducedSizeGives99) {
  TestImage image(10, 10, CreateInMemory);
  image.Fill(0xFF336699);
  EXPECT_EQ(ResizeImage(image.get(), 70000, 10), 99);
  EXPECT_EQ(image->width, 65536);
  EXPECT_EQ(image->height, 9);
  EXPECT_EQ(image.At(0, 0), 0xFF336699u);
  EXPECT_EQ(image.At(65535, 8), 0xFF336699u);
}

TEST(ResizeImage, KeepsTheStorageKind) {
  struct Case {
    const char* name;
    uint32_t createFlags;
    bool caller;
    uint8_t kind;
  } cases[] = {
      {"DIB section", CreateAsDib, false, KindDibSection},
      {"memory", CreateInMemory, false, KindOwnMemory},
      {"caller memory becomes library memory", 0, true, KindOwnMemory},
  };
  for (const Case& c : cases) {
    CallerPixels caller(4, 4, 4);
    TestImage own(4, 4, c.createFlags);
    TestImage& image = c.caller ? caller.image : own;
    if (!c.caller) image.FillPattern(0x20);
    ASSERT_EQ(ResizeImage(image.get(), 2, 2), 1) << c.name;
    EXPECT_EQ(image->kind, c.kind) << c.name;
    EXPECT_EQ(image->width, 2) << c.name;
    EXPECT_EQ(image->lockCount, 0) << c.name;
    // Four-point average of the pattern (x in blue, y in green): column 0
    // reads source columns 0 and 1, column 1 reads column 2 twice; row y
    // reads rows 2y and 2y + 1. The truncated means land on the first ones.
    EXPECT_EQ(image.At(0, 0), PatternPixel(0, 0, 0x20)) << c.name;
    EXPECT_EQ(image.At(1, 0), PatternPixel(2, 0, 0x20)) << c.name;
    EXPECT_EQ(image.At(1, 1), PatternPixel(2, 2, 0x20)) << c.name;
  }
}

// A resampling that fails leaves the new image unwritten: the old image
// stays, and the failure is reported.
TEST(ResizeImage, FailedResamplingKeepsTheOldImage) {
  {
    TestImage image(8, 8, CreateInMemory);
    const ImageRecord before = image.record;
    LoseMapBlockAndFailNext();
    EXPECT_EQ(ResizeImage(image.get(), 4, 4), 0);
    EXPECT_EQ(LastError(), ImgErrNoMemory);
    EXPECT_EQ(image->block, before.block);
    EXPECT_EQ(image->width, 8);
    EXPECT_EQ(image->lockCount, 0);
  }
  {
    TestImage image(8, 8, CreateAsDib);
    const ImageRecord before = image.record;
    int result;
    {
      RefuseLocks refuse(image.get());
      result = ResizeImage(image.get(), 4, 4);
    }
    EXPECT_EQ(result, 0);
    EXPECT_EQ(LastError(), ImgErrBusy);
    EXPECT_EQ(image->dib, before.dib);
    EXPECT_EQ(image->width, 8);
    EXPECT_EQ(image->lockCount, 0);
  }
}

// A processor fault inside the resampling is contained: the old image stays,
// with no lock left counted, and the result says the resize failed.
TEST(ResizeImage, FaultWhileResamplingKeepsTheOldImage) {
  FaultingPixels source(16);
  const ImageRecord before = source.image.record;
  EXPECT_EQ(ResizeImage(source.image.get(), 32, 32), 0);
  EXPECT_EQ(LastError(), ImgErrBadObject);
  EXPECT_EQ(source.image->kind, KindCallerMemory);
  EXPECT_EQ(source.image->basePixels, before.basePixels);
  EXPECT_EQ(source.image->width, 64);
  EXPECT_EQ(source.image->lockCount, 0);
  EXPECT_EQ(DestroyImage(source.image.get()), 1);
}
