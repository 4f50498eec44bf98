// Tests of the ZIP reader. The same file builds for Windows (run under Wine)
// and natively under AddressSanitizer and UndefinedBehaviorSanitizer, so it
// uses nothing but the reader, zlib and the standard library.
//
// Archives are made by the test ZIP writer (zip_writer.h), so a broken archive
// is a valid one with one field changed.
#include "payload/zip_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#define ZLIB_CONST
#include <zlib.h>

#include "tests/payload/zip_writer.h"

namespace {

using namespace zip_writer;

// ---------------------------------------------------------------------------
// Entries for the writer.

// Raw deflate of s, as ZIP stores it.
std::string Deflate(const std::string& s, int level = 6) {
  std::string out;
  EXPECT_TRUE(RawDeflate(s, level, &out));
  return out;
}

WriterEntry Stored(const std::string& name, const std::string& content) {
  WriterEntry e;
  e.name = name;
  e.data = content;
  e.content = content;
  e.crc = Crc(content);
  e.compressedSize = e.uncompressedSize = content.size();
  return e;
}

WriterEntry Deflated(const std::string& name, const std::string& content) {
  WriterEntry e = Stored(name, content);
  e.method = 8;
  e.data = Deflate(content);
  e.compressedSize = e.data.size();
  return e;
}

// ---------------------------------------------------------------------------
// Reading helpers.

struct Collected {
  std::string bytes;
  size_t calls = 0;
  size_t largestPiece = 0;
  size_t limit = SIZE_MAX;  // the sink refuses once this many bytes arrived
};

bool CollectSink(void* context, const uint8_t* bytes, size_t count) {
  Collected* c = static_cast<Collected*>(context);
  EXPECT_GT(count, 0u);
  c->bytes.append(reinterpret_cast<const char*>(bytes), count);
  c->calls++;
  if (count > c->largestPiece) c->largestPiece = count;
  return c->bytes.size() < c->limit;
}

// Owns an archive and a reader open over it in a test.
struct OpenArchive {
  std::string bytes;
  ZipReader* reader = nullptr;
  ZipStatus status;
  explicit OpenArchive(std::string archive)
      : bytes(std::move(archive)), status(ZipOpen(bytes.data(), bytes.size(), &reader)) {}
  ~OpenArchive() { ZipClose(reader); }
};

ZipStatus ExtractToString(ZipReader* reader, uint64_t index, std::string* out) {
  Collected c;
  const ZipStatus status = ZipExtractEntry(reader, index, CollectSink, &c);
  *out = c.bytes;
  return status;
}

// Opens the archive and extracts every entry; returns the first failure.
ZipStatus ReadWhole(const std::string& archive) {
  OpenArchive a(archive);
  if (a.status != ZipOk) return a.status;
  for (uint64_t i = 0; i < ZipEntryCount(a.reader); ++i) {
    std::string bytes;
    const ZipStatus status = ExtractToString(a.reader, i, &bytes);
    if (status != ZipOk) return status;
  }
  return ZipOk;
}

std::string Text(size_t size, unsigned seed) {
  std::string s(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    s[i] = "the quick brown fox jumps over a lazy dog\n"[(x >> 16) % 42];
  }
  return s;
}

// ---------------------------------------------------------------------------
// Valid archives.

struct ValidCase {
  const char* what;
  std::vector<WriterEntry> (*entries)();
  ArchiveOptions options;
};

std::vector<WriterEntry> OneOfEach() {
  WriterEntry folder = Stored("docs/", "");
  folder.externalAttributes = 0x10;
  WriterEntry readOnly = Stored("docs/readme.txt", "read me\n");
  readOnly.externalAttributes = 0x21;
  WriterEntry utf8 = Deflated("docs/\xC3\xBC" "ber \xE6\x97\xA5\xE6\x9C\xAC.txt", Text(5000, 1));
  utf8.flags = 0x0800;
  WriterEntry emptyDeflated = Deflated("empty-deflated", "");
  return {folder, readOnly, utf8, Stored("empty", ""), emptyDeflated,
          Deflated("big.bin", Text(700000, 2)), Stored(std::string(511, 'n'), "long name")};
}

std::vector<WriterEntry> Descriptors() {
  WriterEntry a = Deflated("a", Text(3000, 3));
  a.descriptor = true;
  WriterEntry b = Deflated("b", Text(100, 4));
  b.descriptor = true;
  b.descriptorSignature = false;
  WriterEntry c = Stored("c", Text(90, 5));
  c.descriptor = true;
  c.descriptorWide = true;
  WriterEntry d = Deflated("d", Text(2000, 6));
  d.descriptor = true;
  d.descriptorSignature = false;
  d.descriptorWide = true;
  d.zip64 = true;
  return {a, b, c, d};
}

std::vector<WriterEntry> Zip64Entries() {
  WriterEntry a = Deflated("a", Text(4000, 7));
  a.zip64 = true;
  WriterEntry b = Stored("b", Text(10, 8));
  b.zip64 = true;
  return {a, b, Stored("c", "plain")};
}

std::vector<WriterEntry> NoEntries() { return {}; }

std::vector<WriterEntry> Small() { return {Stored("x", "x"), Deflated("y", Text(300, 9))}; }

std::vector<WriterEntry> CommentLookalike() { return {Stored("x", "PK\x05\x06")}; }

const ValidCase kValidCases[] = {
    {"one of each kind", OneOfEach, {}},
    {"data descriptors in four forms", Descriptors, {}},
    {"ZIP64 extra fields", Zip64Entries, {}},
    {"ZIP64 end records, needed fields saturated", Zip64Entries, {"", EndStyle::Zip64Needed}},
    {"ZIP64 end records, all fields saturated", Zip64Entries, {"", EndStyle::Zip64All}},
    {"archive comment", Small, {"made by the test writer", EndStyle::Classic}},
    {"longest comment", Small, {std::string(0xFFFF, 'c'), EndStyle::Classic}},
    {"comment after ZIP64 end records", Small, {"z", EndStyle::Zip64All}},
    {"end signature inside an entry", CommentLookalike, {}},
    {"no entries", NoEntries, {}},
    {"no entries, ZIP64", NoEntries, {"", EndStyle::Zip64All}},
};

TEST(ZipReader, ReadsWhatCommonWritersWrite) {
  for (const ValidCase& c : kValidCases) {
    SCOPED_TRACE(c.what);
    const std::vector<WriterEntry> entries = c.entries();
    const std::string archive = BuildArchive(entries, c.options);
    OpenArchive a(archive);
    ASSERT_EQ(ZipOk, a.status) << ZipStatusText(a.status);
    ASSERT_EQ(entries.size(), ZipEntryCount(a.reader));
    for (size_t i = 0; i < entries.size(); ++i) {
      const WriterEntry& e = entries[i];
      SCOPED_TRACE(e.name);
      ZipEntryInfo info;
      ASSERT_EQ(ZipOk, ZipStatEntry(a.reader, i, &info));
      EXPECT_EQ(e.name, std::string(info.name));
      EXPECT_EQ(e.name.size(), info.nameLength);
      EXPECT_EQ(e.externalAttributes, info.externalAttributes);
      EXPECT_EQ(e.compressedSize, info.compressedSize);
      EXPECT_EQ(e.uncompressedSize, info.uncompressedSize);
      EXPECT_EQ(e.crc, info.crc32);
      EXPECT_EQ(e.method, info.method);
      EXPECT_EQ(e.flags | (e.descriptor ? 8 : 0), info.flags);
      std::string bytes;
      ASSERT_EQ(ZipOk, ExtractToString(a.reader, i, &bytes));
      EXPECT_TRUE(e.content == bytes);
    }
  }
}

TEST(ZipReader, StreamsInBoundedPieces) {
  const std::string content = Text(3 << 20, 10);
  for (const WriterEntry& e : {Stored("s", content), Deflated("d", content)}) {
    OpenArchive a(BuildArchive({e}));
    ASSERT_EQ(ZipOk, a.status);
    Collected c;
    ASSERT_EQ(ZipOk, ZipExtractEntry(a.reader, 0, CollectSink, &c));
    EXPECT_TRUE(c.bytes == content);
    EXPECT_GT(c.calls, 3u);
    EXPECT_LE(c.largestPiece, 256u << 10);
  }
}

TEST(ZipReader, StopsWhenTheSinkRefuses) {
  const std::string content = Text(2 << 20, 11);
  for (const WriterEntry& e : {Stored("s", content), Deflated("d", content)}) {
    OpenArchive a(BuildArchive({e}));
    ASSERT_EQ(ZipOk, a.status);
    Collected c;
    c.limit = 1;
    EXPECT_EQ(ZipErrSinkRefused, ZipExtractEntry(a.reader, 0, CollectSink, &c));
    EXPECT_EQ(1u, c.calls);
  }
}

TEST(ZipReader, RefusesBadArguments) {
  const std::string archive = BuildArchive(Small());
  ZipReader* reader = reinterpret_cast<ZipReader*>(1);
  EXPECT_EQ(ZipErrArgument, ZipOpen(nullptr, 100, &reader));
  EXPECT_EQ(nullptr, reader);
  EXPECT_EQ(ZipErrArgument, ZipOpen(archive.data(), archive.size(), nullptr));
  OpenArchive a(archive);
  ASSERT_EQ(ZipOk, a.status);
  ZipEntryInfo info;
  Collected c;
  EXPECT_EQ(ZipErrArgument, ZipStatEntry(a.reader, 2, &info));
  EXPECT_EQ(ZipErrArgument, ZipStatEntry(a.reader, 0, nullptr));
  EXPECT_EQ(ZipErrArgument, ZipStatEntry(nullptr, 0, &info));
  EXPECT_EQ(ZipErrArgument, ZipExtractEntry(a.reader, 2, CollectSink, &c));
  EXPECT_EQ(ZipErrArgument, ZipExtractEntry(a.reader, 0, nullptr, &c));
  EXPECT_EQ(0u, ZipEntryCount(nullptr));
  ZipClose(nullptr);
}

TEST(ZipReader, StatusTextsAreDistinct) {
  std::vector<std::string> seen;
  for (int s = ZipOk; s <= ZipErrRead; ++s) {
    const std::string text = ZipStatusText(static_cast<ZipStatus>(s));
    EXPECT_FALSE(text.empty());
    for (const std::string& other : seen) EXPECT_NE(other, text);
    seen.push_back(text);
  }
}

// ---------------------------------------------------------------------------
// Broken archives: each row changes one thing in a valid archive and names
// the status it must give, and whether ZipOpen or ZipExtractEntry gives it.

enum class Stage { Open, Extract };

struct BrokenCase {
  const char* what;
  std::string (*make)();
  Stage stage;
  ZipStatus expected;
};

typedef void (*EntryChange)(std::vector<WriterEntry>&);

// A stored entry and a deflated one, optionally changed before writing.
std::string TwoEntries(Layout* layout = nullptr, EntryChange change = nullptr,
                       EndStyle end = EndStyle::Classic) {
  std::vector<WriterEntry> entries = {Stored("a.txt", Text(200, 20)),
                                      Deflated("b.bin", Text(5000, 21))};
  if (change) change(entries);
  return BuildArchive(entries, {"", end}, layout);
}

std::string Changed(EntryChange change) { return TwoEntries(nullptr, change); }

std::string Zip64TwoEntries(Layout* layout, EndStyle end) {
  return TwoEntries(layout, [](std::vector<WriterEntry>& e) { e[0].zip64 = e[1].zip64 = true; },
                    end);
}

const BrokenCase kBrokenCases[] = {
    // End records.
    {"empty input", [] { return std::string(); }, Stage::Open, ZipErrNoEndRecord},
    {"end record cut short",
     [] { std::string z = TwoEntries(); z.pop_back(); return z; }, Stage::Open, ZipErrNoEndRecord},
    {"byte after the end record",
     [] { return TwoEntries() + '\0'; }, Stage::Open, ZipErrNoEndRecord},
    {"comment longer than the rest",
     [] { Layout l; std::string z = TwoEntries(&l); Patch16(z, l.end + 20, 5); return z; },
     Stage::Open, ZipErrNoEndRecord},
    {"end record on disk 1",
     [] { Layout l; std::string z = TwoEntries(&l); Patch16(z, l.end + 4, 1); return z; },
     Stage::Open, ZipErrBadEndRecord},
    {"directory on another disk",
     [] { Layout l; std::string z = TwoEntries(&l); Patch16(z, l.end + 6, 1); return z; },
     Stage::Open, ZipErrBadEndRecord},
    {"count on this disk differing from the total",
     [] { Layout l; std::string z = TwoEntries(&l); Patch16(z, l.end + 8, 1); return z; },
     Stage::Open, ZipErrBadEndRecord},
    {"more entries than the directory can hold",
     [] { Layout l; std::string z = TwoEntries(&l); Patch16(z, l.end + 8, 3); Patch16(z, l.end + 10, 3); return z; },
     Stage::Open, ZipErrBadEndRecord},
    {"fewer entries than the directory holds",
     [] { Layout l; std::string z = TwoEntries(&l); Patch16(z, l.end + 8, 1); Patch16(z, l.end + 10, 1); return z; },
     Stage::Open, ZipErrBadDirectory},
    {"directory beyond the range",
     [] { Layout l; std::string z = TwoEntries(&l); Patch32(z, l.end + 16, 0xFFFFFF00); return z; },
     Stage::Open, ZipErrBadEndRecord},
    {"directory size too large",
     [] { Layout l; std::string z = TwoEntries(&l); Patch32(z, l.end + 12, static_cast<uint32_t>(l.end - l.directory + 1)); return z; },
     Stage::Open, ZipErrBadEndRecord},
    {"gap between directory and end record",
     [] { Layout l; std::string z = TwoEntries(&l); Patch32(z, l.end + 12, static_cast<uint32_t>(l.end - l.directory - 1)); return z; },
     Stage::Open, ZipErrBadEndRecord},
    {"ZIP64 directory offset and size wrapping around",
     [] {
       Layout l; std::string z = Zip64TwoEntries(&l, EndStyle::Zip64All);
       Patch64(z, l.zip64End + 48, ~0ull - 0xFF);
       Patch64(z, l.zip64End + 40, 0x100 + l.zip64End);
       return z;
     },
     Stage::Open, ZipErrBadEndRecord},
    {"ZIP64 locator pointing outside the range",
     [] { Layout l; std::string z = Zip64TwoEntries(&l, EndStyle::Zip64All); Patch64(z, l.locator + 8, ~0ull - 10); return z; },
     Stage::Open, ZipErrBadZip64},
    {"ZIP64 locator pointing beside the record",
     [] { Layout l; std::string z = Zip64TwoEntries(&l, EndStyle::Zip64All); Patch64(z, l.locator + 8, l.zip64End - 1); return z; },
     Stage::Open, ZipErrBadZip64},
    {"ZIP64 locator counting two disks",
     [] { Layout l; std::string z = Zip64TwoEntries(&l, EndStyle::Zip64All); Patch32(z, l.locator + 16, 2); return z; },
     Stage::Open, ZipErrBadZip64},
    {"ZIP64 end record of the wrong size",
     [] { Layout l; std::string z = Zip64TwoEntries(&l, EndStyle::Zip64All); Patch64(z, l.zip64End + 4, 45); return z; },
     Stage::Open, ZipErrBadZip64},
    {"ZIP64 count disagreeing with the classic count",
     [] { Layout l; std::string z = Zip64TwoEntries(&l, EndStyle::Zip64Needed); Patch64(z, l.zip64End + 32, 3); return z; },
     Stage::Open, ZipErrBadZip64},
    {"ZIP64 end record on disk 1",
     [] { Layout l; std::string z = Zip64TwoEntries(&l, EndStyle::Zip64All); Patch32(z, l.zip64End + 16, 1); return z; },
     Stage::Open, ZipErrBadEndRecord},
    {"ZIP64 count larger than the directory can hold",
     [] { Layout l; std::string z = Zip64TwoEntries(&l, EndStyle::Zip64All); Patch64(z, l.zip64End + 24, 1ull << 60); Patch64(z, l.zip64End + 32, 1ull << 60); return z; },
     Stage::Open, ZipErrBadEndRecord},
    // Central records.
    {"central record signature wrong",
     [] { Layout l; std::string z = TwoEntries(&l); Patch32(z, l.central[1], 0x02014b51); return z; },
     Stage::Open, ZipErrBadDirectory},
    {"central name running past the directory",
     [] { Layout l; std::string z = TwoEntries(&l); Patch16(z, l.central[1] + 28, 300); return z; },
     Stage::Open, ZipErrBadDirectory},
    {"extra field running past its area",
     [] {
       Layout l; std::string z = Zip64TwoEntries(&l, EndStyle::Classic);
       Patch16(z, l.central[0] + 46 + 5 + 2, 200);
       return z;
     },
     Stage::Open, ZipErrBadDirectory},
    {"ZIP64 extra field missing",
     [] { Layout l; std::string z = TwoEntries(&l); Patch32(z, l.central[0] + 20, 0xFFFFFFFF); return z; },
     Stage::Open, ZipErrBadZip64},
    {"ZIP64 extra field too short",
     [] {
       Layout l; std::string z = Zip64TwoEntries(&l, EndStyle::Classic);
       Patch16(z, l.central[0] + 46 + 5 + 2, 16);
       return z;
     },
     Stage::Open, ZipErrBadZip64},
    {"two ZIP64 extra fields",
     [] {
       Layout l; std::string z = Zip64TwoEntries(&l, EndStyle::Classic);
       // Split the 24-byte field into two fields of 8 and 12 bytes.
       Patch16(z, l.central[0] + 46 + 5 + 2, 8);
       Patch16(z, l.central[0] + 46 + 5 + 12, 1);
       Patch16(z, l.central[0] + 46 + 5 + 14, 12);
       return z;
     },
     Stage::Open, ZipErrBadZip64},
    {"entry starting on another disk",
     [] { Layout l; std::string z = TwoEntries(&l); Patch16(z, l.central[0] + 34, 1); return z; },
     Stage::Open, ZipErrBadDirectory},
    {"name of 512 bytes",
     [] { return Changed([](std::vector<WriterEntry>& e) { e[0].name = std::string(512, 'n'); }); },
     Stage::Open, ZipErrBadName},
    {"name holding a zero byte",
     [] { return Changed([](std::vector<WriterEntry>& e) { e[1].name = std::string("b\0c", 3); }); },
     Stage::Open, ZipErrBadName},
    {"empty name",
     [] { return Changed([](std::vector<WriterEntry>& e) { e[1].name.clear(); }); },
     Stage::Open, ZipErrBadName},
    // Local headers and descriptors.
    {"local header offset at the directory",
     [] { Layout l; std::string z = TwoEntries(&l); Patch32(z, l.central[1] + 42, static_cast<uint32_t>(l.directory)); return z; },
     Stage::Open, ZipErrBadLocalHeader},
    {"local header offset past the range",
     [] { Layout l; std::string z = TwoEntries(&l); Patch32(z, l.central[1] + 42, 0xFFFFFFF0); return z; },
     Stage::Open, ZipErrBadLocalHeader},
    {"ZIP64 local header offset past 4 GiB",
     [] {
       Layout l; std::string z = Zip64TwoEntries(&l, EndStyle::Classic);
       Patch64(z, l.central[1] + 46 + 5 + 4 + 16, 1ull << 40);
       return z;
     },
     Stage::Open, ZipErrBadLocalHeader},
    {"local signature wrong",
     [] { Layout l; std::string z = TwoEntries(&l); Patch32(z, l.local[0], 0x04034b51); return z; },
     Stage::Open, ZipErrBadLocalHeader},
    {"local name of another length",
     [] { return Changed([](std::vector<WriterEntry>& e) { e[0].hasLocalName = true; e[0].localName = "a.tx"; }); },
     Stage::Open, ZipErrBadLocalHeader},
    {"local name differing",
     [] { return Changed([](std::vector<WriterEntry>& e) { e[0].hasLocalName = true; e[0].localName = "A.txt"; }); },
     Stage::Open, ZipErrBadLocalHeader},
    {"local method differing",
     [] { return Changed([](std::vector<WriterEntry>& e) { e[1].localMethod = 0; }); },
     Stage::Open, ZipErrBadLocalHeader},
    {"local encryption bit differing",
     [] { Layout l; std::string z = TwoEntries(&l); Patch16(z, l.local[0] + 6, 1); return z; },
     Stage::Open, ZipErrBadLocalHeader},
    {"local CRC differing",
     [] { Layout l; std::string z = TwoEntries(&l); z[l.local[0] + 14] ^= 1; return z; },
     Stage::Open, ZipErrBadLocalHeader},
    {"local size differing",
     [] { Layout l; std::string z = TwoEntries(&l); z[l.local[1] + 22] ^= 1; return z; },
     Stage::Open, ZipErrBadLocalHeader},
    {"local ZIP64 sizes missing",
     [] { Layout l; std::string z = Zip64TwoEntries(&l, EndStyle::Classic); Patch16(z, l.local[1] + 30 + 5, 0x9999); return z; },
     Stage::Open, ZipErrBadLocalHeader},
    {"descriptor disagreeing with the directory",
     [] {
       Layout l;
       std::string z = TwoEntries(&l, [](std::vector<WriterEntry>& e) { e[1].descriptor = true; });
       z[l.directory - 12] ^= 1;  // the descriptor's CRC
       return z;
     },
     Stage::Open, ZipErrBadLocalHeader},
    {"descriptor cut off by the directory",
     [] {
       Layout l;
       std::string z = TwoEntries(&l, [](std::vector<WriterEntry>& e) { e[1].descriptor = true; });
       // Claim the descriptor-less layout: the directory starts 8 bytes early.
       const uint64_t shift = 8;
       std::string cut = z.substr(0, l.directory - shift) + z.substr(l.directory);
       Patch32(cut, l.end - shift + 16, static_cast<uint32_t>(l.directory - shift));
       return cut;
     },
     Stage::Open, ZipErrBadLocalHeader},
    {"data reaching into the directory",
     [] {
       Layout l; std::string z = TwoEntries(&l);
       const uint32_t size = static_cast<uint32_t>(l.directory - l.local[1] - 30 - 5 + 1);
       Patch32(z, l.local[1] + 18, size);
       Patch32(z, l.central[1] + 20, size);
       return z;
     },
     Stage::Open, ZipErrOverlap},
    {"data running past the range",
     [] {
       Layout l; std::string z = TwoEntries(&l);
       Patch32(z, l.local[1] + 18, 0xFFFFFFF0);
       Patch32(z, l.central[1] + 20, 0xFFFFFFF0);
       return z;
     },
     Stage::Open, ZipErrOverlap},
    {"two entries sharing one local header",
     [] {
       Layout l;
       std::string z = TwoEntries(&l, [](std::vector<WriterEntry>& e) { e[1] = e[0]; });
       Patch32(z, l.central[1] + 42, static_cast<uint32_t>(l.local[0]));
       return z;
     },
     Stage::Open, ZipErrOverlap},
    {"entry data running over the next local header",
     [] {
       Layout l; std::string z = TwoEntries(&l);
       const uint32_t size = 200 + 10;
       for (uint64_t at : {l.local[0] + 18, l.local[0] + 22, l.central[0] + 20, l.central[0] + 24})
         Patch32(z, at, size);
       return z;
     },
     Stage::Open, ZipErrOverlap},
    // Entry data.
    {"encrypted entry",
     [] { return Changed([](std::vector<WriterEntry>& e) { e[0].flags = 1; }); },
     Stage::Extract, ZipErrEncrypted},
    {"strongly encrypted entry",
     [] { return Changed([](std::vector<WriterEntry>& e) { e[1].flags = 0x41; }); },
     Stage::Extract, ZipErrEncrypted},
    {"AES-encrypted entry (method 99)",
     [] { return Changed([](std::vector<WriterEntry>& e) { e[1].flags = 1; e[1].method = 99; }); },
     Stage::Extract, ZipErrEncrypted},
    {"method 12",
     [] { return Changed([](std::vector<WriterEntry>& e) { e[1].method = 12; }); },
     Stage::Extract, ZipErrUnsupportedMethod},
    {"stored CRC mismatch",
     [] { return Changed([](std::vector<WriterEntry>& e) { e[0].crc ^= 0x80000000u; }); },
     Stage::Extract, ZipErrCrcMismatch},
    {"deflated CRC mismatch",
     [] { return Changed([](std::vector<WriterEntry>& e) { e[1].crc ^= 1; }); },
     Stage::Extract, ZipErrCrcMismatch},
    {"empty entry with a CRC",
     [] { return Changed([](std::vector<WriterEntry>& e) { e[0] = Stored("e", ""); e[0].crc = 1; }); },
     Stage::Extract, ZipErrCrcMismatch},
    {"stored sizes differing",
     [] { return Changed([](std::vector<WriterEntry>& e) { e[0].uncompressedSize += 1; }); },
     Stage::Extract, ZipErrSizeMismatch},
    {"deflated size recorded too small",
     [] { return Changed([](std::vector<WriterEntry>& e) { e[1].uncompressedSize -= 1; }); },
     Stage::Extract, ZipErrSizeMismatch},
    {"deflated size recorded too large",
     [] { return Changed([](std::vector<WriterEntry>& e) { e[1].uncompressedSize += 1; }); },
     Stage::Extract, ZipErrSizeMismatch},
    {"bytes after the deflate stream's end",
     [] { return Changed([](std::vector<WriterEntry>& e) { e[1].data += "xyz"; e[1].compressedSize += 3; }); },
     Stage::Extract, ZipErrSizeMismatch},
    {"deflate stream cut short",
     [] { return Changed([](std::vector<WriterEntry>& e) { e[1].data.resize(e[1].data.size() - 4); e[1].compressedSize -= 4; }); },
     Stage::Extract, ZipErrBadData},
    {"deflate stream with a bad block type",
     [] { return Changed([](std::vector<WriterEntry>& e) { e[1].data[0] = static_cast<char>(0xFF); }); },
     Stage::Extract, ZipErrBadData},
    {"deflate stream with a distance too far back",
     [] {
       return Changed([](std::vector<WriterEntry>& e) {
         // A fixed-code block: literal 'a', then length 3 at distance 2.
         e[1].data = std::string("\x4b\x04\x42\x00", 4);
         e[1].compressedSize = e[1].data.size();
       });
     },
     Stage::Extract, ZipErrBadData},
};

TEST(ZipReader, RefusesBrokenArchives) {
  for (const BrokenCase& c : kBrokenCases) {
    SCOPED_TRACE(c.what);
    OpenArchive a(c.make());
    if (c.stage == Stage::Open) {
      EXPECT_EQ(c.expected, a.status) << ZipStatusText(a.status);
      EXPECT_EQ(nullptr, a.reader);
      continue;
    }
    ASSERT_EQ(ZipOk, a.status) << ZipStatusText(a.status);
    ZipStatus first = ZipOk;
    for (uint64_t i = 0; i < ZipEntryCount(a.reader) && first == ZipOk; ++i) {
      std::string bytes;
      first = ExtractToString(a.reader, i, &bytes);
    }
    EXPECT_EQ(c.expected, first) << ZipStatusText(first);
  }
}

// A lying size must not make the reader inflate past it.
TEST(ZipReader, StopsAtTheRecordedSize) {
  WriterEntry e = Deflated("bomb", std::string(8 << 20, '\0'));
  e.uncompressedSize = 1000;
  OpenArchive a(BuildArchive({e}));
  ASSERT_EQ(ZipOk, a.status);
  Collected c;
  EXPECT_EQ(ZipErrSizeMismatch, ZipExtractEntry(a.reader, 0, CollectSink, &c));
  EXPECT_EQ(0u, c.bytes.size());
}

std::string Assorted() {
  std::vector<WriterEntry> entries = Descriptors();
  entries.push_back(Stored("dir/", ""));
  entries.push_back(Deflated("dir/x", Text(400, 30)));
  std::vector<WriterEntry> zip64 = Zip64Entries();
  zip64[0].name = "z";
  entries.push_back(zip64[0]);
  return BuildArchive(entries, {"comment", EndStyle::Zip64Needed});
}

TEST(ZipReader, RefusesEveryPrefixOfAnArchive) {
  const std::string archive = Assorted();
  ASSERT_EQ(ZipOk, ReadWhole(archive));
  for (size_t n = 0; n < archive.size(); ++n) {
    // A copy of exactly n bytes, so that a read past it is a fault under
    // the sanitizers.
    std::vector<char> prefix(archive.begin(), archive.begin() + n);
    ZipReader* reader = nullptr;
    const ZipStatus status = ZipOpen(prefix.empty() ? "" : prefix.data(), n, &reader);
    EXPECT_NE(ZipOk, status) << "prefix of " << n << " bytes";
    ZipClose(reader);
  }
}

// Damage anywhere, one byte at a time: every result is allowed except a
// fault (caught by the sanitizers natively, by the test crashing on Windows).
TEST(ZipReader, SurvivesEverySingleByteChange) {
  const std::string archive = Assorted();
  size_t refused = 0;
  for (size_t i = 0; i < archive.size(); ++i) {
    for (int flip : {0x01, 0x80, 0xFF}) {
      std::string damaged = archive;
      damaged[i] = static_cast<char>(damaged[i] ^ flip);
      if (ReadWhole(damaged) != ZipOk) ++refused;
    }
  }
  EXPECT_GT(refused, archive.size() * 2);
}

TEST(ZipReader, ReadsMoreThan65535Entries) {
  const size_t count = 70000;
  std::vector<WriterEntry> entries;
  entries.reserve(count);
  char name[32];
  for (size_t i = 0; i < count; ++i) {
    snprintf(name, sizeof name, "f/%05u", static_cast<unsigned>(i));
    entries.push_back(Stored(name, std::string(1, static_cast<char>('a' + i % 26))));
  }
  for (EndStyle end : {EndStyle::Zip64Needed, EndStyle::Zip64All}) {
    OpenArchive a(BuildArchive(entries, {"", end}));
    ASSERT_EQ(ZipOk, a.status) << ZipStatusText(a.status);
    ASSERT_EQ(count, ZipEntryCount(a.reader));
    for (uint64_t i : {0u, 65534u, 65535u, 65536u, 69999u}) {
      ZipEntryInfo info;
      ASSERT_EQ(ZipOk, ZipStatEntry(a.reader, i, &info));
      EXPECT_EQ(entries[i].name, info.name);
      std::string bytes;
      ASSERT_EQ(ZipOk, ExtractToString(a.reader, i, &bytes));
      EXPECT_EQ(entries[i].content, bytes);
    }
  }
}

bool CountingSink(void* context, const uint8_t*, size_t count) {
  *static_cast<uint64_t*>(context) += count;
  return true;
}

// An entry of 4 GiB and 3 MiB, streamed through the sink without being
// stored; the reader's own size and CRC-32 checks vouch for the content.
// Its deflate stream is one flushed 1 MiB piece repeated: a full flush ends
// each piece on a byte boundary with no reference back into the previous
// one, so the copies join into one valid stream. The piece repeats a 64-byte
// pattern rather than one byte, which inflates about ten times faster.
TEST(ZipReader, StreamsAnEntryOver4GiB) {
  const uint64_t piece = 1 << 20;
  const uint64_t pieces = 4096 + 3;
  std::string pattern(piece, '\0');
  for (size_t i = 0; i < piece; ++i) pattern[i] = static_cast<char>((i % 64) * 7 + 3);
  z_stream z;
  memset(&z, 0, sizeof z);
  ASSERT_EQ(Z_OK, deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY));
  std::string flushed(deflateBound(&z, piece) + 64, '\0');
  z.next_in = reinterpret_cast<const Bytef*>(pattern.data());
  z.avail_in = static_cast<uInt>(piece);
  z.next_out = reinterpret_cast<Bytef*>(&flushed[0]);
  z.avail_out = static_cast<uInt>(flushed.size());
  ASSERT_EQ(Z_OK, deflate(&z, Z_FULL_FLUSH));
  ASSERT_EQ(0u, z.avail_in);
  flushed.resize(z.total_out);
  deflateEnd(&z);

