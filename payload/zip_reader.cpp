// ZIP reading in place over zlib. ZipOpen checks the whole structure once:
// end records, every central record, every local header and data descriptor,
// and that no two entries share bytes or reach into the directory. After a
// successful open only the entry data itself (deflate stream, size, CRC-32)
// can still be found damaged, which ZipExtractEntry reports.
//
// Every offset taken from the archive is untrusted: it is compared against
// the range before use, with 64-bit arithmetic that cannot wrap.
//
// The archive is either in memory, read in place, or behind a read-at-offset
// callback; the parsing code sees one Source that gives it the bytes of a
// range either way, so both readers check exactly the same things.
#include "payload/zip_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#define ZLIB_CONST
#include <zlib.h>

namespace {

// The sink gets at most this many bytes per call; the reader's memory stays
// at this buffer plus zlib's window, whatever the entry sizes.
constexpr size_t kOutputPiece = 256 * 1024;
// zlib counts input in 32-bit units; larger entries are fed in pieces.
constexpr uint64_t kInputPiece = 1u << 20;
constexpr uint32_t kMaxNameLength = 511;
// A read-at-offset source reads through two windows of this size, one for
// the directory, read in order, and one for what its records point at. The
// largest record (46 bytes, a name, extra field and comment of up to 64 KiB
// each) fits one, and so does the end record's search range.
constexpr size_t kWindowBytes = 256 * 1024;

constexpr uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr uint32_t kCentralHeaderSignature = 0x02014b50;
constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kZip64EndSignature = 0x06064b50;
constexpr uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr uint32_t kDescriptorSignature = 0x08074b50;

constexpr uint64_t kLocalHeaderSize = 30;
constexpr uint64_t kCentralHeaderSize = 46;
constexpr uint64_t kEndSize = 22;
constexpr uint64_t kZip64EndMinSize = 56;
constexpr uint64_t kZip64LocatorSize = 20;

constexpr uint16_t kZip64ExtraId = 0x0001;
constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kFlagDescriptor = 0x0008;
constexpr uint16_t kFlagStrongEncryption = 0x0040;
constexpr uint16_t kFlagMaskedHeaders = 0x2000;  // central directory encryption

// One entry as checked by ZipOpen; the name stays in the archive.
struct EntryRecord {
  uint64_t compressedSize;
  uint64_t uncompressedSize;
  uint64_t localHeaderOffset;
  uint64_t dataOffset;  // first byte of the stored data, after the local header
  uint64_t regionEnd;   // one past the data and its descriptor
  uint64_t nameOffset;  // of the name in the central record
  uint32_t crc32;
  uint32_t externalAttributes;
  uint16_t nameLength;
  uint16_t method;
  uint16_t flags;
};

uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t Read32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint64_t Read64(const uint8_t* p) {
  return static_cast<uint64_t>(Read32(p)) | (static_cast<uint64_t>(Read32(p + 4)) << 32);
}

// True when [offset, offset + length) lies inside [0, limit).
bool Fits(uint64_t offset, uint64_t length, uint64_t limit) {
  return offset <= limit && length <= limit - offset;
}

// The archive's bytes: a memory range read in place, or a callback that
// reads at offsets through two windows. A failed read marks the source;
// whatever status the parsing then gives becomes ZipErrRead.
enum Window { kDirectoryWindow = 0, kDataWindow = 1 };

struct Source {
  const uint8_t* base = nullptr;  // the archive in memory, or null
  ZipInput input = {};            // else this reads it
  uint64_t size = 0;
  uint8_t* windows[2] = {nullptr, nullptr};  // kWindowBytes each, owned by the reader
  uint64_t windowStart[2] = {0, 0};
  uint64_t windowLength[2] = {0, 0};
  bool failed = false;

