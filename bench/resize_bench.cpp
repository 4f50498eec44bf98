// Resize benchmark on the user's road: the library's own ResizeImage on a
// DIB-section image, as the splash picture is enlarged, and its
// high-quality counterpart (a new image, ResampleImage with
// ResampleHighQuality, swap, destroy of the old one). Each round resizes a
// fresh copy of the picture; the best round counts, since other work on the
// machine only ever adds time. Runs every case with the SSE2 kernels, then
// with the scalar references alone (the library's reference switch). Prints:
//   wine <sse2|scalar> <plain|hq> <source>-><destination> <Mpx/s> <ms>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "bench/resample_inputs.h"
#include "imaging/sampling/sampling.h"
#include "imaging/seams.h"

namespace {

typedef ResampleSizeCase SizeCase;

// Under emulation a round of the largest cases takes seconds: at least one
// round, then more while the case has had less than this.
constexpr double kSecondsPerCase = 2.0;
constexpr int kMaxRounds = 7;

double Seconds() {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return double(now.QuadPart) / double(frequency.QuadPart);
}

std::vector<uint32_t> Picture(int32_t w, int32_t h) {
  std::vector<uint32_t> p(size_t(w) * h);
  uint32_t noise = 12345;
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) p[size_t(y) * w + x] = PicturePixel(x, y, w, h, &noise);
  return p;
}

// A new DIB-section image holding the picture.
bool MakeImage(ImageRecord* image, const std::vector<uint32_t>& picture, int32_t w, int32_t h) {
  *image = ImageRecord{};
  if (CreateImage(image, w, h, CreateAsDib) != 1) return false;
  if (!LockImage(image, 0)) return false;
  for (int32_t y = 0; y < h; ++y)
    memcpy(image->pixels + size_t(y) * image->stride, picture.data() + size_t(y) * w, size_t(w) * 4);
  UnlockImage(image, 0);
  return true;
}

bool ResizeHighQuality(ImageRecord* image, int32_t w, int32_t h) {
  ImageRecord resized = {};
  if (!CreateImage(&resized, w, h, CreateAsDib)) return false;
  const int ok = ResampleImage(&resized, 0, 0, w - 1, h - 1, image, image->width - 1,
                               image->height - 1, ResampleHighQuality);
  SwapImages(image, &resized);
  DestroyImage(&resized);
  return ok == 1;
}

// Every case with the kernels the library runs now; 1 when a resize failed.
int RunCases(const char* variant) {
  for (const SizeCase& c : kResampleSizeCases) {
    const std::vector<uint32_t> picture = Picture(c.sw, c.sh);
    for (bool highQuality : {false, true}) {
      double best = 1e30;
      const double started = Seconds();
      for (int round = 0; round < kMaxRounds; ++round) {
        if (round > 0 && Seconds() - started > kSecondsPerCase) break;
        ImageRecord image;
        if (!MakeImage(&image, picture, c.sw, c.sh)) {
          printf("wine %s: cannot make a %dx%d picture\n", variant, c.sw, c.sh);
          return 1;
        }
        const double t0 = Seconds();
        const bool ok = highQuality ? ResizeHighQuality(&image, c.dw, c.dh)
                                    : ResizeImage(&image, c.dw, c.dh) == 1;
        const double seconds = Seconds() - t0;
        const bool sized = image.width == c.dw && image.height == c.dh;
        DestroyImage(&image);
        if (!ok || !sized) {
          printf("wine %s: resize to %dx%d failed\n", variant, c.dw, c.dh);
          return 1;
        }
        if (seconds < best) best = seconds;
      }
      printf("wine %s %s %dx%d->%dx%d %.2f %.3f\n", variant, highQuality ? "hq" : "plain", c.sw,
             c.sh, c.dw, c.dh, double(c.dw) * c.dh / best / 1e6, best * 1000);
      fflush(stdout);
    }
  }
  return 0;
}

}  // namespace

int main() {
  if (RunCases("sse2")) return 1;
  ImagingSeams.referenceKernelsOnly = true;
  return RunCases("scalar");
}
