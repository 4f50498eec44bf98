#include <windows.h>

#include "launcher/launch_sequence.h"
#include "payload/extract_payload.h"
#include "splash/splash_window.h"

int ExtractPayload(const wchar_t* folder) {
  SetStatusText(L"Finding setup archive ...");
  HRSRC found = FindResourceW(ModuleInstance, L"ZIPFILE", L"FILE_DATA");
  if (!found) return 0;
  HGLOBAL loaded = LoadResource(ModuleInstance, found);
  if (!loaded) return 0;
  const void* data = LockResource(loaded);
  if (!data) return 0;
  // The header's offset and length are checked against this size, so that a
  // damaged header never makes the reader look past the resource.
  DWORD size = SizeofResource(ModuleInstance, found);
  return ExtractPackage(data, size, folder);
}