  // The `length` bytes at `at` (read at offsets: at most kWindowBytes), or
  // null when they do not lie in the archive or cannot be read. The pointer
  // stays valid until the next call for the same window.
  const uint8_t* At(uint64_t at, uint64_t length, Window w) {
    if (!Fits(at, length, size)) return nullptr;
    if (base) return base + at;
    if (length > kWindowBytes) return nullptr;
    if (at >= windowStart[w] && at + length <= windowStart[w] + windowLength[w])
      return windows[w] + (at - windowStart[w]);
    const uint64_t fill = std::min<uint64_t>(kWindowBytes, size - at);
    windowLength[w] = 0;
    if (!input.read(input.context, at, windows[w], static_cast<size_t>(fill))) {
      failed = true;
      return nullptr;
    }
    windowStart[w] = at;
    windowLength[w] = fill;
    return windows[w];
  }

  // Reads [at, at + length) into buffer, without a window: for entry data.
  bool Copy(uint64_t at, uint64_t length, uint8_t* buffer) {
    if (!Fits(at, length, size)) return false;
    if (base) {
      memcpy(buffer, base + at, static_cast<size_t>(length));
      return true;
    }
    if (input.read(input.context, at, buffer, static_cast<size_t>(length))) return true;
    failed = true;
    return false;
  }
};

// The fixed part of a record at `at`: its first `length` bytes when they lie
// before `limit` and open with `signature`, else null.
const uint8_t* RecordAt(Source& source, uint64_t at, uint64_t length, uint64_t limit,
                        uint32_t signature, Window w) {
  if (!Fits(at, length, limit)) return nullptr;
  const uint8_t* p = source.At(at, length, w);
  if (!p || Read32(p) != signature) return nullptr;
  return p;
}

}  // namespace

struct ZipReader {
  Source source;
  uint64_t count;
  EntryRecord* entries;  // count records, owned
  uint8_t* output;       // kOutputPiece bytes, owned
};

