// The launchers sfxpack writes, taken apart again: PE layout, checksum,
// resources and payload.
#include <gtest/gtest.h>

#include <cstring>

#include "payload/zip_reader.h"
#include "sfxpack/icon_file.h"
#include "sfxpack/le_bytes.h"
#include "sfxpack/pe_image.h"
#include "sfxpack/version_info.h"
#include "tests/sfxpack/pack_fixtures.h"

namespace {

using namespace pack_fixtures;
using namespace sfx;

struct Parsed {
  std::string file;
  PeImage image;
  std::vector<Resource> resources;
};

Parsed Parse(const fs::path& path) {
  Parsed p;
  p.file = ReadFile(path);
  std::string error;
  EXPECT_TRUE(ParsePe(reinterpret_cast<const uint8_t*>(p.file.data()), p.file.size(), p.file.size(), &p.image,
                      &error))
      << error;
  EXPECT_TRUE(ReadResources(p.file, p.image, &p.resources, &error)) << error;
  return p;
}

uint32_t OptionalField(const Parsed& p, uint32_t offset) { return Get32(p.file, p.image.optionalOffset + offset); }

uint32_t AlignUp(uint32_t v, uint32_t to) { return (v + to - 1) / to * to; }

class LauncherLayout : public ::testing::Test {
 protected:
  void SetUp() override {
    SetEnvironment("SOURCE_DATE_EPOCH", "1700000000");
    MakeInstallerFolder(scratch / "payload");
    WriteFile(scratch / "payload/docs/readme.txt", TextBytes(10000));
  }
  void TearDown() override { SetEnvironment("SOURCE_DATE_EPOCH", nullptr); }

  PackRun Pack(const fs::path& stub, const fs::path& out, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--payload", Utf8(scratch / "payload"), "--stub", Utf8(stub), "-o", Utf8(out)};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunPacker(args);
  }

