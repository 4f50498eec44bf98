#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <system_error>

#include <zlib.h>

#include "sfxpack/authenticode.h"
#include "sfxpack/entry_rules.h"
#include "sfxpack/file_guard.h"
#include "sfxpack/file_io.h"
#include "sfxpack/folder_scan.h"
#include "sfxpack/icon_file.h"
#include "sfxpack/jpeg_info.h"
#include "sfxpack/launcher_writer.h"
#include "sfxpack/list_launcher.h"
#include "sfxpack/pe_image.h"
#include "sfxpack/sfxpack.h"
#include "sfxpack/signature_probe.h"
#include "sfxpack/version_info.h"
#include "sfxpack/zip_reader_owner.h"
#include "sfxpack/zip_stream_writer.h"

namespace sfx {

const wchar_t kStubMarkerName[] = L"QLNSFXSTUB";
const char kStubMarkerText[] = "Quillane setup launcher stub";

namespace {

constexpr uint64_t kMaxStubBytes = 64 << 20;
constexpr uint64_t kMaxIconBytes = 8 << 20;
constexpr int64_t kDefaultEpoch = 315532800;  // 1980-01-01 00:00:00 UTC, the first ZIP time

const char kUsage[] =
    "usage: sfxpack --payload DIR|ARCHIVE.zip [--splash PICTURE.jpg] [--icon APP.ico]\n"
    "               [--file-version A.B.C.D [--product-version A.B.C.D] [--product TEXT]\n"
    "                [--company TEXT] [--description TEXT] [--copyright TEXT] [--original-name TEXT]]\n"
    "               [--level 0-9] [--threads N] [--allow-unsigned] --stub sfx-stub.exe -o OUT.exe\n"
    "       sfxpack --list LAUNCHER.exe\n"
    "       sfxpack --help | --version\n";

const char kHelp[] =
    "\n"
    "Makes a setup launcher: the launcher stub with the payload (a folder, or a ZIP\n"
    "archive of one, holding a signed Setup.exe) in its resources, and optionally\n"
    "another splash picture, icon and version resource. Sign the output afterwards\n"
    "(osslsigncode, or signtool on Windows): any signature the stub carried is\n"
    "dropped, and the new one covers the payload.\n"
    "\n"
    "  --payload DIR|ZIP   a folder, packed as a ZIP archive (entries sorted by path,\n"
    "                      UTF-8 names, deflated or stored, ZIP64 where needed), or\n"
    "                      an existing .zip, checked entry by entry and embedded as it is\n"
    "  --splash FILE       the splash picture: a whole baseline or progressive JPEG\n"
    "                      of one or three colour components (RGB, not CMYK), at\n"
    "                      most 1200 x 640 pixels (its window is 1.5 times as large\n"
    "                      at 150 %); beyond 800 x 600 a warning\n"
    "  --icon FILE         the program icon: an .ico file\n"
    "  --file-version V    adds a version resource with V (up to four numbers)\n"
    "  --product-version V the product's version, when it is not the file's\n"
    "  --product TEXT      with --company, --description, --copyright and\n"
    "                      --original-name: the version resource's texts only;\n"
    "                      the window title stays the launcher's own\n"
    "                      (\"Installing Quillane 5.09.01 (...)\")\n"
    "  --level N           deflate level, 0 (store) to 9; 6 by default\n"
    "  --threads N         deflating threads; one per core by default. The output\n"
    "                      is the same for any number\n"
    "  --allow-unsigned    packs a Setup.exe without an Authenticode signature (the\n"
    "                      launcher waits for a signature that verifies, in vain);\n"
    "                      a signature that no longer matches its file is refused\n"
    "                      all the same\n"
    "  --stub FILE         the launcher stub (sfx-stub.exe of the build)\n"
    "  -o, --output FILE   the launcher to write; written whole or not at all\n"
    "  --list FILE         prints what a launcher carries and checks every entry\n"
    "\n"
    "Every time in the output is SOURCE_DATE_EPOCH when set, else 1980-01-01, so the\n"
    "same inputs give the same bytes. Refused inputs get one line on stderr and exit\n"
    "status 2, and no output file is written; a failure to write gives status 1.\n"
    "The payload may take at most 1 GiB, which a 32-bit launcher maps reliably.\n";

const char kToolVersion[] = "sfxpack 5.9.1";

struct Options {
  std::string payload, splash, icon, stub, output, list;
  VersionFields version;
  bool wantsVersion = false;
  bool allowUnsigned = false;
  int level = 6;
  unsigned threads = 0;
  uint64_t payloadLimit = kMaxPayloadBytes;
};

fs::path PathOf(const std::string& utf8) { return fs::u8path(utf8); }

bool ParseArguments(const std::vector<std::string>& args, Options* o, std::string* error) {
  std::set<std::string> given;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string* into) {
      if (i + 1 >= args.size()) {
        *error = a + " needs a value";
        return false;
      }
      // One value per option: a second one is a slip that would silently
      // win over the first.
      if (!given.insert(a == "-o" ? "--output" : a).second) {
        *error = (a == "-o" ? std::string("-o/--output") : a) + " is given more than once";
        return false;
      }
      *into = args[++i];
      return true;
    };
    std::string text;
    if (a == "--payload") {
      if (!value(&o->payload)) return false;
    } else if (a == "--splash") {
      if (!value(&o->splash)) return false;
    } else if (a == "--icon") {
      if (!value(&o->icon)) return false;
    } else if (a == "--stub") {
      if (!value(&o->stub)) return false;
    } else if (a == "-o" || a == "--output") {
      if (!value(&o->output)) return false;
    } else if (a == "--list") {
      if (!value(&o->list)) return false;
    } else if (a == "--file-version") {
      if (!value(&o->version.text)) return false;
      if (!ParseVersionNumber(o->version.text, o->version.number)) {
        *error = "--file-version takes up to four numbers from 0 to 65535, like 5.9.1.0";
        return false;
      }
      o->wantsVersion = true;
    } else if (a == "--product-version") {
      if (!value(&o->version.productText)) return false;
      if (!ParseVersionNumber(o->version.productText, o->version.productNumber)) {
        *error = "--product-version takes up to four numbers from 0 to 65535, like 5.9.0.0";
        return false;
      }
    } else if (a == "--product") {
      if (!value(&o->version.product)) return false;
    } else if (a == "--copyright") {
      if (!value(&o->version.copyright)) return false;
    } else if (a == "--original-name") {
      if (!value(&o->version.originalName)) return false;
    } else if (a == "--company") {
      if (!value(&o->version.company)) return false;
    } else if (a == "--description") {
      if (!value(&o->version.description)) return false;
    } else if (a == "--level") {
      if (!value(&text)) return false;
      if (text.size() != 1 || text[0] < '0' || text[0] > '9') {
        *error = "--level takes a deflate level from 0 to 9";
        return false;
      }
      o->level = text[0] - '0';
    } else if (a == "--threads") {
      if (!value(&text)) return false;
      char* end = nullptr;
      const unsigned long n = strtoul(text.c_str(), &end, 10);
      if (text.empty() || *end || n < 1 || n > 256) {
        *error = "--threads takes a number from 1 to 256";
        return false;
      }
      o->threads = static_cast<unsigned>(n);
    } else if (a == "--allow-unsigned") {
      o->allowUnsigned = true;
    } else {
      *error = "unknown argument " + a;
      return false;
    }
  }
  if (!o->list.empty()) {
    if (!o->payload.empty() || !o->stub.empty() || !o->output.empty()) {
      *error = "--list takes no other arguments";
      return false;
    }
    return true;
  }
  if (o->payload.empty() || o->stub.empty() || o->output.empty()) {
    *error = "--payload, --stub and -o are required";
    return false;
  }
  const VersionFields& v = o->version;
  const bool strings = !v.product.empty() || !v.company.empty() || !v.description.empty() ||
                       !v.copyright.empty() || !v.originalName.empty() || !v.productText.empty();
  if (strings && !o->wantsVersion) {
    *error = "--product, --company, --description, --copyright, --original-name and --product-version "
             "need --file-version";
    return false;
  }
  return true;
}

