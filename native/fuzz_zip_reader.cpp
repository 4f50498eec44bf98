// libFuzzer target: opens the input as an archive, in memory and through the
// read-at-offset callback, and reads every entry's facts and data both ways.
// Sanitizers turn any read outside the input, overflow or leak into a
// crash, and so does any difference between the two readers' answers.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include <zlib.h>

#include "payload/zip_reader.h"

namespace {

// Counts output and stops a small archive that claims a huge entry, so one
// input cannot spend the whole run inflating; keeps a CRC-32 of what came.
struct Budget {
  uint64_t left;
  uLong crc;
};

bool CountingSink(void* context, const uint8_t* bytes, size_t count) {
  Budget* budget = static_cast<Budget*>(context);
  budget->crc = crc32(budget->crc, bytes, static_cast<uInt>(count));
  if (count >= budget->left) return false;
  budget->left -= count;
  return true;
}

struct Input {
  const uint8_t* data;
  size_t size;
};

// The callback may be asked only for bytes inside the archive.
bool ReadAt(void* context, uint64_t offset, void* buffer, size_t count) {
  const Input* in = static_cast<const Input*>(context);
  if (offset > in->size || count > in->size - offset) __builtin_trap();
  memcpy(buffer, in->data + offset, count);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ZipReader* memory = nullptr;
  ZipReader* offsets = nullptr;
  Input in{data, size};
  const ZipInput input = {ReadAt, &in, size};
  const ZipStatus opened = ZipOpen(data, size, &memory);
  if (ZipOpenInput(&input, &offsets) != opened) __builtin_trap();
  if (opened != ZipOk) return 0;
  const uint64_t count = ZipEntryCount(memory);
  if (ZipEntryCount(offsets) != count) __builtin_trap();
  Budget one{64u << 20, 0}, other{64u << 20, 0};
  for (uint64_t i = 0; i < count && i < 256; ++i) {
    ZipEntryInfo info, otherInfo;
    if (ZipStatEntry(memory, i, &info) != ZipOk) __builtin_trap();
    if (ZipStatEntry(offsets, i, &otherInfo) != ZipOk) __builtin_trap();
    if (info.name[info.nameLength] != 0) __builtin_trap();
    if (memcmp(&info, &otherInfo, sizeof info) != 0) __builtin_trap();
    const ZipStatus extracted = ZipExtractEntry(memory, i, CountingSink, &one);
    if (ZipExtractEntry(offsets, i, CountingSink, &other) != extracted) __builtin_trap();
    if (one.crc != other.crc || one.left != other.left) __builtin_trap();
  }
  ZipClose(memory);
  ZipClose(offsets);
  return 0;
}
