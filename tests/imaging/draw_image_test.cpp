// DrawImage into a real memory DC whose pixels are read back.
#include <gtest/gtest.h>

#include "imaging/gdi/gdi.h"
#include "support/owners.h"
#include "tests/imaging/gdi_fixtures.h"

using namespace gdi_fixtures;

namespace {

constexpr uint32_t kSentinel = 0x00ABCDEF;

// Solid 10 x 10 blocks: a stretched drawing keeps the middle of every block
// pure whatever the stretch mode does at the block edges.
uint32_t BlockColour(int x, int y) { return PatternColour(x / 10, y / 10); }

struct PatternImage {
  ImageRecord record = {};
  PatternImage(uint8_t kind, int width, int height, uint32_t (*colour)(int, int)) {
    CreateImage(&record, width, height, kind == KindOwnMemory ? uint32_t(CreateInMemory) : 0u);
    LockImage(&record, 0);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) record.pixels[size_t(y) * record.stride + x] = colour(x, y);
    UnlockImage(&record, 0);
  }
  ~PatternImage() { DestroyImage(&record); }
  QLN_NO_COPY(PatternImage);
};

const char* KindName(uint8_t kind) { return kind == KindDibSection ? "DIB section" : "memory"; }

}  // namespace

TEST(DrawImage, OneToOneCopiesEachPixel) {
  struct Case {
    const char* name;
    int destLeft, destTop, sourceLeft, sourceTop, width, height;
  } cases[] = {
      {"whole image", 0, 0, 0, 0, 200, 100},
      {"inner rectangle, moved", 10, 5, 50, 20, 100, 60},
      {"bottom-right corner", 0, 0, 120, 70, 80, 30},
  };
  for (uint8_t kind : {KindDibSection, KindOwnMemory}) {
    PatternImage image(kind, 200, 100, PatternColour);
    ASSERT_EQ(image.record.kind, kind);
    for (const Case& c : cases) {
      Canvas canvas(220, 120, kSentinel);
      int result = DrawImage(canvas.dc.dc, c.destLeft, c.destTop, c.destLeft + c.width - 1,
                             c.destTop + c.height - 1, &image.record, c.sourceLeft, c.sourceTop,
                             c.sourceLeft + c.width - 1, c.sourceTop + c.height - 1);
      EXPECT_NE(result, 0) << KindName(kind) << ", " << c.name;
      int wrong = 0;
      for (int y = 0; y < canvas.height && wrong < 5; ++y)
        for (int x = 0; x < canvas.width && wrong < 5; ++x) {
          bool inside = x >= c.destLeft && x < c.destLeft + c.width && y >= c.destTop &&
                        y < c.destTop + c.height;
          uint32_t want = inside ? PatternColour(x - c.destLeft + c.sourceLeft,
                                                 y - c.destTop + c.sourceTop)
                                 : kSentinel;
          if ((canvas.At(x, y) & 0xFFFFFF) != want) {
            ++wrong;
            ADD_FAILURE() << KindName(kind) << ", " << c.name << ": (" << x << ", " << y << ") "
                          << std::hex << canvas.At(x, y) << " wanted " << want;
          }
        }
    }
  }
}

TEST(DrawImage, StretchedDoublesEachBlock) {
  for (uint8_t kind : {KindDibSection, KindOwnMemory}) {
    PatternImage image(kind, 200, 100, BlockColour);
    Canvas canvas(400, 200, kSentinel);
    EXPECT_NE(DrawImage(canvas.dc.dc, 0, 0, 399, 199, &image.record, 0, 0, 199, 99), 0)
        << KindName(kind);
    for (int by = 0; by < 10; ++by)
      for (int bx = 0; bx < 20; ++bx)
        for (int dy = 4; dy < 16; dy += 5)
          for (int dx = 4; dx < 16; dx += 5)
            ASSERT_EQ(canvas.At(bx * 20 + dx, by * 20 + dy) & 0xFFFFFF, PatternColour(bx, by))
                << KindName(kind) << ", block " << bx << ", " << by;
    if (kind == KindOwnMemory) {
      // The memory road leaves HALFTONE set on the target.
      EXPECT_EQ(GetStretchBltMode(canvas.dc.dc), HALFTONE);
    }
  }
}

TEST(DrawImage, DibSectionIsSelectedOnlyForTheCall) {
  PatternImage image(KindDibSection, 200, 100, PatternColour);
  Canvas canvas(200, 100, kSentinel);
  ASSERT_NE(DrawImage(canvas.dc.dc, 0, 0, 199, 99, &image.record, 0, 0, 199, 99), 0);
  EXPECT_EQ(GetCurrentObject(image.record.dc, OBJ_BITMAP), image.record.defaultBitmap);

  // A lent DC keeps its DIB section through a drawing.
  HDC lent = nullptr;
  ASSERT_TRUE(GetImageDC(&image.record, &lent));
  ASSERT_NE(DrawImage(canvas.dc.dc, 0, 0, 99, 49, &image.record, 0, 0, 199, 99), 0);
  EXPECT_EQ(GetCurrentObject(image.record.dc, OBJ_BITMAP), image.record.dib);
  EXPECT_EQ(ReleaseImageDC(&image.record, &lent), 1);
  EXPECT_EQ(GetCurrentObject(image.record.dc, OBJ_BITMAP), image.record.defaultBitmap);
}

