#include "sfxpack/list_launcher.h"

#include <vector>

#include "sfxpack/file_io.h"
#include "sfxpack/icon_file.h"
#include "sfxpack/jpeg_info.h"
#include "sfxpack/launcher_writer.h"
#include "sfxpack/le_bytes.h"
#include "sfxpack/pe_image.h"
#include "sfxpack/version_info.h"
#include "sfxpack/zip_reader_owner.h"

namespace sfx {

namespace {

constexpr uint64_t kMaxLauncherBytes = uint64_t(2) << 30;

bool CountPiece(void*, const uint8_t*, size_t) { return true; }

// Lists and checks the archive; false with *error at the first entry that
// does not unpack.
bool ListArchive(const std::string& archive, std::ostream& out, std::string* error) {
  ZipReaderOwner owner;
  const ZipStatus opened = owner.Open(archive);
  if (opened != ZipOk) {
    *error = std::string("its payload is not an archive the launcher reads: ") + ZipStatusText(opened);
    return false;
  }
  ZipReader* reader = owner.get();
  const uint64_t count = ZipEntryCount(reader);
  uint64_t files = 0, unpacked = 0;
  std::string lines;
  for (uint64_t i = 0; i < count; ++i) {
    ZipEntryInfo info;
    ZipStatus status = ZipStatEntry(reader, i, &info);
    if (status == ZipOk) status = ZipExtractEntry(reader, i, CountPiece, nullptr);
    if (status != ZipOk) {
      *error = "entry " + std::to_string(i + 1) + " of its payload does not unpack: " + ZipStatusText(status);
      return false;
    }
    const bool folder = (info.externalAttributes & 0x10) != 0;
    std::string flags;
    if (info.externalAttributes & 0x01) flags += " read-only";
    if (info.externalAttributes & 0x02) flags += " hidden";
    if (folder) {
      lines += "  folder " + std::string(info.name) + flags + "\n";
      continue;
    }
    ++files;
    unpacked += info.uncompressedSize;
    lines += "  file   " + std::string(info.name) + "  " + std::to_string(info.uncompressedSize) + " bytes, " +
             (info.method == 8 ? "deflated to " + std::to_string(info.compressedSize) : std::string("stored")) +
             flags + "\n";
  }
  out << "payload: " << count << " entries (" << files << " files, " << unpacked << " bytes unpacked), archive "
      << archive.size() << " bytes, all entries check\n"
      << lines;
  return true;
}

}  // namespace

bool ListLauncher(const fs::path& launcher, std::ostream& out, std::string* error) {
  std::string file;
  if (!ReadWholeFile(launcher, kMaxLauncherBytes, &file, error)) return false;
  PeImage image;
  std::vector<Resource> resources;
  std::string why;
  if (!ParsePe(reinterpret_cast<const uint8_t*>(file.data()), file.size(), file.size(), &image, &why) ||
      !ReadResources(file, image, &resources, &why)) {
    *error = PathText(launcher) + " is not a launcher: " + why;
    return false;
  }
  const Resource* payload = FindResource(resources, ResourceName(kPayloadType), ResourceName(kPayloadName));
  if (!payload) {
    *error = PathText(launcher) + " is not a launcher: it carries no payload";
    return false;
  }
  out << "launcher: " << PathText(launcher) << " (" << file.size() << " bytes)\n";
  const PeDirectory signature = image.Directory(kDirSecurity);
  out << "signature: "
      << (signature.size ? "present (" + std::to_string(signature.size) + " bytes)" : std::string("none")) << "\n";

  const Resource* picture = FindResource(resources, ResourceName(kPictureType), ResourceId(kPictureId));
  JpegInfo jpeg;
  if (picture && ReadJpegInfo(picture->data, &jpeg, &why))
    out << "picture: " << jpeg.width << " x " << jpeg.height << ", " << (jpeg.progressive ? "progressive" : "baseline")
        << " JPEG, " << picture->data.size() << " bytes\n";
  else
    out << "picture: " << (picture ? "unreadable" : "none") << "\n";

  const Resource* group = FindResource(resources, ResourceId(kRtGroupIcon), ResourceId(kGroupIconId));
  std::vector<GroupMember> members;
  out << "icon:";
  if (group && ReadGroupIcon(group->data, &members)) {
    for (const GroupMember& m : members) out << " " << m.width << "x" << m.height << "/" << m.bits << "-bit";
  } else {
    out << " none";
  }
  out << "\n";
  const Resource* version = FindResource(resources, ResourceId(kRtVersion), ResourceId(1));
  const std::string summary = version ? DescribeVersionResource(version->data) : std::string();
  out << "version: " << (summary.empty() ? "none" : summary) << "\n";

  const std::string& data = payload->data;
  if (data.size() < kPayloadHeaderBytes || Get32(data, 0) > data.size() || Get32(data, 4) > data.size() - Get32(data, 0)) {
    *error = PathText(launcher) + " has a damaged payload header";
    return false;
  }
  return ListArchive(data.substr(Get32(data, 0), Get32(data, 4)), out, error);
}

}  // namespace sfx
