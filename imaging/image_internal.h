// Steps shared by the image operations.
#pragma once
#include "imaging/imaging.h"

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

// Waits while ownerThread names another live thread, 20 ms at a time, for at
// most ImageWaits.ownerWaitMs; raises ImgNoteWaitTimeout when that runs out.
void WaitForForeignOwner(ImageRecord* image);

// Before CreateImage and AttachImage reuse a record: destroys the image it
// holds, also one whose earlier destruction was refused. False (with the
// destruction's lastError) when the old image could not be destroyed.
bool ReleaseHeldImage(ImageRecord* image);

// Runs a clean-up call of the library without changing lastError, so that
// a function reports the code of the step that failed, not of its clean-up.
template <class F>
void KeepingLastError(F&& cleanUp) {
  ThreadContextRecord* context = CurrentThreadContext();
  const int32_t kept = context ? context->lastError : 0;
  cleanUp();
  if (context) context->lastError = kept;
}

// DestroyImage for a temporary record that the function owns.
struct TemporaryImage {
  ImageRecord record = {};
  TemporaryImage() = default;
  ~TemporaryImage() {
    KeepingLastError([this] { DestroyImage(&record); });
  }
  TemporaryImage(const TemporaryImage&) = delete;
  TemporaryImage& operator=(const TemporaryImage&) = delete;
};

// Draws the whole bitmap into the whole image through the image's lent DC,
// scaled with HALFTONE, in up to 10 attempts 10 ms apart. bitmapInfo is the
// bitmap's own description (its sizes as it reports them). False with
// lastError set when the DC cannot be lent, the bitmap cannot be selected or
// every attempt failed.
bool StretchBitmapIntoImage(ThreadContextRecord* context, ImageRecord* image, HBITMAP bitmap,
                            const BITMAP& bitmapInfo);
