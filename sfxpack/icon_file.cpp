#include "sfxpack/icon_file.h"

#include "sfxpack/le_bytes.h"

namespace sfx {

namespace {

bool IsPng(const std::string& data) { return data.compare(0, 8, "\x89PNG\r\n\x1a\n", 8) == 0; }

// A bitmap header the system reads: BITMAPINFOHEADER or one of its longer
// successors, with a positive width and a height that covers image and mask.
bool IsIconBitmap(const std::string& data) {
  if (data.size() < 40) return false;
  const uint32_t header = Get32(data, 0);
  const int32_t width = static_cast<int32_t>(Get32(data, 4));
  const int32_t height = static_cast<int32_t>(Get32(data, 8));
  return (header == 40 || header == 108 || header == 124) && width > 0 && height > 0 && Get16(data, 12) == 1;
}

}  // namespace

bool ReadIconFile(const std::string& file, std::vector<IconImage>* images, std::string* error) {
  images->clear();
  if (file.size() < 6 || Get16(file, 0) != 0 || Get16(file, 2) != 1) {
    *error = "it is not an icon file (no icon header)";
    return false;
  }
  const uint32_t count = Get16(file, 4);
  if (count == 0 || 6 + 16 * uint64_t(count) > file.size()) {
    *error = count ? "it is not an icon file (its image list is cut short)" : "it holds no image";
    return false;
  }
  for (uint32_t i = 0; i < count; ++i) {
    const size_t at = 6 + 16 * i;
    const uint32_t length = Get32(file, at + 8);
    const uint32_t offset = Get32(file, at + 12);
    if (length == 0 || offset < 6 + 16 * count || offset > file.size() || length > file.size() - offset) {
      *error = "image " + std::to_string(i + 1) + " lies outside the file";
      return false;
    }
    IconImage image;
    image.entry = file.substr(at, 12);
    image.data = file.substr(offset, length);
    if (!IsPng(image.data) && !IsIconBitmap(image.data)) {
      *error = "image " + std::to_string(i + 1) + " is neither a bitmap nor a PNG picture";
      return false;
    }
    images->push_back(std::move(image));
  }
  return true;
}

std::string GroupIconResource(const std::vector<IconImage>& images, const std::vector<uint16_t>& ids) {
  std::string group;
  Put16(group, 0);
  Put16(group, 1);
  Put16(group, static_cast<uint32_t>(images.size()));
  for (size_t i = 0; i < images.size(); ++i) {
    group += images[i].entry;
    Put16(group, ids[i]);
  }
  return group;
}

bool ReadGroupIcon(const std::string& group, std::vector<GroupMember>* members) {
  members->clear();
  if (group.size() < 6 || Get16(group, 2) != 1) return false;
  const uint32_t count = Get16(group, 4);
  if (6 + 14 * uint64_t(count) > group.size()) return false;
  for (uint32_t i = 0; i < count; ++i) {
    const size_t at = 6 + 14 * i;
    const uint8_t width = static_cast<uint8_t>(group[at]);
    const uint8_t height = static_cast<uint8_t>(group[at + 1]);
    members->push_back({static_cast<uint16_t>(Get16(group, at + 12)), width ? width : 256u,
                        height ? height : 256u, Get16(group, at + 6)});
  }
  return true;
}

}  // namespace sfx
