// The imaging library as the rest of the product sees it: an image record,
// imported from a GDI bitmap, resized, drawn to a device context and
// destroyed, and the calling thread's context record with its last error.
// Everything else is the library's own (the headers in its folders).
//
// Every operation first fetches the calling thread's ThreadContextRecord;
// when the library cannot run (start-up failed, no table, no free record)
// the operation fails without touching its arguments. Results: 0 failure,
// non-zero success; the reason for a failure is in lastError of the calling
// thread's record. Rectangles are inclusive corners: width = right - left + 1.
#pragma once
#include <windows.h>
#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------
// Codes

// Stored in ThreadContextRecord::lastError.
enum : int32_t {
  ImgErrGeneral = 1,      // argument checks passed; failures with no code of their own
  ImgErrBadObject = 3,    // record or its memory not accessible, or no valid image
  ImgErrBadArgument = 4,  // an argument out of range
  ImgErrNoMemory = 5,     // a per-thread block could not be allocated
  ImgErrTooLarge = 6,     // size over a limit and reduction not allowed
  ImgErrBusy = 7,         // the image is being destroyed
  ImgErrFailed = 16,      // a platform drawing step or a conversion failed
};

// Passed to the thread's notification callback; they inform only.
enum : uint32_t {
  ImgNoteWaitTimeout = 0x40000002,  // a wait for an image's owner or locks ran out
  ImgNoteLockCount = 0x40000003,    // lockCount went above 255 or below 0
  ImgNoteDcRecreated = 0x40000004,  // a lost memory DC was made anew
  ImgNoteConverted = 0x40000005,    // an image became a DIB section to lend a DC
};

// ---------------------------------------------------------------------------
// Per-thread context

// Called with a notification code and the record's notifyData; the result is
// ignored.
typedef LONG(CALLBACK* ImgNotifyProc)(DWORD code, ULONG_PTR data);

struct ThreadContextRecord {
  volatile DWORD threadId;  // owner; 0 = free
  int32_t lastError;        // ImgErr...; 1 in a new record
  int32_t clipLeft, clipTop, clipRight, clipBottom;  // inclusive destination clip
  int32_t offsetX, offsetY;                          // sampling offsets, 1/256 pixel
  ImgNotifyProc notifyCallback;
  ULONG_PTR notifyData;
  HGLOBAL mapBlock;  // sampling maps, MapBlockBytes; released when reclaimed
  int32_t* xIndex;
  uint8_t* xFraction;
  int32_t* yIndex;
  uint8_t* yFraction;
};

// The calling thread's record, or null when the library cannot run: start-up
// failed 52 times 20 ms apart, the table could not be made, or every record
// belongs to a live thread (the caller is then refused rather than given a
// record that another live thread uses; a later call tries again).
ThreadContextRecord* CurrentThreadContext();

// ---------------------------------------------------------------------------
// Image object

// One image, owned by the caller and filled by the library. Zero-fill a
// record before its first use. Pixels are B, G, R, A bytes; pixel (x, y) is
// pixels[y * stride + x]. The first four fields are a cache of the
// storage's geometry, current after ImportBitmap and ResizeImage; inside the
// library LockImage brings them up to date.
struct ImageRecord {
  int32_t width;
  int32_t height;
  int32_t stride;  // in pixels
  uint32_t* pixels;
  uint8_t tag;    // ImageTag while the record holds an image
  uint8_t kind;   // Kind...
  uint8_t state;  // StateClosing while DestroyImage runs
  volatile LONG lockCount;    // interlocked only
  volatile LONG ownerThread;  // exclusive holder's thread id; interlocked only
  union {
    HDC dc;
    HGLOBAL block;
    uint32_t* basePixels;
  };
  union {
    HBITMAP dib;
    int32_t baseWidth;
  };
  union {
    HGDIOBJ defaultBitmap;
    int32_t baseHeight;
  };
  int32_t baseStride;  // kinds 2 and 3; 0 in kind 1
};

#ifndef _WIN64
static_assert(sizeof(ImageRecord) == 44, "ImageRecord layout");
static_assert(offsetof(ImageRecord, lockCount) == 20, "ImageRecord layout");
static_assert(offsetof(ImageRecord, dc) == 28, "ImageRecord layout");
static_assert(offsetof(ImageRecord, baseStride) == 40, "ImageRecord layout");
#endif

// Makes the record hold a DIB-section image with the bitmap's size and
// pixels. The bitmap stays the caller's. 0 failure; 1; 3 when CreateImage
// reduced the size and a scaled copy was imported.
int ImportBitmap(ImageRecord* image, HBITMAP bitmap);

// Replaces the image by a resampled copy of newWidth x newHeight.
// 0 failure (the image as it was); 1 done; 99 done at a size CreateImage reduced.
int ResizeImage(ImageRecord* image, int32_t newWidth, int32_t newHeight);

// Draws the source rectangle of the image into the destination rectangle of
// dc, stretched when the sizes differ. The GDI call's result, or 0.
int DrawImage(HDC dc, int32_t destLeft, int32_t destTop, int32_t destRight, int32_t destBottom,
              ImageRecord* image, int32_t sourceLeft, int32_t sourceTop, int32_t sourceRight,
              int32_t sourceBottom);

// Releases the image's storage and zero-fills the record. Waits for a
// foreign exclusive owner and for outstanding locks first. When locks are
// still held after the wait, the storage is kept and 0 is returned with
// ImgErrBusy; the record stays closing so that no new lock succeeds, and a
// later DestroyImage finishes the job. 0 or 1.
int DestroyImage(ImageRecord* image);
