#include "sfxpack/jpeg_info.h"

namespace sfx {

namespace {

uint32_t Big16(const std::string& s, size_t at) {
  return (static_cast<uint8_t>(s[at]) << 8) | static_cast<uint8_t>(s[at + 1]);
}

const char* ProcessName(unsigned marker) {
  switch (marker) {
    case 0xC1: return "extended sequential";
    case 0xC3: return "lossless";
    case 0xC5: case 0xC6: case 0xC7: return "hierarchical";
    default: return "arithmetic-coded";
  }
}

}  // namespace

bool ReadJpegInfo(const std::string& file, JpegInfo* info, std::string* error) {
  *info = JpegInfo();
  if (file.size() < 4 || static_cast<uint8_t>(file[0]) != 0xFF || static_cast<uint8_t>(file[1]) != 0xD8) {
    *error = "it is not a JPEG file (no start-of-image marker)";
    return false;
  }
  bool frame = false;
  size_t at = 2;
  for (;;) {
    while (at < file.size() && static_cast<uint8_t>(file[at]) == 0xFF) ++at;  // fill bytes
    if (at >= file.size() || at < 3 || static_cast<uint8_t>(file[at - 1]) != 0xFF) {
      *error = "it is a damaged JPEG file (its markers end before the picture data)";
      return false;
    }
    const unsigned marker = static_cast<uint8_t>(file[at++]);
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;  // no length
    if (marker == 0xD9 || at + 2 > file.size()) {
      *error = "it is a damaged JPEG file (no picture data)";
      return false;
    }
    const uint32_t length = Big16(file, at);
    if (length < 2 || at + length > file.size()) {
      *error = "it is a damaged JPEG file (a marker runs past its end)";
      return false;
    }
    const bool isFrame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (isFrame) {
      if (marker != 0xC0 && marker != 0xC2) {
        *error = std::string("it is a ") + ProcessName(marker) +
                 " JPEG; the system's picture loader reads baseline and progressive ones";
        return false;
      }
      if (length < 8) {
        *error = "it is a damaged JPEG file (short frame header)";
        return false;
      }
      info->progressive = marker == 0xC2;
      info->height = Big16(file, at + 3);
      info->width = Big16(file, at + 5);
      info->components = static_cast<uint8_t>(file[at + 7]);
      if (static_cast<uint8_t>(file[at + 2]) != 8 || info->width == 0 || info->height == 0 ||
          (info->components != 1 && info->components != 3 && info->components != 4)) {
        *error = "it is a JPEG with a frame the system's picture loader does not read";
        return false;
      }
      frame = true;
    }
    if (marker == 0xDA) {
      if (!frame) {
        *error = "it is a damaged JPEG file (picture data before its frame header)";
        return false;
      }
      return true;
    }
    at += length;
  }
}

}  // namespace sfx
