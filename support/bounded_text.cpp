// Bounded UTF-16 string operations, the bad-text test and blank trimming.
#include <cstdarg>
#include <cstdio>
#include <cwchar>

#include "support/path_utils.h"
#include "support/fault_guard.h"

namespace {

// Counts above this are rejected, as the classic safe-string functions do:
// a huge count is almost always a negative value or a byte count in disguise.
constexpr size_t kMaxCapacity = 0x7FFFFFFF;

bool CapacityValid(size_t capacity) { return capacity != 0 && capacity <= kMaxCapacity; }

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

}  // namespace

// Copies source into target (capacity units). Returns kStrOk, kStrCut (cut and
// terminated at capacity - 1) or kStrInvalid (target untouched). A null source
// counts as an empty text.
HRESULT StrCopyBounded(wchar_t* target, size_t capacity, const wchar_t* source) {
  if (!target || !CapacityValid(capacity)) return kStrInvalid;
  if (!source) source = L"";
  size_t i = 0;
  for (; i + 1 < capacity; ++i) {
    if (source[i] == L'\0') break;
    target[i] = source[i];
  }
  target[i] = L'\0';
  return (i + 1 == capacity && source[i] != L'\0') ? kStrCut : kStrOk;
}

// Length of text within its first capacity units, into *length (0 on failure).
HRESULT StrLengthBounded(const wchar_t* text, size_t capacity, size_t* length) {
  if (length) *length = 0;
  if (!text || !CapacityValid(capacity)) return kStrInvalid;
  size_t n = 0;
  while (n < capacity && text[n] != L'\0') ++n;
  if (n == capacity) return kStrInvalid;
  if (length) *length = n;
  return kStrOk;
}

// Appends source behind target's text within capacity. A target with no
// terminator inside its capacity gives kStrInvalid and is left alone.
HRESULT StrAppendBounded(wchar_t* target, size_t capacity, const wchar_t* source) {
  size_t length = 0;
  HRESULT result = StrLengthBounded(target, capacity, &length);
  if (result != kStrOk) return result;
  return StrCopyBounded(target + length, capacity - length, source);
}

// Formats with the C runtime's wide printf, whose %s takes a UTF-16 text and
// %S an 8-bit one. _vsnwprintf writes no terminator when the output fills the
// count exactly and gives -1 when it does not fit, so the terminator is placed
// here in both cases.
HRESULT StrFormatBounded(wchar_t* target, size_t capacity, const wchar_t* format, ...) {
  if (!target || !CapacityValid(capacity)) return kStrInvalid;
  if (!format) format = L"";
  va_list args;
  va_start(args, format);
  int written = _vsnwprintf(target, capacity - 1, format, args);
  va_end(args);
  if (written < 0 || static_cast<size_t>(written) > capacity - 1) {
    target[capacity - 1] = L'\0';
    return kStrCut;
  }
  target[written] = L'\0';
  return kStrOk;
}

// True for null or for a text that cannot be read up to its terminator. The
// read stops at the terminator: nothing behind it is touched, so a one-unit
// buffer holding only the terminator is fine.
bool IsBadText(const wchar_t* text) {
  if (!text) return true;
  return !RunGuarded([text] {
    const volatile wchar_t* p = text;
    while (*p != L'\0') ++p;
  });
}

// Removes blanks (space, tab, CR, LF) from both ends in place; returns text.
wchar_t* TrimBlanks(wchar_t* text) {
  if (IsBadText(text) || text[0] == L'\0') return text;
  size_t first = 0;
  while (IsBlank(text[first])) ++first;
  if (text[first] == L'\0') {
    text[0] = L'\0';
    return text;
  }
  size_t length = first + wcslen(text + first);
  if (first > 0) {
    wmemmove(text, text + first, length - first + 1);
    length -= first;
  }
  while (length > 0 && IsBlank(text[length - 1])) text[--length] = L'\0';
  return text;
}
