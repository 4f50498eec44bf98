#include <cstring>

#include "imaging/imaging.h"

// LCS_sRGB, whose header spelling is a multi-character constant.
constexpr DWORD kColourSpaceSrgb = 0x73524742;

int FillV5Header(BITMAPV5HEADER* header, int32_t width, int32_t height) {
  memset(header, 0, sizeof *header);
  header->bV5Size = sizeof *header;
  header->bV5Width = width;
  header->bV5Height = -height;  // top-down rows
  header->bV5Planes = 1;
  header->bV5BitCount = 32;
  header->bV5Compression = BI_RGB;
  header->bV5XPelsPerMeter = 3780;  // 96 DPI
  header->bV5YPelsPerMeter = 3780;
  header->bV5RedMask = 0x00FF0000;
  header->bV5GreenMask = 0x0000FF00;
  header->bV5BlueMask = 0x000000FF;
  header->bV5AlphaMask = 0xFF000000;
  header->bV5CSType = kColourSpaceSrgb;
  return 1;
}
