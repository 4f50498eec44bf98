// A look at a JPEG's marker structure, without decoding it.
#pragma once
#include <cstddef>
#include <cstdint>

// True unless the bytes start like a JPEG (FF D8) and end before its
// end-of-image marker: the segments are followed by their lengths, the
// entropy-coded data is scanned for the next marker, and a JPEG whose data
// runs out first is cut off. Bytes that do not start like a JPEG are left to
// the picture loader to judge (true); so is anything after the end marker.
bool JpegLooksWhole(const uint8_t* bytes, size_t length);
