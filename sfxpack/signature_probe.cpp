#include "sfxpack/signature_probe.h"

#include <algorithm>

#include "sfxpack/le_bytes.h"
#include "sfxpack/pe_image.h"

namespace sfx {

namespace {

constexpr size_t kHeadBytes = 64 * 1024;
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
  tableAt_ = table.address;
  tableSize_ = table.size;
  // A table within the bytes already seen (a small file) is read from them.
  if (tableSize_ >= 8 && tableAt_ + 8 <= head_.size()) certificate_ = head_.substr(static_cast<size_t>(tableAt_), 8);
}

void SignatureProbe::Feed(const uint8_t* bytes, size_t count) {
  const uint64_t start = seen_;
  seen_ += count;
  if (head_.size() < kHeadBytes) {
    const size_t take = std::min(count, kHeadBytes - head_.size());
    head_.append(reinterpret_cast<const char*>(bytes), take);
  }
  if (!parsed_ && (head_.size() == kHeadBytes || seen_ == size_)) {
    ParseHead();
    if (!certificate_.empty()) return;
  }
  // The table's first 8 bytes, whichever pieces they arrive in.
  if (parsed_ && program_ && tableSize_ >= 8 && certificate_.size() < 8) {
    const uint64_t want = tableAt_ + certificate_.size();
    if (want >= start && want < seen_) {
      const size_t from = static_cast<size_t>(want - start);
      const size_t take = std::min<size_t>(8 - certificate_.size(), count - from);
      certificate_.append(reinterpret_cast<const char*>(bytes) + from, take);
    }
  }
}

std::string SignatureProbe::Verdict() const {
  if (!parsed_) return "it could not be read whole";
  if (!program_) return headError_;
  if (tableSize_ == 0 && tableAt_ == 0) return "it carries no Authenticode signature";
  if (tableSize_ < 8 || tableAt_ > size_ || tableSize_ > size_ - tableAt_ || certificate_.size() < 8)
    return "its certificate table lies outside the file";
  const uint32_t length = Get32(certificate_, 0);
  if (length < 8 || length > tableSize_ || Get16(certificate_, 4) != kRevision2 ||
      Get16(certificate_, 6) != kPkcsSignedData)
    return "its certificate table holds no Authenticode signature";
  return std::string();
}

}  // namespace sfx
