// Extraction of whole packages: what lands on disk, the status texts, and
// every package that must be refused without writing outside its folder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "payload/extract_payload.h"
#include "tests/launcher/test_tree.h"
#include "tests/payload/package_builder.h"
#include "tests/payload/progress_probe.h"

using namespace package_builder;
using namespace test_tree;

namespace {

int Extract(const std::string& package, const std::wstring& folder, ProgressProbe* probe = nullptr) {
  ExtractProgress progress = probe ? probe->Record() : ExtractProgress{};
  return ExtractPackage(package.data(), static_cast<uint32_t>(package.size()), folder.c_str(),
                        probe ? &progress : nullptr);
}

std::wstring Wide(const std::string& utf8) {
  wchar_t out[MAX_PATH] = {};
  MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, out, MAX_PATH);
  std::wstring w(out);
  for (wchar_t& c : w)
    if (c == L'/') c = L'\\';
  return w;
}

PackageEntry Zip64(const std::string& name, const std::string& data) {
  PackageEntry e = File(name, data);
  e.zip64 = true;
  return e;
}

PackageEntry WithDescriptor(const std::string& name, const std::string& data, bool zip64) {
  PackageEntry e = File(name, data);
  e.descriptor = true;
  e.zip64 = zip64;
  return e;
}

PackageEntry StoredFile(const std::string& name, const std::string& data, uint32_t attributes) {
  PackageEntry e = File(name, data, attributes);
  e.deflate = false;
  return e;
}

TEST(ExtractPackage, ARichPackageLandsByteForByteWithItsAttributes) {
  std::vector<PackageEntry> entries = {
      Folder("docs/"),
      File("docs/guide/intro.txt", Pseudo(70000, 1, true)),
      File("empty.txt", ""),
      StoredFile("readonly.cfg", "locked=1\r\n", 0x21),
      File("hidden.dat", Pseudo(5000, 2, false), 0x22),
      File("system.bin", "sys", 0x24),
      File("\xC3\x9C" "ber/\xE6\x95\xB0\xE6\x8D\xAE.bin", Pseudo(3000, 3, false)),
      WithDescriptor("descriptor.bin", Pseudo(200000, 4, true), false),
      Zip64("zip64.bin", Pseudo(100000, 5, false)),
      File("pieces.txt", Pseudo(1500000, 10, true)),  // streamed in several pieces
      WithDescriptor("zip64-descriptor.txt", Pseudo(4000, 6, true), true),
      Folder("emptydir/"),
      Folder("bare-folder"),
      File("a/b/c/d/e/deep.txt", "deep"),
      File("Case.txt", "first"),
      File("CASE.TXT", "second, later: wins"),
  };
  std::wstring folder = FreshFolder(L"rich");
  ASSERT_EQ(Extract(BuildPackage(entries), folder), 1);

  for (const PackageEntry& e : entries) {
    std::wstring path = folder + L"\\" + Wide(e.name);
    SCOPED_TRACE(path);
    if (e.attributes & 0x10) {
      EXPECT_TRUE(IsFolder(path));
      continue;
    }
    bool ok = false;
    std::string content = ReadBytes(path, &ok);
    ASSERT_TRUE(ok);
    if (e.name == "Case.txt") continue;  // one file on a case-blind system
    EXPECT_TRUE(content == e.data) << content.size() << " bytes, wanted " << e.data.size();
    EXPECT_EQ(Attributes(path) & 0x07, e.attributes & 0x07);
  }
  EXPECT_EQ(ReadBytes(folder + L"\\case.txt"), "second, later: wins");
  SetFileAttributesW((folder + L"\\readonly.cfg").c_str(), FILE_ATTRIBUTE_NORMAL);
  Wipe(folder);
}

