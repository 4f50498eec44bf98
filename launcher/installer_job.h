// The installer's job: before the installer starts, the launcher puts
// itself into a job object of its own, so that the installer and everything
// it starts belong to that job. Many installers start a second stage (a copy
// of themselves, a helper beside them, a script, the Windows Installer
// client) and exit at once; the workspace may be removed only once those
// have ended too. What the installer leaves running for the user (the
// product it launches at the end, an Explorer it restarted, and all that is
// opened from them) is not waited for.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// Pause between two listings while the launcher waits.
constexpr DWORD kJobPollMs = 250;

// How long a process of the job whose image path cannot be read yet (the
// platform answers late for a process that has just started) counts as
// holding the workspace.
constexpr DWORD kUnreadableImageGraceMs = 2000;

// Makes a job that allows breakaway and limits nothing else, and puts the
// launcher into it. Never kill-on-close: the installer may start the
// installed application as its last act, and the launcher's end must not end
// it. Returns the job, owned by the caller (CloseHandle), or null when the
// launcher cannot make or join one (on Windows 7 a process already inside a
// job cannot join another; GetLastError tells why): the caller then waits
// for the installer alone.
HANDLE JoinInstallerJob();

// The places a process may run from and still need the workspace, in the
// platform's native form ("\Device\HarddiskVolume3\Users\...\Temp"), the
// form in which it reports process images: every junction, SUBST drive,
// short name and folder mount point resolved, no trailing separator.
struct WorkspacePlaces {
  std::wstring workspace;
  std::wstring temp;  // the temporary folder; empty when unknown
  // Spellings of the workspace a command line may carry (the path as the
  // launcher made it, its long form, its resolved form on a drive letter).
  std::vector<std::wstring> spellings;
};

// The native form of the folder at path (Hooks.resolveFolderPath), without
// a trailing separator; empty when the folder cannot be opened or resolved.
std::wstring NativeFolderPath(const wchar_t* path);

// Fills places for the workspace folder at workspace and the temporary
// folder at temp (null or empty when unknown). A temporary folder that is a
// volume's root is left out: it would hold everything.
void FindWorkspacePlaces(const wchar_t* workspace, const wchar_t* temp, WorkspacePlaces* places);

// True when path names something below folder: compared case-insensitively,
// at a folder boundary.
bool LiesUnder(const std::wstring& path, const std::wstring& folder);

// True for the system's hosts that run installers or scripts handed to them
// (msiexec, cmd, wscript, cscript, powershell, pwsh, rundll32), by the leaf
// of image.
bool IsWorkingHost(const std::wstring& image);

// True when the command line names one of the spellings as a path or the
// start of one (followed by a separator, a quote, a blank or the end),
// case-insensitively.
bool CommandLineNamesWorkspace(const std::wstring& commandLine, const WorkspacePlaces& places);

// One process as a listing found it.
struct ListedProcess {
  DWORD id;
  DWORD parentId;
  uint64_t created;  // creation time in 100 ns units; 0 when unknown
  bool inJob;
  bool sameUser;            // runs as the launcher's user
  std::wstring image;       // native form; empty when it could not be read
  std::wstring commandLine; // read for processes of the same user outside the job only
};

// Why a process holds the workspace.
enum HoldReason {
  kHoldsByImage,        // its image lies in the workspace
  kHoldsByDescent,      // a host, or an image under the temporary folder, started from the installation
  kHoldsByCommandLine,  // outside the job, of the launcher's user, its command line names the workspace
};

// A process judged by an earlier listing, kept so that its children can
// still be judged after it ended.
struct JudgedProcess {
  DWORD id;
  uint64_t created;
  bool holds;
  HoldReason reason = kHoldsByImage;  // when it holds
};

// A process of the job whose image path could not be read, and since when
// (tick count).
struct UnreadableImage {
  DWORD processId;
  DWORD since;
};

// A process the wait waits for, from the first listing that found it
// holding the workspace until the first that no longer shows it.
struct WaitedProcess {
  DWORD id;
  uint64_t created;
  DWORD since;  // tick count of the listing that first found it holding
  HoldReason reason;
  bool inJob;
  std::wstring image;  // native form; empty when it could not be read
};

// Told of each process waited for twice: once when first found holding,
// once when gone (now is the tick count of the listing that missed it).
// A process whose image cannot be read yet is waited for during its grace
// without being told: nearly every one is known by the next listing, and
// most then hold nothing.
struct WaitObserver {
  void (*seen)(void* context, const WaitedProcess& process);
  void (*ended)(void* context, const WaitedProcess& process, DWORD now);
  void* context;
};

// What the wait keeps between listings.
struct WaitMemory {
  std::vector<JudgedProcess> judged;
  std::vector<UnreadableImage> unreadable;
  std::vector<WaitedProcess> waited;  // found holding, not yet gone
};

// Judges one listing. A process of the job holds the workspace when its
// image lies in the workspace; or when it is a working host or its image
// lies under the temporary folder, and its parent holds. The parent is the
// process of parentId created before the child, in this listing or judged
// by an earlier one (ids are reused); the launcher (self) holds; a parent
// never seen, because it ended between two listings, holds. A process
// outside the job holds when its image lies in the workspace, or when it
// runs as the launcher's user and its command line names the workspace. A
// process of the job whose image cannot be read holds for
// kUnreadableImageGraceMs from the first listing that found it so (now is
// the tick count). Verdicts are kept in memory, and so is each process
// found holding until a listing no longer shows it; observer (may be null)
// is told of both. True when any process but self holds.
bool ListingHoldsWorkspace(const std::vector<ListedProcess>& listing, const WorkspacePlaces& places,
                           DWORD self, DWORD now, WaitMemory* memory, const WaitObserver* observer = nullptr);

// Lists every process once (ids, parents, creation times), marks those of
// job, and reads what the judgement needs of the processes memory has not
// judged yet: the image in native form, through a handle
// (Hooks.openProcess, PROCESS_NAME_NATIVE) or, for a process that cannot be
// opened (another account's), without one (Hooks.readImageWithoutHandle);
// whether it runs as the launcher's user, and its command line when it does
// and is outside the job. A process of the job that the system list does not
// show yet is listed with an unreadable image. False when the job or the
// system cannot be listed.
bool ListProcesses(HANDLE job, const WaitMemory& memory, std::vector<ListedProcess>* listing);

// Lists and judges once. True when a process other than the launcher holds
// the workspace. False too when nothing could be listed: *listed (may be
// null) tells the two apart.
bool JobHoldsWorkspace(HANDLE job, const WorkspacePlaces& places, WaitMemory* memory,
                       const WaitObserver* observer = nullptr, bool* listed = nullptr);

// How a wait ended.
enum WaitEnd {
  kWaitWithoutJob,     // no job or no workspace: nothing was listed
  kWaitNothingHolds,   // a listing found nothing holding the workspace any more
  kWaitCannotList,     // the processes could not be listed (any more)
};

// Waits, the window hidden and the queue pumped, while a process other than
// the launcher holds the workspace at workspace; lists every kJobPollMs.
// There is no time limit: the fault is removing files under processes that
// still read them. Returns at once for a null job (no job could be made:
// the installer was waited for alone, as on systems without nested jobs) or
// when nothing can be listed. observer (may be null) is told of each
// process waited for; of those still waited for when the listing fails,
// no end is told.
WaitEnd AwaitWorkspaceProcesses(HANDLE job, const wchar_t* workspace, const WaitObserver* observer = nullptr);
