// The SHA-1 and SHA-2 hashes (FIPS 180-4) that Authenticode signatures
// use, written out here because the packer's Windows build links no crypto
// library. Fed in pieces of any size; the result is the raw digest.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace sfx {

enum class DigestAlgorithm { kSha1, kSha256, kSha384, kSha512 };

// The digest's length in bytes (20, 32, 48, 64) and its usual name.
size_t DigestLength(DigestAlgorithm algorithm);
const char* DigestName(DigestAlgorithm algorithm);

class ShaDigest {
 public:
  explicit ShaDigest(DigestAlgorithm algorithm);
  void Update(const uint8_t* bytes, size_t count);
  // The digest of everything fed; the object is spent afterwards.
  std::string Finish();

 private:
  void Block(const uint8_t* block);
  bool Wide() const { return algorithm_ == DigestAlgorithm::kSha384 || algorithm_ == DigestAlgorithm::kSha512; }
  size_t BlockBytes() const { return Wide() ? 128 : 64; }

  DigestAlgorithm algorithm_;
  uint32_t h32_[8] = {};  // SHA-1 (five words) and SHA-256
  uint64_t h64_[8] = {};  // SHA-384 and SHA-512
  uint8_t pending_[128];
  size_t pendingCount_ = 0;
  uint64_t total_ = 0;  // bytes fed
};

// One call: the digest of count bytes.
std::string Digest(DigestAlgorithm algorithm, const void* bytes, size_t count);

}  // namespace sfx
