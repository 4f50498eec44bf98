// UTF-8 text turned into the UTF-16 units that Windows uses for names and
// resource strings. The units sit in a std::wstring on every platform (one
// unit per element), so the launcher's own name checks run on them as they
// do on Windows.
#pragma once
#include <string>

namespace sfx {

// Strict conversion: false for invalid UTF-8 (truncated or overlong
// sequences, encoded surrogates, values past U+10FFFF).
bool Utf8ToUnits(const std::string& utf8, std::wstring* units);

// UTF-16 units back to UTF-8; a lone surrogate becomes U+FFFD.
std::string UnitsToUtf8(const std::wstring& units);

// Appends the units as UTF-16LE bytes.
void PutUnits(std::string& out, const std::wstring& units);

// One unit in the letter case that name comparisons on Windows ignore:
// every unit of the Basic Multilingual Plane with a simple uppercase
// mapping in Unicode becomes that capital (upper_case_table.inc), a superset
// of the upcase table NTFS compares names with.
wchar_t FoldUnit(wchar_t unit);
std::wstring FoldUnits(const std::wstring& units);

}  // namespace sfx
