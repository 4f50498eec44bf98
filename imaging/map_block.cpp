// The per-thread block of sampling maps.
#include "imaging/imaging.h"
#include "imaging/seams.h"

namespace {

bool ForcedToFail() {
  return ImagingSeams.mapBlockFailures > 0 && InterlockedDecrement(&ImagingSeams.mapBlockFailures) >= 0;
}

}  // namespace

bool EnsureMapBlock(ThreadContextRecord* context) {
  if (!context->mapBlock) {
    HGLOBAL block = ForcedToFail() ? nullptr : GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, MapBlockBytes);
    if (!block) {
      context->lastError = ImgErrNoMemory;
      return false;
    }
    context->mapBlock = block;
  }
  // A fixed block's handle is its address.
  auto* base = static_cast<uint8_t*>(context->mapBlock);
  context->xIndex = reinterpret_cast<int32_t*>(base + MapXIndexOffset);
  context->xFraction = base + MapXFractionOffset;
  context->yIndex = reinterpret_cast<int32_t*>(base + MapYIndexOffset);
  context->yFraction = base + MapYFractionOffset;
  return true;
}
