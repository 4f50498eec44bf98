// Entry names come from the package and are not trusted: one that would
// leave the workspace, or reach a device instead of a file, is refused.
#include <cstddef>
#include <cwctype>

#include "payload/entry_name.h"

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

// The system drops trailing dots and blanks from a component, so ". ." and
// ".. " are "." and ".." in disguise; such a component is refused whole.
bool OnlyDotsAndBlanks(const wchar_t* begin, const wchar_t* end) {
  for (const wchar_t* p = begin; p < end; ++p)
    if (*p != L'.' && !IsBlank(*p)) return false;
  return true;
}

bool SameLetters(const wchar_t* text, size_t length, const wchar_t* upper) {
  for (size_t i = 0; i < length; ++i)
    if (!upper[i] || static_cast<wchar_t>(std::towupper(text[i])) != upper[i]) return false;
  return upper[length] == 0;
}

// Digits that the system accepts after COM and LPT, superscripts included.
bool IsPortDigit(wchar_t c) { return (c >= L'1' && c <= L'9') || c == 0xB9 || c == 0xB2 || c == 0xB3; }

// "NUL", "nul.txt", "COM1 .log": the part before the first dot, without
// trailing blanks, names a device whatever the extension.
bool NamesDevice(const wchar_t* begin, const wchar_t* end) {
  const wchar_t* stem = begin;
  while (stem < end && *stem != L'.') ++stem;
  while (stem > begin && IsBlank(stem[-1])) --stem;
  size_t length = static_cast<size_t>(stem - begin);
  static const wchar_t* const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
  for (const wchar_t* device : kDevices)
    if (SameLetters(begin, length, device)) return true;
  return length == 4 && (SameLetters(begin, 3, L"COM") || SameLetters(begin, 3, L"LPT")) &&
         IsPortDigit(begin[3]);
}

}  // namespace

bool IsSafeEntryName(const wchar_t* name) {
  if (!name || !*name) return false;
  // Leading blanks are trimmed when the name is joined to the folder, so
  // " /x" would be absolute too.
  const wchar_t* p = name;
  while (IsBlank(*p)) ++p;
  if (IsSeparator(*p)) return false;
  for (const wchar_t* c = name; *c; ++c)
    if (*c == L':') return false;  // drive letters and alternate streams
  p = name;
  while (*p) {
    const wchar_t* end = p;
    while (*end && !IsSeparator(*end)) ++end;
    // An empty component (a doubled or the closing separator) adds nothing.
    if (end > p && (OnlyDotsAndBlanks(p, end) || NamesDevice(p, end))) return false;
    p = *end ? end + 1 : end;
  }
  return true;
}
