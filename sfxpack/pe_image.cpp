#include "sfxpack/pe_image.h"

#include "sfxpack/le_bytes.h"

namespace sfx {

namespace {

bool Fits(uint64_t offset, uint64_t length, uint64_t limit) {
  return offset <= limit && length <= limit - offset;
}

}  // namespace

int PeImage::SectionOf(uint32_t rva) const {
  for (size_t i = 0; i < sections.size(); ++i) {
    const PeSection& s = sections[i];
    const uint32_t span = s.virtualSize > s.rawSize ? s.virtualSize : s.rawSize;
    if (rva >= s.virtualAddress && rva - s.virtualAddress < span) return static_cast<int>(i);
  }
  return -1;
}

bool ParsePe(const uint8_t* data, size_t available, uint64_t fileSize, PeImage* image, std::string* error) {
  *image = PeImage();
  if (available < 64 || data[0] != 'M' || data[1] != 'Z') {
    *error = "it is not a Windows program (no MZ header)";
    return false;
  }
  const uint32_t pe = Get32(data + 0x3C);
  if (!Fits(pe, 24, available) || Get32(data + pe) != 0x00004550) {
    *error = "it is not a Windows program (no PE header)";
    return false;
  }
  image->peOffset = pe;
  image->machine = static_cast<uint16_t>(Get16(data + pe + 4));
  const uint32_t sectionCount = Get16(data + pe + 6);
  const uint32_t optionalSize = Get16(data + pe + 20);
  const uint32_t opt = pe + 24;
  image->optionalOffset = opt;
  if (!Fits(opt, optionalSize, available) || optionalSize < 2) {
    *error = "its PE headers are damaged";
    return false;
  }
  const uint32_t magic = Get16(data + opt);
  if (magic != 0x10B && magic != 0x20B) {
    *error = "its PE optional header is of an unknown kind";
    return false;
  }
  image->wide = magic == 0x20B;
  const uint32_t countAt = image->wide ? 108 : 92;
  if (optionalSize < countAt + 4) {
    *error = "its PE optional header is too short";
    return false;
  }
  image->sectionAlignment = Get32(data + opt + 32);
  image->fileAlignment = Get32(data + opt + 36);
  image->sizeOfHeaders = Get32(data + opt + 60);
  uint32_t count = Get32(data + opt + countAt);
  image->directoryOffset = opt + countAt + 4;
  if (count > 16 || countAt + 4 + count * 8 > optionalSize) {
    *error = "its PE data directories are damaged";
    return false;
  }
  for (uint32_t i = 0; i < count; ++i)
    image->directories.push_back({Get32(data + image->directoryOffset + 8 * i),
                                  Get32(data + image->directoryOffset + 8 * i + 4)});
  image->sectionTableOffset = opt + optionalSize;
  if (!Fits(image->sectionTableOffset, uint64_t(sectionCount) * 40, available)) {
    *error = "its PE section table is damaged";
    return false;
  }
  for (uint32_t i = 0; i < sectionCount; ++i) {
    const uint8_t* s = data + image->sectionTableOffset + 40 * i;
    PeSection section;
    for (int k = 0; k < 8 && s[k]; ++k) section.name += static_cast<char>(s[k]);
    section.virtualSize = Get32(s + 8);
    section.virtualAddress = Get32(s + 12);
    section.rawSize = Get32(s + 16);
    section.rawPointer = Get32(s + 20);
    section.characteristics = Get32(s + 36);
    if (section.rawSize && !Fits(section.rawPointer, section.rawSize, fileSize)) {
      *error = "its section " + section.name + " lies past the end of the file";
      return false;
    }
    image->sections.push_back(section);
  }
  return true;
}

ResourceKey ResourceId(uint32_t id) {
  ResourceKey key;
  key.id = id;
  return key;
}

ResourceKey ResourceName(const std::wstring& text) {
  ResourceKey key;
  key.text = text;
  return key;
}

namespace {

struct TreeReader {
  const ReadBytes& read;
  uint64_t fileSize;
  uint64_t dataLimit;  // larger data is left in the file
  uint64_t base;       // file offset of the resource section's directory
  uint32_t size;       // bytes of the resource directory data within the file
  const PeImage& image;
  std::vector<Resource>* resources;
  std::string* error;

  bool Fail() {
    *error = "its resource tree is damaged";
    return false;
  }

