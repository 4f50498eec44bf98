// Lays out a resource section: the three-level directory (types, names,
// languages), the name strings, the data entries and then each resource's
// data, with one resource (the payload) last so that its data can be
// streamed after the section's head and its size filled in afterwards.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "sfxpack/pe_image.h"

namespace sfx {

struct ResourceSection {
  std::string head;        // everything before the last resource's data
  size_t lastSizeAt = 0;   // offset in head of the last resource's 32-bit size
};

// resources: every resource but the last one; last: the one whose data
// follows head (its data is not looked at). rva: where the section will be
// mapped. Within each level named entries come first, sorted by their
// text, then numbered ones in ascending order, as the loader's search needs.
ResourceSection LayOutResources(const std::vector<Resource>& resources, const Resource& last, uint32_t rva);

}  // namespace sfx
