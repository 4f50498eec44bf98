#include "sfxpack/launcher_writer.h"

#include "sfxpack/le_bytes.h"
#include "sfxpack/resource_section.h"

namespace sfx {

namespace {

constexpr uint32_t kInitializedData = 0x00000040;

uint64_t AlignUp(uint64_t value, uint64_t to) { return (value + to - 1) / to * to; }

void SetSectionHeader(std::string& headers, const PeImage& image, size_t index, const PeSection& s) {
  const size_t at = image.sectionTableOffset + 40 * index;
  Set32(headers, at + 8, s.virtualSize);
  Set32(headers, at + 12, s.virtualAddress);
  Set32(headers, at + 16, s.rawSize);
  Set32(headers, at + 20, s.rawPointer);
}

void SetDirectory(std::string& headers, const PeImage& image, uint32_t index, PeDirectory d) {
  if (index >= image.directories.size()) return;
  Set32(headers, image.directoryOffset + 8 * index, d.address);
  Set32(headers, image.directoryOffset + 8 * index + 4, d.size);
}

}  // namespace

void PeChecksum::Add(const uint8_t* bytes, size_t count) {
  size_t i = 0;
  if (odd_ && count) {
    sum_ += pending_ | (uint32_t(bytes[0]) << 8);
    sum_ = (sum_ & 0xFFFF) + (sum_ >> 16);
    odd_ = false;
    i = 1;
  }
  uint64_t sum = sum_;
  for (; i + 1 < count; i += 2) {
    sum += bytes[i] | (uint32_t(bytes[i + 1]) << 8);
    // Folding now and then is enough: a 64-bit sum cannot overflow here.
    if ((i & 0xFFFF) == 0) sum = (sum & 0xFFFF) + (sum >> 16);
  }
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  sum_ = sum;
  if (i < count) {
    pending_ = bytes[i];
    odd_ = true;
  }
}

uint32_t PeChecksum::Finish(uint64_t length) const {
  uint64_t sum = sum_;
  if (odd_) sum += pending_;
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum + length);
}

bool CheckStubLayout(const std::string& file, StubImage* stub, std::string* error) {
  stub->file = file;
  if (!ParsePe(reinterpret_cast<const uint8_t*>(file.data()), file.size(), file.size(), &stub->image, error))
    return false;
  const PeImage& image = stub->image;
  if (image.wide || image.machine != 0x14C) {
    *error = "it is not a 32-bit x86 program";
    return false;
  }
  if (!image.fileAlignment || !image.sectionAlignment || image.sizeOfHeaders > file.size()) {
    *error = "its PE headers are damaged";
    return false;
  }
  stub->resourceSection = image.SectionOf(image.Directory(kDirResource).address);
  if (stub->resourceSection < 0 || image.sections[stub->resourceSection].virtualAddress !=
                                       image.Directory(kDirResource).address) {
    *error = "it has no resource section of its own";
    return false;
  }
  const PeSection& rsrc = image.sections[stub->resourceSection];
  for (size_t i = 0; i < image.sections.size(); ++i) {
    const PeSection& s = image.sections[i];
    if (static_cast<int>(i) < stub->resourceSection) {
      if (s.rawSize && s.rawPointer + s.rawSize > rsrc.rawPointer) {
        *error = "its section " + s.name + " lies after its resources in the file";
        return false;
      }
    } else if (static_cast<int>(i) > stub->resourceSection && s.name != ".reloc") {
      *error = "its section " + s.name + " follows its resources and cannot be moved";
      return false;
    }
  }
  return true;
}

