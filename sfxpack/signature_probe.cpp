#include "sfxpack/signature_probe.h"

#include <algorithm>

#include "sfxpack/le_bytes.h"
#include "sfxpack/pe_image.h"

namespace sfx {

namespace {

constexpr size_t kHeadBytes = 64 * 1024;
// A signature with its certificate chain, a counter-signature and nested
// signatures takes some tens of KiB; a table beyond this is not kept whole.
constexpr uint64_t kMaxTableBytes = 4 << 20;
// The optional header's checksum field, and the size of a data directory
// entry (address and size).
constexpr uint32_t kChecksumAt = 64;
constexpr uint32_t kDirectoryEntryBytes = 8;
constexpr uint32_t kRevision2 = 0x0200;
constexpr uint32_t kPkcsSignedData = 0x0002;

}  // namespace

void SignatureProbe::ParseHead() {
  parsed_ = true;
  PeImage image;
  if (!ParsePe(reinterpret_cast<const uint8_t*>(head_.data()), head_.size(), size_, &image, &headError_))
    return;
  program_ = true;
  const PeDirectory table = image.Directory(kDirSecurity);
  layout_.checksumAt = image.optionalOffset + kChecksumAt;
  layout_.directoryEntryAt = image.directoryOffset + kDirSecurity * kDirectoryEntryBytes;
  layout_.tableAt = table.address;
  layout_.tableSize = table.size;
  // A table within the bytes already seen (a small file) is read from them.
  Capture(0, reinterpret_cast<const uint8_t*>(head_.data()), head_.size());
}

void SignatureProbe::Capture(uint64_t at, const uint8_t* bytes, size_t count) {
  const uint64_t wanted = std::min(layout_.tableSize, kMaxTableBytes);
  if (!program_ || certificate_.size() >= wanted) return;
  const uint64_t next = layout_.tableAt + certificate_.size();
  if (next < at || next - at >= count) return;
  const size_t from = static_cast<size_t>(next - at);
  const size_t take = static_cast<size_t>(std::min<uint64_t>(wanted - certificate_.size(), count - from));
  certificate_.append(reinterpret_cast<const char*>(bytes) + from, take);
}

void SignatureProbe::Feed(const uint8_t* bytes, size_t count) {
  const uint64_t start = seen_;
  seen_ += count;
  if (head_.size() < kHeadBytes) {
    const size_t take = std::min(count, kHeadBytes - head_.size());
    head_.append(reinterpret_cast<const char*>(bytes), take);
  }
  if (!parsed_ && (head_.size() == kHeadBytes || seen_ == size_)) ParseHead();
  // The table, whichever pieces it arrives in (the head's share is in).
  if (parsed_) Capture(start, bytes, count);
}

std::string SignatureProbe::Signature() const {
  if (certificate_.size() < 8) return std::string();
  const uint32_t length = Get32(certificate_, 0);
  if (length < 8 || length > certificate_.size()) return std::string();
  return certificate_.substr(8, length - 8);
}

std::string SignatureProbe::Verdict() const {
  if (!parsed_) return "it could not be read whole";
  if (!program_) return headError_;
  const uint64_t tableAt = layout_.tableAt, tableSize = layout_.tableSize;
  if (tableSize == 0 && tableAt == 0) return "it carries no Authenticode signature";
  if (tableSize < 8 || tableAt > size_ || tableSize > size_ - tableAt || certificate_.size() < 8)
    return "its certificate table lies outside the file";
  const uint32_t length = Get32(certificate_, 0);
  if (length < 8 || length > tableSize || Get16(certificate_, 4) != kRevision2 ||
      Get16(certificate_, 6) != kPkcsSignedData)
    return "its certificate table holds no Authenticode signature";
  return std::string();
}

}  // namespace sfx