TEST(ExtractPackage, ReportsEveryStageEntryAndByte) {
  ProgressProbe probe;
  std::wstring folder = FreshFolder(L"status");
  std::string big = Pseudo(700000, 11, false);  // several pieces
  std::string package = BuildPackage({Folder("f/"), File("f/a.txt", "a"), File("b.txt", ""), File("c.bin", big)});
  ASSERT_EQ(Extract(package, folder, &probe), 1);
  std::vector<std::wstring> want = {
      L"Loading setup archive ...", L"Extracting files ...",   L"Extracting file 1 of 4", L"Extracting file 2 of 4",
      L"Extracting file 3 of 4",    L"Extracting file 4 of 4", L"Extraction complete!!!",
  };
  EXPECT_EQ(probe.texts, want);
  EXPECT_EQ(probe.total, 1u + big.size());
  EXPECT_EQ(probe.written, probe.total);
  EXPECT_FALSE(probe.bytesWentBack);
  Wipe(folder);
}

TEST(ExtractPackage, RunsWithoutAProgressRecordOrWithAnEmptyOne) {
  std::wstring folder = FreshFolder(L"silent");
  std::string package = BuildPackage({Folder("f/"), File("f/a.txt", Pseudo(300000, 12, true))});
  EXPECT_EQ(Extract(package, folder), 1);
  ExtractProgress empty = {};
  EXPECT_EQ(ExtractPackage(package.data(), static_cast<uint32_t>(package.size()), folder.c_str(), &empty), 1);
  EXPECT_EQ(ReadBytes(folder + L"\\f\\a.txt"), Pseudo(300000, 12, true));
  Wipe(folder);
}

TEST(ExtractPayload, WithoutAResourceStopsAtFinding) {
  ProgressProbe probe;
  ExtractProgress progress = probe.Record();
  std::wstring folder = FreshFolder(L"no_resource");
  EXPECT_EQ(ExtractPayload(GetModuleHandleW(nullptr), folder.c_str(), &progress), 0);
  EXPECT_EQ(probe.texts, std::vector<std::wstring>{L"Finding setup archive ..."});
  Wipe(folder);
}

std::string Truncated() {
  std::string zip = BuildZip({File("a.txt", Pseudo(5000, 7, false))});
  return WrapPackage(zip.substr(0, zip.size() / 2));
}

std::string HeaderPastResource() {
  std::string package = BuildPackage({File("a.txt", "a")});
  package[4] = static_cast<char>(package[4] + 1);  // the length runs one byte past
  return package;
}

std::string OffsetPastResource() {
  std::string package = BuildPackage({File("a.txt", "a")});
  package[3] = '\x7F';
  return package;
}

std::string ShortHeader() { return std::string("\x10\x00\x00", 3); }

std::string ArchiveBelow22() {
  std::string package = BuildPackage({});
  package[4] = 21;
  return package.substr(0, 16 + 21);
}

PackageEntry Damaged(void (*damage)(PackageEntry*)) {
  PackageEntry e = File("victim.bin", Pseudo(50000, 8, false));
  damage(&e);
  return e;
}

struct Refusal {
  const char* what;
  std::string package;
  const wchar_t* absent;  // a path (relative to the parent) that must not exist afterwards
};

