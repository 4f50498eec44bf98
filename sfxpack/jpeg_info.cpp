#include "sfxpack/jpeg_info.h"

#include "support/jpeg_check.h"

namespace sfx {

namespace {

uint32_t Big16(const std::string& s, size_t at) {
  return (static_cast<uint8_t>(s[at]) << 8) | static_cast<uint8_t>(s[at + 1]);
}

const char* ProcessPhrase(unsigned marker) {
  switch (marker) {
    case 0xC1: return "it is an extended sequential";
    case 0xC3: return "it is a lossless";
    case 0xC5: case 0xC6: case 0xC7: return "it is a hierarchical";
    default: return "it is an arithmetic-coded";
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
        *error = std::string(ProcessPhrase(marker)) +
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

bool JudgeSplashPicture(const std::string& file, JpegInfo* info, std::string* error, std::string* warning) {
  warning->clear();
  if (!ReadJpegInfo(file, info, error)) return false;
  if (!JpegLooksWhole(reinterpret_cast<const uint8_t*>(file.data()), file.size())) {
    *error = "it is cut off before its end-of-image marker, and the launcher refuses such a picture";
    return false;
  }
  if (info->components == 4) {
    *error = "it has four colour components (CMYK), which a splash window cannot use; convert it to RGB";
    return false;
  }
  const std::string size = std::to_string(info->width) + " x " + std::to_string(info->height);
  if (info->width > kMaxPictureWidth || info->height > kMaxPictureHeight) {
    *error = "it is " + size + " pixels, larger than the " + std::to_string(kMaxPictureWidth) + " x " +
             std::to_string(kMaxPictureHeight) +
             " whose window still fits a 1920 x 1080 screen at 150 % (the window takes 1.5 times the "
             "picture's size there)";
    return false;
  }
  if (info->width > kWarnPictureWidth || info->height > kWarnPictureHeight)
    *warning = "it is " + size + " pixels, larger than " + std::to_string(kWarnPictureWidth) + " x " +
               std::to_string(kWarnPictureHeight) + "; at 150 % its window covers most of a small screen";
  return true;
}

}  // namespace sfx