  ScratchFolder scratch;
};

TEST_F(LauncherLayout, SectionsSizesAndChecksumAreLaidOutAnew) {
  const fs::path stubPath = Fixture("SFXPACK_STUB");
  const PackRun run = Pack(stubPath, scratch / "out.exe");
  ASSERT_EQ(run.code, 0) << run.err;
  const Parsed stub = Parse(stubPath);
  const Parsed out = Parse(scratch / "out.exe");
  ASSERT_EQ(out.image.sections.size(), stub.image.sections.size());

  // Sections follow each other without gaps, in memory and in the file.
  uint32_t address = out.image.sections[0].virtualAddress;
  uint32_t raw = out.image.sections[0].rawPointer;
  for (const PeSection& s : out.image.sections) {
    SCOPED_TRACE(s.name);
    EXPECT_EQ(s.virtualAddress, address);
    if (s.rawSize) {
      EXPECT_EQ(s.rawPointer, raw);
      EXPECT_EQ(s.rawSize % out.image.fileAlignment, 0u);
      raw += s.rawSize;
    }
    address = AlignUp(s.virtualAddress + std::max(s.virtualSize, s.rawSize), out.image.sectionAlignment);
  }
  EXPECT_EQ(OptionalField(out, 56), address) << "SizeOfImage";
  EXPECT_EQ(out.file.size(), raw) << "nothing after the last section";

  // Code and data before the resources are the stub's, byte for byte; the
  // relocations moved but did not change.
  const PeSection& oldRsrc = stub.image.sections[stub.image.sections.size() - 2];
  EXPECT_EQ(oldRsrc.name, ".rsrc");
  EXPECT_EQ(out.file.compare(stub.image.sizeOfHeaders, oldRsrc.rawPointer - stub.image.sizeOfHeaders, stub.file,
                             stub.image.sizeOfHeaders, oldRsrc.rawPointer - stub.image.sizeOfHeaders),
            0);
  const PeSection& oldReloc = stub.image.sections.back();
  const PeSection& newReloc = out.image.sections.back();
  EXPECT_EQ(out.file.substr(newReloc.rawPointer, newReloc.rawSize),
            stub.file.substr(oldReloc.rawPointer, oldReloc.rawSize));
  EXPECT_EQ(out.image.Directory(kDirBaseReloc).address, newReloc.virtualAddress);
  EXPECT_EQ(out.image.Directory(kDirBaseReloc).size, stub.image.Directory(kDirBaseReloc).size);
  EXPECT_EQ(out.image.Directory(kDirSecurity).size, 0u);

  EXPECT_EQ(Get32(out.file, out.image.peOffset + 8), 1700000000u) << "time stamp";
  std::string copy = out.file;
  const uint32_t fieldAt = out.image.optionalOffset + 64;
  memset(&copy[fieldAt], 0, 4);
  uint64_t sum = 0;
  for (size_t i = 0; i + 1 < copy.size(); i += 2) {
    sum += Get16(copy, i);
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  EXPECT_EQ(OptionalField(out, 64), static_cast<uint32_t>(sum + copy.size())) << "checksum";
}

TEST_F(LauncherLayout, ResourcesCarryThePayloadPictureIconAndVersion) {
  ScratchFolder extra;
  const std::string splash = ReadFile(Fixture("SFXPACK_SPLASH"));
  // Two images: 16x16 and 48x48, 32-bit bitmaps.
  std::string icon;
  std::vector<std::string> images;
  for (int size : {16, 48}) {
    std::string image;
    Put32(image, 40);
    Put32(image, size);
    Put32(image, size * 2);
    Put16(image, 1);
    Put16(image, 32);
    image.append(24, '\0');
    image.append(size * size * 4 + size * 4, '\x11');
    images.push_back(image);
  }
  Put16(icon, 0);
  Put16(icon, 1);
  Put16(icon, 2);
  uint32_t offset = 6 + 32;
  for (size_t i = 0; i < 2; ++i) {
    const int size = i ? 48 : 16;
    Put8(icon, size);
    Put8(icon, size);
    Put8(icon, 0);
    Put8(icon, 0);
    Put16(icon, 1);
    Put16(icon, 32);
    Put32(icon, static_cast<uint32_t>(images[i].size()));
    Put32(icon, offset);
    offset += static_cast<uint32_t>(images[i].size());
  }
  icon += images[0] + images[1];
  WriteFile(extra / "app.ico", icon);

  const fs::path stubPath = Fixture("SFXPACK_STUB");
  const PackRun run = Pack(stubPath, scratch / "out.exe",
                       {"--splash", Utf8(Fixture("SFXPACK_SPLASH")), "--icon", Utf8(extra / "app.ico"), "--file-version",
                        "5.9.1.0", "--product", u8"Quillane \u00e9dition", "--company", "Quillane Ltd",
                        "--description", "Quillane Setup", "--copyright", u8"\u00a9 2026 Quillane Ltd",
                        "--original-name", "QuillaneSetup.exe", "--product-version", "5.9"});
  ASSERT_EQ(run.code, 0) << run.err;
  const Parsed stub = Parse(stubPath);
  const Parsed out = Parse(scratch / "out.exe");

  EXPECT_TRUE(FindResource(stub.resources, ResourceId(kRtRcData), ResourceName(L"QLNSFXSTUB")));
  EXPECT_FALSE(FindResource(out.resources, ResourceId(kRtRcData), ResourceName(L"QLNSFXSTUB")))
      << "a launcher is no stub";
  const Resource* manifest = FindResource(out.resources, ResourceId(kRtManifest), ResourceId(1));
  ASSERT_TRUE(manifest);
  EXPECT_EQ(manifest->data, FindResource(stub.resources, ResourceId(kRtManifest), ResourceId(1))->data);
  EXPECT_NE(manifest->data.find("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"), std::string::npos);
  EXPECT_NE(manifest->data.find("{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"), std::string::npos);

  const Resource* picture = FindResource(out.resources, ResourceName(L"JPEG"), ResourceId(103));
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->data, splash);

  const Resource* group = FindResource(out.resources, ResourceId(kRtGroupIcon), ResourceId(101));
  ASSERT_TRUE(group);
  std::vector<GroupMember> members;
  ASSERT_TRUE(ReadGroupIcon(group->data, &members));
  ASSERT_EQ(members.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(members[i].width, i ? 48u : 16u);
    const Resource* image = FindResource(out.resources, ResourceId(kRtIcon), ResourceId(members[i].id));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->data, images[i]);
  }
  size_t icons = 0;
  for (const Resource& r : out.resources) icons += r.type == ResourceId(kRtIcon);
  EXPECT_EQ(icons, 2u) << "the stub's own icon images went with its group";

  const Resource* version = FindResource(out.resources, ResourceId(kRtVersion), ResourceId(1));
  ASSERT_TRUE(version);
  const std::string summary = DescribeVersionResource(version->data);
  EXPECT_EQ(summary.find("5.9.1.0 (product 5.9.0.0), "), 0u) << summary;
  for (const std::string text :
       {"CompanyName \"Quillane Ltd\"", "FileVersion \"5.9.1.0\"", u8"ProductName \"Quillane \u00e9dition\"",
        u8"LegalCopyright \"\u00a9 2026 Quillane Ltd\"", "OriginalFilename \"QuillaneSetup.exe\"",
        "ProductVersion \"5.9\""})
    EXPECT_NE(summary.find(text), std::string::npos) << text << "\n" << summary;

