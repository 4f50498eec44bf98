// DLLs that the program does not import but looks up when the system has
// them, loaded from the system folder only.
#pragma once
#include <windows.h>

// Loads name (a bare file name such as L"shcore.dll") from the system
// folder, never from the program's folder or the current directory. Null
// when the system has no such DLL. The module stays loaded for the life of
// the process: callers keep the functions they look up in it.
HMODULE LoadSystemLibrary(const wchar_t* name);

// The function name exported by module, as the pointer type Fn; null when
// module is null or does not export it. The cast goes through void*, since
// FARPROC converts to no other function type cleanly.
template <typename Fn>
Fn ModuleProcedure(HMODULE module, const char* name) {
  return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}
