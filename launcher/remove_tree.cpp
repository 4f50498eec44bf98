#include <string>

#include "support/path_utils.h"
#include "launcher/launcher_hooks.h"
#include "launcher/workspace.h"
#include "support/fault_guard.h"

namespace {

// One entry's two names: `plain` is the caller's spelling, handed to the
// filter; `system` is the extended-length form ("\\?\C:\..." or
// "\\?\UNC\server\share\..."), used for every file-system call, so that paths
// of any length work and no name is ever cut.
struct TreePath {
  std::wstring plain;
  std::wstring system;
};

struct RemoveJob {
  DWORD retries;  // budget / 50
  void* context;
  RemoveFilter filter;
  std::wstring root;      // the plain spelling of the folder removed
  TreeLeftover* leftover; // may be null
};

// Notes an entry that resisted of itself; error is the system's for its
// last try, read right after it.
void NoteResisting(const RemoveJob& job, const TreePath& entry, DWORD error) {
  if (!job.leftover) return;
  if (job.leftover->entries++ > 0) return;
  job.leftover->error = error;
  const wchar_t* below = entry.plain.c_str() + job.root.size();
  while (*below == L'\\') ++below;
  StrCopyBounded(job.leftover->first, kWidePathCapacity, below);  // cut to fit: it only names the entry
}

bool Exists(const std::wstring& path) { return QuietAttributes(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The extended-length form of an absolute path; empty when there is none.
std::wstring ExtendedForm(const wchar_t* path) {
  DWORD needed = GetFullPathNameW(path, 0, nullptr, nullptr);
  if (needed == 0) return std::wstring();
  std::wstring full(needed, L'\0');
  DWORD written = GetFullPathNameW(path, needed, &full[0], nullptr);
  if (written == 0 || written >= needed) return std::wstring();
  full.resize(written);
  while (full.size() > 3 && full.back() == L'\\') full.pop_back();
  if (full.compare(0, 4, L"\\\\?\\") == 0) return full;
  if (full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') return L"\\\\?\\" + full;
  return std::wstring();
}

// "\\?\C:\" or "\\?\UNC\server\share": a whole volume, never removed.
bool IsVolumeRoot(const std::wstring& system) {
  if (system.size() <= 7 && system.size() >= 6 && system[5] == L':') return true;
  if (system.compare(0, 8, L"\\\\?\\UNC\\") != 0) return false;
  size_t server = system.find(L'\\', 8);
  if (server == std::wstring::npos) return true;
  size_t share = system.find(L'\\', server + 1);
  return share == std::wstring::npos || share + 1 == system.size();
}

TreePath Child(const TreePath& parent, const wchar_t* name) {
  TreePath child{parent.plain, parent.system};
  child.plain += L'\\';
  child.plain += name;
  child.system += L'\\';
  child.system += name;
  return child;
}

struct FilterCall {
  RemoveFilter filter;
  const wchar_t* path;
  void* context;
  int verdict;
};

// A filter that faults counts as one that lets the entry go.
bool FilterKeeps(const RemoveJob& job, const TreePath& entry) {
  FilterCall call{job.filter, entry.plain.c_str(), job.context, 1};
  if (!RunGuarded([&call] { call.verdict = call.filter(call.path, call.context); })) return false;
  return call.verdict == 0;
}

// Deletes the file, retrying while it resists. True when it is gone,
// whoever removed it; *error is the system's error of the last try.
bool DeleteResistingFile(const RemoveJob& job, const std::wstring& path, DWORD* error) {
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (DeleteFileW(path.c_str())) return true;
  *error = GetLastError();
  for (DWORD tries = 0; tries < job.retries && Exists(path); ++tries) {
    Sleep(50);
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (DeleteFileW(path.c_str())) return true;
    *error = GetLastError();
  }
  return !Exists(path);
}

// Removes the empty folder itself, retrying while it resists. True when it is
// gone, whoever removed it; *error is the system's error of the last try.
bool RemoveEmptyFolder(const RemoveJob& job, const std::wstring& path, DWORD* error) {
  if (!Exists(path)) return true;
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);  // a read-only folder resists
  if (RemoveDirectoryW(path.c_str())) return true;
  *error = GetLastError();
  for (DWORD tries = 0; tries < job.retries && Exists(path); ++tries) {
    Sleep(50);
    if (RemoveDirectoryW(path.c_str())) return true;
    *error = GetLastError();
  }
  return !Exists(path);
}

enum TreeResult { TreeRemoved, TreeKept, TreeFailed };

TreeResult RemoveFolderTree(const RemoveJob& job, const TreePath& folder) {
  int kept = 0;
  bool failedBelow = false;  // something in the folder stayed of itself, or below it
  DWORD error = 0;
  WIN32_FIND_DATAW found;
  FindOwner search(FindFirstFileW((folder.system + L"\\*").c_str(), &found));
  if (search.ok()) {
    do {
      if (!wcscmp(found.cFileName, L".") || !wcscmp(found.cFileName, L"..")) continue;
      TreePath entry = Child(folder, found.cFileName);
      if (job.filter && FilterKeeps(job, entry)) {
        ++kept;
        continue;
      }
      DWORD attributes = QuietAttributes(entry.system.c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES) continue;
      if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        // A junction or symbolic link: unlink it, never enter it.
        SetFileAttributesW(entry.system.c_str(), FILE_ATTRIBUTE_NORMAL);
        const bool gone = attributes & FILE_ATTRIBUTE_DIRECTORY ? RemoveEmptyFolder(job, entry.system, &error)
                                                                : DeleteResistingFile(job, entry.system, &error);
        if (!gone) {
          NoteResisting(job, entry, error);
          failedBelow = true;
        }
      } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        TreeResult inner = RemoveFolderTree(job, entry);
        if (inner == TreeFailed) {
          // One more try at the folder alone. Walking its contents again
          // would repeat every retry below it, doubling the time per level.
          SetFileAttributesW(entry.system.c_str(), FILE_ATTRIBUTE_NORMAL);
          RemoveDirectoryW(entry.system.c_str());
          failedBelow = true;  // the folder or something in it was noted
        }
        if (inner == TreeKept) ++kept;
      } else if (!DeleteResistingFile(job, entry.system, &error)) {
        NoteResisting(job, entry, error);
        failedBelow = true;
      }
    } while (FindNextFileW(search.h, &found));
  }
  if (job.filter && kept > 0) return TreeKept;
  if (RemoveEmptyFolder(job, folder.system, &error)) return TreeRemoved;
  if (!failedBelow) NoteResisting(job, folder, error);
  return TreeFailed;
}

// Moves the process out of the tree while it is removed, and back after.
struct CurrentDirectoryBracket {
  std::wstring saved;
  CurrentDirectoryBracket() {
    DWORD needed = GetCurrentDirectoryW(0, nullptr);
    if (needed) {
      saved.assign(needed, L'\0');
      DWORD written = GetCurrentDirectoryW(needed, &saved[0]);
      if (written == 0 || written >= needed) saved.clear();
      else saved.resize(written);
    }
    wchar_t windows[MAX_PATH];
    UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
    if (length > 0 && length < MAX_PATH) SetCurrentDirectoryW(windows);
  }
  ~CurrentDirectoryBracket() {
    if (!saved.empty()) SetCurrentDirectoryW(saved.c_str());
  }
  QLN_NO_COPY(CurrentDirectoryBracket);
};

struct RestartMarks {
  int marked;
  bool refused;
};

void MarkForRestart(RestartMarks* marks, const std::wstring& path) {
  if (marks->refused) return;
  if (Hooks.moveFileEx(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) ++marks->marked;
  else if (GetLastError() == ERROR_ACCESS_DENIED) marks->refused = true;
}

void MarkFolderTree(RestartMarks* marks, const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  FindOwner search(FindFirstFileW((folder + L"\\*").c_str(), &found));
  if (search.ok()) {
    do {
      if (!wcscmp(found.cFileName, L".") || !wcscmp(found.cFileName, L"..")) continue;
      const std::wstring entry = folder + L"\\" + found.cFileName;
      const DWORD attributes = QuietAttributes(entry.c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        continue;
      if (attributes & FILE_ATTRIBUTE_DIRECTORY) MarkFolderTree(marks, entry);
      else MarkForRestart(marks, entry);
    } while (!marks->refused && FindNextFileW(search.h, &found));
  }
  MarkForRestart(marks, folder);
}

}  // namespace

int MarkTreeForRemovalAtRestart(const wchar_t* folder) {
  if (!folder) return 0;
  const std::wstring root = ExtendedForm(folder);
  if (root.empty() || IsVolumeRoot(root)) return 0;
  const DWORD attributes = QuietAttributes(root.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return 0;
  RestartMarks marks{0, false};
  MarkFolderTree(&marks, root);
  return marks.marked;
}

int RemoveTree(const wchar_t* folder, DWORD budgetMs, void* context, RemoveFilter filter,
               TreeLeftover* leftover) {
  if (leftover) ZeroMemory(leftover, sizeof(*leftover));
  size_t length = 0;
  if (!folder || StrLengthBounded(folder, 0x7FFF, &length) != kStrOk || length < 3) return 0;
  TreePath root;
  root.system = ExtendedForm(folder);  // resolved before the current directory moves
  if (root.system.empty() || IsVolumeRoot(root.system)) return 0;
  DWORD attributes = QuietAttributes(root.system.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return 0;
  root.plain.assign(folder, length);
  while (root.plain.size() > 3 && wcschr(L"\\/", root.plain.back())) root.plain.pop_back();

  CurrentDirectoryBracket away;
  RemoveJob job{budgetMs / 50, context, filter, root.plain, leftover};
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    DWORD error = 0;
    if (RemoveEmptyFolder(job, root.system, &error)) return 1;
    NoteResisting(job, root, error);
    return 0;
  }
  return RemoveFolderTree(job, root) == TreeFailed ? 0 : 1;
}
