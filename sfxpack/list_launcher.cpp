#include "sfxpack/list_launcher.h"

#include <algorithm>
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
// The headers are read in one piece of at most this size. Of the
// resources, only those shown are read, and none larger than any the packer
// embeds beside the payload (a picture); the payload is read at offsets, so
// listing takes the same memory for any launcher.
constexpr size_t kMaxHeaderBytes = 1 << 20;
constexpr uint64_t kMaxResourceInMemory = kMaxPictureBytes;

bool CountPiece(void*, const uint8_t*, size_t) { return true; }

// Lists and checks the archive of `length` bytes at `at` in the file;
// false with *error at the first entry that does not unpack.
bool ListArchive(FILE* file, uint64_t at, uint64_t length, std::ostream& out, std::string* error) {
  ZipReaderOwner owner;
  const ZipStatus opened = owner.OpenAt(
      [file, at](uint64_t offset, void* buffer, size_t count) { return ReadFileAt(file, at + offset, buffer, count); },
      length);
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
      << length << " bytes, all entries check\n"
      << lines;
  return true;
}

}  // namespace

bool ListLauncher(const fs::path& launcher, std::ostream& out, std::string* error) {
  uint64_t size = 0;
  FileOwner file(OpenSizedFile(launcher, kMaxLauncherBytes, &size, error));
  if (!file.get()) return false;
  const ReadBytes read = [&file](uint64_t offset, size_t count, std::string* into) {
    into->assign(count, '\0');
    return count == 0 || ReadFileAt(file.get(), offset, &(*into)[0], count);
  };
  std::string head;
  if (!read(0, static_cast<size_t>(std::min<uint64_t>(size, kMaxHeaderBytes)), &head)) {
    *error = "cannot read " + PathText(launcher);
    return false;
  }
  PeImage image;
  std::vector<Resource> resources;
  std::string why;
  if (!ParsePe(reinterpret_cast<const uint8_t*>(head.data()), head.size(), size, &image, &why) ||
      !ReadResourceTree(read, size, image, 0, &resources, &why)) {
    *error = PathText(launcher) + " is not a launcher: " + why;
    return false;
  }
  // A shown resource's data, read from the file; empty when there is none,
  // it is larger than kMaxResourceInMemory or cannot be read.
  auto dataOf = [&read](const Resource* r) {
    std::string data;
    if (r && (r->size > kMaxResourceInMemory || !read(r->offset, r->size, &data))) data.clear();
    return data;
  };
  const Resource* payload = FindResource(resources, ResourceName(kPayloadType), ResourceName(kPayloadName));
  if (!payload) {
    *error = PathText(launcher) + " is not a launcher: it carries no payload";
    return false;
  }
  out << "launcher: " << PathText(launcher) << " (" << size << " bytes)\n";
  const PeDirectory signature = image.Directory(kDirSecurity);
  out << "signature: "
      << (signature.size ? "present (" + std::to_string(signature.size) + " bytes)" : std::string("none")) << "\n";

  const Resource* picture = FindResource(resources, ResourceName(kPictureType), ResourceId(kPictureId));
  const std::string pictureData = dataOf(picture);
  // The picture is judged as the packer judges a new one; a picture the
  // launcher would not show fails the listing once everything is shown.
  JpegInfo jpeg;
  std::string pictureError, pictureWarning;
  if (!picture) {
    out << "picture: none\n";
  } else if (JudgeSplashPicture(pictureData, &jpeg, &pictureError, &pictureWarning)) {
    out << "picture: " << jpeg.width << " x " << jpeg.height << ", " << (jpeg.progressive ? "progressive" : "baseline")
        << " JPEG, " << pictureData.size() << " bytes";
    if (!pictureWarning.empty()) out << "; warning: " << pictureWarning;
    out << "\n";
  } else {
    out << "picture: cannot be shown, " << pictureData.size() << " bytes\n";
  }

  const Resource* group = FindResource(resources, ResourceId(kRtGroupIcon), ResourceId(kGroupIconId));
  std::vector<GroupMember> members;
  out << "icon:";
  if (group && ReadGroupIcon(dataOf(group), &members)) {
    for (const GroupMember& m : members) out << " " << m.width << "x" << m.height << "/" << m.bits << "-bit";
  } else {
    out << " none";
  }
  out << "\n";
  const Resource* version = FindResource(resources, ResourceId(kRtVersion), ResourceId(1));
  const std::string summary = version ? DescribeVersionResource(dataOf(version)) : std::string();
  out << "version: " << (summary.empty() ? "none" : summary) << "\n";

  // The payload's header: the archive's offset in the resource and its
  // length; the archive itself is read at offsets.
  std::string header;
  if (payload->size < kPayloadHeaderBytes || !read(payload->offset, kPayloadHeaderBytes, &header) ||
      Get32(header, 0) > payload->size || Get32(header, 4) > payload->size - Get32(header, 0)) {
    *error = PathText(launcher) + " has a damaged payload header";
    return false;
  }
  if (!ListArchive(file.get(), payload->offset + Get32(header, 0), Get32(header, 4), out, error)) return false;
  if (!pictureError.empty()) {
    *error = PathText(launcher) + " carries a splash picture the launcher cannot show: " + pictureError;
    return false;
  }
  return true;
}

}  // namespace sfx
