// The launcher's ZIP reader over an archive held in memory, closed when
// its owner goes.
#pragma once
#include <string>

#include "payload/zip_reader.h"

namespace sfx {

class ZipReaderOwner {
 public:
  ZipReaderOwner() = default;
  ~ZipReaderOwner() { ZipClose(reader_); }
  ZipReaderOwner(const ZipReaderOwner&) = delete;
  ZipReaderOwner& operator=(const ZipReaderOwner&) = delete;

  // Opens the archive in bytes, which must outlive the owner. ZipOk or
  // the reader's reason.
  ZipStatus Open(const std::string& bytes) { return ZipOpen(bytes.data(), bytes.size(), &reader_); }
  ZipReader* get() const { return reader_; }

 private:
  ZipReader* reader_ = nullptr;
};

}  // namespace sfx
