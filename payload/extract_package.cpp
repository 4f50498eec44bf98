#include <windows.h>

#include <cstring>

#include "support/path_utils.h"
#include "payload/extract_payload.h"
#include "payload/zip_reader.h"
#include "support/fault_guard.h"

namespace {

constexpr size_t kNameUnits = MAX_PATH;        // converted names and target paths
constexpr size_t kJoinUnits = 2 * MAX_PATH;    // room to see that a join would not fit
constexpr DWORD kFolderAttribute = 0x10;       // MS-DOS directory bit
constexpr DWORD kCarriedAttributes = 0xA7;     // read-only, hidden, system, archive (and 0x80)

// One extraction's working state. It lives outside the fault-guarded region
// so that a fault inside can still close and delete the entry's file.
struct Extraction {
  const ExtractProgress* progress;
  ZipReader* reader;
  uint64_t count;
  const wchar_t* folder;
  ZipEntryInfo info;
  wchar_t name[kNameUnits];
  wchar_t target[kNameUnits];
  HANDLE file;         // the entry being written; INVALID_HANDLE_VALUE between entries
  uint64_t written;    // bytes of all entries so far, for the progress report
  uint64_t total;
  // What failed, for the caller's record (ExtractFailure).
  uint32_t number;     // the entry begun last, 1-based
  const wchar_t* failedStep;
  ZipStatus failedStatus;
  DWORD failedError;   // read right after the failing call
};

// Notes what failed and returns false, for the failure roads below.
bool Failed(Extraction* x, const wchar_t* step, ZipStatus status, DWORD error) {
  x->failedStep = step;
  x->failedStatus = status;
  x->failedError = error;
  return false;
}

// Receives the inflated pieces of one entry (the reader's fixed-size output
// block) and writes each straight into the entry's file.
bool WritePiece(void* context, const uint8_t* bytes, size_t count) {
  Extraction* x = static_cast<Extraction*>(context);
  while (count > 0) {
    DWORD take = count > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count);
    DWORD done = 0;
    WriteFile(x->file, bytes, take, &done, nullptr);
    // The count decides, not the call's own result.
    if (done != take) {
      x->failedError = GetLastError();
      return false;
    }
    bytes += take;
    count -= take;
    x->written += take;
  }
  if (x->progress && x->progress->bytes) x->progress->bytes(x->progress->context, x->written, x->total);
  return true;
}

// Closes the entry's file; a file whose entry failed is deleted, so that no
// half-written file is ever taken for a whole one.
void CloseEntryFile(Extraction* x, bool keep) {
  if (x->file == INVALID_HANDLE_VALUE) return;
  CloseHandle(x->file);
  x->file = INVALID_HANDLE_VALUE;
  if (keep) return;
  SetFileAttributesW(x->target, FILE_ATTRIBUTE_NORMAL);
  DeleteFileW(x->target);
}

// Builds the entry's target path from its converted name. False when the
// name would leave the folder or the path does not fit MAX_PATH whole.
bool BuildTarget(Extraction* x) {
  if (!IsSafeEntryName(x->name)) return false;
  wchar_t joined[kJoinUnits];
  if (StrCopyBounded(joined, kJoinUnits, x->folder) != kStrOk) return false;
  JoinPath(joined, kJoinUnits, x->name);
  size_t length = 0;
  if (StrLengthBounded(joined, kJoinUnits, &length) != kStrOk || length >= kNameUnits) return false;
  return StrCopyBounded(x->target, kNameUnits, joined) == kStrOk;
}

// The folders along an entry's path are made only when its file or folder
// could not be made for want of them (the call's last error), not asked
// about for every entry: most packages carry each folder's own entry before
// the files in it, and a query per folder level costs about what writing a
// small file does.
bool MadeMissingParents(wchar_t* target) {
  if (GetLastError() != ERROR_PATH_NOT_FOUND) return false;
  CreateParentDirectories(target);
  return true;
}

// A folder entry makes its folder, and the folders along its path. True
// when a folder stands there afterwards.
bool MakeFolderEntry(Extraction* x) {
  wchar_t folder[kNameUnits];
  StrCopyBounded(folder, kNameUnits, x->target);
  size_t length = wcslen(folder);
  while (length > 0 && folder[length - 1] == L'\\') folder[--length] = 0;
  if (CreateDirectoryW(folder, nullptr)) return true;
  DWORD error = GetLastError();
  if (MadeMissingParents(x->target)) {
    if (CreateDirectoryW(folder, nullptr)) return true;
    error = GetLastError();
  }
  // Already there: a folder from an earlier entry will do, a file will not.
  if (DirectoryExists(folder)) return true;
  return Failed(x, L"making the entry's folder", ZipOk, error);
}

HANDLE CreateEntryFile(const wchar_t* target, DWORD attributes) {
  return CreateFileW(target, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, attributes, nullptr);
}