// The same file, whether or not it exists yet: by identity when both
// exist (however each is spelled: links, "..", another case on Windows),
// else by their absolute, normalised spelling.
bool SameFile(const fs::path& a, const fs::path& b) {
  FileIdentity first, second;
  if (IdentifyFile(a, &first) && IdentifyFile(b, &second)) return first == second;
  std::error_code code;
  return fs::absolute(a, code).lexically_normal() == fs::absolute(b, code).lexically_normal();
}

// True when the file path would be written inside folder, at any depth:
// the folder is the one path's parent names, or one of its ancestors, by
// identity. The parent is resolved first where it exists, so "..", "." and
// links take the road the file system takes.
bool Inside(const fs::path& path, const fs::path& folder) {
  FileIdentity target;
  if (!IdentifyFile(folder, &target)) return false;
  std::error_code code;
  const fs::path parent = fs::absolute(path, code).parent_path();
  fs::path at = fs::canonical(parent, code);
  if (code) at = fs::absolute(parent, code).lexically_normal();
  for (;;) {
    FileIdentity here;
    if (IdentifyFile(at, &here) && here == target) return true;
    if (!at.has_relative_path() || at.parent_path() == at) return false;
    at = at.parent_path();
  }
}

// The output must not overwrite or land among the inputs.
bool CheckOutputPath(const Options& o, std::string* error) {
  const fs::path output = PathOf(o.output);
  const std::pair<const char*, const std::string*> inputs[] = {
      {"--stub", &o.stub}, {"--splash", &o.splash}, {"--icon", &o.icon}, {"--payload", &o.payload}};
  for (const auto& input : inputs) {
    if (input.second->empty()) continue;
    if (SameFile(output, PathOf(*input.second))) {
      *error = "the output " + o.output + " is one of the inputs (" + input.first + ")";
      return false;
    }
  }
  std::error_code code;
  if (fs::is_directory(PathOf(o.payload), code) && Inside(output, PathOf(o.payload))) {
    *error = "the output " + o.output + " lies inside the payload folder " + o.payload;
    return false;
  }
  return true;
}

