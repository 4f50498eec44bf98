// The workspace folder: the one private place the launcher writes to. It is
// made fresh under the temporary directory, closed to everyone but the
// user, SYSTEM and the administrators for writing, and removed with its
// whole tree at the end of the run.
#pragma once
#include <windows.h>
#include <aclapi.h>
#include "support/owners.h"
#include "support/path_utils.h"

// Names the workspace may take: "_qln_setup_sfx_%08x" (the process
// identifier), then, while names are taken, the same followed by "_" and
// kWorkspaceSuffixDigits lower-case hexadecimal digits from the system's
// random source, a fresh suffix for each try. In a temporary folder every
// user may write to, names that follow from the process identifier alone
// can all be taken in advance; 32 random bits cannot.
constexpr int kWorkspaceNameCandidates = 16;
constexpr int kWorkspaceSuffixDigits = 8;
// The longest name, "_qln_setup_sfx_XXXXXXXX_RRRRRRRR", in UTF-16 units
// (the packer's name budget counts it, and its closing separator).
constexpr int kWorkspaceNameUnits = 15 + 8 + 1 + kWorkspaceSuffixDigits;

// The names PrepareWorkspace found taken already, in the order it tried
// them, each a bare folder name; at most one per candidate.
struct TakenWorkspaceNames {
  int count;
  wchar_t names[kWorkspaceNameCandidates][kWorkspaceNameUnits + 1];
};

// The temporary folder, with its closing separator, into folder
// (kWidePathCapacity units): the system's, or "C:\TEMP\" when there is none
// or its path does not fit. The workspace is made in it, the run's log
// beside the workspace, and the wait after the installer counts what runs
// from it.
void FindTemporaryFolder(wchar_t* folder);

// Makes the folder "_qln_setup_sfx_%08x" (the process identifier) in the
// temporary directory, or in "C:\TEMP\" when there is none. Both buffers hold
// 276 units. On return workspace holds the folder's path and scratch that
// path followed by "\_unused.tmp". Whatever already stands under that name
// is left untouched and the next candidate name is taken instead (none when
// the random source fails: a predictable name is never tried). The folder
// is private from its first moment: it is made with the workspace's own
// descriptor (MakeWorkspaceDescriptor), never the parent's.
// Returns 1 when a folder was made anew by this call, 0 when none could be
// (every name taken, a path that does not fit, no access list): both
// buffers are then empty, and the caller must not use or remove anything.
// Either way taken (when not null) lists every name that was found taken.
int PrepareWorkspace(wchar_t* scratch, wchar_t* workspace, TakenWorkspaceNames* taken);

// Room for a TOKEN_USER record with any SID.
constexpr DWORD kTokenUserBytes = sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE;

// Reads the user process (a handle with PROCESS_QUERY_LIMITED_INFORMATION)
// runs as into user, a TOKEN_USER record of kTokenUserBytes. True when read.
bool ReadTokenUser(HANDLE process, BYTE* user);

// The trustees of the workspace's access list. The SIDs are owned here.
struct WorkspaceTrustees {
  SidOwner authenticatedUsers;   // S-1-5-11
  SidOwner users;                // S-1-5-32-545
  SidOwner system;               // S-1-5-18
  SidOwner administrators;       // S-1-5-32-544
  BYTE tokenUser[kTokenUserBytes];  // the running user
};

constexpr int kWorkspaceAccessCount = 5;

// Fills trustees with the five SIDs. Returns 1, or 0 when one could not be
// made (those made are freed by the record's owners).
int MakeWorkspaceTrustees(WorkspaceTrustees* trustees);

// Fills entries (kWorkspaceAccessCount records) for the access list: the two
// user groups may read and execute; the running user, SYSTEM and the
// administrators have full control; all inherited by files and subfolders.
// The entries point into trustees, which must outlive them.
void FillWorkspaceAccess(WorkspaceTrustees* trustees, EXPLICIT_ACCESS_W* entries);

// Fills entry to give sid permissions, as the trustee type says, with
// inheritance (NO_INHERITANCE, or OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE
// for a folder's files and subfolders).
void FillAccessEntry(EXPLICIT_ACCESS_W* entry, PSID sid, DWORD permissions, TRUSTEE_TYPE type,
                     DWORD inheritance);

