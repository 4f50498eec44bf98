// Real GDI objects for the import and drawing tests: DIB sections of any
// depth filled from a pattern, and a memory DC whose pixels can be read.
#pragma once
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "imaging/imaging.h"
#include "support/owners.h"

namespace gdi_fixtures {

// The colour 0x00RRGGBB of pixel (x, y) of the test pattern; distinct for
// neighbouring pixels in both directions.
inline uint32_t PatternColour(int x, int y) {
  return (uint32_t((x * 37 + y * 11) & 0xFF) << 16) | (uint32_t((x * 5 + y * 67) & 0xFF) << 8) |
         uint32_t((x * 13 + y * 29 + 7) & 0xFF);
}

// The alpha a 32-bit fixture carries at (x, y).
inline uint8_t PatternAlpha(int x, int y) { return uint8_t(0x40 + ((x + y) & 0x3F)); }

// The palette of the 8-bit fixture and the index of pixel (x, y).
inline uint32_t PaletteColour(int i) { return PatternColour(i, 255 - i); }
inline uint8_t PatternIndex(int x, int y) { return uint8_t((x * 3 + y * 7) & 0xFF); }

// The colour a fixture of this depth shows at (x, y).
inline uint32_t ExpectedColour(int bits, int x, int y) {
  return bits == 8 ? PaletteColour(PatternIndex(x, y)) : PatternColour(x, y);
}

struct PalettedInfo {
  BITMAPINFOHEADER header;
  RGBQUAD colours[256];
};

// A DIB section of 8, 24 or 32 bits per pixel, top-down or bottom-up,
// filled with the pattern (32-bit: also PatternAlpha). The caller deletes it.
inline HBITMAP MakePatternDib(int width, int height, int bits, bool topDown) {
  PalettedInfo info = {};
  info.header.biSize = sizeof info.header;
  info.header.biWidth = width;
  info.header.biHeight = topDown ? -height : height;
  info.header.biPlanes = 1;
  info.header.biBitCount = WORD(bits);
  info.header.biCompression = BI_RGB;
  if (bits == 8) {
    info.header.biClrUsed = 256;
    for (int i = 0; i < 256; ++i) {
      uint32_t c = PaletteColour(i);
      info.colours[i] = RGBQUAD{BYTE(c), BYTE(c >> 8), BYTE(c >> 16), 0};
    }
  }
  void* bitsOut = nullptr;
  HBITMAP dib = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS,
                                 &bitsOut, nullptr, 0);
  if (!dib) return nullptr;
  const int rowBytes = ((width * bits + 31) / 32) * 4;
  for (int y = 0; y < height; ++y) {
    uint8_t* row = static_cast<uint8_t*>(bitsOut) + size_t(topDown ? y : height - 1 - y) * rowBytes;
    for (int x = 0; x < width; ++x) {
      uint32_t c = PatternColour(x, y);
      if (bits == 8) {
        row[x] = PatternIndex(x, y);
      } else if (bits == 24) {
        memcpy(row + x * 3, &c, 3);
      } else {
        c |= uint32_t(PatternAlpha(x, y)) << 24;
        memcpy(row + x * 4, &c, 4);
      }
    }
  }
  GdiFlush();
  return dib;
}

// A 32-bit top-down DIB section selected into a memory DC, the target of a
// drawing, preset to one colour. Pixel (x, y) is readable with At.
struct Canvas {
  int width, height;
  MemoryDcOwner dc{CreateCompatibleDC(nullptr)};
  GdiObjectOwner bitmap;
  uint32_t* bits = nullptr;
  HGDIOBJ previous = nullptr;
  Canvas(int w, int h, uint32_t fill) : width(w), height(h) {
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof header;
    header.biWidth = w;
    header.biHeight = -h;
    header.biPlanes = 1;
    header.biBitCount = 32;
    void* out = nullptr;
    bitmap.object = CreateDIBSection(dc.dc, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS,
                                     &out, nullptr, 0);
    bits = static_cast<uint32_t*>(out);
    previous = SelectObject(dc.dc, bitmap.object);
    for (int i = 0; i < w * h; ++i) bits[i] = fill;
  }
  ~Canvas() { SelectObject(dc.dc, previous); }
  uint32_t At(int x, int y) {
    GdiFlush();
    return bits[size_t(y) * width + x];
  }
  QLN_NO_COPY(Canvas);
};

inline int32_t LastError() { return CurrentThreadContext()->lastError; }

// The pixel of a locked image.
inline uint32_t PixelAt(const ImageRecord& image, int x, int y) {
  return image.pixels[size_t(y) * image.stride + x];
}

}  // namespace gdi_fixtures