  const Resource* payload = FindResource(out.resources, ResourceName(L"FILE_DATA"), ResourceName(L"ZIPFILE"));
  ASSERT_TRUE(payload);
  ASSERT_GE(payload->data.size(), 16u);
  EXPECT_EQ(Get32(payload->data, 0), 16u);
  EXPECT_EQ(Get32(payload->data, 4), payload->data.size() - 16);
  EXPECT_EQ(payload->data.substr(8, 8), std::string(8, '\0'));
  ZipReader* reader = nullptr;
  ASSERT_EQ(ZipOpen(payload->data.data() + 16, payload->data.size() - 16, &reader), ZipOk);
  EXPECT_EQ(ZipEntryCount(reader), 3u);
  ZipClose(reader);
}

uint32_t Checksum(std::string file, uint32_t fieldAt) {
  memset(&file[fieldAt], 0, 4);
  uint64_t sum = 0;
  for (size_t i = 0; i + 1 < file.size(); i += 2) {
    sum += Get16(file, i);
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  return static_cast<uint32_t>(sum + file.size());
}

// The file header's characteristics (such as running from the swap file
// when started from a network or removable drive) are the stub's, whatever
// they are; only the checksum is made anew.
TEST_F(LauncherLayout, FileHeaderCharacteristicsAreTheStubs) {
  const fs::path stubPath = Fixture("SFXPACK_STUB");
  const Parsed stub = Parse(stubPath);
  const uint32_t at = stub.image.peOffset + 22;
  for (uint32_t extra : {0x0000u, 0x0C00u}) {
    SCOPED_TRACE(extra);
    std::string changed = stub.file;
    Set16(changed, at, Get16(stub.file, at) ^ extra);
    WriteFile(scratch / "stub.exe", changed);
    ASSERT_EQ(Pack(scratch / "stub.exe", scratch / "out.exe").code, 0);
    const Parsed out = Parse(scratch / "out.exe");
    EXPECT_EQ(Get16(out.file, at), Get16(changed, at));
    EXPECT_EQ(OptionalField(out, 64), Checksum(out.file, out.image.optionalOffset + 64));
  }
}

TEST_F(LauncherLayout, StubSignatureIsLeftOutAndTheOutputIsTheSame) {
  const fs::path stubPath = Fixture("SFXPACK_STUB");
  // The stub with a certificate table behind its last section.
  std::string signedStub = ReadFile(stubPath);
  const Parsed stub = Parse(stubPath);
  const uint32_t tableAt = static_cast<uint32_t>(signedStub.size());
  std::string certificate;
  Put32(certificate, 16);
  Put16(certificate, 0x0200);
  Put16(certificate, 0x0002);
  certificate.append(8, '\x5A');
  signedStub += certificate;
  Set32(signedStub, stub.image.directoryOffset + 8 * kDirSecurity, tableAt);
  Set32(signedStub, stub.image.directoryOffset + 8 * kDirSecurity + 4, 16);
  WriteFile(scratch / "signed-stub.exe", signedStub);

  ASSERT_EQ(Pack(stubPath, scratch / "plain.exe").code, 0);
  const PackRun run = Pack(scratch / "signed-stub.exe", scratch / "from-signed.exe");
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(ReadFile(scratch / "from-signed.exe"), ReadFile(scratch / "plain.exe"));
}

TEST_F(LauncherLayout, ListingShowsWhatTheLauncherCarries) {
  ASSERT_EQ(Pack(Fixture("SFXPACK_STUB"), scratch / "out.exe", {"--file-version", "1.2"}).code, 0);
  const PackRun run = RunPacker({"--list", Utf8(scratch / "out.exe")});
  ASSERT_EQ(run.code, 0) << run.err;
  for (const char* line : {"signature: none", "picture: 420 x 240, baseline JPEG", "icon: 32x32/32-bit",
                           "version: 1.2.0.0", "payload: 3 entries (2 files", "all entries check",
                           "  file   Setup.exe  ", "  folder docs/", "  file   docs/readme.txt  10000 bytes, deflated"})
    EXPECT_NE(run.out.find(line), std::string::npos) << line << "\n" << run.out;
}

}  // namespace
