// The block copy of whole pixel rows. No Windows types, so the native
// builds and benchmarks can use it.
#pragma once
#include <cstddef>

// Copies byteCount bytes forward from source to destination; the two ranges
// must not overlap. Below 32 bytes it copies byte by byte; from 32 bytes on
// it copies single bytes up to the destination's next 16-byte boundary, then
// 16-byte blocks (unaligned loads, aligned stores), then the remaining bytes.
void CopyPixelRun(void* destination, const void* source, size_t byteCount);
