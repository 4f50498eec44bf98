// Icon files (.ico) and the two resource forms an icon takes in a program:
// each image as an RT_ICON resource, and a group (RT_GROUP_ICON) that lists
// them by resource number.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace sfx {

struct IconImage {
  std::string entry;  // the 12 bytes that describe it (size, colours, planes, bits, length)
  std::string data;   // a bitmap (header, colours, mask) or a PNG file
};

// Reads an .ico file. False with *error when it is not an icon file, an
// image lies outside it, or an image is neither a bitmap nor PNG.
bool ReadIconFile(const std::string& file, std::vector<IconImage>* images, std::string* error);

// The group resource that lists images under the given resource numbers.
std::string GroupIconResource(const std::vector<IconImage>& images, const std::vector<uint16_t>& ids);

// The resource numbers a group resource lists, with each image's width and
// height and bit count (for listings); false when it is damaged.
struct GroupMember {
  uint16_t id;
  uint32_t width, height, bits;
};
bool ReadGroupIcon(const std::string& group, std::vector<GroupMember>* members);

}  // namespace sfx
