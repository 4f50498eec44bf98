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

// Entries of the four tables. A request writes entries up to
// SampleMapLastEntry, the one beyond the last destination coordinate
// (65,535), which the averages read; every table has room beyond it.
enum : int32_t {
  SampleMapLastEntry = 65536,
  MapXIndexEntries = 65552,
  MapXFractionEntries = 65600,
  MapYIndexEntries = 65552,
  MapYFractionEntries = 69440,
};

struct MutableSampleMapTables {
  int32_t* xIndex;     // MapXIndexEntries
  uint8_t* xFraction;  // MapXFractionEntries
  int32_t* yIndex;     // MapYIndexEntries
  uint8_t* yFraction;  // MapYFractionEntries
};

// Writes the column and row maps for the request into the tables and gives
// the first and last destination column to write (last < first: none).
void ComputeSampleMaps(const MutableSampleMapTables& maps, const SampleMapRequest& request,
                       int32_t* firstColumn, int32_t* lastColumn);
