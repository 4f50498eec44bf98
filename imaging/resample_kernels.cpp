// The method table of the resampling kernels.
#include "imaging/resample_kernels.h"

namespace {

const ResampleKernel kReferenceKernels[MethodCount] = {
    FourPointAverageReference, AreaAverageReference, BilinearReference, BicubicReference};
const ResampleKernel kSse2Kernels[MethodCount] = {FourPointAverageSse2, AreaAverageSse2,
                                                  BilinearSse2, BicubicSse2};

}  // namespace

// Null for a method outside the table.
ResampleKernel KernelFor(ResampleMethod method, bool useSse2) {
  if (method < 0 || method >= MethodCount) return nullptr;
#ifdef IMAGING_REFERENCE_ONLY
  useSse2 = false;
#endif
  return useSse2 ? kSse2Kernels[method] : kReferenceKernels[method];
}
