// The packer's ZIP writer, read back through the launcher's own reader.
#include <gtest/gtest.h>

#include <zlib.h>

#include "payload/zip_reader.h"
#include "sfxpack/deflate_blocks.h"
#include "sfxpack/folder_scan.h"
#include "sfxpack/zip_reader_owner.h"
#include "sfxpack/zip_stream_writer.h"
#include "tests/sfxpack/pack_fixtures.h"

namespace {

using namespace pack_fixtures;
using sfx::SourceEntry;

bool Collect(void* context, const uint8_t* bytes, size_t count) {
  static_cast<std::string*>(context)->append(reinterpret_cast<const char*>(bytes), count);
  return true;
}

struct Expected {
  const char* name;
  std::string content;
  uint16_t method;
  uint32_t attributes;
};

TEST(ZipStreamWriter, FolderBecomesAnArchiveTheLauncherReads) {
  ScratchFolder scratch;
  const fs::path root = scratch / "payload";
  const std::string text = TextBytes(200000);
  const std::string noise = RandomBytes(300000, 7);
  WriteFile(root / "b.txt", text);
  WriteFile(root / "random.bin", noise);
  WriteFile(root / "a/empty.bin", "");
  WriteFile(root / fs::u8path(u8"a/nested/deeper/\u00fcber na\u00efve \u20ac \u65e5\u672c.txt"), "short");
  WriteFile(root / ".hidden", "secret");
  WriteFile(root / "readonly.txt", "fixed");
  fs::permissions(root / "readonly.txt", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  fs::create_directories(root / "empty folder");
  WriteFile(root / "a-b", "dash sorts after the folder a");

#ifdef _WIN32
  const uint32_t dotFile = 0x22;  // Wine shows a dot-file hidden, and the packer reads what it shows
#else
  const uint32_t dotFile = 0x20;  // no hidden bit on Linux file systems
#endif
  const std::vector<Expected> expected = {
      {".hidden", "secret", 0, dotFile},
      {"a/", "", 0, 0x10},
      {"a/empty.bin", "", 0, 0x20},
      {"a/nested/", "", 0, 0x10},
      {"a/nested/deeper/", "", 0, 0x10},
      {u8"a/nested/deeper/\u00fcber na\u00efve \u20ac \u65e5\u672c.txt", "short", 0, 0x20},
      {"a-b", "dash sorts after the folder a", 8, 0x20},
      {"b.txt", text, 8, 0x20},
      {"empty folder/", "", 0, 0x10},
      {"random.bin", noise, 0, 0x20},
      {"readonly.txt", "fixed", 0, 0x21},
  };
  const std::string archive = WriteZipFile(ScanEntries(root), scratch / "out.zip");
  sfx::ZipReaderOwner owner;
  ASSERT_EQ(owner.Open(archive), ZipOk);
  ZipReader* reader = owner.get();
  ASSERT_EQ(ZipEntryCount(reader), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(expected[i].name);
    ZipEntryInfo info;
    ASSERT_EQ(ZipStatEntry(reader, i, &info), ZipOk);
    EXPECT_STREQ(info.name, expected[i].name);
    EXPECT_EQ(info.flags, 0x0800) << "UTF-8 names, nothing else";
    // The launcher reads the low byte, MS-DOS attributes; Info-ZIP on Unix
    // the mode in the high half: rwxr-xr-x folders, rw-r--r-- files,
    // r--r--r-- read-only ones.
    EXPECT_EQ(info.externalAttributes & 0xFFFF, expected[i].attributes);
    const uint32_t mode = expected[i].attributes & 0x10 ? 040755 : expected[i].attributes & 0x01 ? 0100444 : 0100644;
    EXPECT_EQ(info.externalAttributes >> 16, mode) << std::oct << (info.externalAttributes >> 16);
    // Tiny files deflate to more than they hold and are stored.
    if (expected[i].content.size() > 100) {
      EXPECT_EQ(info.method, expected[i].method);
    }
    EXPECT_LE(info.compressedSize, info.uncompressedSize);
    std::string content;
    ASSERT_EQ(ZipExtractEntry(reader, i, Collect, &content), ZipOk);
    EXPECT_EQ(content, expected[i].content);
  }
}

TEST(ZipStreamWriter, SameInputsGiveTheSameBytes) {
  ScratchFolder scratch;
  WriteFile(scratch / "in/x/y.txt", TextBytes(50000));
  WriteFile(scratch / "in/z.bin", RandomBytes(70000, 3));
  sfx::ZipWriteOptions options;
  ASSERT_TRUE(sfx::DosDateTime(1700000000, &options.dosDateTime));
  const std::string first = WriteZipFile(ScanEntries(scratch / "in"), scratch / "1.zip", options);
  fs::last_write_time(scratch / "in/z.bin", fs::file_time_type::clock::now() - std::chrono::hours(5));
  const std::string second = WriteZipFile(ScanEntries(scratch / "in"), scratch / "2.zip", options);
  EXPECT_EQ(first, second);
  EXPECT_FALSE(first.empty());
}

// Files of several blocks, and files on either side of a block's edge,
// give the same bytes with one thread and with many, and read back whole.
TEST(ZipStreamWriter, AnyNumberOfThreadsGivesTheSameBytes) {
  ScratchFolder scratch;
  const size_t block = sfx::kDeflateBlockBytes;
  const std::string text = TextBytes(3 * block + block / 2);
  const std::string noise = RandomBytes(2 * block + 17, 21);
  std::string mixed = RandomBytes(block, 4) + TextBytes(block);
  // Every value in turn, over and over: even byte counts, and gzip -6 makes
  // 8 MiB of it 32 KB.
  std::string pattern(3 * block + 100, '\0');
  for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<char>(i % 256);
  WriteFile(scratch / "in/pattern.bin", pattern);
  WriteFile(scratch / "in/text.txt", text);
  WriteFile(scratch / "in/noise.bin", noise);
  WriteFile(scratch / "in/mixed.bin", mixed);
  WriteFile(scratch / "in/edge/exact.txt", TextBytes(block));
  WriteFile(scratch / "in/edge/over.txt", TextBytes(block + 1));
  WriteFile(scratch / "in/edge/under.txt", TextBytes(block - 1));
  for (int i = 0; i < 40; ++i) WriteFile(scratch / ("in/small/" + std::to_string(i) + ".txt"), TextBytes(100 * i));
  const std::vector<SourceEntry> entries = ScanEntries(scratch / "in");
  sfx::ZipWriteOptions options;
  options.threads = 1;
  const std::string one = WriteZipFile(entries, scratch / "one.zip", options);
  for (unsigned threads : {2u, 3u, 8u}) {
    options.threads = threads;
    EXPECT_EQ(WriteZipFile(entries, scratch / "many.zip", options), one) << threads << " threads";
  }
  sfx::ZipReaderOwner owner;
  ASSERT_EQ(owner.Open(one), ZipOk);
  ZipReader* reader = owner.get();
  const struct {
    const char* name;
    const std::string* content;
    uint16_t method;
  } checks[] = {{"mixed.bin", &mixed, 8}, {"noise.bin", &noise, 0}, {"pattern.bin", &pattern, 8},
                {"text.txt", &text, 8}};
  for (uint64_t i = 0; i < ZipEntryCount(reader); ++i) {
    ZipEntryInfo info;
    ASSERT_EQ(ZipStatEntry(reader, i, &info), ZipOk);
    std::string content;
    ASSERT_EQ(ZipExtractEntry(reader, i, Collect, &content), ZipOk) << info.name;
    for (const auto& c : checks)
      if (std::string(info.name) == c.name) {
        EXPECT_EQ(content, *c.content) << c.name;
        EXPECT_EQ(info.method, c.method) << c.name;
        if (c.content == &pattern) {
          EXPECT_LT(info.compressedSize, pattern.size() / 100);
        }
      }
  }
  // Priming each block with the one before keeps the ratio of one stream.
  EXPECT_LT(one.size(), text.size() / 4 + noise.size() + mixed.size() + pattern.size() / 100);
}

// Blocks on which a quick deflate saves less than 1 % are stored in the
// deflate stream instead of deflated; anything deflate can use is deflated,
// whatever its byte counts say.
TEST(ZipStreamWriter, BlocksDeflateSavesLittleOnAreStoredInTheStream) {
  const size_t block = sfx::kDeflateBlockBytes;
  std::string counting(block, '\0');
  for (size_t i = 0; i < block; ++i) counting[i] = static_cast<char>(i * 7 % 256);
  std::string biased = RandomBytes(block, 8);
  for (size_t i = 0; i < block; i += 16) biased[i] = 'e';  // one value a sixteenth more often
  std::string halves = RandomBytes(block, 9);
  std::fill(halves.begin() + sfx::kTrialBytes, halves.end(), 'a');  // judged by its start
  const struct {
    const char* what;
    std::string data;
    bool stored;
  } cases[] = {
      {"random", RandomBytes(block, 3), true},
      {"random, last short block", RandomBytes(sfx::kTrialBytes, 4), true},
      {"random, too short to judge", RandomBytes(sfx::kTrialBytes - 1, 5), false},
      {"text", TextBytes(block), false},
      {"random with a biased value", biased, false},
      // Even byte counts, but a pattern deflate shrinks to nearly nothing.
      {"every value in turn", counting, false},
      {"random start, then one letter", halves, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(c.data.data());
    sfx::DeflateBlock b;
    b.last = true;
    b.dataBytes = c.data.size();
    b.input.assign(bytes, bytes + c.data.size());
    ASSERT_TRUE(sfx::DeflateOneBlock(&b, 6));
    if (c.stored) {
      EXPECT_GE(b.outputBytes, c.data.size()) << "stored, not deflated";
      EXPECT_LT(b.outputBytes, c.data.size() + c.data.size() / 1000) << "stored blocks cost a few bytes each";
    } else if (c.data.size() >= sfx::kTrialBytes) {
      EXPECT_LT(b.outputBytes, c.data.size()) << "deflated, not stored";
    }
    // Whatever the choice, the stream inflates to the block.
    z_stream in = {};
    ASSERT_EQ(inflateInit2(&in, -MAX_WBITS), Z_OK);
    std::string back(c.data.size() + 1, '\0');
    in.next_in = b.output.data();
    in.avail_in = static_cast<uInt>(b.outputBytes);
    in.next_out = reinterpret_cast<Bytef*>(&back[0]);
    in.avail_out = static_cast<uInt>(back.size());
    EXPECT_EQ(inflate(&in, Z_FINISH), Z_STREAM_END);
    back.resize(back.size() - in.avail_out);
    inflateEnd(&in);
    EXPECT_TRUE(back == c.data);
  }
}

TEST(ZipStreamWriter, StoredEntriesAtLevelZero) {
  ScratchFolder scratch;
  WriteFile(scratch / "in/text.txt", TextBytes(50000));
  sfx::ZipWriteOptions options;
  options.level = 0;
  const std::string archive = WriteZipFile(ScanEntries(scratch / "in"), scratch / "out.zip", options);
  sfx::ZipReaderOwner owner;
  ASSERT_EQ(owner.Open(archive), ZipOk);
  ZipReader* reader = owner.get();
  ZipEntryInfo info;
  ASSERT_EQ(ZipStatEntry(reader, 0, &info), ZipOk);
  EXPECT_EQ(info.method, 0);
  EXPECT_EQ(info.compressedSize, 50000u);
}

TEST(ZipStreamWriter, ManyEntriesGetZip64EndRecords) {
  ScratchFolder scratch;
  std::vector<SourceEntry> entries(70000);
  for (size_t i = 0; i < entries.size(); ++i) {
    entries[i].name = "f" + std::to_string(100000 + i) + "/";
    entries[i].folder = true;
    entries[i].attributes = 0x10;
  }
  const std::string archive = WriteZipFile(entries, scratch / "many.zip");
  sfx::ZipReaderOwner owner;
  ASSERT_EQ(owner.Open(archive), ZipOk);
  ZipReader* reader = owner.get();
  EXPECT_EQ(ZipEntryCount(reader), 70000u);
  EXPECT_NE(archive.find(std::string("PK\x06\x06", 4)), std::string::npos);
}

bool CountBytes(void* context, const uint8_t*, size_t count) {
  *static_cast<uint64_t*>(context) += count;
  return true;
}

TEST(ZipStreamWriter, FileOver4GiBGetsZip64Sizes) {
#ifdef _WIN32
  GTEST_SKIP() << "4 GiB through Wine's file layer takes minutes; the native run covers the format";
#endif
  ScratchFolder scratch;
  const uint64_t size = (uint64_t(4) << 30) + 12345;
  WriteFile(scratch / "in/a.txt", "before");
  WriteFile(scratch / "in/big.bin", "");
  fs::resize_file(scratch / "in/big.bin", size);  // sparse zeros: no disk, quick to read
  WriteFile(scratch / "in/z.txt", "after");
  sfx::ZipWriteOptions options;
  options.level = 1;
  const std::string archive = WriteZipFile(ScanEntries(scratch / "in"), scratch / "big.zip", options);
  sfx::ZipReaderOwner owner;
  ASSERT_EQ(owner.Open(archive), ZipOk);
  ZipReader* reader = owner.get();
  ZipEntryInfo info;
  ASSERT_EQ(ZipStatEntry(reader, 1, &info), ZipOk);
  EXPECT_STREQ(info.name, "big.bin");
  EXPECT_EQ(info.uncompressedSize, size);
  EXPECT_EQ(info.method, 8);
  uint64_t unpacked = 0;
  EXPECT_EQ(ZipExtractEntry(reader, 1, CountBytes, &unpacked), ZipOk) << "size and CRC-32 check";
  EXPECT_EQ(unpacked, size);
  std::string after;
  ASSERT_EQ(ZipExtractEntry(reader, 2, Collect, &after), ZipOk);
  EXPECT_EQ(after, "after");
}

TEST(ZipStreamWriter, ArchivePastTheLimitIsRefused) {
  ScratchFolder scratch;
  WriteFile(scratch / "in/noise.bin", RandomBytes(300000, 9));
  sfx::ZipWriteOptions options;
  options.sizeLimit = 100000;
  sfx::OutputFile out(scratch / "out.zip");
  std::string error;
  uint64_t size = 0;
  bool tooLarge = false;
  ASSERT_TRUE(out.Open(&error));
  EXPECT_FALSE(sfx::WriteZipArchive(ScanEntries(scratch / "in"), options, &out, &size, &tooLarge, &error));
  EXPECT_TRUE(tooLarge);
  EXPECT_NE(error.find("more than a 32-bit launcher can map"), std::string::npos) << error;
}

TEST(ZipStreamWriter, FileThatChangesWhileReadIsRefused) {
  ScratchFolder scratch;
  WriteFile(scratch / "in/a.txt", TextBytes(1000));
  std::vector<SourceEntry> entries = ScanEntries(scratch / "in");
  WriteFile(scratch / "in/a.txt", TextBytes(2000));
  sfx::OutputFile out(scratch / "out.zip");
  std::string error;
  uint64_t size = 0;
  bool tooLarge = false;
  ASSERT_TRUE(out.Open(&error));
  EXPECT_FALSE(sfx::WriteZipArchive(entries, sfx::ZipWriteOptions(), &out, &size, &tooLarge, &error));
  EXPECT_NE(error.find("changed while it was packed"), std::string::npos) << error;
}

TEST(ZipStreamWriter, ArchiveOrderSortsComponentByComponent) {
  const struct {
    const char* a;
    const char* b;
  } before[] = {
      {"a/", "a-b"}, {"a/z", "a-b"}, {"a/", "a/x"}, {"A", "a"}, {"b", "b0"}, {"x/y/", "x/y/z"}, {"x/y", "x.y"},
  };
  for (const auto& c : before) {
    EXPECT_TRUE(sfx::ArchiveOrder(c.a, c.b)) << c.a << " before " << c.b;
    EXPECT_FALSE(sfx::ArchiveOrder(c.b, c.a)) << c.b << " after " << c.a;
  }
}

TEST(ZipStreamWriter, DosDateTimeOfAMoment) {
  const struct {
    int64_t seconds;
    bool fits;
    uint32_t dos;
  } cases[] = {
      {315532800, true, 0x00210000},            // 1980-01-01 00:00:00
      {951827696, true, 0x285D645C},            // 2000-02-29 12:34:56
      {4354819199, true, 0xFF9FBF7D},           // 2107-12-31 23:59:58 (two-second steps)
      {315532799, false, 0},                    // before 1980
      {4354819200, false, 0},                   // 2108
  };
  for (const auto& c : cases) {
    uint32_t dos = 0;
    EXPECT_EQ(sfx::DosDateTime(c.seconds, &dos), c.fits) << c.seconds;
    if (c.fits) {
      EXPECT_EQ(dos, c.dos) << c.seconds;
    }
  }
}

}  // namespace
