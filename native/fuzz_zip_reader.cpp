// libFuzzer target: opens the input as an archive and reads every entry's
// facts and data. Sanitizers turn any read outside the input, overflow or
// leak into a crash.
#include <cstddef>
#include <cstdint>

#include "payload/zip_reader.h"

namespace {

// Counts output and stops a small archive that claims a huge entry, so one
// input cannot spend the whole run inflating.
struct Budget {
  uint64_t left;
};

bool CountingSink(void* context, const uint8_t* bytes, size_t count) {
  Budget* budget = static_cast<Budget*>(context);
  volatile uint8_t touch = bytes[0] ^ bytes[count - 1];
  (void)touch;
  if (count >= budget->left) return false;
  budget->left -= count;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ZipReader* reader = nullptr;
  if (ZipOpen(data, size, &reader) != ZipOk) return 0;
  Budget budget{64u << 20};
  const uint64_t count = ZipEntryCount(reader);
  for (uint64_t i = 0; i < count && i < 256; ++i) {
    ZipEntryInfo info;
    if (ZipStatEntry(reader, i, &info) != ZipOk) __builtin_trap();
    if (info.name[info.nameLength] != 0) __builtin_trap();
    ZipExtractEntry(reader, i, CountingSink, &budget);
  }
  ZipClose(reader);
  return 0;
}
