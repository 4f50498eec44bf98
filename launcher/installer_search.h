// The search for the installer "Setup.exe" in the unpacked workspace.
#pragma once
#include <cstddef>

// Looks for the installer in workspace: "Setup.exe" at its top level, then a
// top-level entry whose name ends in "Setup.exe", then "Setup.exe" one
// folder level down. scratch and installer are wide path buffers (276 units);
// scratch receives the search patterns. True when installer holds the path
// of an existing file or folder to use.
bool LocateInstaller(const wchar_t* workspace, wchar_t* scratch, wchar_t* installer);

// Resolves pattern, whose components may hold "*" and "?", to the first
// existing file or folder that matches, in the platform's enumeration order.
// Returns 1 with that path in out (capacity units), or 0 with out unchanged.
// The entries "." and ".." never stand for a wildcard component, so a search
// never climbs out of the folder it was given; candidates and results that
// do not fit their buffers are passed over, never used cut.
int FindByPattern(const wchar_t* pattern, wchar_t* out, size_t capacity);
