// Inputs with which the launcher would fail on every user's machine are
// refused when packing: pictures it would not show, names that one Windows
// file system takes for one, archives whose paths clash, installers whose
// signature no longer matches their bytes. Each refusal is exit status 2,
// one line naming both sides or the reason, and no output file.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "sfxpack/le_bytes.h"
#include "tests/sfxpack/pack_fixtures.h"

namespace {

using namespace pack_fixtures;
using Args = std::vector<std::string>;

struct Refused {
  const char* what;
  // Prepares the scratch folder ("payload" is the folder packed unless the
  // arguments are changed).
  std::function<void(const ScratchFolder&, Args*)> prepare;
  std::string message;  // a part of the one line on stderr
};

// Runs each case and checks exit status 2, one line holding the message and
// no output file.
void ExpectRefusals(const std::vector<Refused>& cases) {
  for (const Refused& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchFolder scratch;
    Args args = PackArgs(scratch / "payload", scratch / "out/launcher.exe");
    fs::create_directories(scratch / "out");
    c.prepare(scratch, &args);
    const PackRun run = RunPacker(args);
    EXPECT_EQ(run.code, sfx::kExitRefused);
    EXPECT_EQ(run.err.find("sfxpack: "), 0u) << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(fs::is_empty(scratch / "out")) << "an output was left behind";
  }
}

// The sample picture with its frame header changed: the width, height and
// component count at the frame marker (baseline, FF C0).
std::string PictureWithFrame(uint16_t width, uint16_t height, uint8_t components) {
  std::string jpeg = ReadFile(Fixture("SFXPACK_SPLASH"));
  const size_t at = jpeg.find("\xFF\xC0");
  EXPECT_NE(at, std::string::npos);
  if (at == std::string::npos) return jpeg;
  jpeg[at + 5] = static_cast<char>(height >> 8);
  jpeg[at + 6] = static_cast<char>(height & 0xFF);
  jpeg[at + 7] = static_cast<char>(width >> 8);
  jpeg[at + 8] = static_cast<char>(width & 0xFF);
  jpeg[at + 9] = static_cast<char>(components);
  return jpeg;
}

std::function<void(const ScratchFolder&, Args*)> WithPicture(std::function<std::string()> picture) {
  return [picture](const ScratchFolder& s, Args* a) {
    MakeInstallerFolder(s / "payload");
    WriteFile(s / "splash.jpg", picture());
    SetArgument(a, "--splash", Utf8(s / "splash.jpg"));
  };
}

std::string SamplePicture() { return ReadFile(Fixture("SFXPACK_SPLASH")); }

TEST(LauncherRules, PicturesTheLauncherWouldNotShowAreRefused) {
  ExpectRefusals({
      {"cut in its headers", WithPicture([] { return SamplePicture().substr(0, 120); }),
       "cannot be shown: it is a damaged JPEG file"},
      {"cut in its picture data", WithPicture([] { return SamplePicture().substr(0, 3000); }),
       "cannot be shown: it is cut off before its end-of-image marker"},
      {"without its end-of-image marker",
       WithPicture([] {
         const std::string whole = SamplePicture();
         return whole.substr(0, whole.size() - 2);
       }),
       "cannot be shown: it is cut off before its end-of-image marker"},
      {"four colour components", WithPicture([] { return PictureWithFrame(420, 240, 4); }),
       "it has four colour components (CMYK), which a splash window cannot use; convert it to RGB"},
      {"far larger than a screen", WithPicture([] { return PictureWithFrame(4000, 3000, 3); }),
       "it is 4000 x 3000 pixels, larger than the 1200 x 640"},
      {"one pixel too wide", WithPicture([] { return PictureWithFrame(1201, 240, 3); }),
       "it is 1201 x 240 pixels, larger than the 1200 x 640"},
      {"one pixel too tall", WithPicture([] { return PictureWithFrame(420, 641, 3); }),
       "it is 420 x 641 pixels, larger than the 1200 x 640"},
  });
}

TEST(LauncherRules, LargePicturesThatFitAreWarnedAboutAndListed) {
  ScratchFolder scratch;
  MakeInstallerFolder(scratch / "payload");
  WriteFile(scratch / "splash.jpg", PictureWithFrame(1200, 640, 3));
  Args args = PackArgs(scratch / "payload", scratch / "out.exe");
  SetArgument(&args, "--splash", Utf8(scratch / "splash.jpg"));
  const PackRun run = RunPacker(args);
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.err.find("sfxpack: warning: the splash picture " + Utf8(scratch / "splash.jpg") +
                         ": it is 1200 x 640 pixels, larger than 800 x 600"),
            std::string::npos)
      << run.err;
  const PackRun list = RunPacker({"--list", Utf8(scratch / "out.exe")});
  EXPECT_EQ(list.code, 0) << list.err;
  EXPECT_NE(list.out.find("picture: 1200 x 640, baseline JPEG"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("; warning: it is 1200 x 640 pixels"), std::string::npos) << list.out;
}

// A launcher made before the packer checked pictures: the picture resource
// of a packed launcher overwritten in place by a damaged one of the same
// size, as an older packer would have embedded it.
TEST(LauncherRules, ListingRefusesAPictureTheLauncherWouldNotShow) {
  ScratchFolder scratch;
  MakeInstallerFolder(scratch / "payload");
  ASSERT_EQ(RunPacker(PackArgs(scratch / "payload", scratch / "out.exe")).code, 0);
  std::string launcher = ReadFile(scratch / "out.exe");
  const std::string picture = SamplePicture();
  const size_t at = launcher.find(picture);
  ASSERT_NE(at, std::string::npos);
  const std::vector<std::pair<const char*, std::string>> broken = {
      {"cut off before its end-of-image marker", std::string(2, '\0')},
      {"convert it to RGB", ""},
  };
  for (const auto& b : broken) {
    SCOPED_TRACE(b.first);
    std::string changed = launcher;
    if (b.second.empty()) {
      const std::string cmyk = PictureWithFrame(420, 240, 4);
      changed.replace(at, cmyk.size(), cmyk);
    } else {
      changed.replace(at + picture.size() - 2, 2, b.second);
    }
    WriteFile(scratch / "old.exe", changed);
    const PackRun list = RunPacker({"--list", Utf8(scratch / "old.exe")});
    EXPECT_EQ(list.code, sfx::kExitRefused);
    EXPECT_NE(list.out.find("picture: cannot be shown"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("payload: "), std::string::npos) << "the rest is still listed";
    EXPECT_NE(list.err.find("carries a splash picture the launcher cannot show: "), std::string::npos) << list.err;
    EXPECT_NE(list.err.find(b.first), std::string::npos) << list.err;
  }
}

// An archive payload holding the signed installer and, after it, the given
// entries: a name, and its bytes (a name ending in / with no bytes is
// written without the folder bit, as libarchive writes folders).
void WriteArchive(const ScratchFolder& s, const std::vector<std::pair<std::string, std::string>>& more,
                  const fs::path& zip) {
  std::vector<sfx::SourceEntry> entries(1);
  entries[0].name = "Setup.exe";
  entries[0].path = Fixture("SFXPACK_SIGNED");
  entries[0].size = fs::file_size(entries[0].path);
  for (size_t i = 0; i < more.size(); ++i) {
    const fs::path data = s / ("data/" + std::to_string(i));
    WriteFile(data, more[i].second);
    sfx::SourceEntry e;
    e.name = more[i].first;
    e.path = data;
    e.size = more[i].second.size();
    entries.push_back(e);
  }
  WriteZipFile(entries, zip);
}

std::function<void(const ScratchFolder&, Args*)> WithArchive(std::vector<std::pair<std::string, std::string>> more) {
  return [more](const ScratchFolder& s, Args* a) {
    WriteArchive(s, more, s / "payload.zip");
    SetArgument(a, "--payload", Utf8(s / "payload.zip"));
  };
}

TEST(LauncherRules, NamesOneLetterCaseApartAreRefusedInEveryScript) {
  // Pairs that NTFS's upcase table folds together, from scripts beyond
  // Latin-1, Greek and Cyrillic.
  const std::pair<const char*, const char*> pairs[] = {
      {u8"\u01b0.txt", u8"\u01af.txt"},      // Vietnamese u with horn
      {u8"\uff41", u8"\uff21"},              // full-width a
      {u8"\u0561", u8"\u0531"},              // Armenian ayb
      {u8"\u2c30.dat", u8"\u2c00.dat"},      // Glagolitic az
      {u8"\u10d0", u8"\u1c90"},              // Georgian an (Mkhedruli, Mtavruli)
      {u8"\uab70", u8"\u13a0"},              // Cherokee a
      {u8"\u0491", u8"\u0490"},              // Ukrainian ghe with upturn
      {u8"\u03ac", u8"\u0386"},              // Greek alpha with tonos
  };
  std::vector<Refused> cases;
  for (const auto& p : pairs)
    cases.push_back({p.first, WithArchive({{p.first, "a"}, {p.second, "b"}}),
                     std::string("the names '") + p.first + "' and '" + p.second + "' would be one file on Windows"});
  ExpectRefusals(cases);
}

TEST(LauncherRules, ArchivePathsThatClashAreRefusedNamingBoth) {
  ExpectRefusals({
      {"a file where a folder must stand", WithArchive({{"a", "x"}, {"a/b.txt", "y"}}),
       "'a' is a file, but 'a/b.txt' needs a folder on the same path"},
      {"a folder where a file stands", WithArchive({{"docs/", ""}, {"DOCS", "y"}}),
       "'DOCS' is a file, but 'docs/' needs a folder on the same path"},
      {"a doubled separator", WithArchive({{"a//b.txt", "x"}, {"a/b.txt", "y"}}),
       "'a//b.txt' and 'a/b.txt' are one path spelled twice"},
      {"a file with a closing separator", WithArchive({{"a/b.txt", "x"}, {"a/b.txt/", "y"}}),
       "'a/b.txt' and 'a/b.txt/' are one path spelled twice"},
      {"one name twice", WithArchive({{"a.txt", "x"}, {"a.txt", "y"}}), "'a.txt' and 'a.txt' are one path spelled twice"},
      {"a lone file with a closing separator", WithArchive({{"notes/", "data"}}),
       "the entry 'notes/' ends in / like a folder but holds data"},
      {"a dot folder", WithArchive({{"./readme.txt", "x"}}),
       "the name './readme.txt': its part '.' is made only of dots and blanks"},
      {"a stream name", WithArchive({{"readme.txt:zone", "x"}}),
       "the name 'readme.txt:zone': it holds ':', which Windows takes for a drive letter or a stream name"},
  });
}

// bsdtar (libarchive, and the tar of Windows) writes folders as names ending
// in / with no data and Unix attributes only: they pack, and the copy in
// the launcher marks them as folders.
TEST(LauncherRules, LibarchiveFolderEntriesArePackedAsFolders) {
  ScratchFolder scratch;
  const PackRun run = RunPacker(PackArgs(Fixture("SFXPACK_BSDTAR_ZIP"), scratch / "out.exe"));
  ASSERT_EQ(run.code, 0) << run.err;
  const PackRun list = RunPacker({"--list", Utf8(scratch / "out.exe")});
  ASSERT_EQ(list.code, 0) << list.err;
  for (const char* line : {"  folder docs/\n", "  folder docs/empty/\n", "  file   docs/readme.txt  ",
                           "  file   Setup.exe  "})
    EXPECT_NE(list.out.find(line), std::string::npos) << line << "\n" << list.out;
  // Nothing but the folder bits changed.
  const std::string zip = ReadFile(Fixture("SFXPACK_BSDTAR_ZIP"));
  const std::string launcher = ReadFile(scratch / "out.exe");
  const size_t directory = zip.find("PK\x01\x02");
  ASSERT_NE(directory, std::string::npos);
  const size_t copy = launcher.find(zip.substr(0, directory));
  ASSERT_NE(copy, std::string::npos);
  EXPECT_EQ(launcher.find(zip), std::string::npos);
  // The copy differs in the folder bit of the two folders' records alone.
  const std::string embedded = launcher.substr(copy, zip.size());
  ASSERT_EQ(embedded.size(), zip.size());
  int marked = 0;
  for (size_t i = 0; i < zip.size(); ++i) {
    if (embedded[i] == zip[i]) continue;
    EXPECT_EQ(embedded[i], static_cast<char>(zip[i] | 0x10)) << "byte " << i;
    ++marked;
  }
  EXPECT_EQ(marked, 2);
}

const char* const kDigests[] = {"sha1", "sha256", "sha384", "sha512"};

fs::path DigestFixture(const std::string& kind, const std::string& digest) {
  return Fixture("SFXPACK_FIXTURES") / (kind + "-" + digest + ".exe");
}

std::function<void(const ScratchFolder&, Args*)> WithInstaller(fs::path installer, bool archive, bool allowUnsigned) {
  return [installer, archive, allowUnsigned](const ScratchFolder& s, Args* a) {
    fs::create_directories(s / "payload");
    fs::copy_file(installer, s / "payload/Setup.exe");
    if (archive) {
      WriteZipFile(ScanEntries(s / "payload"), s / "payload.zip");
      SetArgument(a, "--payload", Utf8(s / "payload.zip"));
    }
    if (allowUnsigned) a->push_back("--allow-unsigned");
  };
}

// One byte changed after signing: refused for every digest algorithm, from
// a folder or an archive, with --allow-unsigned or without.
TEST(LauncherRules, InstallersChangedAfterSigningAreRefused) {
  const std::map<std::string, std::string> names = {
      {"sha1", "SHA-1"}, {"sha256", "SHA-256"}, {"sha384", "SHA-384"}, {"sha512", "SHA-512"}};
  std::vector<Refused> cases;
  for (const char* digest : kDigests)
    for (int way = 0; way < 3; ++way)
      cases.push_back({digest, WithInstaller(DigestFixture("altered", digest), way == 1, way == 2),
                       "the installer 'Setup.exe' was changed after it was signed: its " + names.at(digest) +
                           " digest is "});
  ExpectRefusals(cases);
}

// The same installer signed, and changed then signed again, packs.
TEST(LauncherRules, InstallersSignedOrSignedAgainPass) {
  for (const char* digest : kDigests)
    for (const char* kind : {"signed", "resigned"})
      for (bool archive : {false, true}) {
        SCOPED_TRACE(std::string(kind) + "-" + digest + (archive ? " in an archive" : ""));
        ScratchFolder scratch;
        Args args = PackArgs(scratch / "payload", scratch / "out.exe");
        WithInstaller(DigestFixture(kind, digest), archive, false)(scratch, &args);
        const PackRun run = RunPacker(args);
        EXPECT_EQ(run.code, 0) << run.err;
        EXPECT_EQ(run.err, "");
      }
}

TEST(LauncherRules, AnOptionGivenTwiceIsRefused) {
  for (const char* option : {"--payload", "--stub", "--output", "-o", "--file-version"}) {
    const PackRun run = RunPacker({"--payload", "a", "--stub", "b", "-o", "c", "--file-version", "1", option, "d"});
    EXPECT_EQ(run.code, sfx::kExitUsage) << option;
    EXPECT_NE(run.err.find(" is given more than once"), std::string::npos) << run.err;
  }
}

// A file 12 folders deep, the last three past the warning's length (kept
// short enough for a Windows test's own temporary folder): one warning,
// for the file.
TEST(LauncherRules, ADeepFileIsOneWarning) {
  ScratchFolder scratch;
  MakeInstallerFolder(scratch / "payload");
  std::string path;
  for (int level = 0; level < 12; ++level) path += std::string(12, static_cast<char>('a' + level)) + "/";
  WriteFile(scratch / ("payload/" + path + "f.txt"), "x");
  const PackRun run = RunPacker(PackArgs(scratch / "payload", scratch / "out.exe"));
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.err, "sfxpack: warning: the name '" + path + "f.txt' is 161 characters long; under a temporary "
                     "folder of 100 characters the launcher could not unpack it (126 fit)\n");
}

}  // namespace