bool WriteLauncher(const StubImage& stub, const std::vector<Resource>& resources, const Resource& payload,
                   uint32_t timeDateStamp, const PayloadWriter& writePayload, OutputFile* out,
                   std::string* error) {
  const PeImage& image = stub.image;
  const PeSection& oldRsrc = image.sections[stub.resourceSection];
  auto outputFailed = [&] {
    *error = out->Error();
    return false;
  };
  // Headers and the sections before the resources, unchanged for now; the
  // headers are written again at the end.
  if (!out->Write(stub.file.data(), oldRsrc.rawPointer)) return outputFailed();

  ResourceSection section = LayOutResources(resources, payload, oldRsrc.virtualAddress);
  const uint64_t rsrcStart = out->Position();
  if (!out->Write(section.head)) return outputFailed();
  const uint64_t payloadAt = out->Position();
  std::string header;
  Put32(header, kPayloadHeaderBytes);
  Put32(header, 0);
  Put64(header, 0);
  if (!out->Write(header)) return outputFailed();
  uint64_t archiveLength = 0;
  if (!writePayload(out, &archiveLength, error)) return false;
  const uint64_t rsrcSize = out->Position() - rsrcStart;
  if (rsrcSize >= 0x80000000u) {
    *error = "the resource section would pass 2 GiB";
    return false;
  }
  std::string length;
  Put32(length, static_cast<uint32_t>(archiveLength));
  if (!out->Patch(payloadAt + 4, length)) return outputFailed();
  std::string payloadSize;
  Put32(payloadSize, static_cast<uint32_t>(kPayloadHeaderBytes + archiveLength));
  if (!out->Patch(rsrcStart + section.lastSizeAt, payloadSize)) return outputFailed();

  std::string headers = stub.file.substr(0, image.sizeOfHeaders);
  PeSection rsrc = oldRsrc;
  rsrc.virtualSize = static_cast<uint32_t>(rsrcSize);
  rsrc.rawSize = static_cast<uint32_t>(AlignUp(rsrcSize, image.fileAlignment));
  const std::string padding(static_cast<size_t>(rsrc.rawSize - rsrcSize), '\0');
  if (!out->Write(padding)) return outputFailed();
  SetSectionHeader(headers, image, stub.resourceSection, rsrc);
  SetDirectory(headers, image, kDirResource, {rsrc.virtualAddress, rsrc.virtualSize});

  // The sections after the resources move behind the new ones; the
  // directories that pointed into them move along.
  uint64_t nextAddress = AlignUp(uint64_t(rsrc.virtualAddress) + rsrc.virtualSize, image.sectionAlignment);
  uint64_t imageEnd = nextAddress;
  for (size_t i = stub.resourceSection + 1; i < image.sections.size(); ++i) {
    const PeSection& old = image.sections[i];
    PeSection moved = old;
    moved.virtualAddress = static_cast<uint32_t>(nextAddress);
    moved.rawPointer = moved.rawSize ? static_cast<uint32_t>(out->Position()) : 0;
    if (moved.rawSize && !out->Write(stub.file.data() + old.rawPointer, old.rawSize)) return outputFailed();
    for (uint32_t d = 0; d < image.directories.size(); ++d) {
      const PeDirectory dir = image.directories[d];
      if (d != kDirSecurity && dir.address >= old.virtualAddress &&
          dir.address < old.virtualAddress + (old.virtualSize ? old.virtualSize : old.rawSize))
        SetDirectory(headers, image, d, {dir.address - old.virtualAddress + moved.virtualAddress, dir.size});
    }
    SetSectionHeader(headers, image, i, moved);
    const uint32_t span = moved.virtualSize ? moved.virtualSize : moved.rawSize;
    nextAddress = AlignUp(nextAddress + span, image.sectionAlignment);
    imageEnd = nextAddress;
  }
  if (imageEnd > 0x7FFFFFFFu || out->Position() > 0x7FFFFFFFu) {
    *error = "the launcher would pass 2 GiB";
    return false;
  }

  uint64_t initializedData = 0;
  for (size_t i = 0; i < image.sections.size(); ++i) {
    const uint32_t raw = Get32(headers, image.sectionTableOffset + 40 * i + 16);
    if (image.sections[i].characteristics & kInitializedData) initializedData += raw;
  }
  const size_t opt = image.optionalOffset;
  Set32(headers, image.peOffset + 8, timeDateStamp);
  Set32(headers, opt + 8, static_cast<uint32_t>(initializedData));
  Set32(headers, opt + 56, static_cast<uint32_t>(imageEnd));
  Set32(headers, opt + 64, 0);
  SetDirectory(headers, image, kDirSecurity, {0, 0});
  if (!out->Patch(0, headers)) return outputFailed();

  PeChecksum checksum;
  if (!out->ReadBack([&](const uint8_t* bytes, size_t count) { checksum.Add(bytes, count); }))
    return outputFailed();
  std::string sum;
  Put32(sum, checksum.Finish(out->Position()));
  if (!out->Patch(opt + 64, sum)) return outputFailed();
  return true;
}

}  // namespace sfx