// For a DIB section the source rectangle goes to GDI as given; GDI itself
// copies the part that exists.
TEST(DrawImage, DibSectionPassesAnOutsideRectangleToGdi) {
  PatternImage image(KindDibSection, 200, 100, PatternColour);
  Canvas canvas(100, 100, kSentinel);
  EXPECT_NE(DrawImage(canvas.dc.dc, 0, 0, 99, 99, &image.record, 150, 0, 249, 99), 0);
  for (int y = 0; y < 100; y += 9)
    for (int x = 0; x < 50; x += 7)
      EXPECT_EQ(canvas.At(x, y) & 0xFFFFFF, PatternColour(150 + x, y)) << x << ", " << y;
}

// A view of memory beyond the pixels would go to GDI: refused, nothing drawn.
TEST(DrawImage, MemoryImageRefusesRectanglesOutsideTheImage) {
  struct Case {
    const char* name;
    int32_t left, top, right, bottom;
  } cases[] = {
      {"left of the image", -1, 0, 49, 49},
      {"above the image", 0, -1, 49, 49},
      {"right edge past the last column", 150, 0, 200, 99},
      {"bottom edge past the last row", 0, 50, 199, 100},
      {"right before left", 60, 0, 59, 99},
      {"bottom before top", 0, 40, 199, 20},
      {"wrapping width", 10, 0, INT32_MIN, 10},
      {"far below", 0, INT32_MAX - 5, 10, INT32_MAX},
  };
  PatternImage image(KindOwnMemory, 200, 100, PatternColour);
  for (const Case& c : cases) {
    Canvas canvas(60, 60, kSentinel);
    CurrentThreadContext()->lastError = ImgErrGeneral;
    EXPECT_EQ(DrawImage(canvas.dc.dc, 0, 0, 49, 49, &image.record, c.left, c.top, c.right,
                        c.bottom),
              0)
        << c.name;
    EXPECT_EQ(LastError(), ImgErrBadArgument) << c.name;
    EXPECT_EQ(canvas.At(0, 0), kSentinel) << c.name;
    EXPECT_EQ(canvas.At(49, 49), kSentinel) << c.name;
    EXPECT_EQ(image.record.lockCount, 0) << c.name;
  }
}

TEST(DrawImage, RefusesWhatItCannotDraw) {
  Canvas canvas(10, 10, kSentinel);
  ImageRecord empty = {};
  EXPECT_EQ(DrawImage(canvas.dc.dc, 0, 0, 9, 9, &empty, 0, 0, 9, 9), 0);

  // A DIB-section record without its DC.
  PatternImage image(KindDibSection, 10, 10, PatternColour);
  HDC dc = image.record.dc;
  image.record.dc = nullptr;
  EXPECT_EQ(DrawImage(canvas.dc.dc, 0, 0, 9, 9, &image.record, 0, 0, 9, 9), 0);
  EXPECT_EQ(LastError(), ImgErrFailed);
  image.record.dc = dc;

  EXPECT_EQ(DrawImage(canvas.dc.dc, 0, 0, 9, 9, reinterpret_cast<ImageRecord*>(uintptr_t(16)), 0,
                      0, 9, 9),
            0);
  EXPECT_EQ(LastError(), ImgErrBadObject);
  EXPECT_EQ(canvas.At(0, 0), kSentinel);
}

// Caller memory that ends on an inaccessible page: a fault while GDI reads
// the pixels gives 0 and leaves no lock behind.
TEST(DrawImage, FaultWhileGdiReadsGivesZero) {
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  const size_t page = system.dwPageSize;
  uint8_t* block = static_cast<uint8_t*>(VirtualAlloc(nullptr, page * 2, MEM_COMMIT, PAGE_READWRITE));
  ASSERT_TRUE(block);
  DWORD old;
  ASSERT_TRUE(VirtualProtect(block + page, page, PAGE_NOACCESS, &old));
  // 64 x 64 pixels claimed over one page: rows 16 and on are inaccessible.
  ImageRecord image = {};
  ASSERT_EQ(AttachImage(&image, 64, 64, 64, block), 1);
  Canvas canvas(64, 64, kSentinel);
  EXPECT_EQ(DrawImage(canvas.dc.dc, 0, 0, 63, 63, &image, 0, 0, 63, 63), 0);
  EXPECT_EQ(image.lockCount, 0);
  EXPECT_EQ(DestroyImage(&image), 1);
  VirtualFree(block, 0, MEM_RELEASE);
}

// Caller memory whose last row ends where an inaccessible page begins: a
// rectangle at the bottom right is drawn from its own rows only.
TEST(DrawImage, BottomRightRectangleReadsNoMemoryPastTheImage) {
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  const size_t page = system.dwPageSize;
  const int side = 64;
  const size_t bytes = size_t(side) * side * 4;
  const size_t reserved = (bytes + page - 1) / page * page + page;
  uint8_t* block = static_cast<uint8_t*>(VirtualAlloc(nullptr, reserved, MEM_COMMIT, PAGE_READWRITE));
  ASSERT_TRUE(block);
  DWORD old;
  ASSERT_TRUE(VirtualProtect(block + reserved - page, page, PAGE_NOACCESS, &old));
  uint32_t* pixels = reinterpret_cast<uint32_t*>(block + reserved - page - bytes);
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) pixels[y * side + x] = PatternColour(x, y);
  ImageRecord image = {};
  ASSERT_EQ(AttachImage(&image, side, side, side, pixels), 1);
  Canvas canvas(32, 32, kSentinel);
  EXPECT_NE(DrawImage(canvas.dc.dc, 0, 0, 31, 31, &image, 32, 32, 63, 63), 0);
  for (int y = 0; y < 32; y += 5)
    for (int x = 0; x < 32; x += 3)
      EXPECT_EQ(canvas.At(x, y) & 0xFFFFFF, PatternColour(32 + x, 32 + y)) << x << ", " << y;
  EXPECT_EQ(DestroyImage(&image), 1);
  VirtualFree(block, 0, MEM_RELEASE);
}
