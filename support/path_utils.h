// The path and string toolkit: bounded UTF-16 string operations with
// HRESULT-style results, blank trimming, quiet attribute queries, existence
// tests, an in-place path join and the creation of a path's parent folders.
// Every operation that writes takes its target's capacity and never writes
// past it; a cut result is always terminated.
#pragma once
#include <windows.h>

// Capacity of a wide path buffer: MAX_PATH plus 16 units of slack.
constexpr unsigned kWidePathCapacity = 276;

constexpr HRESULT kStrOk = 0;                                         // S_OK
constexpr HRESULT kStrCut = static_cast<HRESULT>(0x8007007A);         // insufficient buffer
constexpr HRESULT kStrInvalid = static_cast<HRESULT>(0x80070057);     // E_INVALIDARG

HRESULT StrCopyBounded(wchar_t* target, size_t capacity, const wchar_t* source);
HRESULT StrAppendBounded(wchar_t* target, size_t capacity, const wchar_t* source);
HRESULT StrFormatBounded(wchar_t* target, size_t capacity, const wchar_t* format, ...);
HRESULT StrLengthBounded(const wchar_t* text, size_t capacity, size_t* length);

bool IsBadText(const wchar_t* text);
wchar_t* TrimBlanks(wchar_t* text);
DWORD QuietAttributes(const wchar_t* path);
int FileExists(const wchar_t* path);
int DirectoryExists(const wchar_t* path);
wchar_t* JoinPath(wchar_t* base, size_t capacity, wchar_t* tail);
wchar_t* CreateParentDirectories(wchar_t* path);
