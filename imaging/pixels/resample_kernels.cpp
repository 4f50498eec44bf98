// The method table of the resampling kernels.
#include "imaging/pixels/resample_kernels.h"

#include "imaging/seams.h"

const ResampleKernelPair ResampleKernels[MethodCount] = {
    {"four-point", FourPointAverageReference, FourPointAverageSse2},
    {"area", AreaAverageReference, AreaAverageSse2},
    {"bilinear", BilinearReference, BilinearSse2},
    {"bicubic", BicubicReference, BicubicSse2},
};

ResampleKernel KernelFor(ResampleMethod method, bool useSse2) {
  if (method < 0 || method >= MethodCount) return nullptr;
  const ResampleKernelPair& kernels = ResampleKernels[method];
  return useSse2 && !ImagingSeams.referenceKernelsOnly ? kernels.sse2 : kernels.reference;
}
