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

// The largest picture file the packer embeds: no resource of a launcher
// but its payload is larger.
constexpr uint64_t kMaxPictureBytes = 32 << 20;

// The launcher's window takes the picture's size, one and a half times at
// 150 % (144 DPI): a picture up to this size still fits, frame included, on
// a 1920 x 1080 screen at 150 % (1800 x 960 of its 1920 x 1040 work area).
constexpr uint32_t kMaxPictureWidth = 1200;
constexpr uint32_t kMaxPictureHeight = 640;
// Beyond this size the window covers most of a small laptop's screen.
constexpr uint32_t kWarnPictureWidth = 800;
constexpr uint32_t kWarnPictureHeight = 600;

// Judges a splash picture as the launcher will show it: ReadJpegInfo, then
// the launcher's own completeness check, then what a splash window can use
// (three or one colour components, the size limit above). False with
// *error for a picture the launcher would not show or that would not fit;
// true with *warning set for one larger than kWarnPicture*, else with
// *warning empty.
bool JudgeSplashPicture(const std::string& file, JpegInfo* info, std::string* error, std::string* warning);

}  // namespace sfx
