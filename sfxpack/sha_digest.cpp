#include "sfxpack/sha_digest.h"

#include <cstring>

namespace sfx {

namespace {

uint32_t Rotr32(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }
uint32_t Rotl32(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }
uint64_t Rotr64(uint64_t x, int n) { return (x >> n) | (x << (64 - n)); }

uint32_t Big32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
uint64_t Big64(const uint8_t* p) { return (uint64_t(Big32(p)) << 32) | Big32(p + 4); }

// FIPS 180-4, 4.2.2: the first 32 bits of the fractional parts of the cube
// roots of the first 64 primes.
const uint32_t kK256[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

// FIPS 180-4, 4.2.3: the first 64 bits of the fractional parts of the cube
// roots of the first 80 primes.
const uint64_t kK512[80] = {
    0x428a2f98d728ae22, 0x7137449123ef65cd, 0xb5c0fbcfec4d3b2f, 0xe9b5dba58189dbbc, 0x3956c25bf348b538,
    0x59f111f1b605d019, 0x923f82a4af194f9b, 0xab1c5ed5da6d8118, 0xd807aa98a3030242, 0x12835b0145706fbe,
    0x243185be4ee4b28c, 0x550c7dc3d5ffb4e2, 0x72be5d74f27b896f, 0x80deb1fe3b1696b1, 0x9bdc06a725c71235,
    0xc19bf174cf692694, 0xe49b69c19ef14ad2, 0xefbe4786384f25e3, 0x0fc19dc68b8cd5b5, 0x240ca1cc77ac9c65,
    0x2de92c6f592b0275, 0x4a7484aa6ea6e483, 0x5cb0a9dcbd41fbd4, 0x76f988da831153b5, 0x983e5152ee66dfab,
    0xa831c66d2db43210, 0xb00327c898fb213f, 0xbf597fc7beef0ee4, 0xc6e00bf33da88fc2, 0xd5a79147930aa725,
    0x06ca6351e003826f, 0x142929670a0e6e70, 0x27b70a8546d22ffc, 0x2e1b21385c26c926, 0x4d2c6dfc5ac42aed,
    0x53380d139d95b3df, 0x650a73548baf63de, 0x766a0abb3c77b2a8, 0x81c2c92e47edaee6, 0x92722c851482353b,
    0xa2bfe8a14cf10364, 0xa81a664bbc423001, 0xc24b8b70d0f89791, 0xc76c51a30654be30, 0xd192e819d6ef5218,
    0xd69906245565a910, 0xf40e35855771202a, 0x106aa07032bbd1b8, 0x19a4c116b8d2d0c8, 0x1e376c085141ab53,
    0x2748774cdf8eeb99, 0x34b0bcb5e19b48a8, 0x391c0cb3c5c95a63, 0x4ed8aa4ae3418acb, 0x5b9cca4f7763e373,
    0x682e6ff3d6b2b8a3, 0x748f82ee5defb2fc, 0x78a5636f43172f60, 0x84c87814a1f0ab72, 0x8cc702081a6439ec,
    0x90befffa23631e28, 0xa4506cebde82bde9, 0xbef9a3f7b2c67915, 0xc67178f2e372532b, 0xca273eceea26619c,
    0xd186b8c721c0c207, 0xeada7dd6cde0eb1e, 0xf57d4f7fee6ed178, 0x06f067aa72176fba, 0x0a637dc5a2c898a6,
    0x113f9804bef90dae, 0x1b710b35131c471b, 0x28db77f523047d84, 0x32caab7b40c72493, 0x3c9ebe0a15c9bebc,
    0x431d67c49c100d4c, 0x4cc5d4becb3e42b6, 0x597f299cfc657e2a, 0x5fcb6fab3ad6faec, 0x6c44198c4a475817};

void Sha1Block(uint32_t* h, const uint8_t* block) {
  uint32_t w[80];
  for (int t = 0; t < 16; ++t) w[t] = Big32(block + 4 * t);
  for (int t = 16; t < 80; ++t) w[t] = Rotl32(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
  uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
  for (int t = 0; t < 80; ++t) {
    uint32_t f, k;
    if (t < 20) {
      f = (b & c) | (~b & d), k = 0x5a827999;
    } else if (t < 40) {
      f = b ^ c ^ d, k = 0x6ed9eba1;
    } else if (t < 60) {
      f = (b & c) | (b & d) | (c & d), k = 0x8f1bbcdc;
    } else {
      f = b ^ c ^ d, k = 0xca62c1d6;
    }
    const uint32_t temp = Rotl32(a, 5) + f + e + k + w[t];
    e = d, d = c, c = Rotl32(b, 30), b = a, a = temp;
  }
  h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e;
}

void Sha256Block(uint32_t* h, const uint8_t* block) {
  uint32_t w[64];
  for (int t = 0; t < 16; ++t) w[t] = Big32(block + 4 * t);
  for (int t = 16; t < 64; ++t) {
    const uint32_t s0 = Rotr32(w[t - 15], 7) ^ Rotr32(w[t - 15], 18) ^ (w[t - 15] >> 3);
    const uint32_t s1 = Rotr32(w[t - 2], 17) ^ Rotr32(w[t - 2], 19) ^ (w[t - 2] >> 10);
    w[t] = w[t - 16] + s0 + w[t - 7] + s1;
  }
  uint32_t v[8];
  memcpy(v, h, sizeof v);
  for (int t = 0; t < 64; ++t) {
    const uint32_t s1 = Rotr32(v[4], 6) ^ Rotr32(v[4], 11) ^ Rotr32(v[4], 25);
    const uint32_t ch = (v[4] & v[5]) ^ (~v[4] & v[6]);
    const uint32_t t1 = v[7] + s1 + ch + kK256[t] + w[t];
    const uint32_t s0 = Rotr32(v[0], 2) ^ Rotr32(v[0], 13) ^ Rotr32(v[0], 22);
    const uint32_t maj = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
    memmove(v + 1, v, 7 * sizeof v[0]);
    v[4] += t1;
    v[0] = t1 + s0 + maj;
  }
  for (int i = 0; i < 8; ++i) h[i] += v[i];
}

void Sha512Block(uint64_t* h, const uint8_t* block) {
  uint64_t w[80];
  for (int t = 0; t < 16; ++t) w[t] = Big64(block + 8 * t);
  for (int t = 16; t < 80; ++t) {
    const uint64_t s0 = Rotr64(w[t - 15], 1) ^ Rotr64(w[t - 15], 8) ^ (w[t - 15] >> 7);
    const uint64_t s1 = Rotr64(w[t - 2], 19) ^ Rotr64(w[t - 2], 61) ^ (w[t - 2] >> 6);
    w[t] = w[t - 16] + s0 + w[t - 7] + s1;
  }
  uint64_t v[8];
  memcpy(v, h, sizeof v);
  for (int t = 0; t < 80; ++t) {
    const uint64_t s1 = Rotr64(v[4], 14) ^ Rotr64(v[4], 18) ^ Rotr64(v[4], 41);
    const uint64_t ch = (v[4] & v[5]) ^ (~v[4] & v[6]);
    const uint64_t t1 = v[7] + s1 + ch + kK512[t] + w[t];
    const uint64_t s0 = Rotr64(v[0], 28) ^ Rotr64(v[0], 34) ^ Rotr64(v[0], 39);
    const uint64_t maj = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
    memmove(v + 1, v, 7 * sizeof v[0]);
    v[4] += t1;
    v[0] = t1 + s0 + maj;
  }
  for (int i = 0; i < 8; ++i) h[i] += v[i];
}

}  // namespace

size_t DigestLength(DigestAlgorithm algorithm) {
  switch (algorithm) {
    case DigestAlgorithm::kSha1: return 20;
    case DigestAlgorithm::kSha256: return 32;
    case DigestAlgorithm::kSha384: return 48;
    case DigestAlgorithm::kSha512: return 64;
  }
  return 0;
}

const char* DigestName(DigestAlgorithm algorithm) {
  switch (algorithm) {
    case DigestAlgorithm::kSha1: return "SHA-1";
    case DigestAlgorithm::kSha256: return "SHA-256";
    case DigestAlgorithm::kSha384: return "SHA-384";
    case DigestAlgorithm::kSha512: return "SHA-512";
  }
  return "";
}

ShaDigest::ShaDigest(DigestAlgorithm algorithm) : algorithm_(algorithm) {
  // FIPS 180-4, 5.3: the initial hash values.
  static const uint32_t kSha1Start[5] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476, 0xc3d2e1f0};
  static const uint32_t kSha256Start[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                           0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  static const uint64_t kSha384Start[8] = {0xcbbb9d5dc1059ed8, 0x629a292a367cd507, 0x9159015a3070dd17,
                                           0x152fecd8f70e5939, 0x67332667ffc00b31, 0x8eb44a8768581511,
                                           0xdb0c2e0d64f98fa7, 0x47b5481dbefa4fa4};
  static const uint64_t kSha512Start[8] = {0x6a09e667f3bcc908, 0xbb67ae8584caa73b, 0x3c6ef372fe94f82b,
                                           0xa54ff53a5f1d36f1, 0x510e527fade682d1, 0x9b05688c2b3e6c1f,
                                           0x1f83d9abfb41bd6b, 0x5be0cd19137e2179};
  switch (algorithm) {
    case DigestAlgorithm::kSha1: memcpy(h32_, kSha1Start, sizeof kSha1Start); break;
    case DigestAlgorithm::kSha256: memcpy(h32_, kSha256Start, sizeof kSha256Start); break;
    case DigestAlgorithm::kSha384: memcpy(h64_, kSha384Start, sizeof kSha384Start); break;
    case DigestAlgorithm::kSha512: memcpy(h64_, kSha512Start, sizeof kSha512Start); break;
  }
}

void ShaDigest::Block(const uint8_t* block) {
  switch (algorithm_) {
    case DigestAlgorithm::kSha1: Sha1Block(h32_, block); break;
    case DigestAlgorithm::kSha256: Sha256Block(h32_, block); break;
    default: Sha512Block(h64_, block); break;
  }
}

void ShaDigest::Update(const uint8_t* bytes, size_t count) {
  const size_t blockBytes = BlockBytes();
  total_ += count;
  if (pendingCount_) {
    const size_t take = count < blockBytes - pendingCount_ ? count : blockBytes - pendingCount_;
    memcpy(pending_ + pendingCount_, bytes, take);
    pendingCount_ += take, bytes += take, count -= take;
    if (pendingCount_ < blockBytes) return;
    Block(pending_);
    pendingCount_ = 0;
  }
  for (; count >= blockBytes; bytes += blockBytes, count -= blockBytes) Block(bytes);
  memcpy(pending_, bytes, count);
  pendingCount_ = count;
}

std::string ShaDigest::Finish() {
  // 5.1: a one bit, zeros, and the message length in bits in the last 8
  // (SHA-1, SHA-256) or 16 (SHA-384, SHA-512) bytes of the last block.
  const size_t blockBytes = BlockBytes();
  const size_t lengthBytes = Wide() ? 16 : 8;
  const uint64_t bits = total_ * 8;
  uint8_t tail[256] = {0x80};
  size_t tailCount = blockBytes - pendingCount_;
  if (tailCount < 1 + lengthBytes) tailCount += blockBytes;
  for (int i = 0; i < 8; ++i) tail[tailCount - 1 - i] = static_cast<uint8_t>(bits >> (8 * i));
  Update(tail, tailCount);
  std::string digest;
  const size_t length = DigestLength(algorithm_);
  for (size_t i = 0; i < length; ++i)
    digest += static_cast<char>(Wide() ? h64_[i / 8] >> (56 - 8 * (i % 8)) : h32_[i / 4] >> (24 - 8 * (i % 4)));
  return digest;
}

std::string Digest(DigestAlgorithm algorithm, const void* bytes, size_t count) {
  ShaDigest digest(algorithm);
  digest.Update(static_cast<const uint8_t*>(bytes), count);
  return digest.Finish();
}

}  // namespace sfx