// Seconds since 1970 for every time the output carries: SOURCE_DATE_EPOCH
// when set, else a fixed moment, so that the same inputs give the same file.
bool BuildEpoch(int64_t* epoch, std::string* error) {
  const char* text = getenv("SOURCE_DATE_EPOCH");
  *epoch = kDefaultEpoch;
  if (!text || !*text) return true;
  char* end = nullptr;
  errno = 0;
  const long long value = strtoll(text, &end, 10);
  uint32_t ignored = 0;
  if (errno || *end || value < kDefaultEpoch || value > 0xFFFFFFFFLL || !DosDateTime(value, &ignored)) {
    *error = "SOURCE_DATE_EPOCH must be a number of seconds from 1980 to 2106";
    return false;
  }
  *epoch = value;
  return true;
}

// The stub: this project's launcher without a payload, recognised by its
// marker resource.
bool LoadStub(const Options& o, StubImage* stub, std::vector<Resource>* resources, std::string* error) {
  std::string file;
  if (!ReadWholeFile(PathOf(o.stub), kMaxStubBytes, &file, error)) return false;
  std::string why;
  const std::string notStub = "the stub " + o.stub + " is not this project's launcher stub: ";
  if (!CheckStubLayout(file, stub, &why) || !ReadResources(file, stub->image, resources, &why)) {
    *error = notStub + why;
    return false;
  }
  const Resource* marker = FindResource(*resources, ResourceId(kRtRcData), ResourceName(kStubMarkerName));
  if (!marker || marker->data.compare(0, strlen(kStubMarkerText), kStubMarkerText) != 0) {
    *error = notStub + "it carries no stub marker";
    return false;
  }
  if (FindResource(*resources, ResourceName(kPayloadType), ResourceName(kPayloadName))) {
    *error = notStub + "it already carries a payload";
    return false;
  }
  return true;
}

