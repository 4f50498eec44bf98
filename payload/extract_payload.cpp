#include <windows.h>

#include "payload/extract_payload.h"

void ReportStage(const ExtractProgress* progress, const wchar_t* text) {
  if (progress && progress->stage) progress->stage(progress->context, text);
}

void ReportFailure(const ExtractProgress* progress, const ExtractFailure* failure) {
  if (progress && progress->failed) progress->failed(progress->context, failure);
}

int ExtractPayload(HINSTANCE module, const wchar_t* folder, const ExtractProgress* progress) {
  ReportStage(progress, L"Finding setup archive ...");
  HRSRC found = FindResourceW(module, L"ZIPFILE", L"FILE_DATA");
  if (!found) return 0;
  HGLOBAL loaded = LoadResource(module, found);
  if (!loaded) return 0;
  const void* data = LockResource(loaded);
  if (!data) return 0;
  // The header's offset and length are checked against this size, so that a
  // damaged header never makes the reader look past the resource.
  DWORD size = SizeofResource(module, found);
  return ExtractPackage(data, size, folder, progress);
}