namespace {

// The archive's directory as the end records give it.
struct DirectoryFacts {
  uint64_t offset;
  uint64_t size;
  uint64_t count;
  uint64_t end;  // where the directory must end: the first end record
};

// Finds the end record that closes the range exactly: nothing may follow its
// comment. Scanning grows the comment length from 0 so that the record
// nearest the end wins. Returns its offset, or false.
bool FindEndRecord(Source& source, uint64_t* offset) {
  const uint64_t size = source.size;
  if (size < kEndSize) return false;
  // The search range: the record and the longest comment, or the archive.
  const uint64_t span = std::min<uint64_t>(size, kEndSize + 0xFFFF);
  const uint8_t* tail = source.At(size - span, span, kDirectoryWindow);
  if (!tail) return false;
  for (uint64_t comment = 0; comment <= 0xFFFF && kEndSize + comment <= size; ++comment) {
    const uint64_t at = span - kEndSize - comment;
    if (Read32(tail + at) == kEndSignature && Read16(tail + at + 20) == comment) {
      *offset = size - span + at;
      return true;
    }
  }
  return false;
}

// The fields of an end record, classic or ZIP64, widened.
struct EndFields {
  uint64_t disk;
  uint64_t directoryDisk;
  uint64_t countOnDisk;
  uint64_t count;
  uint64_t size;
  uint64_t offset;
};

// True when each field of the classic record is either saturated (the
// value lives in the ZIP64 record) or equal to the ZIP64 one, so that no two
// readers can see two different directories.
bool ClassicAgrees(const EndFields& classic, const EndFields& wide) {
  const auto agrees = [](uint64_t value, uint64_t saturated, uint64_t wideValue) {
    return value == saturated || value == wideValue;
  };
  return agrees(classic.disk, 0xFFFF, wide.disk) &&
         agrees(classic.directoryDisk, 0xFFFF, wide.directoryDisk) &&
         agrees(classic.countOnDisk, 0xFFFF, wide.countOnDisk) &&
         agrees(classic.count, 0xFFFF, wide.count) &&
         agrees(classic.size, 0xFFFFFFFF, wide.size) &&
         agrees(classic.offset, 0xFFFFFFFF, wide.offset);
}

// Reads the ZIP64 end record that the locator just before the classic end
// record points at; it must end where the locator begins. Gives its fields
// and offset.
ZipStatus ReadZip64End(Source& source, uint64_t endOffset, EndFields* fields,
                       uint64_t* recordOffset) {
  const uint64_t locator = endOffset - kZip64LocatorSize;
  const uint8_t* l = source.At(locator, kZip64LocatorSize, kDirectoryWindow);
  if (!l) return ZipErrBadZip64;
  if (Read32(l + 4) != 0 || Read32(l + 16) > 1) return ZipErrBadZip64;
  const uint64_t record = Read64(l + 8);
  const uint8_t* r = RecordAt(source, record, kZip64EndMinSize, locator, kZip64EndSignature, kDirectoryWindow);
  if (!r) return ZipErrBadZip64;
  // The record's size field leaves out its own first 12 bytes.
  if (Read64(r + 4) != locator - record - 12) return ZipErrBadZip64;
  fields->disk = Read32(r + 16);
  fields->directoryDisk = Read32(r + 20);
  fields->countOnDisk = Read64(r + 24);
  fields->count = Read64(r + 32);
  fields->size = Read64(r + 40);
  fields->offset = Read64(r + 48);
  *recordOffset = record;
  return ZipOk;
}

// Reads the end record (and the ZIP64 end record when a locator precedes
// it) and checks that the directory fills exactly the bytes before them.
ZipStatus ReadDirectoryFacts(Source& source, DirectoryFacts* facts) {
  uint64_t end = 0;
  if (!FindEndRecord(source, &end)) return ZipErrNoEndRecord;
  const uint8_t* e = source.At(end, kEndSize, kDirectoryWindow);
  if (!e) return ZipErrNoEndRecord;
  const EndFields classic{Read16(e + 4),  Read16(e + 6),  Read16(e + 8),
                          Read16(e + 10), Read32(e + 12), Read32(e + 16)};
  EndFields fields = classic;
  facts->end = end;
  const uint8_t* locator =
      end >= kZip64LocatorSize ? source.At(end - kZip64LocatorSize, 4, kDirectoryWindow) : nullptr;
  if (locator && Read32(locator) == kZip64LocatorSignature) {
    const ZipStatus status = ReadZip64End(source, end, &fields, &facts->end);
    if (status != ZipOk) return status;
    if (!ClassicAgrees(classic, fields)) return ZipErrBadZip64;
  }
  if (fields.disk != 0 || fields.directoryDisk != 0 || fields.countOnDisk != fields.count)
    return ZipErrBadEndRecord;
  facts->offset = fields.offset;
  facts->size = fields.size;
  facts->count = fields.count;
  if (facts->offset > facts->end || facts->size != facts->end - facts->offset)
    return ZipErrBadEndRecord;
  // Each central record takes at least 46 bytes; a larger count is a lie
  // that would otherwise size the entry table.
  if (facts->count > facts->size / kCentralHeaderSize) return ZipErrBadEndRecord;
  return ZipOk;
}

// Outcome of looking for one field in an extra area.
enum class ExtraField { Found, Absent, Malformed, Repeated };

// Looks for the field `id` in an extra area of `length` bytes and gives its
// data and size. Trailing bytes too few to hold a field header are
// tolerated (some tools pad the extra area); a field running past the area
// is malformed.
ExtraField FindExtraField(const uint8_t* extra, uint32_t length, uint16_t id,
                          const uint8_t** data, uint32_t* size) {
  ExtraField result = ExtraField::Absent;
  uint32_t at = 0;
  while (length - at >= 4) {
    const uint16_t fieldId = Read16(extra + at);
    const uint32_t fieldSize = Read16(extra + at + 2);
    at += 4;
    if (fieldSize > length - at) return ExtraField::Malformed;
    if (fieldId == id) {
      if (result == ExtraField::Found) return ExtraField::Repeated;
      result = ExtraField::Found;
      *data = extra + at;
      *size = fieldSize;
    }
    at += fieldSize;
  }
  return result;
}

// Replaces the saturated values among the given fields with those of the
// ZIP64 extra field, which holds exactly the saturated ones, in this order.
// A local header passes no offset or disk (null).
ZipStatus ApplyZip64Extra(const uint8_t* extra, uint32_t length, uint64_t* uncompressed,
                          uint64_t* compressed, uint64_t* offset, uint32_t* diskStart) {
  const bool needUncompressed = *uncompressed == 0xFFFFFFFF;
  const bool needCompressed = *compressed == 0xFFFFFFFF;
  const bool needOffset = offset && *offset == 0xFFFFFFFF;
  const bool needDisk = diskStart && *diskStart == 0xFFFF;
  const uint8_t* p = nullptr;
  uint32_t size = 0;
  switch (FindExtraField(extra, length, kZip64ExtraId, &p, &size)) {
    case ExtraField::Malformed: return ZipErrBadDirectory;
    case ExtraField::Repeated: return ZipErrBadZip64;
    case ExtraField::Absent:
      return (needUncompressed || needCompressed || needOffset || needDisk) ? ZipErrBadZip64 : ZipOk;
    case ExtraField::Found: break;
  }
  const uint32_t wanted = (needUncompressed ? 8 : 0) + (needCompressed ? 8 : 0) +
                          (needOffset ? 8 : 0) + (needDisk ? 4 : 0);
  if (size < wanted) return ZipErrBadZip64;
  if (needUncompressed) { *uncompressed = Read64(p); p += 8; }
  if (needCompressed) { *compressed = Read64(p); p += 8; }
  if (needOffset) { *offset = Read64(p); p += 8; }
  if (needDisk) *diskStart = Read32(p);
  return ZipOk;
}

// Parses the central record at *cursor, which must end by `limit`, into
// entry, copies its name into `name` (kMaxNameLength bytes) and advances
// the cursor past it.
ZipStatus ReadCentralRecord(Source& source, uint64_t limit, uint64_t* cursor, EntryRecord* entry,
                            uint8_t* nameCopy) {
  const uint64_t at = *cursor;
  const uint8_t* p =
      RecordAt(source, at, kCentralHeaderSize, limit, kCentralHeaderSignature, kDirectoryWindow);
  if (!p) return ZipErrBadDirectory;
  const uint32_t nameLength = Read16(p + 28);
  const uint32_t extraLength = Read16(p + 30);
  const uint32_t commentLength = Read16(p + 32);
  const uint64_t recordSize = kCentralHeaderSize + nameLength + extraLength + commentLength;
  if (!Fits(at, recordSize, limit)) return ZipErrBadDirectory;
  // The whole record, in one piece (a window holds the largest).
  p = source.At(at, recordSize, kDirectoryWindow);
  if (!p) return ZipErrBadDirectory;

  entry->flags = Read16(p + 8);
  entry->method = Read16(p + 10);
  entry->crc32 = Read32(p + 16);
  entry->compressedSize = Read32(p + 20);
  entry->uncompressedSize = Read32(p + 24);
  entry->externalAttributes = Read32(p + 38);
  entry->localHeaderOffset = Read32(p + 42);
  entry->nameOffset = at + kCentralHeaderSize;
  entry->nameLength = static_cast<uint16_t>(nameLength);
  uint32_t diskStart = Read16(p + 34);

  const uint8_t* name = p + kCentralHeaderSize;
  if (nameLength == 0 || nameLength > kMaxNameLength || memchr(name, 0, nameLength))
    return ZipErrBadName;
  memcpy(nameCopy, name, nameLength);
  const ZipStatus status =
      ApplyZip64Extra(name + nameLength, extraLength, &entry->uncompressedSize,
                      &entry->compressedSize, &entry->localHeaderOffset, &diskStart);
  if (status != ZipOk) return status;
  if (diskStart != 0) return ZipErrBadDirectory;
  *cursor = at + recordSize;
  return ZipOk;
}

// Finds the data descriptor after an entry's data. Writers differ: with or
// without its signature, with 4- or 8-byte sizes. The form whose values
// match the central record is taken. Returns its length, or 0 when no form
// lies within `limit` and matches.
uint64_t MatchDescriptor(Source& source, uint64_t at, uint64_t limit, const EntryRecord& entry) {
  for (int form = 0; form < 4; ++form) {
    const bool signature = form < 2;
    const bool wide = (form & 1) != 0;
    const uint64_t length = (signature ? 4 : 0) + 4 + (wide ? 16 : 8);
    if (!Fits(at, length, limit)) continue;
    const uint8_t* p = source.At(at, length, kDataWindow);
    if (!p) continue;
    if (signature) {
      if (Read32(p) != kDescriptorSignature) continue;
      p += 4;
    }
    const uint64_t compressed = wide ? Read64(p + 4) : Read32(p + 4);
    const uint64_t uncompressed = wide ? Read64(p + 12) : Read32(p + 8);
    if (Read32(p) == entry.crc32 && compressed == entry.compressedSize &&
        uncompressed == entry.uncompressedSize)
      return length;
  }
  return 0;
}

// Checks the local header of entry against its central record (whose name
// is centralName) and fills the entry's data offset and region end.
// Everything must lie before the directory at `limit`.
ZipStatus CheckLocalHeader(Source& source, uint64_t limit, EntryRecord* entry, const uint8_t* centralName) {
  const uint64_t at = entry->localHeaderOffset;
  const uint8_t* p = RecordAt(source, at, kLocalHeaderSize, limit, kLocalHeaderSignature, kDataWindow);
  if (!p) return ZipErrBadLocalHeader;
  const uint16_t flags = Read16(p + 6);
  const uint16_t method = Read16(p + 8);
  const uint32_t crc = Read32(p + 14);
  uint64_t compressed = Read32(p + 18);
  uint64_t uncompressed = Read32(p + 22);
  const uint32_t nameLength = Read16(p + 26);
  const uint32_t extraLength = Read16(p + 28);
  if (!Fits(at, kLocalHeaderSize + nameLength + extraLength, limit)) return ZipErrBadLocalHeader;
  p = source.At(at, kLocalHeaderSize + nameLength + extraLength, kDataWindow);
  if (!p) return ZipErrBadLocalHeader;
  if (nameLength != entry->nameLength || memcmp(p + kLocalHeaderSize, centralName, nameLength) != 0)
    return ZipErrBadLocalHeader;
  if (method != entry->method ||
      (flags & (kFlagEncrypted | kFlagStrongEncryption)) !=
          (entry->flags & (kFlagEncrypted | kFlagStrongEncryption)))
    return ZipErrBadLocalHeader;

  const bool descriptor = (flags & kFlagDescriptor) != 0;
  if (!descriptor) {
    // The extra area only matters when a size is saturated.
    if ((uncompressed == 0xFFFFFFFF || compressed == 0xFFFFFFFF) &&
        ApplyZip64Extra(p + kLocalHeaderSize + nameLength, extraLength, &uncompressed,
                        &compressed, nullptr, nullptr) != ZipOk)
      return ZipErrBadLocalHeader;
    if (crc != entry->crc32 || compressed != entry->compressedSize ||
        uncompressed != entry->uncompressedSize)
      return ZipErrBadLocalHeader;
  }

  entry->dataOffset = at + kLocalHeaderSize + nameLength + extraLength;
  if (!Fits(entry->dataOffset, entry->compressedSize, limit)) return ZipErrOverlap;
  entry->regionEnd = entry->dataOffset + entry->compressedSize;
  if (descriptor) {
    const uint64_t length = MatchDescriptor(source, entry->regionEnd, limit, *entry);
    if (length == 0) return ZipErrBadLocalHeader;
    entry->regionEnd += length;
  }
  return ZipOk;
}

// One entry's bytes in the archive, for the overlap check.
struct Region {
  uint64_t start;
  uint64_t end;
};

// Refuses archives in which two entries share bytes: such archives expand
// one stored stream many times (the overlapping-entry bomb) or make
// different readers see different files.
ZipStatus CheckNoOverlap(const EntryRecord* entries, uint64_t count) {
  if (count < 2) return ZipOk;
  Region* regions = new (std::nothrow) Region[count];
  if (!regions) return ZipErrNoMemory;
  for (uint64_t i = 0; i < count; ++i)
    regions[i] = Region{entries[i].localHeaderOffset, entries[i].regionEnd};
  std::sort(regions, regions + count,
            [](const Region& a, const Region& b) { return a.start < b.start; });
  ZipStatus status = ZipOk;
  for (uint64_t i = 1; i < count && status == ZipOk; ++i)
    if (regions[i].start < regions[i - 1].end) status = ZipErrOverlap;
  delete[] regions;
  return status;
}

// Reads and checks every central record and local header into reader.
ZipStatus ReadEntries(ZipReader* reader, const DirectoryFacts& facts) {
  uint64_t cursor = facts.offset;
  for (uint64_t i = 0; i < reader->count; ++i) {
    EntryRecord* entry = &reader->entries[i];
    uint8_t name[kMaxNameLength];
    ZipStatus status = ReadCentralRecord(reader->source, facts.end, &cursor, entry, name);
    if (status != ZipOk) return status;
    status = CheckLocalHeader(reader->source, facts.offset, entry, name);
    if (status != ZipOk) return status;
  }
  if (cursor != facts.end) return ZipErrBadDirectory;
  return CheckNoOverlap(reader->entries, reader->count);
}

// Passes a stored entry to the sink piece by piece: straight from an
// archive in memory, else read into the output buffer. Returns the status
// and the CRC-32 of what was passed.
ZipStatus ExtractStored(ZipReader* reader, const EntryRecord& entry, ZipSink sink,
                        void* context, uint32_t* crc) {
  if (entry.compressedSize != entry.uncompressedSize) return ZipErrSizeMismatch;
  Source& source = reader->source;
  uLong sum = crc32(0, nullptr, 0);
  uint64_t at = entry.dataOffset;
  uint64_t left = entry.compressedSize;
  while (left > 0) {
    const size_t piece = static_cast<size_t>(std::min<uint64_t>(left, kOutputPiece));
    const uint8_t* p = source.base ? source.base + at : reader->output;
    if (!source.base && !source.Copy(at, piece, reader->output)) return ZipErrRead;
    sum = crc32(sum, p, static_cast<uInt>(piece));
    if (!sink(context, p, piece)) return ZipErrSinkRefused;
    at += piece;
    left -= piece;
  }
  *crc = static_cast<uint32_t>(sum);
  return ZipOk;
}

// Releases a zlib inflate state on every way out.
struct InflateOwner {
  z_stream* stream;
  ~InflateOwner() { inflateEnd(stream); }
};

// Inflates a deflated entry through the reader's output buffer into the
// sink. Stops as soon as the output would exceed the recorded size, so a
// lying size cannot make it run long. Returns the status and the CRC-32.
ZipStatus ExtractDeflated(ZipReader* reader, const EntryRecord& entry, ZipSink sink,
                          void* context, uint32_t* crc) {
  z_stream stream;
  memset(&stream, 0, sizeof stream);
  const int init = inflateInit2(&stream, -MAX_WBITS);
  if (init == Z_MEM_ERROR) return ZipErrNoMemory;
  if (init != Z_OK) return ZipErrBadData;
  InflateOwner owner{&stream};

  Source& source = reader->source;
  // In memory the stream is fed in large pieces in place; read at offsets,
  // a window at a time.
  const uint64_t inputPiece = source.base ? kInputPiece : kWindowBytes;
  uint64_t inputAt = entry.dataOffset;
  uint64_t inputLeft = entry.compressedSize;
  uint64_t produced = 0;
  uLong sum = crc32(0, nullptr, 0);
  for (;;) {
    if (stream.avail_in == 0 && inputLeft > 0) {
      const uint64_t piece = std::min(inputLeft, inputPiece);
      const uint8_t* input = source.At(inputAt, piece, kDataWindow);
      if (!input) return ZipErrRead;
      stream.next_in = input;
      stream.avail_in = static_cast<uInt>(piece);
      inputAt += piece;
      inputLeft -= piece;
    }
    stream.next_out = reader->output;
    stream.avail_out = static_cast<uInt>(kOutputPiece);
    const int rc = inflate(&stream, Z_NO_FLUSH);
    if (rc == Z_MEM_ERROR) return ZipErrNoMemory;
    // Z_BUF_ERROR with a fresh output buffer means the input ran out before
    // the stream's end: a truncated stream.
    if (rc != Z_OK && rc != Z_STREAM_END) return ZipErrBadData;
    const size_t got = kOutputPiece - stream.avail_out;
    if (got > 0) {
      if (got > entry.uncompressedSize - produced) return ZipErrSizeMismatch;
      produced += got;
      sum = crc32(sum, reader->output, static_cast<uInt>(got));
      if (!sink(context, reader->output, got)) return ZipErrSinkRefused;
    }
    if (rc == Z_STREAM_END) break;
  }
  // The stream must use exactly the recorded compressed size.
  if (stream.avail_in != 0 || inputLeft != 0) return ZipErrSizeMismatch;
  if (produced != entry.uncompressedSize) return ZipErrSizeMismatch;
  *crc = static_cast<uint32_t>(sum);
  return ZipOk;
}

}  // namespace

