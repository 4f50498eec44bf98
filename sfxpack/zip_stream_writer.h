// Writes a folder's entries as a ZIP archive straight into the output file.
// Files are deflated in fixed-size blocks on every core, each block primed
// with the 32 KiB before it, and written in order as the blocks come back:
// the bytes depend on the inputs only, never on the number of threads, and
// memory stays at a few blocks per thread whatever the files' sizes.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "sfxpack/file_io.h"
#include "sfxpack/folder_scan.h"

namespace sfx {

// The unit of parallel work. Part of the output's definition: a different
// block size gives other (equally valid) deflate streams.
constexpr size_t kDeflateBlockBytes = size_t(1) << 20;

struct ZipWriteOptions {
  int level = 6;             // zlib's deflate level; 0 stores every entry
  uint32_t dosDateTime = 0;  // every entry's time: MS-DOS time (low half) and date (high half)
  uint64_t sizeLimit = ~uint64_t(0);  // the archive may not grow past this
  unsigned threads = 0;      // deflating threads; 0 for one per core
};

// Writes the archive at out's current position; its offsets count from
// there. Each file is deflated while it is read; when that does not make it
// smaller it is stored instead, written over the deflated bytes. Names carry
// the UTF-8 flag, no entry carries a time of its own or an extra field
// beyond ZIP64's, which is used only where a value needs it. On success
// *size is the archive's length. False with a one-line *error when a file
// cannot be read or changed while it was read, the output cannot be
// written, or the archive would pass options.sizeLimit; *tooLarge tells the
// last case apart.
bool WriteZipArchive(const std::vector<SourceEntry>& entries, const ZipWriteOptions& options,
                     OutputFile* out, uint64_t* size, bool* tooLarge, std::string* error);

// The MS-DOS date and time of a moment given in seconds since 1970 (UTC).
// False when it lies outside 1980 to 2107, which the format cannot hold.
bool DosDateTime(int64_t seconds, uint32_t* dosDateTime);

}  // namespace sfx
