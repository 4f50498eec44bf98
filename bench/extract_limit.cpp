// The limit of an extraction: the package a launcher carries, unpacked with
// nothing but zlib and the file calls any extractor makes (one CreateFileW,
// a WriteFile per inflated piece, one CloseHandle per file, a folder per
// folder entry), with no window, no status text and no checks beyond the
// CRC-32. The launcher benchmark times this beside the launcher itself.
//
//   extract_limit.exe LAUNCHER.exe FOLDER
//
// Reads the package from LAUNCHER's "FILE_DATA"/"ZIPFILE" resource, in place
// in the mapped file as the launcher reads its own. Exit code 0 when every
// entry was written and checked.
#include <windows.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cwchar>

namespace {

// The launcher's reader hands out pieces of this size; the limit writes the
// same pieces.
constexpr uInt kPiece = 256 * 1024;

uint32_t Le(const uint8_t* p, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

// Makes every folder along path up to its last separator; only used when a
// file's folder had no entry of its own.
void MakeParents(wchar_t* path) {
  for (wchar_t* p = path + 3; *p; ++p) {
    if (*p != L'\\') continue;
    *p = 0;
    CreateDirectoryW(path, nullptr);
    *p = L'\\';
  }
}

bool WriteEntry(const wchar_t* path, const uint8_t* data, uint32_t method, uint32_t packed, uint32_t crc,
                uint32_t attributes, uint8_t* out) {
  DWORD flags = (attributes & 0xA7) | FILE_ATTRIBUTE_NORMAL;
  HANDLE f = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, flags, nullptr);
  if (f == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PATH_NOT_FOUND) {
    wchar_t copy[MAX_PATH];
    wcscpy(copy, path);
    MakeParents(copy);
    f = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, flags, nullptr);
  }
  if (f == INVALID_HANDLE_VALUE) return false;
  uLong check = crc32(0, nullptr, 0);
  DWORD done = 0;
  bool ok = true;
  if (method == 0) {
    for (uint32_t at = 0; at < packed && ok; at += kPiece) {
      uInt take = packed - at < kPiece ? packed - at : kPiece;
      check = crc32(check, data + at, take);
      ok = WriteFile(f, data + at, take, &done, nullptr) && done == take;
    }
  } else {
    z_stream z{};
    inflateInit2(&z, -MAX_WBITS);
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = packed;
    int status = Z_OK;
    while (status == Z_OK && ok) {
      z.next_out = out;
      z.avail_out = kPiece;
      status = inflate(&z, Z_NO_FLUSH);
      uInt got = kPiece - z.avail_out;
      check = crc32(check, out, got);
      if (got) ok = WriteFile(f, out, got, &done, nullptr) && done == got;
    }
    inflateEnd(&z);
    ok = ok && status == Z_STREAM_END;
  }
  CloseHandle(f);
  return ok && check == crc;
}

// Walks the central directory of the archive at zip (no ZIP64: the
// benchmark's packages are small) and writes every entry below folder.
// Returns the number of entries written, or -1 at the first failure.
int ExtractAll(const uint8_t* zip, uint32_t size, const wchar_t* folder) {
  if (size < 22) return -1;
  const uint8_t* end = zip + size - 22;
  while (end > zip && Le(end, 4) != 0x06054b50) --end;
  if (Le(end, 4) != 0x06054b50) return -1;
  uint32_t count = Le(end + 10, 2), at = Le(end + 16, 4);
  static uint8_t out[kPiece];
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* c = zip + at;
    if (Le(c, 4) != 0x02014b50) return -1;
    uint32_t method = Le(c + 10, 2), crc = Le(c + 16, 4), packed = Le(c + 20, 4);
    uint32_t nameLength = Le(c + 28, 2), extraLength = Le(c + 30, 2), commentLength = Le(c + 32, 2);
    uint32_t attributes = Le(c + 38, 4), local = Le(c + 42, 4);
    char name[512] = {};
    memcpy(name, c + 46, nameLength < 511 ? nameLength : 511);
    at += 46 + nameLength + extraLength + commentLength;

    wchar_t path[MAX_PATH];
    int used = swprintf(path, MAX_PATH, L"%ls\\", folder);
    if (!MultiByteToWideChar(CP_UTF8, 0, name, -1, path + used, MAX_PATH - used)) return -1;
    for (wchar_t* p = path; *p; ++p)
      if (*p == L'/') *p = L'\\';
    size_t length = wcslen(path);
    if (attributes & 0x10) {
      if (path[length - 1] == L'\\') path[length - 1] = 0;
      CreateDirectoryW(path, nullptr);
      continue;
    }
    const uint8_t* h = zip + local;
    const uint8_t* data = h + 30 + Le(h + 26, 2) + Le(h + 28, 2);
    if (!WriteEntry(path, data, method, packed, crc, attributes, out)) {
      fwprintf(stderr, L"extract_limit: entry %u failed\n", i);
      return -1;
    }
  }
  return static_cast<int>(count);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    fwprintf(stderr, L"usage: extract_limit LAUNCHER.exe FOLDER\n");
    return 2;
  }
  HMODULE module = LoadLibraryExW(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
  HRSRC found = module ? FindResourceW(module, L"ZIPFILE", L"FILE_DATA") : nullptr;
  const uint8_t* resource = found ? static_cast<const uint8_t*>(LockResource(LoadResource(module, found))) : nullptr;
  if (!resource) {
    fwprintf(stderr, L"extract_limit: no package in %ls\n", argv[1]);
    return 2;
  }
  uint32_t offset = Le(resource, 4), length = Le(resource + 4, 4);
  if (uint64_t(offset) + length > SizeofResource(module, found)) return 2;
  CreateDirectoryW(argv[2], nullptr);
  return ExtractAll(resource + offset, length, argv[2]) > 0 ? 0 : 1;
}
