// The inputs of the resampling benchmark: the splash picture's size enlarged
// for 120 and 144 DPI, a larger enlargement, a photograph reduced fourfold
// and by a fifth, and a photograph-like picture to resample.
#pragma once
#include <cstdint>

struct ResampleSizeCase {
  int32_t sw, sh, dw, dh;
};

const ResampleSizeCase kResampleSizeCases[] = {{400, 300, 500, 375},
                                               {400, 300, 600, 450},
                                               {1000, 750, 1500, 1125},
                                               {4000, 3000, 1000, 750},
                                               {4000, 3000, 3200, 2400}};

// Pixel (x, y) of a w x h picture of smooth gradients with some noise; noise
// carries a generator state from one pixel to the next, row by row.
inline uint32_t PicturePixel(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t* noise) {
  *noise = *noise * 1103515245u + 12345u;
  const uint32_t n = (*noise >> 16) & 15;
  const uint32_t b = (uint32_t(x) * 255 / w + n) & 0xFF, g = (uint32_t(y) * 255 / h + n) & 0xFF;
  const uint32_t r = (uint32_t(x + y) * 127 / (w + h) + n) & 0xFF;
  return b | g << 8 | r << 16 | 0xFFu << 24;
}
