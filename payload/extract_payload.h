// Payload extraction: the package carried in the program's resources is
// unpacked entry by entry below the workspace folder, each entry streamed in
// pieces straight into its file, reporting what it does to its caller.
#pragma once
#include <windows.h>

#include <cstdint>

#include "payload/entry_name.h"

// Why an extraction failed, as far as it knows: what it was doing, the
// entry it was at, the archive reader's status and the system's error code,
// the latter read right after the call that failed. Strings are the
// caller's only during the call.
struct ExtractFailure {
  const wchar_t* step;      // in words: "opening the archive", "writing the entry's file", ...
  uint32_t entryNumber;     // 1 to count; 0 when no entry was begun
  uint32_t entryCount;
  const wchar_t* entryName; // the entry's name as converted; "" when not known
  int readerStatus;         // the reader's ZipStatus; 0 (ZipOk) when the reader was not at fault
  const char* readerText;   // ZipStatusText of it
  uint32_t systemError;     // 0 when no system call failed
};

// What extraction reports while it runs, to whoever shows it. Extraction
// knows no window: the caller decides what reaches the screen, and when.
// Any member may be null; context is handed back to each call unchanged.
struct ExtractProgress {
  void* context;
  // A stage: "Finding setup archive ...", "Loading setup archive ...",
  // "Extracting files ...", and last "Extraction complete!!!" or
  // "Extraction failed!!!". The text is the caller's only during the call.
  void (*stage)(void* context, const wchar_t* text);
  // Entry number (1 to count, in index order) is begun; folder entries
  // count like files. Called once per entry, before its file is opened.
  void (*entry)(void* context, uint32_t number, uint32_t count);
  // written bytes of all entries so far, of total; called after each piece
  // written, so also inside one large entry.
  void (*bytes)(void* context, uint64_t written, uint64_t total);
  // Once, before the "Extraction failed!!!" stage, with what is known of
  // the failure. Not called when the resource is missing (ExtractPayload's
  // own stage says so) or when extraction succeeds.
  void (*failed)(void* context, const ExtractFailure* failure);
};

// Finds the resource "FILE_DATA"/"ZIPFILE" in module and unpacks it into
// folder (a path without trailing separator). Returns 1 when every entry was
// written, 0 otherwise. With no resource the last stage reported is
// "Finding setup archive ..."; every later failure ends on "Extraction
// failed!!!". progress may be null.
int ExtractPayload(HINSTANCE module, const wchar_t* folder, const ExtractProgress* progress);

// Everything after the resource lookup: resourceData holds the 16-byte
// header (archive offset, archive length, 8 zero bytes) and the archive;
// both header fields must lie within resourceSize. The memory is read in
// place, never copied. Returns 1 or 0 as ExtractPayload does. Files written
// before a failure stay (the caller removes the whole folder); a file whose
// entry failed is deleted.
int ExtractPackage(const void* resourceData, uint32_t resourceSize, const wchar_t* folder,
                   const ExtractProgress* progress);

// Reports failure to progress, when it takes failures.
void ReportFailure(const ExtractProgress* progress, const ExtractFailure* failure);

// Reports text to progress, when it takes stages.
void ReportStage(const ExtractProgress* progress, const wchar_t* text);
