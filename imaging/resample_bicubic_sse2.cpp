// Bicubic: SSE2 twin of the scalar reference (for now the reference itself).
#include "imaging/resample_kernels.h"

void BicubicSse2(const ResampleJob& job) { BicubicReference(job); }
