// The offline half of an Authenticode check: the digest that a signature
// vouches for, and the same digest computed over the file. Whether the
// signer is trusted stays the launcher's question, on the user's machine;
// a file changed after signing fails there on every machine, so the packer
// refuses it here.
#pragma once
#include <cstdint>
#include <string>

#include "sfxpack/sha_digest.h"

namespace sfx {

struct SignedDigest {
  bool known = false;           // the algorithm is one of DigestAlgorithm's
  DigestAlgorithm algorithm = DigestAlgorithm::kSha256;
  std::string algorithmId;      // dotted object identifier, e.g. "2.16.840.1.101.3.4.2.1"
  std::string digest;           // raw bytes
};

// Reads the digest from a signature: the PKCS#7 SignedData (DER, or BER
// with indefinite lengths) of a WIN_CERTIFICATE, whose content is the
// SpcIndirectDataContent with its DigestInfo. False with *error when the
// structure is not that.
bool ReadSignedDigest(const std::string& signedData, SignedDigest* out, std::string* error);

// Where the parts that a signature leaves out lie in a PE file: the header
// checksum (4 bytes), the certificate table's directory entry (8 bytes) and
// the certificate table itself.
struct AuthenticodeLayout {
  uint64_t checksumAt = 0;
  uint64_t directoryEntryAt = 0;
  uint64_t tableAt = 0;
  uint64_t tableSize = 0;
};

// The Authenticode digest of a PE file fed in order: every byte except the
// three parts of the layout.
class AuthenticodeHasher {
 public:
  AuthenticodeHasher(DigestAlgorithm algorithm, const AuthenticodeLayout& layout);
  void Feed(const uint8_t* bytes, size_t count);
  std::string Finish() { return digest_.Finish(); }

 private:
  // The layout's three parts as [from, to) ranges of the file, in order.
  struct Range {
    uint64_t from, to;
  };

  ShaDigest digest_;
  Range left_[3];
  uint64_t at_ = 0;
};

// Bytes as lower-case hexadecimal, for messages.
std::string HexText(const std::string& bytes);

}  // namespace sfx
