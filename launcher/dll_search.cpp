#include "launcher/dll_search.h"

#include <windows.h>

// SetDefaultDllDirectories exists from Windows 8 on, and on Windows 7 and
// Vista only with KB2533623; it is looked up so that the program still starts
// without it. SetDllDirectoryW(L"") then still takes the current directory
// out of the search order on every system.
void HardenDllSearch() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  FARPROC found = kernel ? GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr;
  // Through void (*)(): the one function type GCC accepts any cast from.
  auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void (*)()>(found));
  if (setDefault) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
  SetDllDirectoryW(L"");
}
