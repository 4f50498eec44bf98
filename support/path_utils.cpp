// Quiet attribute queries, existence tests, the in-place path join and the
// creation of a path's parent folders.
#include "support/path_utils.h"

#include <cwchar>

#include "support/owners.h"

namespace {

bool IsSeparatorOrBlank(wchar_t c) {
  return c == L'\\' || c == L'/' || c == L' ' || c == L'\t' || c == L'\r' || c == L'\n';
}

// Replaces trailing separators and blanks by terminators; index 0 is kept,
// so a root such as "\" survives.
void StripTrailingSeparators(wchar_t* text) {
  size_t length = wcslen(text);
  while (length > 1 && IsSeparatorOrBlank(text[length - 1])) text[--length] = L'\0';
}

void ForwardToBackSlashes(wchar_t* text) {
  for (; *text; ++text)
    if (*text == L'/') *text = L'\\';
}

// Cuts text at its last backslash; a text without one stays as it is.
void CutLastComponent(wchar_t* text) {
  wchar_t* last = wcsrchr(text, L'\\');
  if (last) *last = L'\0';
}

// Longest path CreateParentDirectories handles: each prefix plus its
// terminator must fit its 520-unit work buffer.
constexpr size_t kPrefixCapacity = 520;

}  // namespace

// Attributes of path with the system's critical-error and file-open dialogs
// suppressed for the query; the previous error mode is restored afterwards.
DWORD QuietAttributes(const wchar_t* path) {
  if (!path) return INVALID_FILE_ATTRIBUTES;
  ErrorModeBracket quiet(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  return GetFileAttributesW(path);
}

// 1 when path names an existing file that is not a folder. Paths below 3 or
// above 259 units are refused without asking the file system.
int FileExists(const wchar_t* path) {
  if (IsBadText(path)) return 0;
  size_t length = wcsnlen(path, MAX_PATH);
  if (length < 3 || length > MAX_PATH - 1) return 0;
  DWORD attributes = QuietAttributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// 1 when path names an existing folder. A bare name (no slash, backslash or
// colon) is never taken as a folder, so nothing in the current directory can
// answer for it; trailing separators and blanks are ignored.
int DirectoryExists(const wchar_t* path) {
  if (IsBadText(path) || path[0] == L'\0') return 0;
  size_t length = wcsnlen(path, MAX_PATH);
  if (length > MAX_PATH - 1) return 0;
  if (!wcspbrk(path, L"\\/:")) return 0;
  wchar_t copy[MAX_PATH + 1];
  StrCopyBounded(copy, MAX_PATH + 1, path);
  StripTrailingSeparators(copy);
  DWORD attributes = QuietAttributes(copy);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Joins tail onto base in place (base holds capacity units) and returns base,
// or null for a null base. Both texts are trimmed, slashes become
// backslashes, leading "..\" steps of the tail cut components off the base
// and leading ".\" steps are dropped. A result that does not fit is cut and
// terminated. An unreadable base is returned untouched; a null tail counts
// as empty.
wchar_t* JoinPath(wchar_t* base, size_t capacity, wchar_t* tail) {
  if (!base) return nullptr;
  if (IsBadText(base)) return base;
  TrimBlanks(base);
  StripTrailingSeparators(base);
  ForwardToBackSlashes(base);
  if (IsBadText(tail)) return base;
  TrimBlanks(tail);
  while (IsSeparatorOrBlank(*tail)) ++tail;
  ForwardToBackSlashes(tail);
  while (wcsncmp(tail, L"..\\", 3) == 0) {
    if (base[0] != L'\0') CutLastComponent(base);
    tail += 3;
  }
  while (wcsncmp(tail, L".\\", 2) == 0) tail += 2;
  if (*tail == L'\0') return base;
  StrAppendBounded(base, capacity, L"\\");
  StrAppendBounded(base, capacity, tail);
  return base;
}

// Creates every folder that leads to the last component of path (which is
// itself never created) and returns path. Results are not checked: a folder
// that cannot be made shows when the caller uses the path. Paths of 520
// units or more are left alone, since their prefixes would be cut.
wchar_t* CreateParentDirectories(wchar_t* path) {
  if (IsBadText(path) || path[0] == L'\0') return path;
  if (wcsnlen(path, kPrefixCapacity) >= kPrefixCapacity) return path;
  const wchar_t* from = path;
  for (;;) {
    const wchar_t* separator = wcschr(from, L'\\');
    if (!separator) separator = wcschr(from, L'/');
    if (!separator) break;
    size_t length = static_cast<size_t>(separator - path);
    if (length > 0) {
      wchar_t prefix[kPrefixCapacity];
      wmemcpy(prefix, path, length);
      prefix[length] = L'\0';
      if (QuietAttributes(prefix) == INVALID_FILE_ATTRIBUTES) CreateDirectoryW(prefix, nullptr);
    }
    from = separator + 1;
  }
  return path;
}
