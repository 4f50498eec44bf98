// The arithmetic of the sample maps: which source column or row each
// destination column or row reads, at what fraction, and which destination
// columns are written. Windows-free: it also runs natively under the
// sanitizers.
#include "imaging/pixels/sample_maps.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr int32_t kUnwritten = 0x7F7F7F7F;
constexpr uint8_t kUnwrittenFraction = 0x7F;

// Tables of the sizes of the per-thread map block, preset to a mark that no
// map entry can hold, so that the test sees which entries a call wrote.
struct Tables {
  std::vector<int32_t> xIndex = std::vector<int32_t>(MapXIndexEntries, kUnwritten);
  std::vector<uint8_t> xFraction = std::vector<uint8_t>(MapXFractionEntries, kUnwrittenFraction);
  std::vector<int32_t> yIndex = std::vector<int32_t>(MapYIndexEntries, kUnwritten);
  std::vector<uint8_t> yFraction = std::vector<uint8_t>(MapYFractionEntries, kUnwrittenFraction);
  int32_t firstColumn = 0, lastColumn = 0;

  void Compute(const SampleMapRequest& request) {
    ComputeSampleMaps({xIndex.data(), xFraction.data(), yIndex.data(), yFraction.data()}, request,
                      &firstColumn, &lastColumn);
  }
};

// Destination rectangle, source region, image widths and offsets.
SampleMapRequest Request(int32_t destLeft, int32_t destTop, int32_t destRight, int32_t destBottom,
                         int32_t sourceLeft, int32_t sourceTop, int32_t sourceRight,
                         int32_t sourceBottom, int32_t destinationWidth, int32_t sourceWidth,
                         int32_t offsetX = 0, int32_t offsetY = 0) {
  return {destLeft,    destTop,      destRight,        destBottom,  sourceLeft, sourceTop,
          sourceRight, sourceBottom, destinationWidth, sourceWidth, offsetX,    offsetY};
}

struct Entry {
  int32_t at;
  int32_t index;
  int fraction;
};

}  // namespace

TEST(ComputeSampleMaps, TableOfEntries) {
  struct Case {
    const char* name;
    SampleMapRequest request;
    std::vector<Entry> columns, rows;
  } cases[] = {
      // No column half-step (125 is not above 200); the rows add 0.4.
      {"100 -> 125",
       Request(0, 0, 124, 124, 0, 0, 99, 99, 125, 100),
       {{0, 0, 0}, {1, 0, 204}, {2, 1, 153}, {3, 2, 102}, {124, 99, 51}},
       {{0, 0, 102}, {1, 1, 51}, {2, 2, 0}, {3, 2, 204}, {124, 99, 153}}},
      // Columns are clamped to the source, rows are not.
      {"4 -> 2",
       Request(0, 0, 1, 1, 0, 0, 3, 3, 2, 4),
       {{0, 0, 0}, {1, 2, 0}, {2, 3, 0}},
       {{0, 0, 0}, {1, 2, 0}, {2, 4, 0}}},
      // More than twofold: the half-step is 0.5 on both axes.
      {"10 -> 3",
       Request(0, 0, 2, 2, 0, 0, 9, 9, 3, 10),
       {{0, 0, 128}, {1, 3, 213}, {2, 7, 42}, {3, 9, 128}},
       {{0, 0, 128}, {1, 3, 213}, {2, 7, 42}, {3, 10, 128}}},
      // Threefold enlargement: both axes add B / A / 2.
      {"3 -> 5 and 2 -> 5",
       Request(0, 0, 4, 4, 0, 0, 2, 1, 5, 3),
       {{0, 0, 0}, {1, 0, 153}, {2, 1, 51}, {3, 1, 204}, {4, 2, 102}},
       {{0, 0, 51}, {1, 0, 153}, {2, 1, 0}, {3, 1, 102}, {4, 1, 204}}},
      // Equal extents map one to one from the region's corner.
      {"one to one, shifted region",
       Request(10, 20, 13, 23, 2, 5, 5, 8, 16, 8),
       {{6, 0, 0}, {10, 2, 0}, {13, 5, 0}, {17, 7, 0}},
       {{16, 1, 0}, {20, 5, 0}, {23, 8, 0}, {27, 12, 0}}},
      // An offset of a whole pixel shifts the samples, also at equal
      // extents; the tiny bias gives negative positions a fraction of 1,
      // which a clamped column keeps.
      {"offset 256, 512",
       Request(0, 0, 3, 3, 0, 0, 3, 3, 4, 4, 256, 512),
       {{0, 0, 1}, {1, 0, 0}, {2, 1, 0}, {3, 2, 0}},
       {{0, -2, 1}, {1, -1, 1}, {2, 0, 0}, {3, 1, 0}}},
      {"offset of half a column",
       Request(0, 0, 5, 0, 0, 0, 5, 0, 8, 4, 128, 0),
       {{0, 0, 129}, {1, 0, 128}, {2, 1, 128}, {3, 2, 128}, {4, 3, 128}, {5, 3, 128}},
       {{0, 0, 0}}},
  };
  for (const Case& c : cases) {
    Tables t;
    t.Compute(c.request);
    for (const Entry& e : c.columns) {
      EXPECT_EQ(t.xIndex[e.at], e.index) << c.name << ", column " << e.at;
      EXPECT_EQ(t.xFraction[e.at], e.fraction) << c.name << ", column " << e.at;
    }
    for (const Entry& e : c.rows) {
      EXPECT_EQ(t.yIndex[e.at], e.index) << c.name << ", row " << e.at;
      EXPECT_EQ(t.yFraction[e.at], e.fraction) << c.name << ", row " << e.at;
    }
  }
}

