// Writes a launcher: the stub's headers and sections, a new resource
// section whose last resource is the payload (streamed in by the caller),
// then the sections that followed the stub's resources, moved behind it.
// Sizes, data directories, the time stamp and the checksum are set anew and
// any signature the stub carried is left out: a signature made over the
// output covers the payload.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sfxpack/file_io.h"
#include "sfxpack/pe_image.h"

namespace sfx {

// Where the launcher looks for what sfxpack puts in: the payload resource
// (type, name), the splash picture (type, number) and the program icon's
// group (number). The launcher's resource script uses the same ones.
constexpr wchar_t kPayloadType[] = L"FILE_DATA";
constexpr wchar_t kPayloadName[] = L"ZIPFILE";
constexpr wchar_t kPictureType[] = L"JPEG";
constexpr uint32_t kPictureId = 103;
constexpr uint32_t kGroupIconId = 101;

// The payload resource opens with a header of this size: the archive's
// offset (this size), its length and 8 zero bytes.
constexpr uint32_t kPayloadHeaderBytes = 16;

struct StubImage {
  std::string file;  // the whole stub
  PeImage image;
  int resourceSection = -1;  // index of the section that holds the resources
};

// Checks that the stub's layout is one this writer can rebuild: a PE32
// program whose resource section is followed by nothing but relocations.
bool CheckStubLayout(const std::string& file, StubImage* stub, std::string* error);

// Writes the payload at the output's current position; gives its length.
using PayloadWriter = std::function<bool(OutputFile* out, uint64_t* length, std::string* error)>;

// The payload resource is type payloadType, name payloadName, language
// payloadLanguage; its data is the header (kPayloadHeaderBytes) and what
// writePayload writes. False with
// *error when the output cannot be written or writePayload fails.
bool WriteLauncher(const StubImage& stub, const std::vector<Resource>& resources, const Resource& payload,
                   uint32_t timeDateStamp, const PayloadWriter& writePayload, OutputFile* out,
                   std::string* error);

// The PE checksum of a file's 16-bit words (the checksum field counted as
// zero) plus its length, as the image loader and signing tools compute it.
class PeChecksum {
 public:
  void Add(const uint8_t* bytes, size_t count);
  uint32_t Finish(uint64_t length) const;

 private:
  uint64_t sum_ = 0;
  bool odd_ = false;  // a byte waits for its partner
  uint8_t pending_ = 0;
};

}  // namespace sfx