// Initialises descriptor with list as its access list, protected: nothing
// is inherited from the parent folder, whose inheritable entries (in a
// shared folder, every user's) would otherwise be added. True when done;
// list must outlive descriptor.
bool InitProtectedDescriptor(SECURITY_DESCRIPTOR* descriptor, PACL list);

// Builds the workspace's access list from the entries above, filling
// trustees on the way. Returns 1 with *list owned by the caller (LocalFree),
// or 0 with *list null.
int MakeWorkspaceAccessList(WorkspaceTrustees* trustees, PACL* list);

// Replaces the folder's access list by the workspace's own, not inheriting
// from the parent. Returns 1 when applied, 0 otherwise.
int GrantWorkspaceAccess(const wchar_t* folder);

// The integrity level of the process token: the last sub-authority of its
// label (SECURITY_MANDATORY_MEDIUM_RID, SECURITY_MANDATORY_HIGH_RID, ...),
// or 0 when it cannot be read.
DWORD ReadProcessIntegrity();

// The label an elevated process gives the workspace: integrity High, no
// writing up, inherited by files and folders ("S:(ML;OICI;NW;;;HI)").
// Without it, a process of the same user at Medium integrity could add a
// DLL beside an installer that is about to run elevated.
constexpr DWORD kWorkspaceLabelRid = SECURITY_MANDATORY_HIGH_RID;

// The descriptor the workspace folder is made with, and everything it
// points to. Not copyable: the descriptor points into the record.
struct WorkspaceDescriptor {
  WorkspaceTrustees trustees;
  LocalOwner accessList;
  // Room for a system access list holding one mandatory label entry.
  alignas(DWORD) BYTE labelList[sizeof(ACL) + sizeof(SYSTEM_MANDATORY_LABEL_ACE) +
                                SECURITY_MAX_SID_SIZE];
  alignas(DWORD) BYTE labelSid[SECURITY_MAX_SID_SIZE];
  SECURITY_DESCRIPTOR descriptor;
  WorkspaceDescriptor() = default;
  QLN_NO_COPY(WorkspaceDescriptor);
};

// Builds in record the descriptor for a new workspace folder: the
// workspace's protected access list, and when the process runs at High
// integrity or above (Hooks.readIntegrityLevel), the workspace label in its
// system access list; at lower levels there is no system access list.
// Returns 1 with record->descriptor ready for CreateDirectoryW while record
// lives, 0 when a part could not be made.
int MakeWorkspaceDescriptor(WorkspaceDescriptor* record);

// Decides per entry whether RemoveTree deletes it: nonzero deletes, zero
// keeps the entry and with it every folder that holds it.
typedef int (*RemoveFilter)(const wchar_t* entryPath, void* context);

// What stayed of a tree that could not be removed whole: the entries that
// resisted of themselves (files, links, and folders that stayed with
// nothing of theirs failing, such as one another process has open), not
// the folders that only stayed because something in them did; and the
// first of them, with the system's error for its last try.
struct TreeLeftover {
  int entries;
  DWORD error;
  // Its path below the folder ("bin\held.dll"), cut to fit; empty for the
  // folder itself.
  wchar_t first[kWidePathCapacity];
};

// Deletes folder with everything in it, retrying entries that resist for
// about budgetMs each (50 ms apart). Links inside the tree are removed, never
// followed; paths of any length are handled. Returns nonzero when the folder
// is gone, or stays only because the filter kept an entry; 0 when the path is
// not a usable folder (null, under 3 units, a file, missing, a volume's root)
// or could not be removed. leftover (may be null) is zeroed, then tells
// what resisted.
int RemoveTree(const wchar_t* folder, DWORD budgetMs, void* context, RemoveFilter filter,
               TreeLeftover* leftover = nullptr);

// Marks folder and everything still in it for deletion at the next restart
// (MOVEFILE_DELAY_UNTIL_REBOOT), files before the folders that hold them,
// since a folder goes at restart only when it is empty by then. Links are
// neither entered nor marked. Only a process that may write the system's
// list of pending operations (an administrator's) can mark; the first
// refusal ends the marking. Returns the number of entries marked.
int MarkTreeForRemovalAtRestart(const wchar_t* folder);