  WriterEntry big;
  big.name = "huge.bin";
  big.method = 8;
  big.data.reserve(flushed.size() * pieces + 2);
  for (uint64_t i = 0; i < pieces; ++i) big.data += flushed;
  big.data += std::string("\x03\x00", 2);  // a final, empty fixed-code block
  big.compressedSize = big.data.size();
  big.uncompressedSize = piece * pieces;
  const uLong pieceCrc = crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(pattern.data()),
                               static_cast<uInt>(piece));
  uLong crc = crc32(0, nullptr, 0);
  for (uint64_t i = 0; i < pieces; ++i) crc = crc32_combine(crc, pieceCrc, static_cast<z_off_t>(piece));
  big.crc = static_cast<uint32_t>(crc);
  big.descriptor = true;
  big.descriptorWide = true;

  OpenArchive a(BuildArchive({Stored("before", "b"), big, Stored("after", "a")}));
  ASSERT_EQ(ZipOk, a.status) << ZipStatusText(a.status);
  ZipEntryInfo info;
  ASSERT_EQ(ZipOk, ZipStatEntry(a.reader, 1, &info));
  EXPECT_EQ(piece * pieces, info.uncompressedSize);
  uint64_t total = 0;
  EXPECT_EQ(ZipOk, ZipExtractEntry(a.reader, 1, CountingSink, &total));
  EXPECT_EQ(piece * pieces, total);
}

