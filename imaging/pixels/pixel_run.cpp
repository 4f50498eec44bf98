#include "imaging/pixels/pixel_run.h"

#include <emmintrin.h>

#include <cstdint>

namespace {

constexpr size_t kBlockBytes = 16;
constexpr size_t kBytewiseBelow = 32;

void CopyBytes(uint8_t* to, const uint8_t* from, size_t count) {
  for (size_t i = 0; i < count; ++i) to[i] = from[i];
}

}  // namespace

void CopyPixelRun(void* destination, const void* source, size_t byteCount) {
  auto* to = static_cast<uint8_t*>(destination);
  auto* from = static_cast<const uint8_t*>(source);
  if (byteCount < kBytewiseBelow) {
    CopyBytes(to, from, byteCount);
    return;
  }
  // Aligned stores never split a cache line of the destination row.
  const size_t lead = (kBlockBytes - reinterpret_cast<uintptr_t>(to) % kBlockBytes) % kBlockBytes;
  CopyBytes(to, from, lead);
  to += lead;
  from += lead;
  byteCount -= lead;
  for (; byteCount >= kBlockBytes; byteCount -= kBlockBytes) {
    _mm_store_si128(reinterpret_cast<__m128i*>(to),
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(from)));
    to += kBlockBytes;
    from += kBlockBytes;
  }
  CopyBytes(to, from, byteCount);
}
