// Builds launcher packages in memory for tests and benchmarks: a 16-byte
// header (archive offset, archive length, 8 zero bytes) and a ZIP archive
// (zip_writer.h) laid out the way common tools write one, with switches for
// the damaged forms the extraction must refuse. Entry content may be given whole or made
// piece by piece by a generator, so that huge entries cost only their
// compressed size.
#pragma once
#include <zlib.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tests/payload/zip_writer.h"

namespace package_builder {

// Fills out with count bytes of an entry's content starting at offset.
typedef void (*ContentGenerator)(uint64_t offset, uint8_t* out, size_t count);

struct PackageEntry {
  std::string name;                   // UTF-8, as stored
  std::string data;                   // the content, unless a generator makes it
  ContentGenerator generator = nullptr;
  uint64_t generatedSize = 0;         // with a generator
  uint32_t attributes = 0x20;         // external attributes (MS-DOS byte)
  bool deflate = true;
  bool descriptor = false;            // sizes and CRC after the data
  bool zip64 = false;                 // sizes in a ZIP64 extra field
  uint16_t method = 0xFFFF;           // stored method field, when it must lie
  uint16_t extraFlags = 0;            // e.g. 1: encrypted
  uint32_t crcFlip = 0;               // XORed into the stored CRC
  int level = 6;                      // deflate level
};

inline PackageEntry Folder(const std::string& name) {
  PackageEntry e;
  e.name = name;
  e.attributes = 0x10;
  e.deflate = false;
  return e;
}

inline PackageEntry File(const std::string& name, const std::string& data, uint32_t attributes = 0x20) {
  PackageEntry e;
  e.name = name;
  e.data = data;
  e.attributes = attributes;
  return e;
}

struct Encoded {
  std::string bytes;
  uint32_t crc = 0;
  uint64_t size = 0;
};

// Stores or raw-deflates the entry's content, 1 MiB at a time.
inline Encoded Encode(const PackageEntry& e) {
  Encoded r;
  r.crc = crc32(0, nullptr, 0);
  z_stream z{};
  if (e.deflate) deflateInit2(&z, e.level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::vector<uint8_t> piece(1 << 20);
  uint64_t total = e.generator ? e.generatedSize : e.data.size();
  uint64_t at = 0;
  do {
    size_t n = static_cast<size_t>(total - at < piece.size() ? total - at : piece.size());
    const uint8_t* src = reinterpret_cast<const uint8_t*>(e.data.data()) + at;
    if (e.generator) {
      e.generator(at, piece.data(), n);
      src = piece.data();
    }
    r.crc = crc32(r.crc, src, static_cast<uInt>(n));
    at += n;
    if (e.deflate)
      zip_writer::DeflatePiece(&z, src, n, at == total, &r.bytes);
    else
      r.bytes.append(reinterpret_cast<const char*>(src), n);
  } while (at < total);
  if (e.deflate) deflateEnd(&z);
  r.size = total;
  return r;
}

// The entry as the archive writer takes it: UTF-8 name (bit 11), MS-DOS as
// the host, so that the external attributes are the MS-DOS attribute byte,
// and a ZIP64 extra field in the directory with the two sizes only.
inline zip_writer::WriterEntry ToWriterEntry(const PackageEntry& e) {
  Encoded enc = Encode(e);
  zip_writer::WriterEntry w;
  w.name = e.name;
  w.crc = enc.crc ^ e.crcFlip;
  w.compressedSize = enc.bytes.size();
  w.uncompressedSize = enc.size;
  w.data = std::move(enc.bytes);
  w.method = e.method != 0xFFFF ? e.method : (e.deflate ? 8 : 0);
  w.flags = static_cast<uint16_t>(0x0800 | e.extraFlags);
  w.externalAttributes = e.attributes;
  w.descriptor = e.descriptor;
  w.descriptorWide = e.zip64;
  w.zip64 = e.zip64;
  w.zip64SizesOnly = true;
  w.madeBy = e.zip64 ? 45 : 20;
  w.dosDateTime = 0x21u << 16;  // 1980-01-01 00:00
  return w;
}

// The ZIP archive of the entries.
inline std::string BuildZip(const std::vector<PackageEntry>& entries) {
  std::vector<zip_writer::WriterEntry> written;
  written.reserve(entries.size());
  for (const PackageEntry& e : entries) written.push_back(ToWriterEntry(e));
  return zip_writer::BuildArchive(written);
}

// The resource: header, then the archive.
inline std::string WrapPackage(const std::string& zip) {
  std::string package;
  zip_writer::Put32(package, 16);
  zip_writer::Put32(package, static_cast<uint32_t>(zip.size()));
  zip_writer::Put64(package, 0);
  return package + zip;
}

inline std::string BuildPackage(const std::vector<PackageEntry>& entries) {
  return WrapPackage(BuildZip(entries));
}

// Deterministic bytes: text-like when text is set, else noise.
inline std::string Pseudo(size_t size, uint32_t seed, bool text) {
  static const char kWords[] = "quillane setup package entry folder data ";
  std::string s(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    s[i] = text ? kWords[x % (sizeof kWords - 1)] : static_cast<char>(x >> 24);
  }
  return s;
}

}  // namespace package_builder
