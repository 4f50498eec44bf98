// zip_check FILE...: opens each archive with the ZIP reader and extracts
// every entry, printing one line per archive. Exits 1 when any archive or
// entry is refused: the seed archives that real tools wrote must all read.
#include <cstdio>
#include <vector>

#include "payload/zip_reader.h"

namespace {

bool DiscardSink(void*, const uint8_t*, size_t) { return true; }

// Reads the whole file; false when it cannot be read.
bool ReadFile(const char* path, std::vector<char>* bytes) {
  FILE* file = fopen(path, "rb");
  if (!file) return false;
  char buffer[65536];
  size_t got = 0;
  while ((got = fread(buffer, 1, sizeof buffer, file)) > 0) bytes->insert(bytes->end(), buffer, buffer + got);
  const bool ok = !ferror(file);
  fclose(file);
  return ok;
}

// Opens and extracts one archive; prints and returns its first failure.
ZipStatus CheckArchive(const char* path) {
  std::vector<char> bytes;
  if (!ReadFile(path, &bytes)) {
    printf("%s: cannot be read\n", path);
    return ZipErrArgument;
  }
  ZipReader* reader = nullptr;
  ZipStatus status = ZipOpen(bytes.data(), bytes.size(), &reader);
  const uint64_t count = ZipEntryCount(reader);
  for (uint64_t i = 0; status == ZipOk && i < count; ++i) {
    status = ZipExtractEntry(reader, i, DiscardSink, nullptr);
    if (status != ZipOk) {
      ZipEntryInfo info;
      if (ZipStatEntry(reader, i, &info) == ZipOk) printf("%s: entry %s\n", path, info.name);
    }
  }
  ZipClose(reader);
  printf("%s: %llu entries, %s\n", path, static_cast<unsigned long long>(count),
         ZipStatusText(status));
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  int failures = 0;
  for (int i = 1; i < argc; ++i)
    if (CheckArchive(argv[i]) != ZipOk) ++failures;
  return failures == 0 && argc > 1 ? 0 : 1;
}
