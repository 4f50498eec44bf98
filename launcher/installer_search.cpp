#include "launcher/installer_search.h"

#include "support/path_utils.h"
#include "support/owners.h"

namespace {

constexpr size_t kWork = 520;  // units in each work buffer of one search level

bool IsWildcard(const wchar_t* component) { return wcspbrk(component, L"*?") != nullptr; }

bool IsDotEntry(const wchar_t* name) { return !wcscmp(name, L".") || !wcscmp(name, L".."); }

// Length of a text in a work buffer; kWork when it may have been cut.
size_t WorkLength(const wchar_t* text) {
  size_t length = 0;
  if (StrLengthBounded(text, kWork, &length) != kStrOk || length + 1 >= kWork) return kWork;
  return length;
}

bool Exists(const wchar_t* path) { return FileExists(path) || DirectoryExists(path); }

// Appends one component to a work buffer's path; an empty path takes the
// component as it stands.
void AppendComponent(wchar_t* path, wchar_t* component) {
  if (!path[0]) StrCopyBounded(path, kWork, component);
  else JoinPath(path, kWork, component);
}

// Copies an existing path into out when it fits whole.
int Confirm(const wchar_t* path, wchar_t* out, size_t capacity) {
  size_t length = WorkLength(path);
  if (length >= capacity) return 0;
  StrCopyBounded(out, capacity, path);
  return 1;
}

// Splits text in place at every run of separators; returns the count of
// components, whose starts land in parts.
size_t SplitComponents(wchar_t* text, wchar_t** parts, size_t most) {
  size_t count = 0;
  wchar_t* p = text;
  while (*p) {
    while (*p == L'\\' || *p == L'/') *p++ = 0;
    if (!*p) break;
    if (count < most) parts[count++] = p;
    while (*p && *p != L'\\' && *p != L'/') ++p;
  }
  return count;
}

// Builds folder + "\" + tail in scratch; false when it may have been cut
// (a cut pattern could match a different name).
bool BuildPattern(wchar_t* scratch, const wchar_t* folder, wchar_t* tail) {
  StrCopyBounded(scratch, kWidePathCapacity, folder);
  JoinPath(scratch, kWidePathCapacity, tail);
  size_t length = 0;
  return StrLengthBounded(scratch, kWidePathCapacity, &length) == kStrOk &&
         length + 1 < kWidePathCapacity;
}

}  // namespace

int FindByPattern(const wchar_t* pattern, wchar_t* out, size_t capacity) {
  if (!pattern || !out || capacity == 0) return 0;
  wchar_t current[kWork] = {};
  wchar_t saved[kWork] = {};
  wchar_t remainder[kWork] = {};
  wchar_t split[kWork] = {};
  if (StrCopyBounded(current, kWork, pattern) != kStrOk) return 0;
  if (Exists(current)) return Confirm(current, out, capacity);

  StrCopyBounded(split, kWork, pattern);
  current[0] = 0;
  wchar_t* parts[kWork / 2];
  size_t count = SplitComponents(split, parts, kWork / 2);
  for (size_t i = 0; i < count; ++i) {
    StrCopyBounded(saved, kWork, current);
    AppendComponent(current, parts[i]);
    if (WorkLength(current) == kWork) return 0;
    if (!IsWildcard(parts[i])) continue;

    for (size_t k = i + 1; k < count; ++k) {
      if (remainder[0]) StrAppendBounded(remainder, kWork, L"\\");
      StrAppendBounded(remainder, kWork, parts[k]);
    }
    if (WorkLength(remainder) == kWork) return 0;
    WIN32_FIND_DATAW found;
    FindOwner search(FindFirstFileW(current, &found));
    if (!search.ok()) return 0;
    do {
      // "." and ".." would make the folder itself and its parent (for the
      // workspace: the shared temporary directory, where anyone may drop a
      // "Setup.exe") candidates of the search.
      if (IsDotEntry(found.cFileName)) continue;
      // Joined, never resolved through a search path: a search path is split
      // at ';', which a folder name may hold, and would lead elsewhere.
      StrCopyBounded(current, kWork, saved);
      AppendComponent(current, found.cFileName);
      if (WorkLength(current) == kWork) continue;
      JoinPath(current, kWork, remainder);
      if (WorkLength(current) == kWork) continue;
      if (FindByPattern(current, out, capacity)) return 1;
    } while (FindNextFileW(search.h, &found));
    return 0;
  }
  return Exists(current) ? Confirm(current, out, capacity) : 0;
}

bool LocateInstaller(const wchar_t* workspace, wchar_t* scratch, wchar_t* installer) {
  if (!workspace || !scratch || !installer) return false;
  wchar_t name[] = L"Setup.exe";  // JoinPath may change its tail in place
  if (BuildPattern(scratch, workspace, name) && Exists(scratch) &&
      StrCopyBounded(installer, kWidePathCapacity, scratch) == kStrOk)
    return true;

  wchar_t anyPrefix[] = L"*Setup.exe";  // JoinPath may change its tail in place
  if (BuildPattern(scratch, workspace, anyPrefix) &&
      FindByPattern(scratch, installer, kWidePathCapacity) == 1)
    return true;
  wchar_t oneDown[] = L"*\\Setup.exe";
  return BuildPattern(scratch, workspace, oneDown) &&
         FindByPattern(scratch, installer, kWidePathCapacity) == 1;
}
