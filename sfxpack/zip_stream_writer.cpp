#include "sfxpack/zip_stream_writer.h"

#include <zlib.h>

#include <cstring>
#include <cerrno>
#include <memory>

#include "sfxpack/deflate_blocks.h"
#include "sfxpack/le_bytes.h"

namespace sfx {

namespace {

constexpr uint32_t kMax32 = 0xFFFFFFFF;
constexpr size_t kPiece = 256 * 1024;
constexpr uint16_t kUtf8Names = 0x0800;
constexpr uint16_t kStored = 0;
constexpr uint16_t kDeflated = 8;
// "Made by" Unix under version 6.3 of the format (the one that defined the
// UTF-8 flag). Made by MS-DOS, Info-ZIP's unzip reads every name in the
// DOS code page whatever the flag says; made by Unix, it takes the bytes as
// they are, like libarchive, 7-Zip and Python. A Unix maker's external
// attributes carry the mode in their high half; the low byte stays the
// MS-DOS attribute byte, which the launcher reads.
constexpr uint16_t kMadeByUnix = (3 << 8) | 63;

// The facts of one written entry that its central record repeats.
struct Written {
  uint64_t localOffset = 0;
  uint64_t compressedSize = 0;
  uint32_t crc = 0;
  uint16_t method = kStored;
};

struct Writer {
  Writer(const ZipWriteOptions& o, OutputFile* f, std::string* e)
      : options(o), out(f), base(f->Position()), error(e) {}
  const ZipWriteOptions& options;
  OutputFile* out;
  uint64_t base;  // where the archive begins in the output
  std::unique_ptr<uint8_t[]> input{new uint8_t[kPiece]};
  std::string* error;
  bool tooLarge = false;

  uint64_t Offset() const { return out->Position() - base; }

