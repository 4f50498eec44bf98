// Decoding through the OLE picture loader. The loader reads from a stream
// over a movable global block; the stream takes the block over and frees it
// on its last release, so the block is freed exactly once: by the stream
// when one was made, else here.
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <cstring>

#include "support/jpeg_check.h"
#include "splash/jpeg_decode.h"
#include "support/fault_guard.h"
#include "support/owners.h"

namespace {

// What the guarded region made, kept outside it so that a fault inside the
// loader still lets us release what is left.
struct Decoding {
  HGLOBAL block;
  IStream* stream;
  IPicture* picture;
  bool streamMade;  // the block now belongs to the stream
  HBITMAP result;
};

// Releases the picture, then the stream (which frees the block). Each
// pointer is cleared before its release, so that a release that faults is
// never tried twice.
void ReleaseLeftovers(Decoding* d) {
  if (IPicture* picture = d->picture) {
    d->picture = nullptr;
    picture->Release();
  }
  if (IStream* stream = d->stream) {
    d->stream = nullptr;
    stream->Release();
  }
}

void LoadPicture(Decoding* d) {
  if (FAILED(CreateStreamOnHGlobal(d->block, TRUE, &d->stream)) || !d->stream) {
    d->stream = nullptr;
    return;
  }
  d->streamMade = true;
  // Size 0: the whole stream; run mode TRUE.
  if (SUCCEEDED(OleLoadPicture(d->stream, 0, TRUE, IID_IPicture,
                               reinterpret_cast<void**>(&d->picture))) && d->picture) {
    OLE_HANDLE handle = 0;
    HGDIOBJ object = nullptr;
    if (SUCCEEDED(d->picture->get_Handle(&handle)))
      object = reinterpret_cast<HGDIOBJ>(static_cast<UINT_PTR>(handle));
    // The picture's own bitmap dies with the picture; the caller gets a copy.
    // Icons and metafiles give nothing.
    if (object && GetObjectType(object) == OBJ_BITMAP)
      d->result = static_cast<HBITMAP>(CopyImage(object, IMAGE_BITMAP, 0, 0, 0));
  } else {
    d->picture = nullptr;
  }
  ReleaseLeftovers(d);
}

}  // namespace

HBITMAP DecodeJpegToBitmap(const void* bytes, DWORD length) {
  if (!bytes || length < 4) return nullptr;
  // The loader shows a cut-off JPEG as far as it goes and fills the rest
  // with grey; such a picture is refused instead.
  if (!JpegLooksWhole(static_cast<const uint8_t*>(bytes), length)) return nullptr;
  Decoding d = {};
  d.block = GlobalAlloc(GMEM_MOVEABLE, length);
  if (!d.block) return nullptr;
  void* copy = GlobalLock(d.block);
  if (!copy) {
    GlobalFree(d.block);
    return nullptr;
  }
  memcpy(copy, bytes, length);
  GlobalUnlock(d.block);

  bool clean;
  {
    ComApartment com(COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    clean = RunGuarded([&d] { LoadPicture(&d); });
    if (!clean) RunGuarded([&d] { ReleaseLeftovers(&d); });
  }
  if (!d.streamMade) GlobalFree(d.block);
  if (!clean && d.result) {
    DeleteObject(d.result);
    d.result = nullptr;
  }
  return d.result;
}
