// The image object inside the library: the record's kinds and flags, the
// operations on a record, and the checks and guarded writes they share.
#pragma once
#include "imaging/imaging.h"
#include "imaging/runtime/runtime.h"
#include "support/owners.h"

enum : uint8_t {
  ImageTag = 0x9A,
  KindDibSection = 1,    // dc, dib, defaultBitmap
  KindOwnMemory = 2,     // block, baseWidth, baseHeight, baseStride
  KindCallerMemory = 3,  // basePixels, baseWidth, baseHeight, baseStride
  StateClosing = 0x01,
};

// CreateImage flags.
enum : uint32_t {
  CreateInMemory = 0x01,    // KindOwnMemory instead of a DIB section
  CreateAsDib = 0x02,       // a DIB section (also what a clear bit 0 gives)
  CreateNoPixelCap = 0x10,  // no 250,000,000-pixel cap
  CreateExactSize = 0x20,   // fail with ImgErrTooLarge instead of reducing
};

// LockImage / UnlockImage flags.
enum : uint32_t { LockExclusive = 0x01 };

enum : int32_t {
  // The sample maps are sized for this side: their last entry is the one
  // beyond its last column and row.
  ImageMaxSide = SampleMapLastEntry,
  ImageMaxPixels = 250000000,
};

// Makes an image of |width| x |height| in the record, destroying an image
// it held. Sizes over the limits are reduced unless CreateExactSize is given.
// 0 failure (the record is cleared, except for bad sizes, which leave it as
// it was); 1 made at the asked size; 3 made at a reduced size.
int CreateImage(ImageRecord* image, int32_t width, int32_t height, uint32_t flags);

// Makes the record describe caller memory (width x height, stride in
// pixels). The memory stays the caller's. 0 or 1.
int AttachImage(ImageRecord* image, int32_t width, int32_t height, int32_t stride,
                void* pixels);

// Counts a lock and brings the geometry up to date; LockExclusive also makes
// the calling thread the owner, whom other lockers wait for. 0 or 1.
int LockImage(ImageRecord* image, uint32_t flags);
int UnlockImage(ImageRecord* image, uint32_t flags);

// Re-reads at least width and height from the storage. 0 or 1.
int RefreshImage(ImageRecord* image);

// True when the record holds a usable image; a lost memory DC of a DIB
// section image is made anew.
bool ValidateImage(ImageRecord* image);

// Exchanges the entire contents of two records. 0 or 1.
int SwapImages(ImageRecord* a, ImageRecord* b);

enum class SizeFit { AsAsked, Reduced, TooLarge };

// The size rules of CreateImage, apart from any platform call: fits w x h
// (absolute values, at least 1) to at most 65,536 per side and, without
// CreateNoPixelCap, 250,000,000 pixels. With CreateExactSize a size over a
// limit is TooLarge and w, h are left alone; otherwise they are reduced,
// keeping the aspect, and never below 1 pixel per side.
SizeFit FitImageSize(int64_t* w, int64_t* h, uint32_t flags);

// The second step of every image operation: the whole record must be
// readable and writable. Sets ImgErrBadObject and returns false otherwise.
bool RecordAccessible(ThreadContextRecord* context, ImageRecord* image);

// tag and kind say the record holds an image (whatever its state).
bool HoldsImage(const ImageRecord* image);

// Kinds 2 and 3: the storage address lies above the first 64 KiB and the
// base geometry is set.
bool MemoryKindValid(const ImageRecord* image);

// Fills *out from the DIB section; false when the handle describes none.
bool DescribeDib(HBITMAP dib, DIBSECTION* out);

// DescribeDib, asked once more after GdiFlush and Sleep(0) when GDI has not
// caught up with the section yet.
bool DescribeDibPatiently(HBITMAP dib, DIBSECTION* out);

// Copies the section's size, stride and bits into the record's cache.
void TakeDibGeometry(ImageRecord* image, const DIBSECTION& description);

// Reads the pixel and stores it back, under the fault guard. The store is an
// exchange of the value with itself, so that it never undoes a concurrent
// write by another lock holder.
bool TouchPixel(uint32_t* pixel);

// Called inside the guarded record writes: faults while the seam
// forcedRecordFaults is above zero, counting it down.
void FaultIfForced();

// Zero-fills the record from byteOffset to its end under the fault guard.
bool ClearRecordFrom(ImageRecord* image, size_t byteOffset);

// The step of the image object's waits (for an owner, for locks), in ms.
enum : LONG { ImageWaitStepMs = 20 };

// Waits while ownerThread names another live thread, 20 ms at a time, for at
// most the seam imageWaits.ownerWaitMs; raises ImgNoteWaitTimeout when that runs out.
void WaitForForeignOwner(ImageRecord* image);

// DestroyImage for a temporary record that the function owns.
struct TemporaryImage {
  ImageRecord record = {};
  TemporaryImage() = default;
  ~TemporaryImage() {
    KeepingLastError([this] { DestroyImage(&record); });
  }
  QLN_NO_COPY(TemporaryImage);
};

// UnlockImage for a shared lock taken by Take. The unlock keeps the
// thread's lastError, so that the code of a failure stands when the lock is
// released on the way out.
struct ImageLockHold {
  ImageRecord* image = nullptr;
  bool held = false;
  ImageLockHold() = default;
  bool Take(ImageRecord* record) {
    image = record;
    held = LockImage(record, 0) != 0;
    return held;
  }
  ~ImageLockHold();
  QLN_NO_COPY(ImageLockHold);
};