  bool Fail(const std::string& text) {
    *error = text;
    return false;
  }
  bool OutputFailed() { return Fail(out->Error()); }
  bool TooLarge() {
    tooLarge = true;
    return Fail("the payload archive would pass " + std::to_string(options.sizeLimit) +
                " bytes, more than a 32-bit launcher can map");
  }
};

std::string LocalHeader(const SourceEntry& e, const Written& w, uint64_t size, uint32_t dosTime) {
  const bool big = size >= kMax32;
  std::string h;
  Put32(h, 0x04034b50);
  Put16(h, big ? 45 : 20);
  Put16(h, kUtf8Names);
  Put16(h, w.method);
  Put32(h, dosTime);
  Put32(h, w.crc);
  Put32(h, big ? kMax32 : static_cast<uint32_t>(w.compressedSize));
  Put32(h, big ? kMax32 : static_cast<uint32_t>(size));
  Put16(h, static_cast<uint32_t>(e.name.size()));
  Put16(h, big ? 20 : 0);
  h += e.name;
  if (big) {
    Put16(h, 0x0001);
    Put16(h, 16);
    Put64(h, size);
    Put64(h, w.compressedSize);
  }
  return h;
}

// Writes the file stored, read once more from disk: deflate did not make
// it smaller. False when it cannot be read, or is no longer the file whose
// blocks were deflated (another length or CRC-32).
bool WriteStoredAgain(Writer& x, const SourceEntry& e, uint32_t expectedCrc) {
  FileOwner file(OpenFile(e.path, "rb"));
  if (!file.get()) return x.Fail("cannot open " + PathText(e.path) + ": " + strerror(errno));
  uLong crc = crc32(0L, Z_NULL, 0);
  uint64_t total = 0;
  for (;;) {
    const size_t got = fread(x.input.get(), 1, kPiece, file.get());
    total += got;
    if (total > e.size) break;
    crc = crc32(crc, x.input.get(), static_cast<uInt>(got));
    if (x.Offset() + got > x.options.sizeLimit) return x.TooLarge();
    if (got && !x.out->Write(x.input.get(), got)) return x.OutputFailed();
    if (got < kPiece) break;
  }
  if (ferror(file.get())) return x.Fail("cannot read " + PathText(e.path));
  if (total != e.size || crc != expectedCrc) return x.Fail(PathText(e.path) + " changed while it was packed");
  return true;
}

// Writes one file's data from its blocks, in order. Deflated unless that
// does not make the file smaller (or the level is 0): then stored, from
// the block itself when the file is one block, else read again.
bool WriteFileData(Writer& x, BlockPipeline& blocks, size_t index, const SourceEntry& e, Written* w) {
  const uint64_t dataStart = x.Offset();
  const bool store = x.options.level == 0;
  uLong crc = crc32(0L, Z_NULL, 0);
  uint64_t compressed = 0;
  bool first = true;
  for (;;) {
    DeflateBlock* b = blocks.Next();
    if (!b || b->entry != index) return x.Fail("the blocks of " + PathText(e.path) + " went astray");
    BlockLease lease(&blocks, b);
    if (!b->error.empty()) return x.Fail(b->error);
    crc = crc32_combine(crc, b->crc, static_cast<z_off_t>(b->dataBytes));
    const uint8_t* data = b->input.data() + b->window;
    // A file of one block that deflate does not shrink is stored from it.
    const bool storeThis = store || (first && b->last && b->outputBytes >= b->dataBytes);
    const uint8_t* bytes = storeThis ? data : b->output.data();
    const size_t count = storeThis ? b->dataBytes : b->outputBytes;
    // Past the limit only matters when storing the file would not fit either.
    if (x.Offset() + count > x.options.sizeLimit && dataStart + e.size > x.options.sizeLimit)
      return x.TooLarge();
    if (!x.out->Write(bytes, count)) return x.OutputFailed();
    compressed += count;
    w->method = storeThis ? kStored : kDeflated;
    first = false;
    if (b->last) break;
  }
  w->crc = static_cast<uint32_t>(crc);
  w->compressedSize = compressed;
  if (w->method == kStored || compressed < e.size) return true;
  // Deflate did not help: the file is stored, written over the deflated
  // bytes, which took at least as much room.
  if (!x.out->MoveTo(x.base + dataStart)) return x.OutputFailed();
  w->method = kStored;
  w->compressedSize = e.size;
  return WriteStoredAgain(x, e, w->crc);
}

bool WriteEntry(Writer& x, BlockPipeline& blocks, size_t index, const SourceEntry& e, Written* w) {
  w->localOffset = x.Offset();
  const std::string header = LocalHeader(e, *w, e.size, x.options.dosDateTime);
  if (x.Offset() + header.size() > x.options.sizeLimit) return x.TooLarge();
  if (!x.out->Write(header)) return x.OutputFailed();
  if (e.folder || e.size == 0) {
    w->crc = 0;
    return true;
  }
  if (!WriteFileData(x, blocks, index, e, w)) return false;
  const std::string done = LocalHeader(e, *w, e.size, x.options.dosDateTime);
  return x.out->Patch(x.base + w->localOffset, done) || x.OutputFailed();
}

// The entry's external attributes: its MS-DOS attribute byte with a Unix
// mode made from it alone, so both builds write the same: folders
// rwxr-xr-x, files rw-r--r--, without the write bits when read-only.
uint32_t ExternalAttributes(const SourceEntry& e) {
  constexpr uint32_t kUnixFolder = 0040000, kUnixFile = 0100000, kWriteBits = 0222;
  uint32_t mode = e.folder ? kUnixFolder | 0755 : kUnixFile | 0644;
  if (e.attributes & kDosReadOnly) mode &= ~kWriteBits;
  return (mode << 16) | (e.attributes & 0xFF);
}

void PutCentralRecord(std::string& dir, const SourceEntry& e, const Written& w, uint32_t dosTime) {
  std::string extra;
  if (e.size >= kMax32) Put64(extra, e.size);
  if (w.compressedSize >= kMax32) Put64(extra, w.compressedSize);
  if (w.localOffset >= kMax32) Put64(extra, w.localOffset);
  const uint32_t version = extra.empty() ? 20 : 45;
  Put32(dir, 0x02014b50);
  Put16(dir, kMadeByUnix);
  Put16(dir, version);
  Put16(dir, kUtf8Names);
  Put16(dir, w.method);
  Put32(dir, dosTime);
  Put32(dir, w.crc);
  Put32(dir, w.compressedSize >= kMax32 ? kMax32 : static_cast<uint32_t>(w.compressedSize));
  Put32(dir, e.size >= kMax32 ? kMax32 : static_cast<uint32_t>(e.size));
  Put16(dir, static_cast<uint32_t>(e.name.size()));
  Put16(dir, extra.empty() ? 0 : static_cast<uint32_t>(extra.size() + 4));
  Put16(dir, 0);  // comment
  Put16(dir, 0);  // disk
  Put16(dir, 0);  // internal attributes
  Put32(dir, ExternalAttributes(e));
  Put32(dir, w.localOffset >= kMax32 ? kMax32 : static_cast<uint32_t>(w.localOffset));
  dir += e.name;
  if (!extra.empty()) {
    Put16(dir, 0x0001);
    Put16(dir, static_cast<uint32_t>(extra.size()));
    dir += extra;
  }
}

std::string EndRecords(uint64_t count, uint64_t dirOffset, uint64_t dirSize) {
  const bool manyEntries = count >= 0xFFFF;
  const bool farDirectory = dirOffset >= kMax32;
  const bool bigDirectory = dirSize >= kMax32;
  std::string end;
  if (manyEntries || farDirectory || bigDirectory) {
    const uint64_t zip64End = dirOffset + dirSize;
    Put32(end, 0x06064b50);
    Put64(end, 44);
    Put16(end, 45);
    Put16(end, 45);
    Put32(end, 0);
    Put32(end, 0);
    Put64(end, count);
    Put64(end, count);
    Put64(end, dirSize);
    Put64(end, dirOffset);
    Put32(end, 0x07064b50);
    Put32(end, 0);
    Put64(end, zip64End);
    Put32(end, 1);
  }
  Put32(end, 0x06054b50);
  Put16(end, 0);
  Put16(end, 0);
  Put16(end, manyEntries ? 0xFFFF : static_cast<uint32_t>(count));
  Put16(end, manyEntries ? 0xFFFF : static_cast<uint32_t>(count));
  Put32(end, bigDirectory ? kMax32 : static_cast<uint32_t>(dirSize));
  Put32(end, farDirectory ? kMax32 : static_cast<uint32_t>(dirOffset));
  Put16(end, 0);
  return end;
}

}  // namespace

bool WriteZipArchive(const std::vector<SourceEntry>& entries, const ZipWriteOptions& options,
                     OutputFile* out, uint64_t* size, bool* tooLarge, std::string* error) {
  Writer x(options, out, error);
  *tooLarge = false;
  const int level = options.level < 0 ? 0 : options.level > 9 ? 9 : options.level;
  BlockPipeline blocks(entries, level, options.threads);
  std::string dir;
  for (size_t i = 0; i < entries.size(); ++i) {
    Written w;
    if (!WriteEntry(x, blocks, i, entries[i], &w)) {
      *tooLarge = x.tooLarge;
      return false;
    }
    PutCentralRecord(dir, entries[i], w, options.dosDateTime);
  }
  const uint64_t dirOffset = x.Offset();
  dir += EndRecords(entries.size(), dirOffset, dir.size());
  if (dirOffset + dir.size() > options.sizeLimit) {
    *tooLarge = true;
    return x.TooLarge();
  }
  if (!out->Write(dir)) return x.OutputFailed();
  *size = x.Offset();
  return true;
}

bool DosDateTime(int64_t seconds, uint32_t* dosDateTime) {
  if (seconds < 315532800 || seconds >= 4354819200) return false;  // 1980-01-01 .. 2108-01-01
  const int64_t days = seconds / 86400;
  const int64_t rest = seconds % 86400;
  // Civil date from a day count (Howard Hinnant's algorithm).
  const int64_t z = days + 719468;
  const int64_t era = z / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  const uint32_t date = static_cast<uint32_t>(((year - 1980) << 9) | (month << 5) | day);
  const uint32_t time = static_cast<uint32_t>(((rest / 3600) << 11) | (((rest / 60) % 60) << 5) | ((rest % 60) / 2));
  *dosDateTime = (date << 16) | time;
  return true;
}

}  // namespace sfx