// Feeds an installer's bytes, in order, to the hasher once more; false
// with *error when they cannot be read again.
using FeedAgain = std::function<bool(AuthenticodeHasher* hasher, std::string* error)>;

// Checks one installer candidate, its bytes fed through the probe: it must
// be signed (unless --allow-unsigned), and a signature it carries must
// match its bytes whatever --allow-unsigned says: the launcher would wait
// in vain for either. A digest algorithm the packer does not know, or a
// signature it cannot read, leaves the check to the launcher with a
// warning.
bool CheckInstaller(const Options& o, const InstallerCandidate& c, const SignatureProbe& probe,
                    const FeedAgain& feedAgain, std::vector<std::string>* warnings, std::string* error) {
  const std::string verdict = probe.Verdict();
  if (!verdict.empty()) {
    if (o.allowUnsigned) return true;
    *error = "the installer '" + c.name + "' cannot be verified: " + verdict +
             (probe.IsProgram() ? "; the launcher would wait for it in vain (sign it, or pass --allow-unsigned)"
                                : "");
    return false;
  }
  SignedDigest signedDigest;
  std::string why;
  if (!ReadSignedDigest(probe.Signature(), &signedDigest, &why)) {
    warnings->push_back("the installer '" + c.name + "': " + why + "; its digest is left to the launcher");
    return true;
  }
  if (!signedDigest.known) {
    warnings->push_back("the installer '" + c.name + "' is signed with a digest algorithm the packer does not know (" +
                        signedDigest.algorithmId + "); its digest is left to the launcher");
    return true;
  }
  AuthenticodeHasher hasher(signedDigest.algorithm, probe.Layout());
  if (!feedAgain(&hasher, error)) return false;
  const std::string digest = hasher.Finish();
  if (digest == signedDigest.digest) return true;
  *error = "the installer '" + c.name + "' was changed after it was signed: its " +
           DigestName(signedDigest.algorithm) + " digest is " + HexText(digest) + ", its signature vouches for " +
           HexText(signedDigest.digest) + "; the launcher would wait for it in vain (sign it again)";
  return false;
}

// Feeds a file to a probe or hasher (anything with Feed) in pieces.
template <typename Sink>
bool FeedFile(const fs::path& path, Sink* sink, std::string* error) {
  FileOwner file(OpenFile(path, "rb"));
  if (!file.get()) {
    *error = "cannot open " + PathText(path) + ": " + strerror(errno);
    return false;
  }
  std::string piece(1 << 16, '\0');
  size_t got;
  while ((got = fread(&piece[0], 1, piece.size(), file.get())) > 0)
    sink->Feed(reinterpret_cast<const uint8_t*>(piece.data()), got);
  if (ferror(file.get())) {
    *error = "cannot read " + PathText(path) + ": " + strerror(errno);
    return false;
  }
  return true;
}

bool CheckCandidates(const std::vector<InstallerCandidate>& candidates, std::string* error) {
  if (candidates.empty()) {
    *error = "the payload holds no Setup.exe where the launcher looks for one "
             "(at the top, as *Setup.exe at the top, or one folder down)";
    return false;
  }
  for (const InstallerCandidate& c : candidates)
    if (c.folder) {
      *error = "the launcher would take the folder '" + c.name + "' for its installer";
      return false;
    }
  return true;
}

