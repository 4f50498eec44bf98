// The launcher benchmark's eye on the window: a message hook that the
// benchmark sets on the launcher's thread (Windows loads this DLL into the
// launcher for it). It counts the "Extracting file %i of %i" texts the
// splash window receives and notes when the first and the last came, in a
// shared block named after the launcher's process id.
#include <windows.h>

#include <cwchar>

#include "bench/text_counter.h"

namespace {

TextCount* Shared() {
  static TextCount* block = nullptr;
  static bool tried = false;
  if (tried) return block;
  tried = true;
  wchar_t name[64];
  TextCountName(name, GetCurrentProcessId());
  HANDLE map = OpenFileMappingW(FILE_MAP_WRITE, FALSE, name);
  if (map) block = static_cast<TextCount*>(MapViewOfFile(map, FILE_MAP_WRITE, 0, 0, sizeof(TextCount)));
  return block;
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK CountEntryTexts(int code, WPARAM wParam, LPARAM lParam) {
  const CWPSTRUCT* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
  if (code == HC_ACTION && sent->message == WM_SETTEXT && sent->lParam &&
      wcsncmp(reinterpret_cast<const wchar_t*>(sent->lParam), kEntryTextPrefix, kEntryTextPrefixLength) == 0) {
    if (TextCount* block = Shared()) {
      LARGE_INTEGER now;
      QueryPerformanceCounter(&now);
      if (block->texts++ == 0) block->first = now.QuadPart;
      block->last = now.QuadPart;
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}
