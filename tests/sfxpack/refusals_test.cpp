// Every input sfxpack refuses: one line naming the reason, exit status 2,
// and no output file (an existing one stays as it was, no temporary is
// left).
#include <gtest/gtest.h>

#include <functional>

#include "sfxpack/folder_scan.h"
#include "sfxpack/le_bytes.h"
#include "tests/sfxpack/pack_fixtures.h"

namespace {

using namespace pack_fixtures;

// A splash picture of another coding process: the sample's frame marker
// (baseline, 0xFFC0) changed to another one.
std::string JpegWithFrame(uint8_t marker) {
  std::string jpeg = ReadFile(Fixture("SFXPACK_SPLASH"));
  const size_t at = jpeg.find("\xFF\xC0");
  if (at != std::string::npos) jpeg[at + 1] = static_cast<char>(marker);
  return jpeg;
}

// An archive holding the signed installer and one more file under `name`.
void WriteHostileZip(const ScratchFolder& s, const std::string& name, const fs::path& zip) {
  WriteFile(s / "inside.txt", "x");
  std::vector<sfx::SourceEntry> entries(2);
  entries[0].name = "Setup.exe";
  entries[0].path = Fixture("SFXPACK_SIGNED");
  entries[0].size = fs::file_size(entries[0].path);
  entries[1].name = name;
  entries[1].path = s / "inside.txt";
  entries[1].size = 1;
  WriteZipFile(entries, zip);
}

struct Case {
  const char* what;
  // Prepares the scratch folder ("payload" is the folder packed) and may
  // change the arguments.
  std::function<void(const ScratchFolder&, std::vector<std::string>*)> prepare;
  const char* message;  // a part of the one line on stderr
  uint64_t limit = sfx::kMaxPayloadBytes;
};

TEST(Refusals, EachRefusalIsOneLineAndWritesNothing) {
  using Args = std::vector<std::string>;
  std::vector<Case> cases = {
      {"no installer",
       [](const ScratchFolder& s, Args*) { WriteFile(s / "payload/readme.txt", "x"); },
       "holds no Setup.exe where the launcher looks for one"},
      {"installer two folders down",
       [](const ScratchFolder& s, Args*) {
         fs::create_directories(s / "payload/a/b");
         fs::copy_file(Fixture("SFXPACK_SIGNED"), s / "payload/a/b/Setup.exe");
       },
       "holds no Setup.exe where the launcher looks for one"},
      {"installer without signature",
       [](const ScratchFolder& s, Args*) {
         fs::create_directories(s / "payload");
         fs::copy_file(Fixture("SFXPACK_UNSIGNED"), s / "payload/Setup.exe");
       },
       "the installer 'Setup.exe' cannot be verified: it carries no Authenticode signature; the launcher would wait for it in vain"},
      {"one of two installer candidates unsigned",
       [](const ScratchFolder& s, Args*) {
         fs::create_directories(s / "payload");
         fs::copy_file(Fixture("SFXPACK_SIGNED"), s / "payload/ASetup.exe");
         fs::copy_file(Fixture("SFXPACK_UNSIGNED"), s / "payload/BSetup.exe");
       },
       "the installer 'BSetup.exe' cannot be verified: it carries no Authenticode signature"},
      {"installer that is no program",
       [](const ScratchFolder& s, Args*) { WriteFile(s / "payload/Setup.exe", "@echo off\r\n"); },
       "the installer 'Setup.exe' cannot be verified: it is not a Windows program"},
      {"installer that is a folder",
       [](const ScratchFolder& s, Args*) { WriteFile(s / "payload/Setup.exe/inside.txt", "x"); },
       "the launcher would take the folder 'Setup.exe' for its installer"},
      {"name too long for the workspace",
       [](const ScratchFolder& s, Args*) {
         MakeInstallerFolder(s / "payload");
         WriteFile(s / "payload" / std::string(120, 'd') / (std::string(109, 'f') + ".txt"), "x");
       },
       "characters long, more than fit under even the shortest temporary folder (223)"},
      {"splash that is a PNG picture",
       [](const ScratchFolder& s, Args* a) {
         MakeInstallerFolder(s / "payload");
         WriteFile(s / "splash.png", "\x89PNG\r\n\x1a\n0000");
         SetArgument(a, "--splash", Utf8(s / "splash.png"));
       },
       "cannot be shown: it is not a JPEG file"},
      {"splash of the extended sequential process",
       [](const ScratchFolder& s, Args* a) {
         MakeInstallerFolder(s / "payload");
         WriteFile(s / "ext.jpg", JpegWithFrame(0xC1));
         SetArgument(a, "--splash", Utf8(s / "ext.jpg"));
       },
       "it is an extended sequential JPEG; the system's picture loader reads baseline and progressive ones"},
      {"splash that is arithmetic-coded",
       [](const ScratchFolder& s, Args* a) {
         MakeInstallerFolder(s / "payload");
         WriteFile(s / "arith.jpg", JpegWithFrame(0xC9));
         SetArgument(a, "--splash", Utf8(s / "arith.jpg"));
       },
       "arithmetic-coded JPEG"},
      {"icon that is a bitmap file",
       [](const ScratchFolder& s, Args* a) {
         MakeInstallerFolder(s / "payload");
         WriteFile(s / "app.ico", "BM" + std::string(60, '\0'));
         SetArgument(a, "--icon", Utf8(s / "app.ico"));
       },
       "is not an icon: it is not an icon file (no icon header)"},
      {"icon whose image lies outside the file",
       [](const ScratchFolder& s, Args* a) {
         MakeInstallerFolder(s / "payload");
         std::string ico;
         sfx::Put16(ico, 0);
         sfx::Put16(ico, 1);
         sfx::Put16(ico, 1);
         ico += std::string(8, '\x20');
         sfx::Put32(ico, 5000);
         sfx::Put32(ico, 22);
         WriteFile(s / "app.ico", ico + std::string(100, '\0'));
         SetArgument(a, "--icon", Utf8(s / "app.ico"));
       },
       "image 1 lies outside the file"},
      {"archive payload over the size a 32-bit launcher can map",
       [](const ScratchFolder& s, Args* a) {
         WriteFile(s / "huge.zip", "");
         fs::resize_file(s / "huge.zip", sfx::kMaxPayloadBytes);  // sparse: costs no disk
         SetArgument(a, "--payload", Utf8(s / "huge.zip"));
       },
       "the payload is 1073741824 bytes, more than the 1073741808 a 32-bit launcher can map"},
      {"folder payload over the size limit",
       [](const ScratchFolder& s, Args*) {
         MakeInstallerFolder(s / "payload");
         WriteFile(s / "payload/noise.bin", RandomBytes(400000, 5));
       },
       "more than a 32-bit launcher can map", 300000},
      {"archive payload that does not unpack",
       [](const ScratchFolder& s, Args* a) {
         MakeInstallerFolder(s / "folder");
         WriteFile(s / "folder/data.txt", TextBytes(100000));
         WriteZipFile(ScanEntries(s / "folder"), s / "damaged.zip");
         std::string zip = ReadFile(s / "damaged.zip");
         zip[zip.find("data.txt") + 200] ^= 0x55;
         WriteFile(s / "damaged.zip", zip);
         SetArgument(a, "--payload", Utf8(s / "damaged.zip"));
       },
       "the entry 'data.txt' does not unpack"},
      {"archive entry that leaves the workspace",
       [](const ScratchFolder& s, Args* a) {
         WriteHostileZip(s, "../evil.txt", s / "hostile.zip");
         SetArgument(a, "--payload", Utf8(s / "hostile.zip"));
       },
       "the launcher would refuse the name '../evil.txt': its part '..' would climb out of the launcher's workspace"},
      {"archive entry that names a device",
       [](const ScratchFolder& s, Args* a) {
         WriteHostileZip(s, "docs/aux.txt", s / "device.zip");
         SetArgument(a, "--payload", Utf8(s / "device.zip"));
       },
       "the launcher would refuse the name 'docs/aux.txt': its part 'aux.txt' names a device"},
      {"archive entries that differ in letter case only",
       [](const ScratchFolder& s, Args* a) {
         WriteHostileZip(s, "SETUP.EXE", s / "case.zip");
         SetArgument(a, "--payload", Utf8(s / "case.zip"));
       },
       "the names 'Setup.exe' and 'SETUP.EXE' would be one file on Windows"},
      {"archive that is no archive",
       [](const ScratchFolder& s, Args* a) {
         WriteFile(s / "notes.zip", "just text");
         SetArgument(a, "--payload", Utf8(s / "notes.zip"));
       },
       "is not an archive the launcher reads"},
      {"output that is the stub",
       [](const ScratchFolder& s, Args* a) {
         MakeInstallerFolder(s / "payload");
         fs::copy_file(Fixture("SFXPACK_STUB"), s / "out/stub.exe");
         SetArgument(a, "--stub", Utf8(s / "out/stub.exe"));
         SetArgument(a, "-o", Utf8(s / "out/../out/stub.exe"));
       },
       "is one of the inputs (--stub)"},
      {"output that is the payload archive",
       [](const ScratchFolder& s, Args* a) {
         MakeInstallerFolder(s / "folder");
         WriteZipFile(ScanEntries(s / "folder"), s / "out/in.zip");
         SetArgument(a, "--payload", Utf8(s / "out/in.zip"));
         SetArgument(a, "-o", Utf8(s / "out/in.zip"));
       },
       "is one of the inputs (--payload)"},
      {"output that is the splash picture",
       [](const ScratchFolder& s, Args* a) {
         MakeInstallerFolder(s / "payload");
         fs::copy_file(Fixture("SFXPACK_SPLASH"), s / "out/splash.jpg");
         SetArgument(a, "--splash", Utf8(s / "out/splash.jpg"));
         SetArgument(a, "-o", Utf8(s / "out/splash.jpg"));
       },
       "is one of the inputs (--splash)"},
      {"output inside the payload folder",
       [](const ScratchFolder& s, Args* a) {
         MakeInstallerFolder(s / "out");
         SetArgument(a, "--payload", Utf8(s / "out"));
         SetArgument(a, "-o", Utf8(s / "out/launcher.exe"));
       },
       "lies inside the payload folder"},
      {"stub that is another program",
       [](const ScratchFolder& s, Args* a) {
         MakeInstallerFolder(s / "payload");
         SetArgument(a, "--stub", Utf8(Fixture("SFXPACK_SIGNED")));
       },
       "is not this project's launcher stub"},
      {"stub that is a launcher already",
       [](const ScratchFolder& s, Args* a) {
         MakeInstallerFolder(s / "payload");
         const PackRun first = RunPacker(PackArgs(s / "payload", s / "first.exe"));
         ASSERT_EQ(first.code, 0) << first.err;
         SetArgument(a, "--stub", Utf8(s / "first.exe"));
       },
       "is not this project's launcher stub: it carries no stub marker"},
      {"stub that is no program",
       [](const ScratchFolder& s, Args* a) {
         MakeInstallerFolder(s / "payload");
         WriteFile(s / "stub.exe", "MZ");
         SetArgument(a, "--stub", Utf8(s / "stub.exe"));
       },
       "is not this project's launcher stub: it is not a Windows program"},
  };
#ifndef _WIN32
  // Names that only other systems' file systems hold (Windows opens the
  // device, and takes the second spelling for the first file).
  const Case posixOnly[] = {
      {"device name",
       [](const ScratchFolder& s, Args*) {
         MakeInstallerFolder(s / "payload");
         WriteFile(s / "payload/docs/NUL.txt", "x");
       },
       "the launcher would refuse the name 'docs/NUL.txt': its part 'NUL.txt' names a device"},
      {"names that differ in letter case only",
       [](const ScratchFolder& s, Args*) {
         MakeInstallerFolder(s / "payload");
         WriteFile(s / "payload/ReadMe.txt", "a");
         WriteFile(s / "payload/README.TXT", "b");
       },
       "the names 'README.TXT' and 'ReadMe.txt' would be one file on Windows"},
      {"backslash in a name",
       [](const ScratchFolder& s, Args*) {
         MakeInstallerFolder(s / "payload");
         WriteFile(s / "payload/..\\evil.txt", "x");
       },
       "the launcher would refuse the name '..\\evil.txt': it holds a character that Windows file names cannot hold"},
      {"name that is not UTF-8",
       [](const ScratchFolder& s, Args*) {
         MakeInstallerFolder(s / "payload");
         WriteFile(s.path() / "payload" / "caf\xe9.txt", "x");
       },
       "it is not valid UTF-8"},
  };
  cases.insert(cases.end(), std::begin(posixOnly), std::end(posixOnly));
  cases.push_back({"symbolic link in the folder",
                   [](const ScratchFolder& s, Args*) {
                     MakeInstallerFolder(s / "payload");
                     WriteFile(s / "elsewhere.txt", "outside the payload");
                     fs::create_symlink(s / "elsewhere.txt", s / "payload/link.txt");
                   },
                   "link.txt is a symbolic link; links are not packed"});
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchFolder scratch;
    std::vector<std::string> args = PackArgs(scratch / "payload", scratch / "out/launcher.exe");
    fs::create_directories(scratch / "out");
    c.prepare(scratch, &args);
    WriteFile(scratch / "out/launcher.exe", "the previous launcher");
    const PackRun run = RunPacker(args, c.limit);
    EXPECT_EQ(run.code, sfx::kExitRefused);
    EXPECT_EQ(run.err.find("sfxpack: "), 0u) << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(ReadFile(scratch / "out/launcher.exe"), "the previous launcher");
    for (const auto& entry : fs::directory_iterator(scratch / "out"))
      EXPECT_EQ(entry.path().string().find(".sfxpack-tmp"), std::string::npos) << "a temporary file was left behind";
  }
}