bool CheckFolderPayload(const Options& o, const std::vector<SourceEntry>& entries,
                        std::vector<std::string>* warnings, std::string* error) {
  std::vector<NamedEntry> names;
  for (const SourceEntry& e : entries) names.push_back({e.name, e.folder});
  const std::string collision = NameCollision(names);
  if (!collision.empty()) {
    *error = collision;
    return false;
  }
  const std::vector<InstallerCandidate> candidates = FindInstallerCandidates(names);
  if (!CheckCandidates(candidates, error)) return false;
  for (const InstallerCandidate& c : candidates) {
    const SourceEntry& e = entries[static_cast<size_t>(c.index)];
    SignatureProbe probe(e.size);
    if (!FeedFile(e.path, &probe, error)) return false;
    const FeedAgain feedAgain = [&e](AuthenticodeHasher* hasher, std::string* why) {
      return FeedFile(e.path, hasher, why);
    };
    if (!CheckInstaller(o, c, probe, feedAgain, warnings, error)) return false;
  }
  return true;
}

// The external attributes of a central directory record start at its byte
// 38; their low byte holds the MS-DOS attributes.
constexpr uint64_t kCentralAttributesAt = 38;

// Sets the MS-DOS folder bit at each of the archive offsets marks in the
// archive copied into the output at archiveAt.
bool MarkFolders(OutputFile* file, uint64_t archiveAt, const std::vector<uint64_t>& marks, std::string* error) {
  for (uint64_t mark : marks) {
    std::string attributes(1, '\0');
    if (!file->ReadAt(archiveAt + mark, &attributes[0], 1) ||
        !file->Patch(archiveAt + mark, std::string(1, static_cast<char>(attributes[0] | kDosFolder)))) {
      *error = file->Error();
      return false;
    }
  }
  return true;
}

template <typename Sink>
bool FeedSink(void* context, const uint8_t* bytes, size_t count) {
  if (context) static_cast<Sink*>(context)->Feed(bytes, count);
  return true;
}

// An existing archive of `size` bytes, read through `read`: read by the
// launcher's own reader, every entry inflated and checked, and held to the
// same rules as a folder. *folderMarks gets the archive offset of the
// MS-DOS attribute byte of each entry that is a folder without the folder
// bit (MarkFolders sets them).
bool CheckArchivePayload(const Options& o, const ZipReaderOwner::ReadAt& read, uint64_t size,
                         std::vector<std::string>* accepted, std::vector<uint64_t>* folderMarks,
                         std::vector<std::string>* warnings, std::string* error) {
  ZipReaderOwner owner;
  const ZipStatus opened = owner.OpenAt(read, size);
  if (opened != ZipOk) {
    *error = "the payload " + o.payload + " is not an archive the launcher reads: " + ZipStatusText(opened);
    return false;
  }
  ZipReader* reader = owner.get();
  std::vector<NamedEntry> names;
  std::vector<ZipEntryInfo> infos(static_cast<size_t>(ZipEntryCount(reader)));
  for (uint64_t i = 0; i < infos.size(); ++i) {
    ZipEntryInfo& info = infos[static_cast<size_t>(i)];
    if (ZipStatEntry(reader, i, &info) != ZipOk) {
      *error = "the payload " + o.payload + " cannot be read";
      return false;
    }
    const std::string name = info.name;
    const std::string refusal = NameRefusal(name);
    if (!refusal.empty()) {
      *error = "the launcher would refuse the name '" + name + "': " + refusal;
      return false;
    }
    // A name ending in / with no data is a folder by the format's own
    // convention, whatever the attributes say (libarchive, and the tar of
    // Windows, leave the MS-DOS folder bit out); the launcher goes by the
    // bit, so the copy embedded gets it.
    bool folder = (info.externalAttributes & kDosFolder) != 0;
    if (!folder && name.back() == '/' && info.uncompressedSize == 0) {
      folder = true;
      folderMarks->push_back(info.centralRecordOffset + kCentralAttributesAt);
    }
    names.push_back({name, folder});
    accepted->push_back(name);
  }
  const std::string collision = NameCollision(names);
  if (!collision.empty()) {
    *error = "the launcher cannot unpack the payload " + o.payload + ": " + collision;
    return false;
  }
  for (const NamedEntry& e : names)
    if (!e.folder && e.name.back() == '/') {
      *error = "the entry '" + e.name + "' ends in / like a folder but holds data, which the launcher cannot unpack";
      return false;
    }
  const std::vector<InstallerCandidate> candidates = FindInstallerCandidates(names);
  if (!CheckCandidates(candidates, error)) return false;
  for (uint64_t i = 0; i < infos.size(); ++i) {
    const InstallerCandidate* candidate = nullptr;
    for (const InstallerCandidate& c : candidates)
      if (c.index == static_cast<long long>(i)) candidate = &c;
    SignatureProbe probe(infos[static_cast<size_t>(i)].uncompressedSize);
    const ZipStatus status = ZipExtractEntry(reader, i, FeedSink<SignatureProbe>, candidate ? &probe : nullptr);
    if (status != ZipOk) {
      *error = "the entry '" + std::string(infos[static_cast<size_t>(i)].name) + "' does not unpack: " +
               ZipStatusText(status);
      return false;
    }
    const FeedAgain feedAgain = [&](AuthenticodeHasher* hasher, std::string* why) {
      const ZipStatus again = ZipExtractEntry(reader, i, FeedSink<AuthenticodeHasher>, hasher);
      if (again != ZipOk) *why = "the entry '" + std::string(infos[static_cast<size_t>(i)].name) +
                                 "' does not unpack: " + ZipStatusText(again);
      return again == ZipOk;
    };
    if (candidate && !CheckInstaller(o, *candidate, probe, feedAgain, warnings, error)) return false;
  }
  return true;
}

