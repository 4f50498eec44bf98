// The launcher's ZIP reader over an archive held in memory or read at
// offsets, closed when its owner goes.
#pragma once
#include <functional>
#include <string>

#include "payload/zip_reader.h"

namespace sfx {

class ZipReaderOwner {
 public:
  // Reads count bytes at offset (within the archive) into buffer.
  using ReadAt = std::function<bool(uint64_t offset, void* buffer, size_t count)>;

  ZipReaderOwner() = default;
  ~ZipReaderOwner() { ZipClose(reader_); }
  ZipReaderOwner(const ZipReaderOwner&) = delete;
  ZipReaderOwner& operator=(const ZipReaderOwner&) = delete;

  // Opens the archive in bytes, which must outlive the owner. ZipOk or
  // the reader's reason.
  ZipStatus Open(const std::string& bytes) { return ZipOpen(bytes.data(), bytes.size(), &reader_); }
  // Opens an archive of `size` bytes read through `read`, which the owner
  // keeps: memory stays at the reader's windows, whatever the size.
  ZipStatus OpenAt(ReadAt read, uint64_t size) {
    read_ = std::move(read);
    const ZipInput input = {CallRead, this, size};
    return ZipOpenInput(&input, &reader_);
  }
  ZipReader* get() const { return reader_; }

 private:
  static bool CallRead(void* context, uint64_t offset, void* buffer, size_t count) {
    return static_cast<ZipReaderOwner*>(context)->read_(offset, buffer, count);
  }

  ZipReader* reader_ = nullptr;
  ReadAt read_;
};

}  // namespace sfx