namespace {

// Opens the archive behind a prepared source; owns nothing of it but the
// windows it allocates here.
ZipStatus OpenSource(const Source& source, ZipReader** reader) {
  ZipReader* created = new (std::nothrow) ZipReader();
  if (!created) return ZipErrNoMemory;
  created->source = source;
  created->output = new (std::nothrow) uint8_t[kOutputPiece];
  bool allocated = created->output != nullptr;
  if (!source.base)
    for (uint8_t*& window : created->source.windows) {
      window = new (std::nothrow) uint8_t[kWindowBytes];
      allocated = allocated && window;
    }
  DirectoryFacts facts;
  ZipStatus status = allocated ? ReadDirectoryFacts(created->source, &facts) : ZipErrNoMemory;
  if (status == ZipOk && facts.count > SIZE_MAX / sizeof(EntryRecord)) status = ZipErrNoMemory;
  if (status == ZipOk) {
    created->count = facts.count;
    created->entries = new (std::nothrow) EntryRecord[facts.count ? facts.count : 1];
    status = created->entries ? ReadEntries(created, facts) : ZipErrNoMemory;
  }
  // Whatever a failed read made the parsing conclude, the cause was the read.
  if (status != ZipOk && created->source.failed) status = ZipErrRead;
  if (status != ZipOk) {
    ZipClose(created);
    return status;
  }
  *reader = created;
  return ZipOk;
}

}  // namespace