// The stub's resources with the marker left out and the picture, icon and
// version resource replaced as asked.
// Warnings (one line each) are added to *warnings.
bool BuildResources(const Options& o, std::vector<Resource> resources, std::vector<Resource>* result,
                    std::vector<std::string>* warnings, std::string* error) {
  const uint32_t language = resources.empty() ? 0x0409 : resources.front().language;
  auto drop = [&](const ResourceKey& type, const ResourceKey& name) {
    std::vector<Resource> kept;
    for (Resource& r : resources)
      if (!(r.type == type && r.name == name)) kept.push_back(std::move(r));
    resources.swap(kept);
  };
  drop(ResourceId(kRtRcData), ResourceName(kStubMarkerName));
  auto add = [&](const ResourceKey& type, const ResourceKey& name, std::string data) {
    Resource r;
    r.type = type;
    r.name = name;
    r.language = language;
    r.data = std::move(data);
    resources.push_back(std::move(r));
  };
  if (!o.splash.empty()) {
    std::string picture;
    std::string why;
    JpegInfo info;
    if (!ReadWholeFile(PathOf(o.splash), kMaxPictureBytes, &picture, &why)) {
      *error = "the splash picture: " + why;
      return false;
    }
    std::string warning;
    if (!JudgeSplashPicture(picture, &info, &why, &warning)) {
      *error = "the splash picture " + o.splash + " cannot be shown: " + why;
      return false;
    }
    if (!warning.empty()) warnings->push_back("the splash picture " + o.splash + ": " + warning);
    drop(ResourceName(kPictureType), ResourceId(kPictureId));
    add(ResourceName(kPictureType), ResourceId(kPictureId), std::move(picture));
  }
  if (!o.icon.empty()) {
    std::string file;
    std::string why;
    std::vector<IconImage> images;
    if (!ReadWholeFile(PathOf(o.icon), kMaxIconBytes, &file, &why)) {
      *error = "the icon: " + why;
      return false;
    }
    if (!ReadIconFile(file, &images, &why)) {
      *error = "the icon " + o.icon + " is not an icon: " + why;
      return false;
    }
    // The old group's images go with it; the new ones take free numbers.
    const Resource* group = FindResource(resources, ResourceId(kRtGroupIcon), ResourceId(kGroupIconId));
    std::vector<GroupMember> old;
    if (group) ReadGroupIcon(group->data, &old);
    for (const GroupMember& m : old) drop(ResourceId(kRtIcon), ResourceId(m.id));
    drop(ResourceId(kRtGroupIcon), ResourceId(kGroupIconId));
    std::vector<uint16_t> ids;
    for (uint16_t id = 1; ids.size() < images.size(); ++id)
      if (!FindResource(resources, ResourceId(kRtIcon), ResourceId(id))) ids.push_back(id);
    for (size_t i = 0; i < images.size(); ++i) add(ResourceId(kRtIcon), ResourceId(ids[i]), images[i].data);
    add(ResourceId(kRtGroupIcon), ResourceId(kGroupIconId), GroupIconResource(images, ids));
  }
  if (o.wantsVersion) {
    std::string version;
    if (!BuildVersionResource(o.version, &version)) {
      *error = "the version texts must be UTF-8";
      return false;
    }
    drop(ResourceId(kRtVersion), ResourceId(1));
    add(ResourceId(kRtVersion), ResourceId(1), std::move(version));
  }
  *result = std::move(resources);
  return true;
}