  // count bytes at `at` of the directory data, read into *out.
  bool Bytes(uint64_t at, uint64_t count, std::string* out) {
    if (!Fits(at, count, size)) return Fail();
    if (!read(base + at, static_cast<size_t>(count), out)) {
      *error = "its resources cannot be read";
      return false;
    }
    return true;
  }

  bool ReadKey(uint32_t field, ResourceKey* key) {
    if (!(field & 0x80000000)) {
      *key = ResourceId(field & 0xFFFF);
      return true;
    }
    const uint32_t at = field & 0x7FFFFFFF;
    std::string bytes;
    if (!Bytes(at, 2, &bytes)) return false;
    const uint32_t length = Get16(bytes, 0);
    if (!Bytes(at + 2, uint64_t(length) * 2, &bytes)) return false;
    std::wstring text;
    for (uint32_t i = 0; i < length; ++i) text += static_cast<wchar_t>(Get16(bytes, 2 * i));
    *key = ResourceName(text);
    return true;
  }

  // Reads the table at `at` of the given level (0 types, 1 names, 2 languages).
  bool ReadTable(uint32_t at, int level, Resource partial) {
    std::string table;
    if (!Bytes(at, 16, &table)) return false;
    const uint32_t count = Get16(table, 12) + Get16(table, 14);
    if (!Bytes(at + 16, uint64_t(count) * 8, &table)) return false;
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t nameField = Get32(table, 8 * i);
      const uint32_t target = Get32(table, 8 * i + 4);
      Resource r = partial;
      if (level == 0 && !ReadKey(nameField, &r.type)) return false;
      if (level == 1 && !ReadKey(nameField, &r.name)) return false;
      if (level == 2) r.language = nameField & 0xFFFF;
      const bool isTable = (target & 0x80000000) != 0;
      if (isTable != (level < 2)) return Fail();
      if (isTable) {
        if (!ReadTable(target & 0x7FFFFFFF, level + 1, r)) return false;
        continue;
      }
      std::string entry;
      if (!Bytes(target, 16, &entry)) return false;
      const uint32_t dataRva = Get32(entry, 0);
      const uint32_t dataSize = Get32(entry, 4);
      r.codePage = Get32(entry, 8);
      const int section = image.SectionOf(dataRva);
      if (section < 0) return Fail();
      const PeSection& s = image.sections[section];
      const uint64_t offset = uint64_t(s.rawPointer) + (dataRva - s.virtualAddress);
      if (dataRva - s.virtualAddress > s.rawSize || dataSize > s.rawSize - (dataRva - s.virtualAddress) ||
          !Fits(offset, dataSize, fileSize))
        return Fail();
      r.offset = offset;
      r.size = dataSize;
      if (dataSize <= dataLimit && !read(offset, dataSize, &r.data)) {
        *error = "its resources cannot be read";
        return false;
      }
      resources->push_back(std::move(r));
    }
    return true;
  }
};

}  // namespace

bool ReadResources(const std::string& file, const PeImage& image, std::vector<Resource>* resources,
                   std::string* error) {
  const ReadBytes read = [&file](uint64_t offset, size_t count, std::string* out) {
    if (!Fits(offset, count, file.size())) return false;
    out->assign(file, static_cast<size_t>(offset), count);
    return true;
  };
  return ReadResourceTree(read, file.size(), image, ~uint64_t(0), resources, error);
}

bool ReadResourceTree(const ReadBytes& read, uint64_t fileSize, const PeImage& image, uint64_t dataLimit,
                      std::vector<Resource>* resources, std::string* error) {
  resources->clear();
  const PeDirectory dir = image.Directory(kDirResource);
  if (!dir.address) return true;
  const int section = image.SectionOf(dir.address);
  if (section < 0) {
    *error = "its resource directory lies in no section";
    return false;
  }
  const PeSection& s = image.sections[section];
  const uint32_t into = dir.address - s.virtualAddress;
  if (into >= s.rawSize) {
    *error = "its resource directory lies past its section's data";
    return false;
  }
  TreeReader reader{read, fileSize, dataLimit, uint64_t(s.rawPointer) + into, s.rawSize - into, image, resources, error};
  return reader.ReadTable(0, 0, Resource());
}

const Resource* FindResource(const std::vector<Resource>& resources, const ResourceKey& type,
                             const ResourceKey& name) {
  for (const Resource& r : resources)
    if (r.type == type && r.name == name) return &r;
  return nullptr;
}

}  // namespace sfx