// An archive of more than 4 GiB: a stored entry of 4 GiB and 1 MiB of
// zeros, then an entry and the directory past the 4 GiB mark, reached through
// ZIP64 offsets. It needs a 64-bit address space, so only the native build
// runs it; calloc gives untouched zero pages, which cost next to no memory.
TEST(ZipReader, ReadsAnArchiveOver4GiB) {
  if (sizeof(size_t) < 8) GTEST_SKIP() << "needs a 64-bit address space";
  const uint64_t mib = 1 << 20;
  const uint64_t zeros = 4097 * mib;
  const std::string zeroMib(mib, '\0');
  const uLong mibCrc = crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(zeroMib.data()),
                             static_cast<uInt>(mib));
  uLong crc = crc32(0, nullptr, 0);
  for (uint64_t i = 0; i < zeros / mib; ++i) crc = crc32_combine(crc, mibCrc, static_cast<z_off_t>(mib));

  WriterEntry big;
  big.name = "zeros.bin";
  big.gap = zeros;
  big.crc = static_cast<uint32_t>(crc);
  big.compressedSize = big.uncompressedSize = zeros;
  Layout l;
  const std::string parts =
      BuildArchive({big, Stored("tail.txt", "past the 4 GiB mark")}, {"", EndStyle::Classic}, &l);
  ASSERT_GT(l.local[1], 0xFFFFFFFFull);
  ASSERT_NE(0u, l.zip64End);
  const uint64_t size = parts.size() + zeros;
  uint8_t* archive = static_cast<uint8_t*>(calloc(static_cast<size_t>(size), 1));
  ASSERT_NE(nullptr, archive);
  memcpy(archive, parts.data(), l.gapAt);
  memcpy(archive + l.gapAt + zeros, parts.data() + l.gapAt, parts.size() - l.gapAt);

  ZipReader* reader = nullptr;
  ASSERT_EQ(ZipOk, ZipOpen(archive, size, &reader));
  ASSERT_EQ(2u, ZipEntryCount(reader));
  ZipEntryInfo info;
  ASSERT_EQ(ZipOk, ZipStatEntry(reader, 1, &info));
  EXPECT_EQ(l.local[1], info.localHeaderOffset);
  std::string tail;
  EXPECT_EQ(ZipOk, ExtractToString(reader, 1, &tail));
  EXPECT_EQ("past the 4 GiB mark", tail);
  uint64_t total = 0;
  EXPECT_EQ(ZipOk, ZipExtractEntry(reader, 0, CountingSink, &total));
  EXPECT_EQ(zeros, total);
  ZipClose(reader);
  free(archive);
}

