#include "support/path_utils.h"
#include "launcher/launcher_hooks.h"
#include "launcher/workspace.h"
#include "support/fault_guard.h"

namespace {

// A SID under the NT authority (S-1-5-...) with one or two sub-authorities.
bool MakeNtSid(SidOwner* owner, BYTE count, DWORD first, DWORD second) {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  return AllocateAndInitializeSid(&nt, count, first, second, 0, 0, 0, 0, 0, 0, &owner->sid) != FALSE;
}

// The workspace's entries reach every file and folder unpacked into it.
constexpr DWORD kInheritedByAll = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

}  // namespace

bool ReadTokenUser(HANDLE process, BYTE* user) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return false;
  HandleOwner tokenOwner(token);
  DWORD needed = 0;
  return GetTokenInformation(token, TokenUser, user, kTokenUserBytes, &needed) != FALSE;
}

void FillAccessEntry(EXPLICIT_ACCESS_W* entry, PSID sid, DWORD permissions, TRUSTEE_TYPE type,
                     DWORD inheritance) {
  ZeroMemory(entry, sizeof(*entry));
  entry->grfAccessPermissions = permissions;
  entry->grfAccessMode = SET_ACCESS;
  entry->grfInheritance = inheritance;
  entry->Trustee.pMultipleTrustee = nullptr;
  entry->Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
  entry->Trustee.TrusteeForm = TRUSTEE_IS_SID;
  entry->Trustee.TrusteeType = type;
  entry->Trustee.ptstrName = static_cast<LPWSTR>(sid);
}

bool InitProtectedDescriptor(SECURITY_DESCRIPTOR* descriptor, PACL list) {
  return InitializeSecurityDescriptor(descriptor, SECURITY_DESCRIPTOR_REVISION) &&
         SetSecurityDescriptorDacl(descriptor, TRUE, list, FALSE) &&
         SetSecurityDescriptorControl(descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
}

int MakeWorkspaceTrustees(WorkspaceTrustees* trustees) {
  if (!trustees) return 0;
  if (!MakeNtSid(&trustees->authenticatedUsers, 1, SECURITY_AUTHENTICATED_USER_RID, 0) ||
      !MakeNtSid(&trustees->users, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS) ||
      !MakeNtSid(&trustees->system, 1, SECURITY_LOCAL_SYSTEM_RID, 0) ||
      !MakeNtSid(&trustees->administrators, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS))
    return 0;
  return ReadTokenUser(GetCurrentProcess(), trustees->tokenUser) ? 1 : 0;
}

void FillWorkspaceAccess(WorkspaceTrustees* trustees, EXPLICIT_ACCESS_W* entries) {
  // The groups may read and run what is unpacked but never add or swap a
  // file beside an installer that may run elevated.
  const DWORD readRun = GENERIC_READ | GENERIC_EXECUTE;
  FillAccessEntry(&entries[0], trustees->authenticatedUsers.sid, readRun, TRUSTEE_IS_GROUP, kInheritedByAll);
  FillAccessEntry(&entries[1], trustees->users.sid, readRun, TRUSTEE_IS_GROUP, kInheritedByAll);
  PSID self = reinterpret_cast<TOKEN_USER*>(trustees->tokenUser)->User.Sid;
  FillAccessEntry(&entries[2], self, GENERIC_ALL, TRUSTEE_IS_USER, kInheritedByAll);
  FillAccessEntry(&entries[3], trustees->system.sid, GENERIC_ALL, TRUSTEE_IS_USER, kInheritedByAll);
  FillAccessEntry(&entries[4], trustees->administrators.sid, GENERIC_ALL, TRUSTEE_IS_GROUP, kInheritedByAll);
}

int MakeWorkspaceAccessList(WorkspaceTrustees* trustees, PACL* list) {
  if (!list) return 0;
  *list = nullptr;
  if (!MakeWorkspaceTrustees(trustees)) return 0;
  EXPLICIT_ACCESS_W entries[kWorkspaceAccessCount];
  FillWorkspaceAccess(trustees, entries);
  if (SetEntriesInAclW(kWorkspaceAccessCount, entries, nullptr, list) == ERROR_SUCCESS) return 1;
  *list = nullptr;
  return 0;
}

int GrantWorkspaceAccess(const wchar_t* folder) {
  wchar_t path[MAX_PATH] = {};
  if (!folder || StrCopyBounded(path, MAX_PATH, folder) != kStrOk) return 0;  // never a cut path
  size_t length = 0;
  StrLengthBounded(path, MAX_PATH, &length);
  while (length > 1 && wcschr(L"\\/ \t\r\n", path[length - 1])) path[--length] = 0;
  if (QuietAttributes(path) == INVALID_FILE_ATTRIBUTES) return 0;

  WorkspaceTrustees trustees;
  PACL list = nullptr;
  DWORD applied = ERROR_GEN_FAILURE;
  bool ran = RunGuarded([&] {
    if (!MakeWorkspaceAccessList(&trustees, &list)) return;
    // Protected: entries inherited from a shared parent (such as "C:\TEMP")
    // would otherwise let other users write here again.
    applied = SetNamedSecurityInfoW(path, SE_FILE_OBJECT,
                                    DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, list, nullptr);
  });
  LocalOwner listOwner(list);
  return ran && applied == ERROR_SUCCESS ? 1 : 0;
}

DWORD ReadProcessIntegrity() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return 0;
  HandleOwner tokenOwner(token);
  alignas(DWORD) BYTE buffer[sizeof(TOKEN_MANDATORY_LABEL) + SECURITY_MAX_SID_SIZE];
  DWORD needed = 0;
  if (!GetTokenInformation(token, TokenIntegrityLevel, buffer, sizeof(buffer), &needed)) return 0;
  PSID label = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(buffer)->Label.Sid;
  if (!label || !IsValidSid(label) || *GetSidSubAuthorityCount(label) == 0) return 0;
  return *GetSidSubAuthority(label, *GetSidSubAuthorityCount(label) - 1);
}

namespace {

// Fills record's system access list with the workspace label. True when done.
bool MakeWorkspaceLabel(WorkspaceDescriptor* record) {
  SID_IDENTIFIER_AUTHORITY labels = SECURITY_MANDATORY_LABEL_AUTHORITY;
  PSID sid = record->labelSid;
  if (!InitializeSid(sid, &labels, 1)) return false;
  *GetSidSubAuthority(sid, 0) = kWorkspaceLabelRid;
  PACL list = reinterpret_cast<PACL>(record->labelList);
  return InitializeAcl(list, sizeof(record->labelList), ACL_REVISION) &&
         AddMandatoryAce(list, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE,
                         SYSTEM_MANDATORY_LABEL_NO_WRITE_UP, sid) &&
         SetSecurityDescriptorSacl(&record->descriptor, TRUE, list, FALSE);
}

}  // namespace

int MakeWorkspaceDescriptor(WorkspaceDescriptor* record) {
  if (!record) return 0;
  PACL list = nullptr;
  if (!MakeWorkspaceAccessList(&record->trustees, &list)) return 0;
  record->accessList.mem = list;
  if (!InitProtectedDescriptor(&record->descriptor, list)) return 0;
  // Set now, with the folder's first access list, never afterwards: a label
  // added later would leave a moment in which the tree is open to writing
  // from below, and relabelling needs rights an elevated caller may lack.
  if (Hooks.readIntegrityLevel() >= SECURITY_MANDATORY_HIGH_RID && !MakeWorkspaceLabel(record))
    return 0;
  return 1;
}