// Writes one file entry. The reader's success vouches for the whole file: it
// checks the size and CRC-32 (an empty entry included), and WritePiece stops
// it at the first piece that did not reach the file whole.
bool ExtractFileEntry(Extraction* x, uint64_t index) {
  DWORD attributes = (x->info.externalAttributes & kCarriedAttributes) | FILE_ATTRIBUTE_NORMAL;
  x->file = CreateEntryFile(x->target, attributes);
  if (x->file == INVALID_HANDLE_VALUE && MadeMissingParents(x->target))
    x->file = CreateEntryFile(x->target, attributes);
  if (x->file == INVALID_HANDLE_VALUE)
    return Failed(x, L"creating the entry's file", ZipOk, GetLastError());
  x->failedError = 0;
  const ZipStatus status = ZipExtractEntry(x->reader, index, WritePiece, x);
  const bool whole = status == ZipOk;
  CloseEntryFile(x, whole);
  if (whole) return true;
  // A sink that refused means a write fell short: WritePiece kept its error.
  return Failed(x, status == ZipErrSinkRefused ? L"writing the entry's file" : L"reading the entry's data",
                status, x->failedError);
}

// Steps every entry in index order. False at the first entry that fails.
bool ExtractEntries(Extraction* x) {
  const uint32_t count = static_cast<uint32_t>(x->count);
  const ExtractProgress* progress = x->progress;
  for (uint32_t i = 0; i < count; ++i) {
    x->number = i + 1;
    x->name[0] = L'\0';
    if (progress && progress->entry) progress->entry(progress->context, i + 1, count);
    const ZipStatus stat = ZipStatEntry(x->reader, i, &x->info);
    if (stat != ZipOk) return Failed(x, L"reading the entry's record", stat, 0);
    // A name that does not convert whole (the byte-copy fallback) is refused.
    if (Utf8ToWide(x->name, x->info.name) <= 0) {
      x->name[0] = L'\0';
      return Failed(x, L"converting the entry's name", ZipErrBadName, 0);
    }
    if (!BuildTarget(x)) return Failed(x, L"placing the entry: its name leaves the folder or is too long", ZipOk, 0);
    if (x->info.externalAttributes & kFolderAttribute) {
      if (!MakeFolderEntry(x)) return false;
      continue;
    }
    if (!ExtractFileEntry(x, i)) return false;
  }
  return true;
}

int Finish(const ExtractProgress* progress, const wchar_t* status, int result) {
  ReportStage(progress, status);
  return result;
}

// Reports a failure before any entry was begun, then the failed stage.
int FailEarly(const ExtractProgress* progress, const wchar_t* step, ZipStatus status) {
  const ExtractFailure failure = {step, 0, 0, L"", status, ZipStatusText(status), 0};
  ReportFailure(progress, &failure);
  return Finish(progress, L"Extraction failed!!!", 0);
}

uint32_t ReadLittle32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

int ExtractPackage(const void* resourceData, uint32_t resourceSize, const wchar_t* folder,
                   const ExtractProgress* progress) {
  ReportStage(progress, L"Loading setup archive ...");
  const uint8_t* resource = static_cast<const uint8_t*>(resourceData);
  if (!resource || !folder || resourceSize < 8)
    return FailEarly(progress, L"reading the package header", ZipErrArgument);
  uint32_t offset = ReadLittle32(resource);
  uint32_t length = ReadLittle32(resource + 4);
  if (uint64_t(offset) + length > resourceSize)
    return FailEarly(progress, L"reading the package header: the archive lies beyond it", ZipErrArgument);

  ZipReader* reader = nullptr;
  ZipStatus opened = ZipErrBadEndRecord;
  if (!RunGuarded([&] { opened = ZipOpen(resource + offset, length, &reader); }))
    return FailEarly(progress, L"opening the archive: a processor fault", ZipErrBadDirectory);
  if (opened != ZipOk) return FailEarly(progress, L"opening the archive", opened);

  ReportStage(progress, L"Extracting files ...");
  Extraction x;
  memset(&x, 0, sizeof x);
  x.progress = progress;
  x.reader = reader;
  x.count = ZipEntryCount(reader);
  x.folder = folder;
  x.file = INVALID_HANDLE_VALUE;
  x.total = ZipTotalSize(reader);
  if (progress && progress->bytes) progress->bytes(progress->context, 0, x.total);
  // An archive without entries is a failed extraction, not an empty success.
  bool done = false;
  if (x.count == 0 || x.count > 0x7FFFFFFF)
    Failed(&x, x.count == 0 ? L"opening the archive: it holds no entries" : L"opening the archive: too many entries",
           ZipOk, 0);
  else if (!RunGuarded([&x, &done] { done = ExtractEntries(&x); }))
    Failed(&x, L"extracting: a processor fault", ZipOk, 0);
  CloseEntryFile(&x, false);  // only still open when a fault ended the entry
  ZipClose(reader);
  if (done) return Finish(progress, L"Extraction complete!!!", 1);
  const ExtractFailure failure = {x.failedStep ? x.failedStep : L"extracting", x.number,
                                  static_cast<uint32_t>(x.count), x.name, x.failedStatus,
                                  ZipStatusText(x.failedStatus), x.failedError};
  ReportFailure(progress, &failure);
  return Finish(progress, L"Extraction failed!!!", 0);
}
