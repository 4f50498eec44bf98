// Native (Linux, no sanitizers) figures of the resampling kernels on the
// benchmark's sizes: per call the sample maps, a fresh destination and one
// kernel run over the whole picture, the work of one resize minus the image
// objects. SSE2 twin and scalar reference take turns; the best round of each
// counts, since other work on the machine only ever adds time. Prints:
//   native <sse2|scalar> <plain|hq> <method> <source>-><destination> <Mpx/s>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "bench/resample_inputs.h"
#include "imaging/pixels/resample_kernels.h"
#include "imaging/pixels/sample_maps.h"

namespace {

typedef ResampleSizeCase SizeCase;

// The resampler's choice for a whole-image resize with no offsets.
ResampleMethod MethodFor(const SizeCase& c, bool highQuality) {
  const bool notEnlarging = c.sw >= c.dw && c.sh >= c.dh;
  if (!highQuality) return notEnlarging ? MethodFourPointAverage : MethodBilinear;
  if (notEnlarging && (c.sw >= 2 * c.dw || c.sh >= 2 * c.dh)) return MethodAreaAverage;
  return MethodBicubic;
}

// A photograph-like picture: smooth gradients with some noise.
std::vector<uint32_t> Picture(int32_t w, int32_t h) {
  std::vector<uint32_t> p(size_t(w) * h);
  uint32_t noise = 12345;
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      p[size_t(y) * w + x] = PicturePixel(x, y, w, h, &noise);
    }
  }
  return p;
}

struct MapTables {
  std::vector<int32_t> xIndex = std::vector<int32_t>(MapXIndexEntries);
  std::vector<uint8_t> xFraction = std::vector<uint8_t>(MapXFractionEntries);
  std::vector<int32_t> yIndex = std::vector<int32_t>(MapYIndexEntries);
  std::vector<uint8_t> yFraction = std::vector<uint8_t>(MapYFractionEntries);
};

// The process's processor time: on a loaded machine the time spent waiting
// for a processor is not ours (Pillow is timed the same way).
double Seconds() {
  timespec now;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// One resize's work; returns the seconds it took.
double ResizeOnce(const SizeCase& c, std::vector<uint32_t>& source, MapTables& maps,
                  ResampleKernel kernel) {
  const double start = Seconds();
  SampleMapRequest request{};
  request.destRight = c.dw - 1;
  request.destBottom = c.dh - 1;
  request.sourceRight = c.sw - 1;
  request.sourceBottom = c.sh - 1;
  request.destinationWidth = c.dw;
  request.sourceWidth = c.sw;
  int32_t first = 0, last = -1;
  ComputeSampleMaps({maps.xIndex.data(), maps.xFraction.data(), maps.yIndex.data(),
                     maps.yFraction.data()},
                    request, &first, &last);
  uint32_t* destination = static_cast<uint32_t*>(malloc(size_t(c.dw) * c.dh * 4));
  ResampleJob job{};
  job.destination = {destination, c.dw, c.dh, c.dw};
  job.source = {source.data(), c.sw, c.sh, c.sw};
  job.maps = {maps.xIndex.data(), maps.xFraction.data(), maps.yIndex.data(), maps.yFraction.data()};
  job.firstColumn = first;
  job.lastColumn = last;
  job.firstRow = 0;
  job.lastRow = c.dh - 1;
  job.over64 = c.sh > 64 * c.dh || c.sw > 64 * c.dw;
  if (last >= first) kernel(job);
  const double seconds = Seconds() - start;
  // Keep the result alive so that the work cannot be dropped.
  static volatile uint32_t sink;
  sink = destination[size_t(c.dw) * c.dh / 2];
  free(destination);
  return seconds;
}

}  // namespace

int main() {
  MapTables maps;
  for (const SizeCase& c : kResampleSizeCases) {
    std::vector<uint32_t> source = Picture(c.sw, c.sh);
    for (bool highQuality : {false, true}) {
      const ResampleMethod method = MethodFor(c, highQuality);
      const ResampleKernel kernels[2] = {KernelFor(method, true), KernelFor(method, false)};
      double best[2] = {1e30, 1e30};
      const double started = Seconds();
      for (int round = 0; round < 5 || (round < 200 && Seconds() - started < 1.5); ++round) {
        for (int k = 0; k < 2; ++k)
          best[k] = std::min(best[k], ResizeOnce(c, source, maps, kernels[k]));
      }
      for (int k = 0; k < 2; ++k) {
        printf("native %s %s %s %dx%d->%dx%d %.2f\n", k == 0 ? "sse2" : "scalar",
               highQuality ? "hq" : "plain", ResampleKernels[method].name, c.sw, c.sh, c.dw, c.dh,
               double(c.dw) * c.dh / best[k] / 1e6);
      }
      fflush(stdout);
    }
  }
  return 0;
}
