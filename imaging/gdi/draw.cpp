// DrawImage: puts a rectangle of an image onto a device context.
#include "imaging/gdi/gdi.h"
#include "support/fault_guard.h"
#include "support/owners.h"

namespace {

// right - left + 1 in the wrapping 32-bit arithmetic that GDI receives.
int32_t Span(int32_t first, int32_t last) {
  return static_cast<int32_t>(static_cast<uint32_t>(last) - static_cast<uint32_t>(first) + 1u);
}

struct DrawRects {
  int32_t destLeft, destTop, destWidth, destHeight;
  int32_t sourceLeft, sourceTop, sourceWidth, sourceHeight;
  bool stretch;
};

// A DIB section is copied DC to DC. The section stays selected when it was
// lent (GetImageDC); otherwise it is selected for this call only.
int DrawDibSection(ThreadContextRecord* context, HDC dc, ImageRecord* image, const DrawRects& r) {
  if (!image->dc) {
    context->lastError = ImgErrFailed;
    return 0;
  }
  context->lastError = ImgErrGeneral;
  const bool lent = GetCurrentObject(image->dc, OBJ_BITMAP) == image->dib;
  SelectionOwner selected(image->dc, lent ? nullptr : image->dib);
  // Without the section in place GDI would copy from the DC's 1 x 1 default
  // bitmap and report success.
  if (!lent && !selected.ok()) {
    context->lastError = ImgErrFailed;
    return 0;
  }
  if (!r.stretch)
    return BitBlt(dc, r.destLeft, r.destTop, r.destWidth, r.destHeight, image->dc, r.sourceLeft,
                  r.sourceTop, SRCCOPY);
  return StretchBlt(dc, r.destLeft, r.destTop, r.destWidth, r.destHeight, image->dc, r.sourceLeft,
                    r.sourceTop, r.sourceWidth, r.sourceHeight, SRCCOPY);
}

// The view handed to GDI spans whole image rows from the rectangle's first
// pixel, so the rectangle must lie inside the image.
bool InsideImage(const ImageRecord* image, const DrawRects& r) {
  return r.sourceLeft >= 0 && r.sourceTop >= 0 && r.sourceWidth >= 1 && r.sourceHeight >= 1 &&
         r.sourceWidth <= image->width - r.sourceLeft && r.sourceHeight <= image->height - r.sourceTop;
}

// Other kinds are handed to GDI as a DIB over a view of their own pixels.
int DrawPixels(ThreadContextRecord* context, HDC dc, ImageRecord* image, const DrawRects& r) {
  ImageLockHold imageLock;
  if (!imageLock.Take(image)) return 0;
  if (!InsideImage(image, r)) {
    context->lastError = ImgErrBadArgument;
    return 0;
  }
  // The view starts at the first row's start, not at the rectangle's corner:
  // a DIB that began at the corner would, at the stride as its width, take in
  // sourceLeft pixels past the image's last row, memory GDI may read. The
  // rectangle's left edge goes to GDI as the source x instead.
  TemporaryImage view;
  uint32_t* firstRow = image->pixels + static_cast<ptrdiff_t>(r.sourceTop) * image->stride;
  if (!AttachImage(&view.record, r.sourceLeft + r.sourceWidth, r.sourceHeight, image->stride,
                   firstRow))
    return 0;
  ImageLockHold viewLock;
  if (!viewLock.Take(&view.record)) return 0;
  // Each header row spans a whole image row: the header's width is the stride.
  BITMAPV5HEADER header;
  FillV5Header(&header, view.record.stride, view.record.height);
  SetStretchBltMode(dc, HALFTONE);
  SetBrushOrgEx(dc, 0, 0, nullptr);
  int result = 0;
  const void* bits = view.record.pixels;
  if (!RunGuarded([&] {
        result = StretchDIBits(dc, r.destLeft, r.destTop, r.destWidth, r.destHeight, r.sourceLeft,
                               0, r.sourceWidth, r.sourceHeight, bits,
                               reinterpret_cast<const BITMAPINFO*>(&header), DIB_RGB_COLORS,
                               SRCCOPY);
      }))
    result = 0;
  return result;
}

}  // namespace

// The result of the GDI call that drew, or 0. GDI failures are not recorded
// in lastError.
int DrawImage(HDC dc, int32_t destLeft, int32_t destTop, int32_t destRight, int32_t destBottom,
              ImageRecord* image, int32_t sourceLeft, int32_t sourceTop, int32_t sourceRight,
              int32_t sourceBottom) {
  ThreadContextRecord* context = CurrentThreadContext();
  if (!context || !RecordAccessible(context, image)) return 0;
  DrawRects r;
  r.destLeft = destLeft;
  r.destTop = destTop;
  r.destWidth = Span(destLeft, destRight);
  r.destHeight = Span(destTop, destBottom);
  r.sourceLeft = sourceLeft;
  r.sourceTop = sourceTop;
  r.sourceWidth = Span(sourceLeft, sourceRight);
  r.sourceHeight = Span(sourceTop, sourceBottom);
  r.stretch = r.destWidth != r.sourceWidth || r.destHeight != r.sourceHeight;
  if (image->kind == KindDibSection) return DrawDibSection(context, dc, image, r);
  return DrawPixels(context, dc, image, r);
}