// Appends the size bytes of the archive at path to the output. False with
// *error when it cannot be read whole or is no longer that long.
bool CopyArchive(const fs::path& path, uint64_t size, OutputFile* out, std::string* error) {
  FileOwner file(OpenFile(path, "rb"));
  if (!file.get()) {
    *error = "cannot open the payload " + PathText(path) + ": " + strerror(errno);
    return false;
  }
  std::string piece(1 << 20, '\0');
  for (uint64_t done = 0; done < size;) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(piece.size(), size - done));
    if (fread(&piece[0], 1, want, file.get()) != want) {
      *error = "cannot read the payload " + PathText(path) + ": it changed or could not be read whole";
      return false;
    }
    if (!out->Write(piece.data(), want)) {
      *error = out->Error();
      return false;
    }
    done += want;
  }
  if (fgetc(file.get()) != EOF) {
    *error = "the payload " + PathText(path) + " changed while it was packed";
    return false;
  }
  return true;
}

int Refuse(std::ostream& err, const std::string& text) {
  err << "sfxpack: " << text << "\n";
  return kExitRefused;
}

int Failed(std::ostream& err, const std::string& text) {
  err << "sfxpack: " << text << "\n";
  return kExitFailed;
}

// One warning line per name that would not fit under a long temporary
// folder. A folder with anything below it gets none: the names below are
// longer still and are warned about themselves, so a deep file is one line.
void WarnLongNames(std::vector<std::string> names, std::ostream& err) {
  std::sort(names.begin(), names.end());  // a folder right before its contents
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string& name = names[i];
    if (name.back() == '/' && i + 1 < names.size() && names[i + 1].compare(0, name.size(), name) == 0) continue;
    const std::string warning = NameWarning(name);
    if (!warning.empty()) err << "sfxpack: warning: " << warning << "\n";
  }
}

