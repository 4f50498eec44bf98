// CreateImage: size rules, both storage kinds, and its failures.
#include <gtest/gtest.h>

#include <cstring>

#include "imaging/gdi/gdi.h"
#include "imaging/seams.h"

namespace {

bool RecordIsEmpty(const ImageRecord& r) {
  static const ImageRecord zero = {};
  return memcmp(&r, &zero, sizeof r) == 0;
}

int32_t LastError() { return CurrentThreadContext()->lastError; }

struct ForcedFailure {
  explicit ForcedFailure(LONG step) { ImagingSeams.createForcedFailure = step; }
  ~ForcedFailure() { ImagingSeams.createForcedFailure = CreateFailNone; }
};

}  // namespace

TEST(FitImageSize, TableOfSizes) {
  struct Case {
    int64_t w, h;
    uint32_t flags;
    SizeFit fit;
    int64_t outW, outH;
  } cases[] = {
      {640, 480, 0, SizeFit::AsAsked, 640, 480},
      {65536, 65536 / 32, 0, SizeFit::AsAsked, 65536, 2048},
      {70000, 100, 0, SizeFit::Reduced, 65536, 94},
      {100, 70000, 0, SizeFit::Reduced, 94, 65536},
      {70000, 100, CreateExactSize, SizeFit::TooLarge, 70000, 100},
      {70000, 200000, CreateNoPixelCap, SizeFit::Reduced, 22938, 65536},
      {70000, 200000, 0, SizeFit::Reduced, 9354, 26725},
      {20000, 20000, 0, SizeFit::Reduced, 15811, 15811},
      {20000, 20000, CreateNoPixelCap, SizeFit::AsAsked, 20000, 20000},
      {20000, 20000, CreateExactSize, SizeFit::TooLarge, 20000, 20000},
      {20000, 20000, CreateExactSize | CreateNoPixelCap, SizeFit::AsAsked, 20000, 20000},
      {15811, 15811, 0, SizeFit::AsAsked, 15811, 15811},
      {2147483648LL, 1, 0, SizeFit::Reduced, 65536, 1},  // |INT32_MIN|, short side kept at 1
      {65536, 65536, CreateNoPixelCap, SizeFit::AsAsked, 65536, 65536},
  };
  for (const Case& c : cases) {
    int64_t w = c.w, h = c.h;
    EXPECT_EQ(FitImageSize(&w, &h, c.flags), c.fit) << c.w << " x " << c.h << " flags " << c.flags;
    EXPECT_EQ(w, c.outW) << c.w << " x " << c.h << " flags " << c.flags;
    EXPECT_EQ(h, c.outH) << c.w << " x " << c.h << " flags " << c.flags;
  }
}

TEST(CreateImage, TableOfRequests) {
  struct Case {
    const char* name;
    int32_t w, h;
    uint32_t flags;
    int result;
    int32_t error;  // after a failure
    int32_t outW, outH;
  } cases[] = {
      {"negative sizes", -640, -480, 0, 1, 0, 640, 480},
      {"negative sizes in memory", -640, -480, CreateInMemory, 1, 0, 640, 480},
      {"width 0", 0, 480, 0, 0, ImgErrBadArgument, 0, 0},
      {"height 0", 640, 0, CreateInMemory, 0, ImgErrBadArgument, 0, 0},
      {"70,000 x 100", 70000, 100, 0, 3, 0, 65536, 94},
      {"70,000 x 100 in memory", 70000, 100, CreateInMemory, 3, 0, 65536, 94},
      {"70,000 x 100 exact", 70000, 100, CreateExactSize, 0, ImgErrTooLarge, 0, 0},
      {"20,000 x 20,000", 20000, 20000, 0, 3, 0, 15811, 15811},
      {"20,000 x 20,000 in memory", 20000, 20000, CreateInMemory, 3, 0, 15811, 15811},
      {"20,000 x 20,000 exact", 20000, 20000, CreateExactSize, 0, ImgErrTooLarge, 0, 0},
      {"INT32_MIN wide", INT32_MIN, 3, CreateInMemory, 3, 0, 65536, 1},
      // 16 GiB of pixels: no 32-bit process can hold it, and the byte count
      // must not wrap into a small allocation.
      {"65,536 x 65,536 uncapped", 65536, 65536, CreateNoPixelCap, 0, ImgErrGeneral, 0, 0},
      {"65,536 x 65,536 uncapped in memory", 65536, 65536, CreateNoPixelCap | CreateInMemory, 0,
       ImgErrGeneral, 0, 0},
  };
  for (const Case& c : cases) {
    ImageRecord image = {};
    int result = CreateImage(&image, c.w, c.h, c.flags);
    EXPECT_EQ(result, c.result) << c.name;
    if (result == 0) {
      EXPECT_EQ(LastError(), c.error) << c.name;
      EXPECT_TRUE(RecordIsEmpty(image)) << c.name;
      continue;
    }
    EXPECT_EQ(image.width, c.outW) << c.name;
    EXPECT_EQ(image.height, c.outH) << c.name;
    EXPECT_EQ(image.stride, c.outW) << c.name;
    EXPECT_EQ(image.tag, ImageTag) << c.name;
    EXPECT_EQ(image.kind, (c.flags & CreateInMemory) ? KindOwnMemory : KindDibSection) << c.name;
    EXPECT_EQ(DestroyImage(&image), 1) << c.name;
    EXPECT_TRUE(RecordIsEmpty(image)) << c.name;
  }
}

