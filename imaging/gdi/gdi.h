// The bridge to GDI inside the library: the DIB header, the conversion of
// an image to a DIB section, lent device contexts and the alpha clearing of
// an import.
#pragma once
#include "imaging/image/image.h"

// Fills a 32-bit top-down uncompressed sRGB header for w x h. Returns 1.
int FillV5Header(BITMAPV5HEADER* header, int32_t width, int32_t height);

// Makes the image a DIB-section image with the same pixels (build, swap,
// destroy). 1 when it is one afterwards, else 0.
int ConvertImageToDib(ImageRecord* image);

// Lends the image's memory DC with its DIB section selected (also through
// *dc). 0 on failure. Give it back with ReleaseImageDC.
HDC GetImageDC(ImageRecord* image, HDC* dc);

// Selects the default bitmap back into the lent DC; stores 0 through dc when
// given. 0 or 1.
int ReleaseImageDC(ImageRecord* image, HDC* dc);

// Zeroes the alpha byte of columns 0..right, rows 0..bottom (clamped). The
// caller holds a lock. 1, or 0 when the image has no pixels.
int ClearImageAlpha(ImageRecord* image, int32_t right, int32_t bottom);
