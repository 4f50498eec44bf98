#include "support/path_utils.h"
#include "launcher/workspace.h"

namespace {

// Clears whatever stands under the workspace's name. A link (junction or
// symbolic link) is unlinked, never followed: it may point at anything the
// user owns. Returns true when nothing is left under the name.
bool ClearWorkspaceName(const wchar_t* path) {
  DWORD attributes = QuietAttributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) RemoveDirectoryW(path);
    else DeleteFileW(path);
  } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    RemoveTree(path, 1000, nullptr, nullptr);
  } else {
    DeleteFileW(path);
  }
  return QuietAttributes(path) == INVALID_FILE_ATTRIBUTES;
}

// Makes the folder with the workspace's protected access list (and, when
// elevated, its label) already in place, so that no other user or lower
// process can add a file to it, even in the moment before
// GrantWorkspaceAccess runs. True when the folder was made.
bool CreatePrivateFolder(const wchar_t* path) {
  WorkspaceDescriptor descriptor;
  if (!MakeWorkspaceDescriptor(&descriptor)) return false;
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), &descriptor.descriptor, FALSE};
  return CreateDirectoryW(path, &attributes) != FALSE;
}

}  // namespace

int PrepareWorkspace(wchar_t* scratch, wchar_t* workspace) {
  if (!scratch || !workspace) return 0;
  StrFormatBounded(scratch, kWidePathCapacity, L"_qln_setup_sfx_%08x", GetCurrentProcessId());
  // A temporary path that does not fit leaves the buffer unwritten; the
  // fixed folder is used then as when there is none.
  DWORD tempLength = GetTempPathW(kWidePathCapacity, workspace);
  if (tempLength == 0 || tempLength >= kWidePathCapacity)
    StrCopyBounded(workspace, kWidePathCapacity, L"C:\\TEMP\\");
  JoinPath(workspace, kWidePathCapacity, scratch);
  size_t length = 0;
  if (StrLengthBounded(workspace, kWidePathCapacity, &length) != kStrOk ||
      length + 1 >= kWidePathCapacity)
    return 0;  // possibly cut: never make or use a folder of a cut name
  CreateParentDirectories(workspace);

  StrCopyBounded(scratch, kWidePathCapacity, workspace);
  wchar_t leaf[] = L"_unused.tmp";  // JoinPath may change its tail in place
  JoinPath(scratch, kWidePathCapacity, leaf);

  // A folder left from an earlier run or planted by someone else may hold
  // stale or foreign files: it is never used as it is.
  if (!ClearWorkspaceName(workspace)) return 0;
  // Fails when someone planted the name again meanwhile; that is a failure.
  return CreatePrivateFolder(workspace) ? 1 : 0;
}
