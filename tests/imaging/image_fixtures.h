// Images for the sampling and resampling tests: records that destroy their
// image at the end of the test, and pixel patterns that tell every source
// pixel apart.
#pragma once
#include <windows.h>

#include <cstdint>
#include <vector>

#include "imaging/image/image.h"
#include "imaging/seams.h"

inline int32_t LastError() { return CurrentThreadContext()->lastError; }

// The pixel at (x, y) of a locked or freshly made image.
inline uint32_t& PixelOf(ImageRecord& image, int32_t x, int32_t y) {
  return image.pixels[static_cast<ptrdiff_t>(y) * image.stride + x];
}

// A distinct value per position: x in blue, y in green, tag in red.
inline uint32_t PatternPixel(int32_t x, int32_t y, uint8_t tag = 0x40) {
  return 0xFF000000u | (uint32_t{tag} << 16) | (uint32_t(y & 0xFF) << 8) | uint32_t(x & 0xFF);
}

// An image record that is destroyed when the test ends.
struct TestImage {
  ImageRecord record = {};
  TestImage() = default;
  TestImage(int32_t width, int32_t height, uint32_t flags) { Make(width, height, flags); }
  ~TestImage() { DestroyImage(&record); }
  TestImage(const TestImage&) = delete;
  TestImage& operator=(const TestImage&) = delete;
  int Make(int32_t width, int32_t height, uint32_t flags) {
    return CreateImage(&record, width, height, flags);
  }
  void Fill(uint32_t value) {
    for (int32_t y = 0; y < record.height; ++y)
      for (int32_t x = 0; x < record.width; ++x) PixelOf(record, x, y) = value;
  }
  void FillPattern(uint8_t tag = 0x40) {
    for (int32_t y = 0; y < record.height; ++y)
      for (int32_t x = 0; x < record.width; ++x) PixelOf(record, x, y) = PatternPixel(x, y, tag);
  }
  uint32_t& At(int32_t x, int32_t y) { return PixelOf(record, x, y); }
  ImageRecord* operator->() { return &record; }
  ImageRecord* get() { return &record; }
};

// Caller memory with a stride wider than the image: the columns beyond the
// width hold a mark that no test reads legitimately.
struct CallerPixels {
  static constexpr uint32_t kBeyondRow = 0xDEADBEEF;
  std::vector<uint32_t> memory;
  TestImage image;
  CallerPixels(int32_t width, int32_t height, int32_t stride)
      : memory(static_cast<size_t>(stride) * height + 4, kBeyondRow) {
    for (int32_t y = 0; y < height; ++y)
      for (int32_t x = 0; x < width; ++x) memory[y * stride + x] = PatternPixel(x, y, 0x20);
    AttachImage(image.get(), width, height, stride, memory.data());
  }
};

// Sets the thread's sampling offsets and clip rectangle for one test.
struct ContextOptions {
  ThreadContextRecord* context = CurrentThreadContext();
  ThreadContextRecord saved = *context;
  ~ContextOptions() {
    context->offsetX = saved.offsetX;
    context->offsetY = saved.offsetY;
    context->clipLeft = saved.clipLeft;
    context->clipTop = saved.clipTop;
    context->clipRight = saved.clipRight;
    context->clipBottom = saved.clipBottom;
  }
  void Offsets(int32_t x, int32_t y) {
    context->offsetX = x;
    context->offsetY = y;
  }
  void Clip(int32_t left, int32_t top, int32_t right, int32_t bottom) {
    context->clipLeft = left;
    context->clipTop = top;
    context->clipRight = right;
    context->clipBottom = bottom;
  }
};

// The thread's map block is released, and the next allocation of one fails.
inline void LoseMapBlockAndFailNext() {
  ThreadContextRecord* context = CurrentThreadContext();
  if (context->mapBlock) GlobalFree(context->mapBlock);
  context->mapBlock = nullptr;
  ImagingSeams.mapBlockFailures = 1;
}
