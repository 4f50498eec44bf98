// Reading the digest from a signature, whatever its encoding, and what
// packing does with a signature it cannot check.
#include <gtest/gtest.h>

#include "sfxpack/authenticode.h"
#include "sfxpack/signature_probe.h"
#include "tests/sfxpack/pack_fixtures.h"

namespace {

using namespace pack_fixtures;

// The primary signature of a signed fixture, read by the probe.
std::string SignatureOf(const std::string& file) {
  sfx::SignatureProbe probe(file.size());
  probe.Feed(reinterpret_cast<const uint8_t*>(file.data()), file.size());
  EXPECT_EQ(probe.Verdict(), "");
  return probe.Signature();
}

// The signature with its outer SEQUENCE written with an indefinite length
// (BER), as some signing tools write it.
std::string Indefinite(const std::string& der) {
  const size_t lengthBytes = static_cast<uint8_t>(der[1]) & 0x7F;
  return std::string("\x30\x80", 2) + der.substr(2 + lengthBytes) + std::string(2, '\0');
}

TEST(Authenticode, SignedDigestIsReadFromEveryEncoding) {
  const std::string signature = SignatureOf(ReadFile(Fixture("SFXPACK_SIGNED")));
  ASSERT_GT(signature.size(), 100u);
  sfx::SignedDigest plain, ber;
  std::string error;
  ASSERT_TRUE(sfx::ReadSignedDigest(signature, &plain, &error)) << error;
  EXPECT_TRUE(plain.known);
  EXPECT_EQ(plain.algorithmId, "2.16.840.1.101.3.4.2.1");
  EXPECT_EQ(plain.digest.size(), 32u);
  ASSERT_TRUE(sfx::ReadSignedDigest(Indefinite(signature), &ber, &error)) << error;
  EXPECT_EQ(ber.digest, plain.digest);

  // Cut anywhere in its structure, it does not read (the certificate's
  // last bytes may be padding to 8 bytes, which no element claims).
  for (size_t cut : {size_t(0), size_t(1), size_t(10), size_t(60), signature.size() / 2, signature.size() * 3 / 4}) {
    sfx::SignedDigest none;
    EXPECT_FALSE(sfx::ReadSignedDigest(signature.substr(0, cut), &none, &error)) << cut;
    EXPECT_NE(error, "") << cut;
  }
}

// The digest algorithm's identifier changed to one that names nothing the
// packer computes (SHA-256's last arc, 1, made 9): the file's bytes, which
// the digest covers, are unchanged, and packing goes on with a warning.
TEST(Authenticode, AnUnknownDigestAlgorithmIsAWarning) {
  std::string installer = ReadFile(Fixture("SFXPACK_SIGNED"));
  const std::string sha256 = std::string("\x06\x09\x60\x86\x48\x01\x65\x03\x04\x02\x01", 11);
  // The first after the content type, SPC_INDIRECT_DATA: the DigestInfo's
  // (the SignedData's own list of algorithms comes before it).
  const std::string indirect = "\x06\x0A\x2B\x06\x01\x04\x01\x82\x37\x02\x01\x04";
  const size_t content = installer.find(indirect, installer.find(SignatureOf(installer)));
  ASSERT_NE(content, std::string::npos);
  const size_t at = installer.find(sha256, content);
  ASSERT_NE(at, std::string::npos);
  installer[at + sha256.size() - 1] = 9;
  sfx::SignedDigest digest;
  std::string error;
  ASSERT_TRUE(sfx::ReadSignedDigest(SignatureOf(installer), &digest, &error)) << error;
  EXPECT_FALSE(digest.known);
  EXPECT_EQ(digest.algorithmId, "2.16.840.1.101.3.4.2.9");

  ScratchFolder scratch;
  WriteFile(scratch / "payload/Setup.exe", installer);
  const PackRun run = RunPacker(PackArgs(scratch / "payload", scratch / "out.exe"));
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.err,
            "sfxpack: warning: the installer 'Setup.exe' is signed with a digest algorithm the packer does not know "
            "(2.16.840.1.101.3.4.2.9); its digest is left to the launcher\n");
}

}  // namespace
