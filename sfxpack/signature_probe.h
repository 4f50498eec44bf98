// Tells whether a Windows program carries an Authenticode signature: a
// certificate table entry in its PE headers that points at a PKCS#7
// WIN_CERTIFICATE inside the file. Whether the signature verifies is the
// launcher's question at run time; the packer only refuses an installer
// that cannot ever pass it. Fed the file's bytes in order, so the same
// probe reads a file on disk and an entry inflated from an archive.
#pragma once
#include <cstdint>
#include <string>

#include "sfxpack/authenticode.h"

namespace sfx {

class SignatureProbe {
 public:
  explicit SignatureProbe(uint64_t fileSize) : size_(fileSize) {}
  void Feed(const uint8_t* bytes, size_t count);
  // After the whole file: empty when it is signed, else why not, e.g. "it
  // carries no Authenticode signature".
  std::string Verdict() const;
  bool IsProgram() const { return program_; }
  // For a signed file (an empty verdict): the primary signature, the
  // PKCS#7 signed data of the first WIN_CERTIFICATE, and where the parts
  // that the Authenticode digest leaves out lie.
  std::string Signature() const;
  const AuthenticodeLayout& Layout() const { return layout_; }

 private:
  void ParseHead();
  // Appends what the piece at stream offset `at` holds of the table's next
  // bytes still missing.
  void Capture(uint64_t at, const uint8_t* bytes, size_t count);

  uint64_t size_;
  uint64_t seen_ = 0;
  std::string head_;         // the first bytes, which hold the headers
  bool parsed_ = false;
  bool program_ = false;
  std::string headError_;
  AuthenticodeLayout layout_;  // the certificate table among them, from the headers
  std::string certificate_;  // the table's first bytes, up to kMaxTableBytes
};

}  // namespace sfx
