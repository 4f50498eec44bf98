// The arithmetic of the sample maps: for each destination column and row,
// the source column or row it reads and the fraction (in 1/256) beyond it.
// No Windows types, so the kernels' native builds and benchmarks can use it.
#pragma once
#include <cstdint>

struct SampleMapRequest {
  int32_t destLeft, destTop, destRight, destBottom;          // inclusive
  int32_t sourceLeft, sourceTop, sourceRight, sourceBottom;  // inclusive
  int32_t destinationWidth;  // width of the destination image
  int32_t sourceWidth;       // width of the source image
  int32_t offsetX, offsetY;  // sampling offsets in 1/256 of a destination pixel
};

struct MutableSampleMapTables {
  int32_t* xIndex;      // 65,552 entries
  uint8_t* xFraction;   // 65,600 entries
  int32_t* yIndex;      // 65,552 entries
  uint8_t* yFraction;   // 69,440 entries
};

// Writes the column and row maps for the request into the tables and gives
// the first and last destination column to write (last < first: none).
void ComputeSampleMaps(const MutableSampleMapTables& maps, const SampleMapRequest& request,
                       int32_t* firstColumn, int32_t* lastColumn);
