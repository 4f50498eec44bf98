// The facts of a JPEG file that decide whether the launcher can show it:
// its coding process and its pixel size.
#pragma once
#include <cstdint>
#include <string>

namespace sfx {

struct JpegInfo {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t components = 0;
  bool progressive = false;
};

// Walks the markers up to the first scan. False with *error when the file
// is not a JPEG, is damaged, or uses a coding process other than baseline
// or progressive (extended, lossless, arithmetic, hierarchical), which the
// system's picture loader does not read.
bool ReadJpegInfo(const std::string& file, JpegInfo* info, std::string* error);

}  // namespace sfx