TEST(Refusals, UnsignedInstallerPassesWhenAllowed) {
  ScratchFolder scratch;
  fs::create_directories(scratch / "payload");
  fs::copy_file(Fixture("SFXPACK_UNSIGNED"), scratch / "payload/Setup.exe");
  std::vector<std::string> args = PackArgs(scratch / "payload", scratch / "out.exe");
  args.push_back("--allow-unsigned");
  const PackRun run = RunPacker(args);
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_TRUE(fs::exists(scratch / "out.exe"));
}

TEST(Refusals, ArchivePayloadIsEmbeddedAsItIs) {
  ScratchFolder scratch;
  MakeInstallerFolder(scratch / "folder");
  WriteFile(scratch / "folder/data.txt", TextBytes(5000));
  WriteZipFile(ScanEntries(scratch / "folder"), scratch / "in.zip");
  const PackRun run = RunPacker(PackArgs(scratch / "in.zip", scratch / "out.exe"));
  ASSERT_EQ(run.code, 0) << run.err;
  const std::string zip = ReadFile(scratch / "in.zip");
  const std::string launcher = ReadFile(scratch / "out.exe");
  std::string header;
  sfx::Put32(header, 16);
  sfx::Put32(header, static_cast<uint32_t>(zip.size()));
  header.append(8, '\0');
  EXPECT_NE(launcher.find(header + zip), std::string::npos);
}

