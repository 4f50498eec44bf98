// Builds launcher packages in memory for tests and benchmarks: a 16-byte
// header (archive offset, archive length, 8 zero bytes) and a ZIP archive
// written the way common tools write one, with switches for the damaged
// forms the extraction must refuse. Entry content may be given whole or made
// piece by piece by a generator, so that huge entries cost only their
// compressed size.
#pragma once
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

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

inline void Put(std::string& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
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
  std::vector<uint8_t> piece(1 << 20), out(1 << 20);
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
    if (!e.deflate) {
      r.bytes.append(reinterpret_cast<const char*>(src), n);
      continue;
    }
    z.next_in = const_cast<Bytef*>(src);
    z.avail_in = static_cast<uInt>(n);
    int flush = at == total ? Z_FINISH : Z_NO_FLUSH;
    int status;
    do {
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
      status = deflate(&z, flush);
      r.bytes.append(reinterpret_cast<const char*>(out.data()), out.size() - z.avail_out);
    } while (z.avail_out == 0 || (flush == Z_FINISH && status != Z_STREAM_END));
  } while (at < total);
  if (e.deflate) deflateEnd(&z);
  r.size = total;
  return r;
}

// The ZIP archive of the entries, with UTF-8 names (bit 11) and MS-DOS as
// the host, so that the external attributes are the MS-DOS attribute byte.
inline std::string BuildZip(const std::vector<PackageEntry>& entries) {
  std::string zip, central;
  for (const PackageEntry& e : entries) {
    Encoded enc = Encode(e);
    uint32_t crc = enc.crc ^ e.crcFlip;
    uint16_t method = e.method != 0xFFFF ? e.method : (e.deflate ? 8 : 0);
    uint16_t flags = 0x0800 | (e.descriptor ? 0x0008 : 0) | e.extraFlags;
    uint16_t version = e.zip64 ? 45 : 20;
    uint64_t offset = zip.size();
    uint32_t small32 = e.zip64 ? 0xFFFFFFFFu : 0;
    std::string extra;
    if (e.zip64) {
      Put(extra, 1, 2);
      Put(extra, 16, 2);
      Put(extra, e.descriptor ? 0 : enc.size, 8);
      Put(extra, e.descriptor ? 0 : enc.bytes.size(), 8);
    }
    Put(zip, 0x04034b50, 4);
    Put(zip, version, 2);
    Put(zip, flags, 2);
    Put(zip, method, 2);
    Put(zip, 0, 2);        // time
    Put(zip, 0x21, 2);     // date: 1980-01-01
    Put(zip, e.descriptor ? 0 : crc, 4);
    Put(zip, e.zip64 ? small32 : (e.descriptor ? 0 : enc.bytes.size()), 4);
    Put(zip, e.zip64 ? small32 : (e.descriptor ? 0 : enc.size), 4);
    Put(zip, e.name.size(), 2);
    Put(zip, extra.size(), 2);
    zip += e.name;
    zip += extra;
    zip += enc.bytes;
    if (e.descriptor) {
      Put(zip, 0x08074b50, 4);
      Put(zip, crc, 4);
      Put(zip, enc.bytes.size(), e.zip64 ? 8 : 4);
      Put(zip, enc.size, e.zip64 ? 8 : 4);
    }
    std::string centralExtra;
    if (e.zip64) {
      Put(centralExtra, 1, 2);
      Put(centralExtra, 16, 2);
      Put(centralExtra, enc.size, 8);
      Put(centralExtra, enc.bytes.size(), 8);
    }
    Put(central, 0x02014b50, 4);
    Put(central, version, 2);  // made by MS-DOS
    Put(central, version, 2);
    Put(central, flags, 2);
    Put(central, method, 2);
    Put(central, 0, 2);
    Put(central, 0x21, 2);
    Put(central, crc, 4);
    Put(central, e.zip64 ? small32 : enc.bytes.size(), 4);
    Put(central, e.zip64 ? small32 : enc.size, 4);
    Put(central, e.name.size(), 2);
    Put(central, centralExtra.size(), 2);
    Put(central, 0, 2);  // comment
    Put(central, 0, 2);  // disk
    Put(central, 0, 2);  // internal attributes
    Put(central, e.attributes, 4);
    Put(central, offset, 4);
    central += e.name;
    central += centralExtra;
  }
  uint64_t centralOffset = zip.size();
  zip += central;
  Put(zip, 0x06054b50, 4);
  Put(zip, 0, 2);
  Put(zip, 0, 2);
  Put(zip, entries.size(), 2);
  Put(zip, entries.size(), 2);
  Put(zip, central.size(), 4);
  Put(zip, centralOffset, 4);
  Put(zip, 0, 2);
  return zip;
}

// The resource: header, then the archive.
inline std::string WrapPackage(const std::string& zip) {
  std::string package;
  Put(package, 16, 4);
  Put(package, zip.size(), 4);
  Put(package, 0, 8);
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
