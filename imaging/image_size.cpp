#include "imaging/image_size.h"

#include <cmath>

#include "imaging/imaging.h"

namespace {

// A very flat size may round its short side down to nothing.
int64_t AtLeastOne(int64_t v) { return v < 1 ? 1 : v; }

}  // namespace

SizeFit FitImageSize(int64_t* w, int64_t* h, uint32_t flags) {
  const bool exact = flags & CreateExactSize;
  bool reduced = false;
  if (*w > ImageMaxSide) {
    if (exact) return SizeFit::TooLarge;
    *h = AtLeastOne(static_cast<int64_t>(double(*h) / double(*w) * ImageMaxSide + 0.5));
    *w = ImageMaxSide;
    reduced = true;
  }
  if (*h > ImageMaxSide) {
    if (exact) return SizeFit::TooLarge;
    *w = AtLeastOne(static_cast<int64_t>(double(*w) / double(*h) * ImageMaxSide + 0.5));
    *h = ImageMaxSide;
    reduced = true;
  }
  if (*w * *h > ImageMaxPixels && !(flags & CreateNoPixelCap)) {
    if (exact) return SizeFit::TooLarge;
    double s = std::sqrt(double(ImageMaxPixels) / (double(*w) * double(*h)));
    *w = AtLeastOne(static_cast<int64_t>(double(*w) * s));
    *h = AtLeastOne(static_cast<int64_t>(double(*h) * s));
    reduced = true;
  }
  return reduced ? SizeFit::Reduced : SizeFit::AsAsked;
}
