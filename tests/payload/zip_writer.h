// Writes ZIP archives in memory for tests and benchmarks. It writes exactly
// the fields it is given, so a broken archive is a valid one with one field
// changed, and it says where each record went (Layout) for tests that patch
// one. No Win32 here: the ZIP reader's tests build natively as well.
#pragma once
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace zip_writer {

struct WriterEntry {
  std::string name;
  std::string data;     // the bytes as they lie in the archive (after compression)
  std::string content;  // what extraction must give
  uint16_t method = 0;
  uint16_t flags = 0;
  uint32_t crc = 0;
  uint64_t compressedSize = 0;
  uint64_t uncompressedSize = 0;
  uint32_t externalAttributes = 0;
  uint64_t gap = 0;                  // zero bytes after data, left out of the output
  bool descriptor = false;           // bit 3: sizes and CRC follow the data
  bool descriptorSignature = true;
  bool descriptorWide = false;       // 8-byte sizes in the descriptor
  bool zip64 = false;                // ZIP64 extra fields even for small values
  bool zip64SizesOnly = false;       // with zip64: the offset stays classic where it fits
  uint16_t madeBy = 0x031E;          // Unix, 3.0; MS-DOS hosts write the version alone
  uint32_t dosDateTime = 0;          // MS-DOS time (low half) and date (high half)
  // Overrides of the local header, to make it disagree with the directory.
  std::string localName;
  bool hasLocalName = false;
  int localMethod = -1;
};

enum class EndStyle {
  Classic,        // ZIP64 end records only when a value does not fit
  Zip64Needed,    // ZIP64 end records; classic fields saturated where needed
  Zip64All,       // ZIP64 end records; every classic field saturated
};

struct ArchiveOptions {
  std::string comment;
  EndStyle end = EndStyle::Classic;
};

// Where the writer put each structure, for tests that change one field.
struct Layout {
  std::vector<uint64_t> local;
  std::vector<uint64_t> central;
  uint64_t directory = 0;
  uint64_t zip64End = 0;   // 0 when there is none
  uint64_t locator = 0;
  uint64_t end = 0;
  uint64_t gapAt = 0;  // where the output leaves out an entry's gap
};

inline void Put16(std::string& out, uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}
inline void Put32(std::string& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}
inline void Put64(std::string& out, uint64_t v) {
  Put32(out, static_cast<uint32_t>(v));
  Put32(out, static_cast<uint32_t>(v >> 32));
}
inline void Patch16(std::string& s, uint64_t at, uint32_t v) {
  s[at] = static_cast<char>(v & 0xFF);
  s[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}
inline void Patch32(std::string& s, uint64_t at, uint32_t v) {
  Patch16(s, at, v & 0xFFFF);
  Patch16(s, at + 2, v >> 16);
}
inline void Patch64(std::string& s, uint64_t at, uint64_t v) {
  Patch32(s, at, static_cast<uint32_t>(v));
  Patch32(s, at + 4, static_cast<uint32_t>(v >> 32));
}

const uint32_t kMax32 = 0xFFFFFFFF;

inline uint32_t Crc(const std::string& s) {
  return static_cast<uint32_t>(
      crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
}

// Raw-deflates count bytes at src through z, a stream set up by deflateInit2
// with negative window bits, appending to out; finish ends the stream. False
// when zlib refuses. Each call offers room for the whole bound at once: with
// less, level 0 cuts its stored blocks elsewhere.
inline bool DeflatePiece(z_stream* z, const uint8_t* src, size_t count, bool finish, std::string* out) {
  z->next_in = const_cast<Bytef*>(src);
  z->avail_in = static_cast<uInt>(count);
  const int flush = finish ? Z_FINISH : Z_NO_FLUSH;
  int status;
  do {
    const size_t used = out->size();
    const size_t bound = deflateBound(z, z->avail_in) + 16;
    const size_t room = bound > (1 << 16) ? bound : (1 << 16);
    out->resize(used + room);
    z->next_out = reinterpret_cast<Bytef*>(&(*out)[used]);
    z->avail_out = static_cast<uInt>(room);
    status = deflate(z, flush);
    out->resize(used + room - z->avail_out);
    if (status == Z_STREAM_ERROR) return false;
  } while (z->avail_out == 0 || (finish && status != Z_STREAM_END));
  return true;
}

// Raw deflate of s at the given level, as ZIP stores it, into *out; false
// when zlib refuses.
inline bool RawDeflate(const std::string& s, int level, std::string* out) {
  z_stream z;
  memset(&z, 0, sizeof z);
  if (deflateInit2(&z, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
  out->clear();
  const bool ok = DeflatePiece(&z, reinterpret_cast<const uint8_t*>(s.data()), s.size(), true, out);
  deflateEnd(&z);
  return ok;
}

// Writes the ZIP64 extra field holding the given values, if any.
inline void PutZip64Extra(std::string& out, const std::vector<uint64_t>& values) {
  if (values.empty()) return;
  Put16(out, 0x0001);
  Put16(out, static_cast<uint32_t>(values.size() * 8));
  for (uint64_t v : values) Put64(out, v);
}

// The archive of the entries; where each record went in *layout when given.
inline std::string BuildArchive(const std::vector<WriterEntry>& entries,
                                const ArchiveOptions& options = ArchiveOptions(),
                                Layout* layout = nullptr) {
  Layout local;
  Layout& at = layout ? *layout : local;
  at = Layout();
  std::string out;
  // Offsets count the bytes of a gap that the output leaves out.
  uint64_t skipped = 0;
  auto Position = [&] { return out.size() + skipped; };
  for (const WriterEntry& e : entries) {
    at.local.push_back(Position());
    const bool big = e.zip64 || e.compressedSize >= kMax32 || e.uncompressedSize >= kMax32;
    const std::string& name = e.hasLocalName ? e.localName : e.name;
    Put32(out, 0x04034b50);
    Put16(out, big ? 45 : 20);
    Put16(out, e.flags | (e.descriptor ? 8 : 0));
    Put16(out, e.localMethod >= 0 ? static_cast<uint32_t>(e.localMethod) : e.method);
    Put32(out, e.dosDateTime);
    Put32(out, e.descriptor ? 0 : e.crc);
    std::string extra;
    if (e.descriptor) {
      Put32(out, big ? kMax32 : 0);
      Put32(out, big ? kMax32 : 0);
      if (big) PutZip64Extra(extra, {0, 0});
    } else if (big) {
      Put32(out, kMax32);
      Put32(out, kMax32);
      PutZip64Extra(extra, {e.uncompressedSize, e.compressedSize});
    } else {
      Put32(out, static_cast<uint32_t>(e.compressedSize));
      Put32(out, static_cast<uint32_t>(e.uncompressedSize));
    }
    Put16(out, static_cast<uint32_t>(name.size()));
    Put16(out, static_cast<uint32_t>(extra.size()));
    out += name;
    out += extra;
    out += e.data;
    if (e.gap) {
      at.gapAt = out.size();
      skipped += e.gap;
    }
    if (e.descriptor) {
      if (e.descriptorSignature) Put32(out, 0x08074b50);
      Put32(out, e.crc);
      if (e.descriptorWide) {
        Put64(out, e.compressedSize);
        Put64(out, e.uncompressedSize);
      } else {
        Put32(out, static_cast<uint32_t>(e.compressedSize));
        Put32(out, static_cast<uint32_t>(e.uncompressedSize));
      }
    }
  }
  at.directory = Position();
  for (size_t i = 0; i < entries.size(); ++i) {
    const WriterEntry& e = entries[i];
    at.central.push_back(Position());
    const bool wideUncompressed = e.zip64 || e.uncompressedSize >= kMax32;
    const bool wideCompressed = e.zip64 || e.compressedSize >= kMax32;
    const bool wideOffset = (e.zip64 && !e.zip64SizesOnly) || at.local[i] >= kMax32;
    std::vector<uint64_t> values;
    if (wideUncompressed) values.push_back(e.uncompressedSize);
    if (wideCompressed) values.push_back(e.compressedSize);
    if (wideOffset) values.push_back(at.local[i]);
    std::string extra;
    PutZip64Extra(extra, values);
    Put32(out, 0x02014b50);
    Put16(out, e.madeBy);
    Put16(out, values.empty() ? 20 : 45);
    Put16(out, e.flags | (e.descriptor ? 8 : 0));
    Put16(out, e.method);
    Put32(out, e.dosDateTime);
    Put32(out, e.crc);
    Put32(out, wideCompressed ? kMax32 : static_cast<uint32_t>(e.compressedSize));
    Put32(out, wideUncompressed ? kMax32 : static_cast<uint32_t>(e.uncompressedSize));
    Put16(out, static_cast<uint32_t>(e.name.size()));
    Put16(out, static_cast<uint32_t>(extra.size()));
    Put16(out, 0);  // comment
    Put16(out, 0);  // disk
    Put16(out, 0);  // internal attributes
    Put32(out, e.externalAttributes);
    Put32(out, wideOffset ? kMax32 : static_cast<uint32_t>(at.local[i]));
    out += e.name;
    out += extra;
  }
  const uint64_t count = entries.size();
  const uint64_t dirSize = Position() - at.directory;
  const bool countBig = count >= 0xFFFF;
  const bool sizeBig = dirSize >= kMax32;
  const bool offsetBig = at.directory >= kMax32;
  const bool zip64 = options.end != EndStyle::Classic || countBig || sizeBig || offsetBig;
  const bool all = options.end == EndStyle::Zip64All;
  if (zip64) {
    at.zip64End = Position();
    Put32(out, 0x06064b50);
    Put64(out, 44);
    Put16(out, 45);
    Put16(out, 45);
    Put32(out, 0);
    Put32(out, 0);
    Put64(out, count);
    Put64(out, count);
    Put64(out, dirSize);
    Put64(out, at.directory);
    at.locator = Position();
    Put32(out, 0x07064b50);
    Put32(out, 0);
    Put64(out, at.zip64End);
    Put32(out, 1);
  }
  at.end = Position();
  Put32(out, 0x06054b50);
  Put16(out, all ? 0xFFFF : 0);
  Put16(out, all ? 0xFFFF : 0);
  Put16(out, (all || countBig) ? 0xFFFF : static_cast<uint32_t>(count));
  Put16(out, (all || countBig) ? 0xFFFF : static_cast<uint32_t>(count));
  Put32(out, (all || sizeBig) ? kMax32 : static_cast<uint32_t>(dirSize));
  Put32(out, (all || offsetBig) ? kMax32 : static_cast<uint32_t>(at.directory));
  Put16(out, static_cast<uint32_t>(options.comment.size()));
  out += options.comment;
  return out;
}

}  // namespace zip_writer
