#include "launcher/launcher_hooks.h"
#include "launcher/workspace.h"
#include "support/path_utils.h"

namespace {

// True for a failed folder creation that means the name is taken: something
// stands there (of any kind, a link included), or a folder of that name is
// being deleted.
bool NameIsTaken(DWORD error) {
  return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS || error == ERROR_ACCESS_DENIED;
}

constexpr size_t kCandidateNameUnits = kWorkspaceNameUnits + 1;

// Writes the path of candidate number `candidate` into workspace: the
// temporary directory joined with the folder name (also left in name,
// kCandidateNameUnits), the name carrying a random suffix after the first.
// False when the path does not fit or no random suffix could be drawn.
bool FormatCandidate(wchar_t* workspace, wchar_t* name, const wchar_t* tempPath, DWORD processId,
                     int candidate) {
  static_assert(kWorkspaceSuffixDigits == 2 * sizeof(DWORD), "one DWORD of random bits");
  DWORD suffix = 0;
  if (candidate == 0)
    StrFormatBounded(name, kCandidateNameUnits, L"_qln_setup_sfx_%08x", processId);
  else if (Hooks.genRandom(&suffix, sizeof(suffix)))
    StrFormatBounded(name, kCandidateNameUnits, L"_qln_setup_sfx_%08x_%08x", processId, suffix);
  else
    return false;
  StrCopyBounded(workspace, kWidePathCapacity, tempPath);
  JoinPath(workspace, kWidePathCapacity, name);
  size_t length = 0;
  return StrLengthBounded(workspace, kWidePathCapacity, &length) == kStrOk &&
         length + 1 < kWidePathCapacity;  // else possibly cut
}

}  // namespace

void FindTemporaryFolder(wchar_t* folder) {
  // A temporary path that does not fit leaves the buffer unwritten; the
  // fixed folder is used then as when there is none.
  const DWORD length = GetTempPathW(kWidePathCapacity, folder);
  if (length == 0 || length >= kWidePathCapacity) StrCopyBounded(folder, kWidePathCapacity, L"C:\\TEMP\\");
}

int PrepareWorkspace(wchar_t* scratch, wchar_t* workspace, TakenWorkspaceNames* taken) {
  if (taken) taken->count = 0;
  if (!scratch || !workspace) return 0;
  wchar_t tempPath[kWidePathCapacity] = {};
  FindTemporaryFolder(tempPath);

  WorkspaceDescriptor descriptor;
  if (!MakeWorkspaceDescriptor(&descriptor)) return 0;
  SECURITY_ATTRIBUTES access = {sizeof(access), &descriptor.descriptor, FALSE};
  const DWORD processId = GetCurrentProcessId();
  // What stands under a candidate name is never touched: in a temporary
  // folder every user may write to (the system's, when the launcher runs
  // as SYSTEM), a planted folder, link or file is someone else's, and
  // clearing it with the launcher's rights can be turned (a link swapped in
  // while it is cleared) into deleting any file on the machine. The next
  // name is tried instead.
  for (int candidate = 0; candidate < kWorkspaceNameCandidates; ++candidate) {
    wchar_t name[kCandidateNameUnits];
    if (!FormatCandidate(workspace, name, tempPath, processId, candidate)) break;
    CreateParentDirectories(workspace);
    // The folder is made with its protected access list (and, when
    // elevated, its label) in the same call: no other user or lower process
    // can add a file to it, not even for a moment. The call itself refuses
    // a name that is taken, whatever stands there, so there is no look
    // beforehand to race.
    if (CreateDirectoryW(workspace, &access)) {
      StrCopyBounded(scratch, kWidePathCapacity, workspace);
      wchar_t leaf[] = L"_unused.tmp";  // JoinPath may change its tail in place
      JoinPath(scratch, kWidePathCapacity, leaf);
      return 1;
    }
    if (!NameIsTaken(GetLastError())) break;
    if (taken) StrCopyBounded(taken->names[taken->count++], kCandidateNameUnits, name);
  }
  workspace[0] = L'\0';
  scratch[0] = L'\0';
  return 0;
}