TEST(Refusals, WrongUsageShowsTheUsage) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"--payload", "x", "--stub", "y"},
      {"--payload", "x", "--stub", "y", "-o", "z", "--file-version", "1.2.3.4.5"},
      {"--payload", "x", "--stub", "y", "-o", "z", "--file-version", "70000"},
      {"--payload", "x", "--stub", "y", "-o", "z", "--threads", "0"},
      {"--version", "5.9.1.0"},
      {"--payload", "x", "--stub", "y", "-o", "z", "--product", "P"},
      {"--payload", "x", "--stub", "y", "-o", "z", "--level", "12"},
      {"--list"},
      {"--bogus"},
      {"--payload", "x", "--stub", "y", "-o", "z", "--payload", "w"},
      {"--payload", "x", "--stub", "y", "-o", "z", "--output", "w"},
      {"--payload", "x", "--stub", "y", "-o", "z", "--copyright", "C"},
  };
  for (const auto& args : cases) {
    const PackRun run = RunPacker(args);
    EXPECT_EQ(run.code, sfx::kExitUsage) << (args.empty() ? "" : args.back());
    EXPECT_NE(run.err.find("usage: sfxpack"), std::string::npos);
    EXPECT_EQ(run.out, "");
  }
}

TEST(Refusals, HelpAndVersionGoToStandardOutput) {
  const PackRun help = RunPacker({"--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_EQ(help.err, "");
  for (const char* text : {"usage: sfxpack", "--allow-unsigned", "the window title stays the launcher's own",
                           "SOURCE_DATE_EPOCH", "exit\nstatus 2"})
    EXPECT_NE(help.out.find(text), std::string::npos) << text;
  const PackRun version = RunPacker({"--version"});
  EXPECT_EQ(version.code, 0);
  EXPECT_EQ(version.out.find("sfxpack "), 0u) << version.out;
}

TEST(Refusals, LongNamesThatStillFitAreWarnedAbout) {
  ScratchFolder scratch;
  MakeInstallerFolder(scratch / "payload");
  const std::string longName = std::string(140, 'n') + ".txt";
  WriteFile(scratch / "payload" / longName, "x");
  const PackRun run = RunPacker(PackArgs(scratch / "payload", scratch / "out.exe"));
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.err.find("sfxpack: warning: the name '" + longName + "' is 144 characters long; under a "
                         "temporary folder of 100 characters the launcher could not unpack it (126 fit)"),
            std::string::npos)
      << run.err;
  EXPECT_TRUE(fs::exists(scratch / "out.exe"));
}

}  // namespace