TEST(ExtractPackage, RefusesDamagedAndHostilePackages) {
  std::vector<Refusal> cases = {
      {"encrypted entry", BuildPackage({Damaged([](PackageEntry* e) { e->extraFlags = 1; })}), L"x\\victim.bin"},
      {"unknown method", BuildPackage({Damaged([](PackageEntry* e) { e->method = 12; })}), L"x\\victim.bin"},
      {"crc mismatch", BuildPackage({Damaged([](PackageEntry* e) { e->crcFlip = 1; })}), L"x\\victim.bin"},
      {"stored crc mismatch",
       BuildPackage({Damaged([](PackageEntry* e) { e->crcFlip = 0x100; e->deflate = false; })}), L"x\\victim.bin"},
      {"empty entry with a crc", BuildPackage({Damaged([](PackageEntry* e) { e->data.clear(); e->crcFlip = 1; })}),
       L"x\\victim.bin"},
      {"truncated archive", Truncated(), L"x\\a.txt"},
      {"empty archive", BuildPackage({}), nullptr},
      {"archive below 22 bytes", ArchiveBelow22(), nullptr},
      {"header past the resource", HeaderPastResource(), L"x\\a.txt"},
      {"offset past the resource", OffsetPastResource(), L"x\\a.txt"},
      {"header cut short", ShortHeader(), nullptr},
      {"dot-dot first", BuildPackage({File("../evil.txt", "e")}), L"evil.txt"},
      {"dot-dot inside", BuildPackage({File("a/../../evil.txt", "e")}), L"evil.txt"},
      {"dot-dot last", BuildPackage({Folder("a/.."), File("a/../../evil.txt", "e")}), L"x\\a"},
      {"blank-padded dot-dot", BuildPackage({File(" ../evil.txt", "e")}), L"evil.txt"},
      {"dot-dot with trailing blank", BuildPackage({File(".. /evil.txt", "e")}), L"evil.txt"},
      {"dots only", BuildPackage({File(".../evil.txt", "e")}), L"evil.txt"},
      {"absolute slash", BuildPackage({File("/evil.txt", "e")}), L"x\\evil.txt"},
      {"absolute backslash", BuildPackage({File("\\evil.txt", "e")}), L"x\\evil.txt"},
      {"unc", BuildPackage({File("//server/share/evil.txt", "e")}), L"x\\server"},
      {"drive letter", BuildPackage({File("C:/evil.txt", "e")}), L"x\\evil.txt"},
      {"drive relative", BuildPackage({File("C:evil.txt", "e")}), L"x\\C"},
      {"stream", BuildPackage({File("a.txt:hidden", "e")}), L"x\\a.txt"},
      {"device", BuildPackage({File("NUL", "e")}), nullptr},
      {"device with extension", BuildPackage({File("sub/con.txt", "e")}), L"x\\sub\\con.txt"},
      {"port device", BuildPackage({File("COM1.log", "e")}), nullptr},
      {"path too long", BuildPackage({File(std::string(250, 'n') + ".txt", "e")}), nullptr},
      {"file name ending in a separator", BuildPackage({File("notafolder/", "")}), nullptr},
      {"file where a folder must go", BuildPackage({File("a", "x"), File("a/b.txt", "e")}), nullptr},
      {"folder entry over a file", BuildPackage({File("a", "x"), Folder("a/")}), nullptr},
  };
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.what);
    ProgressProbe probe;
    std::wstring parent = FreshFolder(L"refusal");
    std::wstring folder = parent + L"\\x";
    ASSERT_TRUE(MakeFolder(folder));
    EXPECT_EQ(Extract(c.package, folder, &probe), 0);
    ASSERT_FALSE(probe.texts.empty());
    EXPECT_EQ(probe.texts.back(), L"Extraction failed!!!");
    if (c.absent) {
      EXPECT_FALSE(Exists(parent + L"\\" + c.absent)) << "written: " << c.absent;
    }
    // Nothing beside the folder in its parent.
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW((parent + L"\\*").c_str(), &found);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    do {
      std::wstring name = found.cFileName;
      EXPECT_TRUE(name == L"." || name == L".." || name == L"x") << "outside: " << std::string(name.begin(), name.end());
    } while (FindNextFileW(h, &found));
    FindClose(h);
    Wipe(parent);
  }
}

TEST(ExtractPackage, EntriesBeforeAFailureStayAndTheFailedFileIsGone) {
  std::wstring folder = FreshFolder(L"partial");
  PackageEntry bad = File("b.bin", Pseudo(300000, 9, false));
  bad.crcFlip = 0x8000;
  ASSERT_EQ(Extract(BuildPackage({File("a.txt", "kept"), bad, File("c.txt", "never")}), folder), 0);
  EXPECT_EQ(ReadBytes(folder + L"\\a.txt"), "kept");
  EXPECT_FALSE(Exists(folder + L"\\b.bin"));
  EXPECT_FALSE(Exists(folder + L"\\c.txt"));
  Wipe(folder);
}

}  // namespace
