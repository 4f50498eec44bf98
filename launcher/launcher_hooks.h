// The platform services the launcher's stages reach through one record, so
// that tests can drive the sequence on a virtual clock, see every status
// text and message box, and make the shell fail, without real waits.
// Hooks holds the real functions unless a test swaps them.
#pragma once
#include <windows.h>
#include <shellapi.h>

#include <cstdint>

struct LauncherHooks {
  void (*setStatusText)(const wchar_t* text);
  BOOL(WINAPI* showWindow)(HWND window, int command);
  int (*pumpMessages)(int budgetMs, bool discardInput);
  void(WINAPI* sleep)(DWORD milliseconds);
  DWORD(WINAPI* tickCount)();
  uint64_t (*readTimestamp)();
  int(WINAPI* messageBox)(HWND owner, LPCWSTR text, LPCWSTR caption, UINT flags);
  BOOL(WINAPI* shellExecuteEx)(SHELLEXECUTEINFOW* launch);
  // The process token's integrity level (ReadProcessIntegrity): under Wine
  // every process runs at High, so tests stand in for the other levels.
  DWORD (*readIntegrityLevel)();
  // The installer's job; Wine lets every process make and join one, so
  // tests stand in for a platform that refuses.
  HANDLE(WINAPI* createJobObject)(LPSECURITY_ATTRIBUTES attributes, LPCWSTR name);
  BOOL(WINAPI* assignProcessToJobObject)(HANDLE job, HANDLE process);
  // A process's image path (native form for the wait); fails for a moment
  // after a process starts.
  BOOL(WINAPI* queryProcessImageName)(HANDLE process, DWORD flags, LPWSTR name, PDWORD size);
  // Marking what resists removal for deletion at the next restart.
  BOOL(WINAPI* moveFileEx)(LPCWSTR from, LPCWSTR to, DWORD flags);
  // The window station's flags (NoteWhetherBoxesCanBeSeen): Wine's station
  // is always visible, so tests stand in for a service's.
  BOOL(WINAPI* getUserObjectInformation)(HANDLE object, int index, PVOID information,
                                         DWORD length, LPDWORD needed);
  // The wait on the signature check's worker, woken by window messages;
  // tests run it on a virtual clock.
  DWORD(WINAPI* msgWaitForMultipleObjects)(DWORD count, const HANDLE* handles, BOOL waitAll,
                                           DWORD milliseconds, DWORD wakeMask);

  // --- Session, trust rounds, workspace names and the wait after the
  // installer: what Wine cannot show (session 0, other accounts, moved
  // folders) is stood in for through these.
  // The launcher's session (NoteWhetherBoxesCanBeSeen): Wine has no session 0.
  BOOL(WINAPI* processIdToSessionId)(DWORD processId, DWORD* sessionId);
  // The random source of the workspace's further names (RtlGenRandom).
  BOOLEAN(WINAPI* genRandom)(PVOID buffer, ULONG length);
  // The Application event log's entry of a failed run nobody saw
  // (ReportFailureToEventLog); tests see what would be written.
  BOOL(WINAPI* reportEvent)(HANDLE source, WORD type, WORD category, DWORD id, PSID user,
                            WORD stringCount, DWORD dataSize, LPCWSTR* strings, LPVOID data);
  // A folder's native final path (ResolveFolderPath): junctions, SUBST
  // drives and folder mount points, which Wine does not make.
  BOOL (*resolveFolderPath)(const wchar_t* path, wchar_t* native, DWORD capacity);
  // Opening a listed process: refused for another account's processes,
  // which Wine does not have.
  HANDLE(WINAPI* openProcess)(DWORD access, BOOL inherit, DWORD processId);
  // A process's image path read without a handle (ReadImageWithoutHandle):
  // Wine has no such query.
  BOOL (*readImageWithoutHandle)(DWORD processId, wchar_t* image, DWORD capacity);
};

extern LauncherHooks Hooks;

// The real functions, for tests that put them back or wrap them.
LauncherHooks RealLauncherHooks();

// Flags of every failure box: MB_OK | MB_ICONWARNING | MB_SYSTEMMODAL |
// MB_SETFOREGROUND | MB_TOPMOST.
constexpr UINT kFailureBoxFlags = 0x00051030;

// False when the process runs in session 0 or its window station is not
// visible: a service's or a deployment tool's session, whose desktop nobody
// sees. A box there would wait for an OK that never comes, holding the
// clean-up and the exit code back until the tool gives up, so failure boxes
// are skipped and the run ends as it would after the box. True until
// NoteWhetherBoxesCanBeSeen has run.
extern bool FailureBoxesCanBeSeen;

// Reads the process's session and the flags of its window station once, at
// start, and sets FailureBoxesCanBeSeen. Session 0 is never seen, whatever
// its station says: its interactive station still reports WSF_VISIBLE,
// although since Windows Vista no user's desktop shows it. Elsewhere
// WSF_VISIBLE decides, and a station whose flags cannot be read counts as
// visible: a box too many beats a failure nobody is told of.
void NoteWhetherBoxesCanBeSeen();

// Shows one failure box, unless nobody could see it; its answer is not read. A destroyed owner is
// replaced by none, and a pending quit message waits until the box is
// answered, so that the box is seen even after the splash window closed.
void ShowFailureMessage(HWND owner, const wchar_t* caption, const wchar_t* text);
