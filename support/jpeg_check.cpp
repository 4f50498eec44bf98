#include "support/jpeg_check.h"

namespace {

constexpr uint8_t kMarker = 0xFF;
constexpr uint8_t kStartOfImage = 0xD8;
constexpr uint8_t kEndOfImage = 0xD9;
constexpr uint8_t kStartOfScan = 0xDA;
constexpr uint8_t kTemporary = 0x01;

// Markers that stand alone, without a length: TEM, RST0-7 and SOI.
bool StandsAlone(uint8_t marker) {
  return marker == kTemporary || (marker >= 0xD0 && marker <= kStartOfImage);
}

// Position of the next marker (its FF byte) in entropy-coded data, where
// FF 00 is a stuffed data byte and FF D0-D7 are restart markers that belong
// to the data; length when the data runs out first.
size_t SkipEntropyData(const uint8_t* bytes, size_t length, size_t at) {
  for (; at + 1 < length; ++at) {
    if (bytes[at] != kMarker) continue;
    const uint8_t next = bytes[at + 1];
    if (next == 0x00 || (next >= 0xD0 && next <= 0xD7)) {
      ++at;
      continue;
    }
    return at;
  }
  return length;
}

}  // namespace

bool JpegLooksWhole(const uint8_t* bytes, size_t length) {
  if (!bytes || length < 2 || bytes[0] != kMarker || bytes[1] != kStartOfImage) return true;
  size_t at = 2;
  for (;;) {
    // Stray bytes before a marker are skipped, as decoders do; fill bytes
    // (runs of FF) come before the marker code.
    while (at < length && bytes[at] != kMarker) ++at;
    while (at < length && bytes[at] == kMarker) ++at;
    if (at >= length) return false;
    const uint8_t marker = bytes[at++];
    if (marker == kEndOfImage) return true;
    if (StandsAlone(marker)) continue;
    if (length - at < 2) return false;
    const size_t segment = (static_cast<size_t>(bytes[at]) << 8) | bytes[at + 1];
    if (segment < 2 || segment > length - at) return false;
    at += segment;
    if (marker == kStartOfScan) at = SkipEntropyData(bytes, length, at);
  }
}
