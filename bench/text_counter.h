// What the text counter (bench/text_counter.cpp, a hook DLL in the launcher)
// shares with the launcher benchmark.
#pragma once
#include <windows.h>

#include <cstdint>
#include <cwchar>

constexpr wchar_t kEntryTextPrefix[] = L"Extracting file ";
constexpr size_t kEntryTextPrefixLength = sizeof kEntryTextPrefix / sizeof kEntryTextPrefix[0] - 1;

// The shared block: written by the launcher's thread only, read by the
// benchmark after the launcher has stopped.
struct TextCount {
  uint32_t texts;  // "Extracting file" texts the window received
  int64_t first;   // performance counter at the first and the last of them
  int64_t last;
};

// The name of the block for the launcher with process id pid (64 units).
inline void TextCountName(wchar_t* name, DWORD pid) { swprintf(name, 64, L"Local\\qln_bench_texts_%08lx", pid); }
