// The parts of a PE file that the packer reads and rewrites: headers,
// section table, data directories and the resource tree. Every offset taken
// from the file is checked against the bytes at hand before use.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sfx {

constexpr uint32_t kDirResource = 2;
constexpr uint32_t kDirSecurity = 4;
constexpr uint32_t kDirBaseReloc = 5;

struct PeSection {
  std::string name;
  uint32_t virtualSize = 0;
  uint32_t virtualAddress = 0;
  uint32_t rawSize = 0;
  uint32_t rawPointer = 0;
  uint32_t characteristics = 0;
};

struct PeDirectory {
  uint32_t address = 0;  // an RVA; for the certificate table a file offset
  uint32_t size = 0;
};

struct PeImage {
  uint32_t peOffset = 0;        // of the "PE\0\0" signature
  uint32_t optionalOffset = 0;  // of the optional header
  bool wide = false;            // PE32+ (64-bit)
  uint16_t machine = 0;
  uint32_t fileAlignment = 0;
  uint32_t sectionAlignment = 0;
  uint32_t sizeOfHeaders = 0;
  uint32_t directoryOffset = 0;  // of the data directory array
  std::vector<PeDirectory> directories;
  uint32_t sectionTableOffset = 0;
  std::vector<PeSection> sections;

  PeDirectory Directory(uint32_t index) const {
    return index < directories.size() ? directories[index] : PeDirectory();
  }
  // Index of the section holding rva, or -1.
  int SectionOf(uint32_t rva) const;
};

// Reads the headers from the first `available` bytes of a file of fileSize
// bytes. False with *error when it is not a PE file or its headers do not
// lie within those bytes.
bool ParsePe(const uint8_t* data, size_t available, uint64_t fileSize, PeImage* image, std::string* error);

// A resource type or name: a number, or a string (stored in capitals).
struct ResourceKey {
  std::wstring text;  // empty for a number
  uint32_t id = 0;
  bool operator==(const ResourceKey& o) const { return text == o.text && id == o.id; }
};
ResourceKey ResourceId(uint32_t id);
ResourceKey ResourceName(const std::wstring& text);

struct Resource {
  ResourceKey type;
  ResourceKey name;
  uint32_t language = 0;
  uint32_t codePage = 0;
  std::string data;  // empty when left in the file (ReadResourceTree's limit)
  uint64_t offset = 0;  // where the data lies in the file it was read from
  uint32_t size = 0;    // the data's length there
};

constexpr uint32_t kRtIcon = 3;
constexpr uint32_t kRtRcData = 10;
constexpr uint32_t kRtGroupIcon = 14;
constexpr uint32_t kRtVersion = 16;
constexpr uint32_t kRtManifest = 24;

// Reads every resource of a whole image file. False with *error when the
// tree is damaged.
bool ReadResources(const std::string& file, const PeImage& image, std::vector<Resource>* resources,
                   std::string* error);

// Reads count bytes at offset of a file into *out; false when it cannot.
using ReadBytes = std::function<bool(uint64_t offset, size_t count, std::string* out)>;

// The same for a file of fileSize bytes read through `read`, so that it
// need not be held whole: the data of a resource larger than dataLimit
// stays in the file (its offset and size are given).
bool ReadResourceTree(const ReadBytes& read, uint64_t fileSize, const PeImage& image, uint64_t dataLimit,
                      std::vector<Resource>* resources, std::string* error);

// The first resource of that type and name, or null.
const Resource* FindResource(const std::vector<Resource>& resources, const ResourceKey& type,
                             const ResourceKey& name);

}  // namespace sfx
