// The imaging library: 32-bit top-down images over DIB sections, library
// memory or caller memory, with a per-thread context that carries each
// thread's last error, options and scratch storage.
//
// Every operation first fetches the calling thread's ThreadContextRecord;
// when the library cannot run (start-up failed, no table, no free record)
// the operation fails without touching its arguments. Results: 0 failure,
// non-zero success; the reason for a failure is in lastError of the calling
// thread's record.
#pragma once
#include <windows.h>
#include <cstddef>
#include <cstdint>

#include "imaging/sample_maps.h"

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

// Rungs of the processor ladder; each needs every rung below it.
enum : int32_t {
  SimdNone = 0,
  SimdMmx = 1,
  SimdSse = 2,
  SimdSse2 = 3,
  SimdSse3 = 4,
  SimdSsse3 = 5,
  SimdSse41 = 6,
};

// ---------------------------------------------------------------------------
// Start-up and processor features

// Set by StartImaging; read-only once the library has started.
extern volatile LONG StartCount;      // 0 = not started; +1 per successful StartImaging
extern CRITICAL_SECTION ContextLock;  // guards the context table's making, claims, reclaims
extern volatile LONG SimdLevel;       // highest rung whose probes all passed

// Makes the lock, probes the processor and refuses anything below SSE2.
// 1 when the library is started (now or earlier), 0 when this attempt
// failed; a failed attempt leaves the library not started, and the next one
// probes again (the lock is made once per process).
int StartImaging();

// Runs the processor ladder and returns the highest rung whose probes all
// pass, without touching SimdLevel. StartImaging stores its answer.
int32_t MeasureSimdLevel();

// Each executes its instruction under a fault guard and compares the known
// answer: 1 pass, 0 fail (fault or wrong answer).
int ProbeCpuid();
int ProbeSse();
int ProbeSse2();
int ProbeSse3();
int ProbeSsse3();
int ProbeSse41();

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

enum : uint32_t { ThreadContextCount = 128 };

// The table of ThreadContextCount records; null until first needed, then kept
// for the life of the process.
extern ThreadContextRecord* volatile ThreadContextTable;

// The calling thread's record, or null when the library cannot run: start-up
// failed 52 times 20 ms apart, the table could not be made, or every record
// belongs to a live thread (the caller is then refused rather than given a
// record that another live thread uses; a later call tries again).
ThreadContextRecord* CurrentThreadContext();

// Layout of the sampling map block in a ThreadContextRecord: the four
// tables one after the other.
enum : uint32_t {
  MapXIndexOffset = 0,
  MapXFractionOffset = MapXIndexOffset + MapXIndexEntries * sizeof(int32_t),
  MapYIndexOffset = MapXFractionOffset + MapXFractionEntries * sizeof(uint8_t),
  MapYFractionOffset = MapYIndexOffset + MapYIndexEntries * sizeof(int32_t),
  MapBlockBytes = MapYFractionOffset + MapYFractionEntries * sizeof(uint8_t),
};

// The record's map block with its four table addresses set, allocated
// zero-filled on first need. Owned by the record (released when the record
// is reclaimed). False with lastError ImgErrNoMemory when the block cannot
// be allocated.
bool EnsureMapBlock(ThreadContextRecord* context);

// True when the thread with this id exists and has not ended (id 0: false).
bool IsThreadAlive(DWORD threadId);

// 0 when every probed byte of [address, address + length) was accessible
// (with writeBack, also writable); 1 for a null address or a faulting access.
// Touches the first byte, one byte per page and the last byte.
int ProbeMemory(const void* address, size_t length, bool writeBack);

// Calls the thread's notifyCallback with code. 1 when there is no callback
// or it returned normally; 0 when the thread has no record, the callback
// address is bad or the callback faulted. Never changes lastError.
int RaiseNotification(DWORD code);

// ---------------------------------------------------------------------------
// Image object

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
  ImageMaxSide = 65536,
  ImageMaxPixels = 250000000,
};

// One image, owned by the caller and filled by the library. Zero-fill a
// record before its first use. Pixels are B, G, R, A bytes; pixel (x, y) is
// pixels[y * stride + x]. The first four fields are a cache that LockImage
// brings up to date; read them after a lock.
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

// Fills a 32-bit top-down uncompressed sRGB header for w x h. Returns 1.
int FillV5Header(BITMAPV5HEADER* header, int32_t width, int32_t height);