// Without the cap the platform is asked for all 1.6 GB. Whether a 32-bit
// process gets that much is the platform's answer; either way the result is
// the full size or a clean failure.
TEST(CreateImage, UncappedSizeAsksThePlatformForEverything) {
  for (uint32_t flags : {uint32_t{CreateNoPixelCap}, uint32_t{CreateNoPixelCap | CreateInMemory}}) {
    ImageRecord image = {};
    int result = CreateImage(&image, 20000, 20000, flags);
    if (result == 0) {
      EXPECT_EQ(LastError(), ImgErrGeneral);
      EXPECT_TRUE(RecordIsEmpty(image));
      continue;
    }
    EXPECT_EQ(result, 1);
    EXPECT_EQ(image.width, 20000);
    EXPECT_EQ(image.height, 20000);
    EXPECT_EQ(DestroyImage(&image), 1);
  }
}

TEST(CreateImage, DibSectionIsTopDown32BitWithItsOwnBits) {
  ImageRecord image = {};
  ASSERT_EQ(CreateImage(&image, 33, 7, CreateAsDib), 1);
  EXPECT_EQ(image.kind, KindDibSection);
  EXPECT_EQ(image.stride, image.width);
  EXPECT_EQ(image.baseStride, 0);
  DIBSECTION description;
  ASSERT_NE(GetObjectW(image.dib, sizeof description, &description), 0);
  EXPECT_EQ(image.pixels, description.dsBm.bmBits);
  EXPECT_EQ(description.dsBm.bmBitsPixel, 32);
  EXPECT_EQ(GetObjectType(image.dc), static_cast<DWORD>(OBJ_MEMDC));
  // The section rests outside the DC; the DC holds its default bitmap.
  EXPECT_EQ(GetCurrentObject(image.dc, OBJ_BITMAP), image.defaultBitmap);
  // Row 0 of the pixels is the top row of the picture; the last pixel is
  // writable.
  image.pixels[0] = 0x00FF0000;
  image.pixels[6 * image.stride + 32] = 0xFF112233;
  HGDIOBJ previous = SelectObject(image.dc, image.dib);
  EXPECT_EQ(GetPixel(image.dc, 0, 0), RGB(255, 0, 0));
  EXPECT_EQ(GetPixel(image.dc, 32, 6), RGB(0x11, 0x22, 0x33));
  SelectObject(image.dc, previous);
  HBITMAP dib = image.dib;
  HDC dc = image.dc;
  EXPECT_EQ(DestroyImage(&image), 1);
  EXPECT_EQ(GetObjectType(dib), 0u);
  EXPECT_EQ(GetObjectType(dc), 0u);
}

TEST(CreateImage, OwnMemoryIsAFixedBlockOfTheRightSize) {
  ImageRecord image = {};
  ASSERT_EQ(CreateImage(&image, 33, 7, CreateInMemory), 1);
  EXPECT_EQ(image.kind, KindOwnMemory);
  EXPECT_EQ(image.pixels, image.basePixels);
  EXPECT_EQ(static_cast<void*>(image.pixels), static_cast<void*>(image.block));
  EXPECT_EQ(GlobalSize(image.block), 33u * 7u * 4u);
  EXPECT_EQ(image.baseWidth, 33);
  EXPECT_EQ(image.baseHeight, 7);
  EXPECT_EQ(image.baseStride, 33);
  EXPECT_EQ(DestroyImage(&image), 1);
}