ZipStatus ZipOpen(const void* data, uint64_t size, ZipReader** reader) {
  if (!reader) return ZipErrArgument;
  *reader = nullptr;
  if (!data || size > SIZE_MAX) return ZipErrArgument;
  Source source;
  source.base = static_cast<const uint8_t*>(data);
  source.size = size;
  return OpenSource(source, reader);
}

ZipStatus ZipOpenInput(const ZipInput* input, ZipReader** reader) {
  if (!reader) return ZipErrArgument;
  *reader = nullptr;
  if (!input || !input->read) return ZipErrArgument;
  Source source;
  source.input = *input;
  source.size = input->size;
  return OpenSource(source, reader);
}

void ZipClose(ZipReader* reader) {
  if (!reader) return;
  delete[] reader->entries;
  delete[] reader->output;
  for (uint8_t* window : reader->source.windows) delete[] window;
  delete reader;
}

uint64_t ZipEntryCount(const ZipReader* reader) { return reader ? reader->count : 0; }

uint64_t ZipTotalSize(const ZipReader* reader) {
  uint64_t total = 0;
  for (uint64_t i = 0; reader && i < reader->count; ++i) {
    const uint64_t size = reader->entries[i].uncompressedSize;
    total = size > UINT64_MAX - total ? UINT64_MAX : total + size;
  }
  return total;
}