int Pack(const Options& o, std::ostream& out, std::ostream& err) {
  std::string error;
  int64_t epoch = 0;
  uint32_t dosTime = 0;
  if (!BuildEpoch(&epoch, &error)) return Refuse(err, error);
  DosDateTime(epoch, &dosTime);
  if (!CheckOutputPath(o, &error)) return Refuse(err, error);

  StubImage stub;
  std::vector<Resource> stubResources;
  if (!LoadStub(o, &stub, &stubResources, &error)) return Refuse(err, error);
  std::vector<Resource> resources;
  std::vector<std::string> warnings;
  if (!BuildResources(o, stubResources, &resources, &warnings, &error)) return Refuse(err, error);

  const fs::path payloadPath = PathOf(o.payload);
  std::error_code code;
  const bool folder = fs::is_directory(payloadPath, code);
  std::vector<SourceEntry> entries;
  std::vector<std::string> names;
  uint64_t archiveSize = 0;
  const uint64_t archiveLimit = o.payloadLimit - kPayloadHeaderBytes;
  auto tooLarge = [&](uint64_t size) {
    return "the payload is " + std::to_string(size) + " bytes, more than the " + std::to_string(archiveLimit) +
           " a 32-bit launcher can map";
  };
  if (folder) {
    if (!ScanFolder(payloadPath, &entries, &error)) return Refuse(err, error);
    if (!CheckFolderPayload(o, entries, &warnings, &error)) return Refuse(err, error);
    for (const SourceEntry& e : entries) names.push_back(e.name);
  } else {
    const uint64_t size = fs::file_size(payloadPath, code);
    if (code) return Refuse(err, "cannot read the payload " + o.payload + ": " + code.message());
    if (size > archiveLimit) return Refuse(err, tooLarge(size));
    archiveSize = size;
  }

  Resource payload;
  payload.type = ResourceName(kPayloadType);
  payload.name = ResourceName(kPayloadName);
  payload.language = stubResources.empty() ? 0x0409 : stubResources.front().language;
  const PayloadWriter writePayload = [&](OutputFile* file, uint64_t* length, std::string* why) {
    if (!folder) {
      // Copied in pieces, then checked in the copy: memory stays small
      // whatever the archive's size, and the archive embedded is the one
      // checked, even when the file changes meanwhile.
      const uint64_t archiveAt = file->Position();
      if (!CopyArchive(payloadPath, archiveSize, file, why)) return false;
      *length = archiveSize;
      const ZipReaderOwner::ReadAt read = [file, archiveAt](uint64_t offset, void* buffer, size_t count) {
        return file->ReadAt(archiveAt + offset, buffer, count);
      };
      std::vector<uint64_t> folderMarks;
      return CheckArchivePayload(o, read, archiveSize, &names, &folderMarks, &warnings, why) &&
             MarkFolders(file, archiveAt, folderMarks, why);
    }
    ZipWriteOptions zip;
    zip.level = o.level;
    zip.dosDateTime = dosTime;
    zip.sizeLimit = archiveLimit;
    zip.threads = o.threads;
    bool overLimit = false;
    return WriteZipArchive(entries, zip, file, length, &overLimit, why);
  };
  OutputFile file(PathOf(o.output));
  if (!file.Open(&error)) return Failed(err, error);
  if (!WriteLauncher(stub, resources, payload, static_cast<uint32_t>(epoch), writePayload, &file, &error))
    return file.Error().empty() ? Refuse(err, error) : Failed(err, error);
  const uint64_t length = file.Position();
  if (!file.Commit()) return Failed(err, file.Error());
  for (const std::string& warning : warnings) err << "sfxpack: warning: " << warning << "\n";
  WarnLongNames(names, err);
  out << "sfxpack: wrote " << o.output << " (" << length << " bytes, " << names.size() << " entries)\n";
  return kExitDone;
}

}  // namespace

int RunSfxpack(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
               uint64_t payloadLimit) {
  Options o;
  o.payloadLimit = payloadLimit;
  std::string error;
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    out << kUsage << kHelp;
    return kExitDone;
  }
  if (args.size() == 1 && args[0] == "--version") {
    out << kToolVersion << " (zlib " << zlibVersion() << ")\n";
    return kExitDone;
  }
  if (args.empty() || !ParseArguments(args, &o, &error)) {
    if (!error.empty()) err << "sfxpack: " << error << "\n";
    err << kUsage << "Run sfxpack --help for more.\n";
    return kExitUsage;
  }
  try {
    if (!o.list.empty()) {
      if (!ListLauncher(PathOf(o.list), out, &error)) return Refuse(err, error);
      return kExitDone;
    }
    return Pack(o, out, err);
  } catch (const std::bad_alloc&) {
    return Failed(err, "out of memory");
  } catch (const std::exception& e) {
    return Failed(err, e.what());
  }
}

int RunSfxpack(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  return RunSfxpack(args, out, err, kMaxPayloadBytes);
}

}  // namespace sfx