TEST(CreateImage, BadSizeLeavesTheHeldImageAlone) {
  ImageRecord image = {};
  ASSERT_EQ(CreateImage(&image, 10, 10, 0), 1);
  ImageRecord before = image;
  EXPECT_EQ(CreateImage(&image, 0, 10, 0), 0);
  EXPECT_EQ(LastError(), ImgErrBadArgument);
  EXPECT_EQ(memcmp(&before, &image, sizeof image), 0);
  EXPECT_TRUE(ValidateImage(&image));
  EXPECT_EQ(DestroyImage(&image), 1);
}

TEST(CreateImage, ReplacesTheHeldImage) {
  ImageRecord image = {};
  ASSERT_EQ(CreateImage(&image, 10, 10, 0), 1);
  HBITMAP oldDib = image.dib;
  ASSERT_EQ(CreateImage(&image, 20, 5, CreateInMemory), 1);
  EXPECT_EQ(GetObjectType(oldDib), 0u);
  EXPECT_EQ(image.kind, KindOwnMemory);
  EXPECT_EQ(image.width, 20);
  EXPECT_EQ(DestroyImage(&image), 1);
}

TEST(CreateImage, FailingPlatformStepsClearTheRecord) {
  struct Case {
    const char* name;
    LONG step;
    uint32_t flags;
  } cases[] = {
      {"memory DC", CreateFailDc, 0},
      {"DIB section", CreateFailDib, 0},
      {"section description", CreateFailDescription, 0},
      {"pixel block", CreateFailBlock, CreateInMemory},
  };
  for (const Case& c : cases) {
    ImageRecord image = {};
    ASSERT_EQ(CreateImage(&image, 8, 8, 0), 1);
    HBITMAP oldDib = image.dib;
    {
      ForcedFailure failure(c.step);
      EXPECT_EQ(CreateImage(&image, 16, 16, c.flags), 0) << c.name;
    }
    EXPECT_EQ(LastError(), ImgErrGeneral) << c.name;
    EXPECT_TRUE(RecordIsEmpty(image)) << c.name;
    EXPECT_EQ(GetObjectType(oldDib), 0u) << c.name;
  }
}

TEST(CreateImage, FaultWhileClearingTheRecord) {
  ImageRecord image = {};
  ImagingSeams.forcedRecordFaults = 1;
  EXPECT_EQ(CreateImage(&image, 8, 8, 0), 0);
  EXPECT_EQ(LastError(), ImgErrBadObject);
  EXPECT_EQ(ImagingSeams.forcedRecordFaults, 0);
  EXPECT_TRUE(RecordIsEmpty(image));
}

TEST(FillV5Header, TopDown32BitSrgb) {
  BITMAPV5HEADER header;
  memset(&header, 0xCD, sizeof header);
  EXPECT_EQ(FillV5Header(&header, 640, 480), 1);
  EXPECT_EQ(header.bV5Size, 124u);
  EXPECT_EQ(header.bV5Width, 640);
  EXPECT_EQ(header.bV5Height, -480);
  EXPECT_EQ(header.bV5Planes, 1);
  EXPECT_EQ(header.bV5BitCount, 32);
  EXPECT_EQ(header.bV5Compression, static_cast<DWORD>(BI_RGB));
  EXPECT_EQ(header.bV5XPelsPerMeter, 3780);
  EXPECT_EQ(header.bV5YPelsPerMeter, 3780);
  EXPECT_EQ(header.bV5RedMask, 0x00FF0000u);
  EXPECT_EQ(header.bV5GreenMask, 0x0000FF00u);
  EXPECT_EQ(header.bV5BlueMask, 0x000000FFu);
  EXPECT_EQ(header.bV5AlphaMask, 0xFF000000u);
  EXPECT_EQ(header.bV5CSType, 0x73524742u);  // 'sRGB'
  EXPECT_EQ(header.bV5SizeImage, 0u);
  EXPECT_EQ(header.bV5Intent, 0u);
  EXPECT_EQ(header.bV5ProfileSize, 0u);
}
