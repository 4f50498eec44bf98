// A ZIP reader over zlib that reads an archive in place from a memory range,
// or through a callback that reads at offsets, so that an archive larger
// than the memory a tool may take can be checked too. No Windows headers: it
// also builds natively for sanitizers and fuzzing. It never reads outside
// the range it was given.
#pragma once
#include <cstddef>
#include <cstdint>

enum ZipStatus : int {
  ZipOk = 0,
  ZipErrArgument,         // null pointers, index out of range
  ZipErrNoMemory,
  ZipErrNoEndRecord,      // no end-of-central-directory record, or bytes after it
  ZipErrBadEndRecord,     // inconsistent end record (disk numbers, counts, sizes)
  ZipErrBadZip64,         // ZIP64 locator, end record or extra field malformed
  ZipErrBadDirectory,     // central directory truncated, overlapping or malformed
  ZipErrBadLocalHeader,   // local header or data descriptor missing, truncated or
                          // disagreeing with the directory
  ZipErrOverlap,          // entry data overlapping the directory or another entry
  ZipErrEncrypted,
  ZipErrUnsupportedMethod,
  ZipErrBadData,          // deflate stream damaged or truncated
  ZipErrCrcMismatch,
  ZipErrSizeMismatch,
  ZipErrBadName,          // empty name, name over 511 bytes or holding a zero byte
  ZipErrSinkRefused,      // the caller's sink asked to stop
  ZipErrRead,             // the input callback could not read the archive
};

// Facts of one entry, from its central directory record.
struct ZipEntryInfo {
  char name[512];             // UTF-8, zero-terminated (names are at most 511 bytes)
  uint32_t nameLength;
  uint32_t externalAttributes;
  uint64_t compressedSize;
  uint64_t uncompressedSize;
  uint64_t localHeaderOffset;
  uint64_t centralRecordOffset;  // of its central directory record
  uint32_t crc32;
  uint16_t method;            // 0 stored, 8 deflated
  uint16_t flags;             // general-purpose bits
};

struct ZipReader;

// Receives extracted bytes in order; returns false to stop the extraction.
typedef bool (*ZipSink)(void* context, const uint8_t* bytes, size_t count);

// Opens the archive held in [data, data + size). On ZipOk *reader owns a new
// reader that the caller releases with ZipClose; the memory range must stay
// valid and unchanged until then. On failure *reader is null.
// The whole structure is checked here: end records, every central record,
// every local header and descriptor, names, and that no two entries share
// bytes. Nothing may follow the end record and its comment. An archive with
// no entries opens (count 0).
ZipStatus ZipOpen(const void* data, uint64_t size, ZipReader** reader);

// An archive of `size` bytes that is read at offsets: read gives the count
// bytes at offset (within the size) into buffer, true when all were read.
// Reads are at most 256 KiB each, mostly in order.
typedef bool (*ZipReadAt)(void* context, uint64_t offset, void* buffer, size_t count);
struct ZipInput {
  ZipReadAt read;
  void* context;
  uint64_t size;
};

// Opens an archive through its input, which must stay valid and its bytes
// unchanged until ZipClose; checks everything ZipOpen checks. The reader
// holds a fixed amount of memory (two 256 KiB windows, its output piece and
// the entry table), whatever the archive's size. A failed read gives
// ZipErrRead, here or from any call that reads.
ZipStatus ZipOpenInput(const ZipInput* input, ZipReader** reader);
void ZipClose(ZipReader* reader);

uint64_t ZipEntryCount(const ZipReader* reader);
// The uncompressed sizes of all entries added up (saturating at the top of
// the range): what a whole extraction writes.
uint64_t ZipTotalSize(const ZipReader* reader);
ZipStatus ZipStatEntry(const ZipReader* reader, uint64_t index, ZipEntryInfo* info);

// Inflates entry `index` in fixed-size pieces (at most 256 KiB each, never
// empty) into sink, checking its size and CRC-32 at the end. Encryption
// (ZipErrEncrypted), methods other than stored and deflated and damaged data
// are found here, not at open. A failure may come after some pieces were
// given. An entry of size 0 (folders, empty files) calls the sink never.
ZipStatus ZipExtractEntry(ZipReader* reader, uint64_t index, ZipSink sink, void* context);

// A short English description of a status, for messages and test output.
const char* ZipStatusText(ZipStatus status);