ZipStatus ZipStatEntry(const ZipReader* reader, uint64_t index, ZipEntryInfo* info) {
  if (!reader || !info || index >= reader->count) return ZipErrArgument;
  const EntryRecord& entry = reader->entries[index];
  memset(info, 0, sizeof *info);
  // Read without a window: the reader stays unchanged for its callers.
  Source name = reader->source;
  if (!name.Copy(entry.nameOffset, entry.nameLength, reinterpret_cast<uint8_t*>(info->name))) return ZipErrRead;
  info->nameLength = entry.nameLength;
  info->externalAttributes = entry.externalAttributes;
  info->compressedSize = entry.compressedSize;
  info->uncompressedSize = entry.uncompressedSize;
  info->localHeaderOffset = entry.localHeaderOffset;
  info->centralRecordOffset = entry.nameOffset - kCentralHeaderSize;
  info->crc32 = entry.crc32;
  info->method = entry.method;
  info->flags = entry.flags;
  return ZipOk;
}

ZipStatus ZipExtractEntry(ZipReader* reader, uint64_t index, ZipSink sink, void* context) {
  if (!reader || !sink || index >= reader->count) return ZipErrArgument;
  const EntryRecord& entry = reader->entries[index];
  if (entry.flags & (kFlagEncrypted | kFlagStrongEncryption | kFlagMaskedHeaders))
    return ZipErrEncrypted;
  if (entry.method != 0 && entry.method != 8) return ZipErrUnsupportedMethod;
  // Folders and empty files: some tools record an empty deflated entry with
  // no stream at all, so nothing is inflated.
  if (entry.compressedSize == 0 && entry.uncompressedSize == 0)
    return entry.crc32 == 0 ? ZipOk : ZipErrCrcMismatch;
  uint32_t crc = 0;
  reader->source.failed = false;
  ZipStatus status = entry.method == 0 ? ExtractStored(reader, entry, sink, context, &crc)
                                       : ExtractDeflated(reader, entry, sink, context, &crc);
  if (status != ZipOk && status != ZipErrSinkRefused && reader->source.failed) status = ZipErrRead;
  if (status != ZipOk) return status;
  return crc == entry.crc32 ? ZipOk : ZipErrCrcMismatch;
}

const char* ZipStatusText(ZipStatus status) {
  switch (status) {
    case ZipOk: return "success";
    case ZipErrArgument: return "invalid argument";
    case ZipErrNoMemory: return "out of memory";
    case ZipErrNoEndRecord: return "no end-of-central-directory record at the end of the archive";
    case ZipErrBadEndRecord: return "inconsistent end-of-central-directory record";
    case ZipErrBadZip64: return "malformed ZIP64 record or field";
    case ZipErrBadDirectory: return "malformed central directory";
    case ZipErrBadLocalHeader: return "local header or data descriptor missing or disagreeing with the directory";
    case ZipErrOverlap: return "entry data overlapping another entry or the directory";
    case ZipErrEncrypted: return "encrypted entry";
    case ZipErrUnsupportedMethod: return "unsupported compression method";
    case ZipErrBadData: return "damaged or truncated deflate data";
    case ZipErrCrcMismatch: return "CRC-32 mismatch";
    case ZipErrSizeMismatch: return "size mismatch";
    case ZipErrBadName: return "bad entry name";
    case ZipErrSinkRefused: return "stopped by the caller";
    case ZipErrRead: return "the archive could not be read";
  }
  return "unknown status";
}
