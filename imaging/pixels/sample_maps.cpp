// The arithmetic of the sample maps, in double precision and in the order of
// operations the resamplers were tuned with: the same request always gives
// the same tables, bit for bit, on every build.
#include "imaging/pixels/sample_maps.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Entries written before the first and after the last destination column
// or row, up to SampleMapLastEntry.
constexpr int64_t kSpareEntries = 4;

// Truncation toward zero into 64 bits; values beyond the range (absurd
// rectangles only) stop at its ends instead of being undefined.
int64_t TruncateToInt64(double value) {
  if (value <= -9.2e18) return std::numeric_limits<int64_t>::min();
  if (value >= 9.2e18) return std::numeric_limits<int64_t>::max();
  return static_cast<int64_t>(value);
}

int32_t SaturateToInt32(int64_t value) {
  return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

// One axis of a request: destination first..last reads source first..last.
struct Axis {
  int64_t destFirst, destLast;
  int64_t sourceFirst, sourceLast;
  int32_t offset;  // 1/256 of a destination pixel
  bool rows;       // rows add the half-step on any enlargement and are not clamped
};

int64_t DestExtent(const Axis& axis) { return axis.destLast - axis.destFirst + 1; }
int64_t SourceExtent(const Axis& axis) { return axis.sourceLast - axis.sourceFirst + 1; }

// Equal extents without an offset map one to one, with no fraction.
bool OneToOne(const Axis& axis) {
  return DestExtent(axis) == SourceExtent(axis) && axis.offset == 0;
}

// Centres the samples of a large enlargement (columns: above twofold; rows:
// any) and of a reduction by more than twofold.
double HalfStep(const Axis& axis) {
  const int64_t a = DestExtent(axis);
  const int64_t b = SourceExtent(axis);
  const bool enlarging = axis.rows ? a > b : a > 2 * b;
  if (enlarging) return 0.5 * static_cast<double>(b) / static_cast<double>(a);
  if (2 * a < b) return 0.5;
  return 0.0;
}

// Writes entries max(0, destFirst - 4) .. min(destLast + 4, 65,536).
void FillAxis(const Axis& axis, int32_t* index, uint8_t* fraction) {
  const int64_t begin = std::max<int64_t>(0, axis.destFirst - kSpareEntries);
  const int64_t end = std::min<int64_t>(axis.destLast + kSpareEntries, int64_t{SampleMapLastEntry});
  if (OneToOne(axis)) {
    for (int64_t i = begin; i <= end; ++i) {
      index[i] = SaturateToInt32(std::max<int64_t>(0, axis.sourceFirst + i - axis.destFirst));
      fraction[i] = 0;
    }
    return;
  }
  const int64_t a = DestExtent(axis);
  const int64_t b = SourceExtent(axis);
  const double h = HalfStep(axis);
  const double origin = static_cast<double>(axis.destFirst) + axis.offset * 0.00390625;
  const double sourceBase = 256.0 * static_cast<double>(axis.sourceFirst);
  for (int64_t i = begin; i <= end; ++i) {
    const double e = static_cast<double>(i) - origin;
    const double s = a == b ? e : static_cast<double>(b) * e / static_cast<double>(a) + h;
    const int64_t f = TruncateToInt64(s * 256.0 + 0.000001 + sourceBase);
    index[i] = SaturateToInt32(f >> 8);  // floor(f / 256): the shift is arithmetic
    fraction[i] = static_cast<uint8_t>(f & 0xFF);
  }
}

void ClampColumns(int32_t* index, const Axis& axis, int32_t sourceWidth) {
  const int64_t begin = std::max<int64_t>(0, axis.destFirst - kSpareEntries);
  const int64_t end = std::min<int64_t>(axis.destLast + kSpareEntries, int64_t{SampleMapLastEntry});
  for (int64_t i = begin; i <= end; ++i) {
    if (index[i] > sourceWidth - 1) index[i] = sourceWidth - 1;
    if (index[i] < 0) index[i] = 0;
  }
}

// The destination columns that have a source column to read.
void ColumnRange(const Axis& axis, int32_t destinationWidth, int32_t sourceWidth,
                 int32_t* firstColumn, int32_t* lastColumn) {
  const int64_t r = std::min<int64_t>(axis.destLast, int64_t{destinationWidth} - 1);
  const int64_t q = std::min<int64_t>(axis.sourceLast, int64_t{sourceWidth} - 1);
  const int64_t leftOfSource = std::min<int64_t>(axis.sourceFirst, 0);
  int64_t u, t;
  if (OneToOne(axis)) {
    u = q - axis.sourceFirst;
    t = axis.destFirst - leftOfSource;
  } else {
    const double ratio =
        static_cast<double>(DestExtent(axis)) / static_cast<double>(SourceExtent(axis));
    u = TruncateToInt64(ratio * static_cast<double>(q - axis.sourceFirst + 1) + 0.999999);
    t = axis.destFirst - TruncateToInt64(ratio * static_cast<double>(leftOfSource) + 0.999999);
  }
  *firstColumn = SaturateToInt32(std::max<int64_t>({axis.destFirst, 0, t}));
  *lastColumn = SaturateToInt32(std::min<int64_t>(axis.destFirst + u, r));
}

}  // namespace

void ComputeSampleMaps(const MutableSampleMapTables& maps, const SampleMapRequest& request,
                       int32_t* firstColumn, int32_t* lastColumn) {
  const Axis columns = {request.destLeft,    request.destRight, request.sourceLeft,
                        request.sourceRight, request.offsetX,   false};
  const Axis rows = {request.destTop,      request.destBottom, request.sourceTop,
                     request.sourceBottom, request.offsetY,    true};
  FillAxis(columns, maps.xIndex, maps.xFraction);
  ClampColumns(maps.xIndex, columns, request.sourceWidth);
  ColumnRange(columns, request.destinationWidth, request.sourceWidth, firstColumn, lastColumn);
  FillAxis(rows, maps.yIndex, maps.yFraction);
}