// Makes an image of |width| x |height| in the record, destroying an image
// it held. Sizes over the limits are reduced unless CreateExactSize is given.
// 0 failure (the record is cleared, except for bad sizes, which leave it as
// it was); 1 made at the asked size; 3 made at a reduced size.
int CreateImage(ImageRecord* image, int32_t width, int32_t height, uint32_t flags);

// Makes the record describe caller memory (width x height, stride in
// pixels). The memory stays the caller's. 0 or 1.
int AttachImage(ImageRecord* image, int32_t width, int32_t height, int32_t stride,
                void* pixels);

// Releases the image's storage and zero-fills the record. Waits for a
// foreign exclusive owner and for outstanding locks first. When locks are
// still held after the wait, the storage is kept and 0 is returned with
// ImgErrBusy; the record stays closing so that no new lock succeeds, and a
// later DestroyImage finishes the job. 0 or 1.
int DestroyImage(ImageRecord* image);

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

// ---------------------------------------------------------------------------
// Sample maps, point sampling and conversion

// Resampling flags of PointSampleImage and ResampleImage; no other bit counts.
enum : uint32_t {
  ResampleClip = 0x100,              // write only inside the context's clip rectangle
  ResampleViaView = 0x200,           // lock the source once and work on a view of its region
  ResampleHighQuality = 0x10000000,  // area average / bicubic instead of four-point / bilinear
};

// Rectangles below are inclusive corners: width = right - left + 1.

// Fills the calling thread's sample maps for one destination rectangle and
// source region, and gives the first and last destination column to write.
// Both images must be locked (their widths are read). 0 or 1.
int BuildSampleMaps(ImageRecord* destination, ThreadContextRecord* context, int32_t destLeft,
                    int32_t destTop, int32_t destRight, int32_t destBottom, ImageRecord* source,
                    int32_t sourceLeft, int32_t sourceTop, int32_t sourceRight,
                    int32_t sourceBottom, int32_t* firstColumn, int32_t* lastColumn);

// Copies or picks source pixels into the destination rectangle, without
// interpolation. 0 or 1.
int PointSampleImage(ImageRecord* destination, int32_t destLeft, int32_t destTop,
                     int32_t destRight, int32_t destBottom, ImageRecord* source,
                     int32_t sourceLeft, int32_t sourceTop, int32_t sourceRight,
                     int32_t sourceBottom, uint32_t flags);

// Makes the image a DIB-section image with the same pixels (build, swap,
// destroy). 1 when it is one afterwards, else 0.
int ConvertImageToDib(ImageRecord* image);

// ---------------------------------------------------------------------------
// Smooth resampling and resize

// Fills the destination rectangle from the source region (0, 0) to
// (sourceRight, sourceBottom) with the method the sizes and flags choose.
// 0 or 1.
int ResampleImage(ImageRecord* destination, int32_t destLeft, int32_t destTop,
                  int32_t destRight, int32_t destBottom, ImageRecord* source,
                  int32_t sourceRight, int32_t sourceBottom, uint32_t flags);

// Replaces the image by a resampled copy of newWidth x newHeight.
// 0 failure (the image as it was); 1 done; 99 done at a size CreateImage reduced.
int ResizeImage(ImageRecord* image, int32_t newWidth, int32_t newHeight);

// ---------------------------------------------------------------------------
// Import from a GDI bitmap, lent device contexts

// Makes the record hold a DIB-section image with the bitmap's size and
// pixels. The bitmap stays the caller's. 0 failure; 1; 3 when CreateImage
// reduced the size and a scaled copy was imported.
int ImportBitmap(ImageRecord* image, HBITMAP bitmap);

// Lends the image's memory DC with its DIB section selected (also through
// *dc). 0 on failure. Give it back with ReleaseImageDC.
HDC GetImageDC(ImageRecord* image, HDC* dc);

// Selects the default bitmap back into the lent DC; stores 0 through dc when
// given. 0 or 1.
int ReleaseImageDC(ImageRecord* image, HDC* dc);

// Zeroes the alpha byte of columns 0..right, rows 0..bottom (clamped). The
// caller holds a lock. 1, or 0 when the image has no pixels.
int ClearImageAlpha(ImageRecord* image, int32_t right, int32_t bottom);

// ---------------------------------------------------------------------------
// Drawing

// Draws the source rectangle of the image into the destination rectangle of
// dc, stretched when the sizes differ. The GDI call's result, or 0.
int DrawImage(HDC dc, int32_t destLeft, int32_t destTop, int32_t destRight, int32_t destBottom,
              ImageRecord* image, int32_t sourceLeft, int32_t sourceTop, int32_t sourceRight,
              int32_t sourceBottom);
