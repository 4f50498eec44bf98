// The hashes against the examples published with FIPS 180 (NIST's "abc",
// two-block and million-"a" messages), fed whole and in uneven pieces. The
// two-block messages (56 and 112 bytes) leave no room for the length in
// their first block, so the padding spills into a block of its own.
#include <gtest/gtest.h>

#include <string>

#include "sfxpack/authenticode.h"
#include "sfxpack/sha_digest.h"

namespace {

using sfx::DigestAlgorithm;
using sfx::HexText;

const std::string kTwoBlocks = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
const std::string kTwoWideBlocks =
    "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrst"
    "nopqrstu";

struct Vector {
  DigestAlgorithm algorithm;
  std::string message;
  const char* digest;
};

const Vector kVectors[] = {
    {DigestAlgorithm::kSha1, "", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
    {DigestAlgorithm::kSha1, "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
    {DigestAlgorithm::kSha1, kTwoBlocks, "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
    {DigestAlgorithm::kSha1, std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
    {DigestAlgorithm::kSha256, "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {DigestAlgorithm::kSha256, "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {DigestAlgorithm::kSha256, kTwoBlocks, "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {DigestAlgorithm::kSha256, std::string(1000000, 'a'),
     "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    {DigestAlgorithm::kSha384, "abc",
     "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7"},
    {DigestAlgorithm::kSha384, kTwoWideBlocks,
     "09330c33f71147e83d192fc782cd1b4753111b173b3b05d22fa08086e3b0f712fcc7c71a557e2db966c3e9fa91746039"},
    {DigestAlgorithm::kSha384, std::string(1000000, 'a'),
     "9d0e1809716474cb086e834e310a4a1ced149e9c00f248527972cec5704c2a5b07b8b3dc38ecc4ebae97ddd87f3d8985"},
    {DigestAlgorithm::kSha512, "",
     "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417a81a538327af927da3e"},
    {DigestAlgorithm::kSha512, "abc",
     "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
    {DigestAlgorithm::kSha512, kTwoWideBlocks,
     "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018501d289e4900f7e4331b99dec4b5433ac7d329eeb6dd26545e96e55b874be909"},
    {DigestAlgorithm::kSha512, std::string(1000000, 'a'),
     "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973ebde0ff244877ea60a4cb0432ce577c31beb009c5c2c49aa2e4eadb217ad8cc09b"},
};

TEST(ShaDigest, PublishedExamples) {
  for (const Vector& v : kVectors) {
    SCOPED_TRACE(std::string(sfx::DigestName(v.algorithm)) + " of " + std::to_string(v.message.size()) + " bytes");
    EXPECT_EQ(HexText(sfx::Digest(v.algorithm, v.message.data(), v.message.size())), v.digest);
    // The same bytes in pieces of 1, 2, ... 200 bytes, crossing every block
    // boundary at another place.
    sfx::ShaDigest pieces(v.algorithm);
    const uint8_t* p = reinterpret_cast<const uint8_t*>(v.message.data());
    size_t left = v.message.size();
    for (size_t size = 1; left; size = size % 200 + 1) {
      const size_t take = size < left ? size : left;
      pieces.Update(p, take);
      p += take, left -= take;
    }
    const std::string digest = pieces.Finish();
    EXPECT_EQ(HexText(digest), v.digest);
    EXPECT_EQ(digest.size(), sfx::DigestLength(v.algorithm));
  }
}

}  // namespace
