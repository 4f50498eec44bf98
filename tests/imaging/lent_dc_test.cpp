// GetImageDC, ReleaseImageDC and ClearImageAlpha.
#include <gtest/gtest.h>

#include <vector>

#include "imaging/gdi/gdi.h"
#include "support/owners.h"
#include "tests/imaging/gdi_fixtures.h"

using namespace gdi_fixtures;

TEST(ClearImageAlpha, ClampsTheRectangle) {
  struct Case {
    const char* name;
    int32_t right, bottom;
    int lastColumn, lastRow;  // of the cleared rectangle
  } cases[] = {
      {"inside", 1, 1, 1, 1},
      {"whole image", 3, 2, 3, 2},
      {"beyond both edges", 100, 100, 3, 2},
      {"negative right: column 0", -5, 2, 0, 2},
      {"negative bottom: row 0", 3, -1, 3, 0},
      {"both negative: pixel (0, 0)", INT32_MIN, -1, 0, 0},
      {"corner", 0, 0, 0, 0},
  };
  for (uint8_t kind : {KindDibSection, KindOwnMemory}) {
    for (const Case& c : cases) {
      ImageRecord image = {};
      ASSERT_GE(CreateImage(&image, 4, 3, kind == KindOwnMemory ? uint32_t(CreateInMemory) : 0u), 1);
      ASSERT_EQ(LockImage(&image, 0), 1);
      for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) image.pixels[y * image.stride + x] = 0xFF000000u | PatternColour(x, y);
      EXPECT_EQ(ClearImageAlpha(&image, c.right, c.bottom), 1) << c.name;
      for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) {
          bool cleared = x <= c.lastColumn && y <= c.lastRow;
          EXPECT_EQ(PixelAt(image, x, y), (cleared ? 0u : 0xFF000000u) | PatternColour(x, y))
              << c.name << " at " << x << ", " << y;
        }
      UnlockImage(&image, 0);
      DestroyImage(&image);
    }
  }
}

TEST(ClearImageAlpha, NoPixelsIsAnEmptyRectangle) {
  ImageRecord empty = {};
  EXPECT_EQ(ClearImageAlpha(&empty, 10, 10), 0);
}

TEST(GetImageDC, LendsTheDcWithTheDibSectionSelected) {
  ImageRecord image = {};
  ASSERT_EQ(CreateImage(&image, 30, 20, 0), 1);
  HDC dc = nullptr;
  HDC lent = GetImageDC(&image, &dc);
  ASSERT_TRUE(lent);
  EXPECT_EQ(dc, lent);
  EXPECT_EQ(lent, image.dc);
  EXPECT_EQ(GetCurrentObject(lent, OBJ_BITMAP), image.dib);
  // What GDI draws into the lent DC lands in the image's pixels.
  GdiObjectOwner brush(CreateSolidBrush(RGB(0x12, 0x34, 0x56)));
  RECT r = {5, 4, 10, 8};
  ASSERT_TRUE(FillRect(lent, &r, static_cast<HBRUSH>(brush.object)));
  GdiFlush();
  EXPECT_EQ(PixelAt(image, 5, 4) & 0xFFFFFF, 0x123456u);
  EXPECT_EQ(PixelAt(image, 9, 7) & 0xFFFFFF, 0x123456u);
  EXPECT_NE(PixelAt(image, 10, 8) & 0xFFFFFF, 0x123456u);
  // Lending twice is harmless.
  HDC again = nullptr;
  EXPECT_EQ(GetImageDC(&image, &again), lent);

  EXPECT_EQ(ReleaseImageDC(&image, &dc), 1);
  EXPECT_EQ(dc, nullptr);
  EXPECT_EQ(GetCurrentObject(image.dc, OBJ_BITMAP), image.defaultBitmap);
  EXPECT_EQ(ReleaseImageDC(&image, nullptr), 1);
  DestroyImage(&image);
}

namespace {
std::vector<DWORD>* seenNotes = nullptr;
LONG CALLBACK RecordNote(DWORD code, ULONG_PTR) {
  if (seenNotes) seenNotes->push_back(code);
  return 0;
}
}  // namespace

// A memory image becomes a DIB section with the same pixels to lend a DC.
TEST(GetImageDC, ConvertsAMemoryImage) {
  ImageRecord image = {};
  ASSERT_EQ(CreateImage(&image, 30, 20, CreateInMemory), 1);
  ASSERT_EQ(LockImage(&image, 0), 1);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 30; ++x) image.pixels[y * image.stride + x] = 0x80000000u | PatternColour(x, y);
  UnlockImage(&image, 0);
  std::vector<DWORD> notes;
  seenNotes = &notes;
  CurrentThreadContext()->notifyCallback = RecordNote;
  HDC dc = nullptr;
  HDC lent = GetImageDC(&image, &dc);
  CurrentThreadContext()->notifyCallback = nullptr;
  seenNotes = nullptr;
  ASSERT_TRUE(lent);
  EXPECT_EQ(image.kind, KindDibSection);
  EXPECT_EQ(GetCurrentObject(lent, OBJ_BITMAP), image.dib);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0], DWORD(ImgNoteConverted));
  for (int y = 0; y < 20; y += 3)
    for (int x = 0; x < 30; x += 4)
      EXPECT_EQ(PixelAt(image, x, y), 0x80000000u | PatternColour(x, y)) << x << ", " << y;
  EXPECT_EQ(ReleaseImageDC(&image, &dc), 1);
  DestroyImage(&image);
}

TEST(GetImageDC, Refusals) {
  HDC out = nullptr;
  ImageRecord nothing = {};
  EXPECT_EQ(GetImageDC(&nothing, &out), nullptr);
  EXPECT_EQ(LastError(), ImgErrFailed);

  ImageRecord image = {};
  ASSERT_EQ(CreateImage(&image, 8, 8, 0), 1);
  EXPECT_EQ(GetImageDC(&image, nullptr), nullptr);
  EXPECT_EQ(LastError(), ImgErrBadArgument);
  HDC dc = nullptr;
  EXPECT_EQ(GetImageDC(reinterpret_cast<ImageRecord*>(uintptr_t(16)), &dc), nullptr);
  EXPECT_EQ(LastError(), ImgErrBadObject);
  image.state |= StateClosing;
  EXPECT_EQ(GetImageDC(&image, &dc), nullptr);
  EXPECT_EQ(LastError(), ImgErrBusy);
  image.state = 0;
  DestroyImage(&image);
}

TEST(ReleaseImageDC, RefusesImagesWithoutADc) {
  ImageRecord image = {};
  ASSERT_EQ(CreateImage(&image, 8, 8, CreateInMemory), 1);
  HDC dc = reinterpret_cast<HDC>(uintptr_t(0x1234));
  EXPECT_EQ(ReleaseImageDC(&image, &dc), 0);
  EXPECT_EQ(LastError(), ImgErrFailed);
  DestroyImage(&image);
  ImageRecord empty = {};
  EXPECT_EQ(ReleaseImageDC(&empty, nullptr), 0);
  EXPECT_EQ(LastError(), ImgErrFailed);
  EXPECT_EQ(ReleaseImageDC(reinterpret_cast<ImageRecord*>(uintptr_t(16)), nullptr), 0);
  EXPECT_EQ(LastError(), ImgErrBadObject);
}