TEST(ComputeSampleMaps, TableOfColumnRanges) {
  struct Case {
    const char* name;
    SampleMapRequest request;
    int32_t first, last;
  } cases[] = {
      {"100 -> 125", Request(0, 0, 124, 124, 0, 0, 99, 99, 125, 100), 0, 124},
      {"cut to the destination image", Request(0, 0, 124, 124, 0, 0, 99, 99, 100, 100), 0, 99},
      {"destination left of the image", Request(-3, 0, 2, 0, 0, 0, 5, 0, 10, 6), 0, 2},
      // One to one: columns without a source column (left of it, or beyond
      // its last column) are not written.
      {"region left of the source", Request(0, 0, 3, 0, -2, 0, 1, 0, 4, 4), 2, 3},
      {"region beyond the source", Request(0, 0, 5, 0, 0, 0, 5, 0, 8, 4), 0, 3},
      {"4 -> 2", Request(0, 0, 1, 1, 0, 0, 3, 3, 2, 4), 0, 1},
      {"10 -> 3", Request(0, 0, 2, 2, 0, 0, 9, 9, 3, 10), 0, 2},
      // Scaled: the source's last column reaches destination column
      // trunc(A / B x (q + 1) + 0.999999) past the left edge.
      {"scaled region beyond the source", Request(0, 0, 9, 0, 0, 0, 4, 0, 20, 3), 0, 6},
      {"scaled region left of the source", Request(0, 0, 9, 0, -2, 0, 2, 0, 20, 3), 3, 9},
      // With an offset the range follows the scaled formula.
      {"offset, region beyond the source", Request(0, 0, 5, 0, 0, 0, 5, 0, 8, 4, 128), 0, 4},
      {"nothing to write", Request(5, 0, 9, 0, 0, 0, 4, 0, 4, 5), 5, 3},
  };
  for (const Case& c : cases) {
    Tables t;
    t.Compute(c.request);
    EXPECT_EQ(t.firstColumn, c.first) << c.name;
    EXPECT_EQ(t.lastColumn, c.last) << c.name;
  }
}

TEST(ComputeSampleMaps, WritesFourSpareEntriesOnEachSide) {
  Tables t;
  t.Compute(Request(10, 30, 13, 33, 0, 0, 7, 7, 20, 8));
  EXPECT_EQ(t.xIndex[5], kUnwritten);
  EXPECT_EQ(t.xFraction[5], kUnwrittenFraction);
  for (int i = 6; i <= 17; ++i) EXPECT_NE(t.xIndex[i], kUnwritten) << i;
  EXPECT_EQ(t.xIndex[18], kUnwritten);
  EXPECT_EQ(t.yIndex[25], kUnwritten);
  for (int i = 26; i <= 37; ++i) EXPECT_NE(t.yIndex[i], kUnwritten) << i;
  EXPECT_EQ(t.yIndex[38], kUnwritten);
}

TEST(ComputeSampleMaps, StartsAtEntryZero) {
  Tables t;
  t.Compute(Request(-10, -10, 1, 1, 0, 0, 11, 11, 2, 12));
  EXPECT_EQ(t.xIndex[0], 10);
  EXPECT_EQ(t.yIndex[0], 10);
  EXPECT_EQ(t.xIndex[5], 11);  // 15 clamped
  EXPECT_EQ(t.yIndex[5], 15);
  EXPECT_EQ(t.xIndex[6], kUnwritten);
}

// The averages read the entry one beyond the last destination column and
// row, which is entry 65,536 when the destination ends at 65,535.
TEST(ComputeSampleMaps, EntryBeyondColumnAndRow65535IsWrittenAndClamped) {
  struct Case {
    const char* name;
    SampleMapRequest request;
    Entry column, row;
  } cases[] = {
      {"one to one",
       Request(0, 0, 65535, 65535, 0, 0, 65535, 65535, 65536, 65536),
       {65536, 65535, 0},
       {65536, 65536, 0}},
      {"twofold enlargement",
       Request(0, 0, 65535, 65535, 0, 0, 32767, 32767, 65536, 32768),
       {65536, 32767, 0},
       {65536, 32768, 64}},
      {"ending at 65,533",
       Request(65530, 65530, 65533, 65533, 0, 0, 1, 1, 65536, 2),
       {65536, 1, 0},
       {65536, 3, 64}},
  };
  for (const Case& c : cases) {
    Tables t;
    t.Compute(c.request);
    EXPECT_EQ(t.xIndex[c.column.at], c.column.index) << c.name;
    EXPECT_EQ(t.xFraction[c.column.at], c.column.fraction) << c.name;
    EXPECT_EQ(t.yIndex[c.row.at], c.row.index) << c.name;
    EXPECT_EQ(t.yFraction[c.row.at], c.row.fraction) << c.name;
    EXPECT_EQ(t.xIndex[65537], kUnwritten) << c.name;
    EXPECT_EQ(t.yIndex[65537], kUnwritten) << c.name;
  }
}

// Rectangles far outside any image still give defined entries.
TEST(ComputeSampleMaps, ExtremeRectanglesStayDefined) {
  Tables t;
  t.Compute(Request(INT32_MIN, INT32_MIN, 3, 3, INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, 4, 4,
                    INT32_MAX, INT32_MIN));
  for (int i = 0; i <= 7; ++i) {
    EXPECT_GE(t.xIndex[i], 0) << i;
    EXPECT_LE(t.xIndex[i], 3) << i;
  }
  EXPECT_GT(t.firstColumn, t.lastColumn - 4);
}