// ---------------------------------------------------------------------------
// Reading at offsets: the same parsing over a callback, for archives that
// are not held in memory.

// An archive behind the read-at-offset callback: a copy of its bytes, the
// reads counted, and every read from the failFrom-th on failing.
struct OffsetInput {
  std::vector<uint8_t> bytes;
  size_t reads = 0;
  size_t largest = 0;
  size_t failFrom = SIZE_MAX;
};

bool ReadAtCopy(void* context, uint64_t offset, void* buffer, size_t count) {
  OffsetInput* in = static_cast<OffsetInput*>(context);
  // The reader asks for nothing outside the archive.
  EXPECT_LE(offset, in->bytes.size());
  EXPECT_LE(count, in->bytes.size() - offset);
  if (offset > in->bytes.size() || count > in->bytes.size() - offset) return false;
  if (in->reads++ >= in->failFrom) return false;
  if (count > in->largest) in->largest = count;
  if (count) memcpy(buffer, in->bytes.data() + offset, count);
  return true;
}

// Owns an archive's input and a reader open over it in a test.
struct OffsetArchive {
  OffsetInput in;
  ZipReader* reader = nullptr;
  ZipStatus status;
  explicit OffsetArchive(const std::string& archive, size_t failFrom = SIZE_MAX) {
    in.bytes.assign(archive.begin(), archive.end());
    in.failFrom = failFrom;
    const ZipInput input = {ReadAtCopy, &in, archive.size()};
    status = ZipOpenInput(&input, &reader);
  }
  ~OffsetArchive() { ZipClose(reader); }
};

