// The pixel kernels of the smooth resampler: plain pixel rows in, plain
// pixel rows out. No Windows types, so they also build natively for the
// benchmark, the sanitizers and the agreement tests.
//
// Every method has a scalar reference that follows its formulas one
// operation at a time and an SSE2 twin that must agree with it bit for bit.
#pragma once
#include <cstdint>

// One image's pixels as the kernels see them: pixel (x, y) is
// pixels[y * stride + x], 32 bits, bytes B, G, R, A.
struct PixelPlane {
  uint32_t* pixels;
  int32_t width;
  int32_t height;
  int32_t stride;  // in pixels
};

// The four sample-map tables, indexed by destination column or row. Every
// entry a kernel reads (including the one beyond the last column and row,
// read by the two averages) has been written by the map builder.
struct SampleMapTables {
  const int32_t* xIndex;
  const uint8_t* xFraction;
  const int32_t* yIndex;
  const uint8_t* yFraction;
};

// One run of a kernel over destination columns firstColumn..lastColumn and
// rows firstRow..lastRow (inclusive, already clipped, lastColumn >=
// firstColumn). Rows whose source row or destination row lies outside the
// images are skipped by the kernel and keep their pixels.
struct ResampleJob {
  PixelPlane destination;
  PixelPlane source;
  SampleMapTables maps;
  int32_t firstColumn;
  int32_t lastColumn;
  int32_t firstRow;
  int32_t lastRow;
  bool over64;  // area average only: integer arithmetic above a 64-fold reduction
};

typedef void (*ResampleKernel)(const ResampleJob& job);

enum ResampleMethod {
  MethodFourPointAverage,
  MethodAreaAverage,
  MethodBilinear,
  MethodBicubic,
  MethodCount,
};

void FourPointAverageReference(const ResampleJob& job);
void FourPointAverageSse2(const ResampleJob& job);
void AreaAverageReference(const ResampleJob& job);
void AreaAverageSse2(const ResampleJob& job);
void BilinearReference(const ResampleJob& job);
void BilinearSse2(const ResampleJob& job);
void BicubicReference(const ResampleJob& job);
void BicubicSse2(const ResampleJob& job);

// The one list of kernels, indexed by ResampleMethod: the method's name as
// the benchmarks and test traces print it, its reference and its twin.
struct ResampleKernelPair {
  const char* name;
  ResampleKernel reference;
  ResampleKernel sse2;
};
extern const ResampleKernelPair ResampleKernels[MethodCount];

// The kernel a resampling runs: the SSE2 twin when useSse2 is true, unless
// the seam referenceKernelsOnly is set, which always gives the reference.
// Null for a method outside the table.
ResampleKernel KernelFor(ResampleMethod method, bool useSse2);
