#include "sfxpack/authenticode.h"

#include <algorithm>

namespace sfx {

namespace {

constexpr uint8_t kInteger = 0x02;
constexpr uint8_t kOctetString = 0x04;
constexpr uint8_t kObjectId = 0x06;
constexpr uint8_t kSequence = 0x30;
constexpr uint8_t kSet = 0x31;
constexpr uint8_t kExplicit0 = 0xA0;  // [0], constructed
constexpr uint8_t kConstructed = 0x20;
// Signatures nest a few levels deep; a hostile one gets no deeper.
constexpr int kMaxDepth = 32;

// 1.2.840.113549.1.7.2 (PKCS#7 signedData) and 1.3.6.1.4.1.311.2.1.4
// (SPC_INDIRECT_DATA_OBJID), as their DER contents.
const char kSignedDataId[] = "\x2A\x86\x48\x86\xF7\x0D\x01\x07\x02";
const char kIndirectDataId[] = "\x2B\x06\x01\x04\x01\x82\x37\x02\x01\x04";

struct KnownDigest {
  const char* id;  // dotted
  DigestAlgorithm algorithm;
};
const KnownDigest kKnownDigests[] = {
    {"1.3.14.3.2.26", DigestAlgorithm::kSha1},
    {"2.16.840.1.101.3.4.2.1", DigestAlgorithm::kSha256},
    {"2.16.840.1.101.3.4.2.2", DigestAlgorithm::kSha384},
    {"2.16.840.1.101.3.4.2.3", DigestAlgorithm::kSha512},
};

struct Element {
  uint8_t tag = 0;
  size_t content = 0;  // offset of the contents
  size_t length = 0;   // of the contents (an indefinite length's end mark left out)
  size_t end = 0;      // one past the element, end mark included
};

// Reads the element at `at`, which must end by `limit`.
bool ReadElement(const std::string& d, size_t at, size_t limit, int depth, Element* e) {
  const uint8_t* b = reinterpret_cast<const uint8_t*>(d.data());
  if (depth > kMaxDepth || at >= limit || limit - at < 2) return false;
  e->tag = b[at];
  if ((e->tag & 0x1F) == 0x1F) return false;  // high tag numbers: none in a signature's path
  size_t p = at + 1;
  const uint8_t first = b[p++];
  if (first == 0x80) {
    // Indefinite length (BER): the contents run to an end mark (00 00),
    // found by stepping over the elements inside.
    if (!(e->tag & kConstructed)) return false;
    for (size_t q = p;;) {
      if (limit - q < 2) return false;
      if (b[q] == 0 && b[q + 1] == 0) {
        e->content = p, e->length = q - p, e->end = q + 2;
        return true;
      }
      Element inner;
      if (!ReadElement(d, q, limit, depth + 1, &inner)) return false;
      q = inner.end;
    }
  }
  size_t length = first;
  if (first > 0x80) {
    const size_t count = first & 0x7F;
    if (count > 4 || limit - p < count) return false;
    length = 0;
    for (size_t i = 0; i < count; ++i) length = (length << 8) | b[p++];
  }
  if (length > limit - p) return false;
  e->content = p, e->length = length, e->end = p + length;
  return true;
}

// The index-th element inside a constructed one, which must carry tag.
bool Child(const std::string& d, const Element& parent, size_t index, uint8_t tag, int depth, Element* child) {
  size_t at = parent.content;
  const size_t limit = parent.content + parent.length;
  for (size_t i = 0;; ++i) {
    if (!ReadElement(d, at, limit, depth, child)) return false;
    if (i == index) return child->tag == tag;
    at = child->end;
  }
}

std::string Contents(const std::string& d, const Element& e) { return d.substr(e.content, e.length); }

std::string DottedId(const std::string& id) {
  std::string text;
  uint64_t value = 0;
  for (size_t i = 0; i < id.size(); ++i) {
    const uint8_t b = static_cast<uint8_t>(id[i]);
    value = (value << 7) | (b & 0x7F);
    if (b & 0x80) continue;
    if (text.empty()) {
      const uint64_t top = value < 80 ? value / 40 : 2;
      text = std::to_string(top) + "." + std::to_string(value - top * 40);
    } else {
      text += "." + std::to_string(value);
    }
    value = 0;
  }
  return text;
}

}  // namespace

bool ReadSignedDigest(const std::string& d, SignedDigest* out, std::string* error) {
  *out = SignedDigest();
  *error = "its signature is not the PKCS#7 signed data of an Authenticode signature";
  Element contentInfo, type, wrapped, signedData, version, algorithms, content, contentType, explicitContent,
      indirect, data, digestInfo, algorithm, algorithmId, digest;
  if (!ReadElement(d, 0, d.size(), 0, &contentInfo) || contentInfo.tag != kSequence) return false;
  if (!Child(d, contentInfo, 0, kObjectId, 1, &type) || Contents(d, type) != kSignedDataId) return false;
  if (!Child(d, contentInfo, 1, kExplicit0, 1, &wrapped) || !Child(d, wrapped, 0, kSequence, 2, &signedData))
    return false;
  if (!Child(d, signedData, 0, kInteger, 3, &version) || !Child(d, signedData, 1, kSet, 3, &algorithms) ||
      !Child(d, signedData, 2, kSequence, 3, &content))
    return false;
  if (!Child(d, content, 0, kObjectId, 4, &contentType) || Contents(d, contentType) != kIndirectDataId) {
    *error = "its signature's content is not Authenticode's indirect data";
    return false;
  }
  if (!Child(d, content, 1, kExplicit0, 4, &explicitContent) ||
      !Child(d, explicitContent, 0, kSequence, 5, &indirect) || !Child(d, indirect, 0, kSequence, 6, &data) ||
      !Child(d, indirect, 1, kSequence, 6, &digestInfo) || !Child(d, digestInfo, 0, kSequence, 7, &algorithm) ||
      !Child(d, algorithm, 0, kObjectId, 8, &algorithmId) || !Child(d, digestInfo, 1, kOctetString, 7, &digest)) {
    *error = "its signature's digest cannot be read";
    return false;
  }
  out->algorithmId = DottedId(Contents(d, algorithmId));
  out->digest = Contents(d, digest);
  for (const KnownDigest& k : kKnownDigests)
    if (out->algorithmId == k.id) {
      out->known = true;
      out->algorithm = k.algorithm;
    }
  if (out->known && out->digest.size() != DigestLength(out->algorithm)) {
    *error = "its signature's " + std::string(DigestName(out->algorithm)) + " digest has " +
             std::to_string(out->digest.size()) + " bytes";
    return false;
  }
  error->clear();
  return true;
}

AuthenticodeHasher::AuthenticodeHasher(DigestAlgorithm algorithm, const AuthenticodeLayout& layout)
    : digest_(algorithm),
      left_{{layout.checksumAt, layout.checksumAt + 4},
            {layout.directoryEntryAt, layout.directoryEntryAt + 8},
            {layout.tableAt, layout.tableAt + layout.tableSize}} {
  std::sort(std::begin(left_), std::end(left_), [](const Range& a, const Range& b) { return a.from < b.from; });
}

void AuthenticodeHasher::Feed(const uint8_t* bytes, size_t count) {
  const uint64_t start = at_;
  const uint64_t end = at_ + count;
  at_ = end;
  uint64_t pos = start;
  for (const Range& r : left_) {
    const uint64_t from = std::max(r.from, pos);
    const uint64_t to = std::min(r.to, end);
    if (from >= to) continue;
    digest_.Update(bytes + (pos - start), static_cast<size_t>(from - pos));
    pos = to;
  }
  digest_.Update(bytes + (pos - start), static_cast<size_t>(end - pos));
}

std::string HexText(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (unsigned char c : bytes) {
    text += kDigits[c >> 4];
    text += kDigits[c & 15];
  }
  return text;
}

}  // namespace sfx