// All a reader says about an archive, as text: the open status, and for
// each entry its facts and its extraction's status and CRC-32.
std::string Transcript(ZipStatus opened, ZipReader* reader) {
  std::string t = std::string("open: ") + ZipStatusText(opened) + "\n";
  for (uint64_t i = 0; i < ZipEntryCount(reader); ++i) {
    ZipEntryInfo info;
    const ZipStatus stat = ZipStatEntry(reader, i, &info);
    std::string bytes;
    const ZipStatus extract = ExtractToString(reader, i, &bytes);
    char line[700];
    snprintf(line, sizeof line, "%s %s %08x %llu/%llu m%u f%04x a%08x: %s, crc %08lx\n", ZipStatusText(stat),
             info.name, static_cast<unsigned>(info.crc32), static_cast<unsigned long long>(info.compressedSize),
             static_cast<unsigned long long>(info.uncompressedSize), info.method, info.flags,
             static_cast<unsigned>(info.externalAttributes), ZipStatusText(extract),
             crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
    t += line;
  }
  return t;
}

std::string InMemoryTranscript(const std::string& archive) {
  OpenArchive a(archive);
  return Transcript(a.status, a.reader);
}

std::string AtOffsetsTranscript(const std::string& archive) {
  OffsetArchive a(archive);
  return Transcript(a.status, a.reader);
}

// Valid archives, broken ones and every single-byte change of one: the
// reader at offsets says exactly what the reader in memory says.
TEST(ZipReaderAtOffsets, AgreesWithTheReaderInMemory) {
  for (const ValidCase& c : kValidCases) {
    SCOPED_TRACE(c.what);
    const std::string archive = BuildArchive(c.entries(), c.options);
    EXPECT_EQ(InMemoryTranscript(archive), AtOffsetsTranscript(archive));
  }
  for (const BrokenCase& c : kBrokenCases) {
    SCOPED_TRACE(c.what);
    const std::string archive = c.make();
    EXPECT_EQ(InMemoryTranscript(archive), AtOffsetsTranscript(archive));
  }
  const std::string archive = Assorted();
  for (size_t i = 0; i < archive.size(); ++i) {
    std::string damaged = archive;
    damaged[i] = static_cast<char>(damaged[i] ^ 0x80);
    ASSERT_EQ(InMemoryTranscript(damaged), AtOffsetsTranscript(damaged)) << "byte " << i << " changed";
  }
}

// A read that fails, wherever it comes, is reported as ZipErrRead, by the
// open or by the call that needed it; nothing else changes.
TEST(ZipReaderAtOffsets, ReportsAFailedRead) {
  const std::string archive = Assorted();
  size_t reads = 0;
  {
    OffsetArchive a(archive);
    ASSERT_EQ(ZipOk, a.status);
    Transcript(a.status, a.reader);
    reads = a.in.reads;
  }
  ASSERT_GT(reads, 3u);
  for (size_t failFrom = 0; failFrom < reads; ++failFrom) {
    SCOPED_TRACE(failFrom);
    OffsetArchive a(archive, failFrom);
    if (a.status != ZipOk) {
      EXPECT_EQ(ZipErrRead, a.status) << ZipStatusText(a.status);
      continue;
    }
    // The same calls as the transcript that counted the reads.
    bool failed = false;
    for (uint64_t i = 0; i < ZipEntryCount(a.reader); ++i) {
      ZipEntryInfo info;
      std::string bytes;
      for (const ZipStatus status : {ZipStatEntry(a.reader, i, &info), ExtractToString(a.reader, i, &bytes)}) {
        EXPECT_TRUE(status == ZipOk || status == ZipErrRead) << ZipStatusText(status);
        failed = failed || status == ZipErrRead;
      }
    }
    EXPECT_TRUE(failed) << "a read failed unnoticed";
  }
}

// Read at offsets, many entries cost a bounded number of bounded reads: the
// reader's windows, not the archive, set its memory.
TEST(ZipReaderAtOffsets, ReadsManyEntriesInBoundedPieces) {
  std::vector<WriterEntry> entries;
  char name[32];
  for (size_t i = 0; i < 70000; ++i) {
    snprintf(name, sizeof name, "f/%05u", static_cast<unsigned>(i));
    entries.push_back(Stored(name, std::string(1 + i % 300, static_cast<char>('a' + i % 26))));
  }
  entries.push_back(Deflated("big.txt", Text(3 << 20, 11)));
  const std::string archive = BuildArchive(entries, {"", EndStyle::Zip64Needed});
  OffsetArchive a(archive);
  ASSERT_EQ(ZipOk, a.status) << ZipStatusText(a.status);
  ASSERT_EQ(entries.size(), ZipEntryCount(a.reader));
  for (uint64_t i : {0u, 65535u, 69999u, 70000u}) {
    ZipEntryInfo info;
    ASSERT_EQ(ZipOk, ZipStatEntry(a.reader, i, &info));
    EXPECT_EQ(entries[i].name, info.name);
    std::string bytes;
    ASSERT_EQ(ZipOk, ExtractToString(a.reader, i, &bytes));
    EXPECT_TRUE(entries[i].content == bytes);
  }
  EXPECT_LE(a.in.largest, 256u * 1024);
  // Each window read brings 256 KiB; the directory and the local headers
  // are read in order through their own windows.
  EXPECT_LT(a.in.reads, 4 * archive.size() / (256 * 1024) + 200) << archive.size() << " bytes";
}

}  // namespace
