// The size rules of CreateImage, apart from any platform call.
#pragma once
#include <cstdint>

enum class SizeFit { AsAsked, Reduced, TooLarge };

// Fits w x h (absolute values, at least 1) to at most 65,536 per side and,
// without CreateNoPixelCap, 250,000,000 pixels. With CreateExactSize a size
// over a limit is TooLarge and w, h are left alone; otherwise they are
// reduced, keeping the aspect, and never below 1 pixel per side.
SizeFit FitImageSize(int64_t* w, int64_t* h, uint32_t flags);
