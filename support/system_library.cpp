#include "support/system_library.h"

#include "support/path_utils.h"

HMODULE LoadSystemLibrary(const wchar_t* name) {
  HMODULE module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module) return module;
  // Systems without the search flags refuse them; name the file in full and
  // let its own dependencies come from its folder.
  wchar_t path[kWidePathCapacity] = {};
  const UINT length = GetSystemDirectoryW(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH || StrAppendBounded(path, kWidePathCapacity, L"\\") != kStrOk ||
      StrAppendBounded(path, kWidePathCapacity, name) != kStrOk)
    return nullptr;
  return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
