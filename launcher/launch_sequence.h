// The launcher's spine: the entry point and the main sequence of stages,
// from the splash window to the clean-up and the exit code.
#pragma once
#include <windows.h>

#include "launcher/signature.h"
#include "launcher/handover.h"
#include "launcher/run_log.h"
#include "launcher/workspace.h"
#include "payload/extract_payload.h"
#include "support/path_utils.h"

// Module instance handle of the program, written once by LauncherMain.
extern HINSTANCE ModuleInstance;

// The stages the sequence calls, held in one record so that tests can stand
// in for any of them. Stages holds the real ones unless a test swaps them.
struct SequenceStages {
  int (*createSplashWindow)(HINSTANCE module);
  int (*prepareWorkspace)(wchar_t* scratch, wchar_t* workspace, TakenWorkspaceNames* taken);
  int (*grantWorkspaceAccess)(const wchar_t* folder);
  int (*extractPayload)(HINSTANCE module, const wchar_t* folder, const ExtractProgress* progress);
  bool (*locateInstaller)(const wchar_t* workspace, wchar_t* scratch, wchar_t* installer);
  int (*verifyFileSignature)(SignatureRound* round);
  int (*handOverToInstaller)(const wchar_t* installer, const wchar_t* commandLine,
                             HANDLE* verifiedFile, DWORD* exitCode, StartAttempts* attempts);
  int (*removeTree)(const wchar_t* folder, DWORD budgetMs, void* context, RemoveFilter filter,
                    TreeLeftover* leftover);
  BOOL(WINAPI* destroyWindow)(HWND window);
};

extern SequenceStages Stages;
SequenceStages RealSequenceStages();

// The state of one run. It lives in the entry point's frame, outside the
// fault guard, so that a fault inside the sequence can still be cleaned up
// after: the workspace removed, the window destroyed, the installer file
// released.
struct SetupRun {
  wchar_t scratch[kWidePathCapacity];
  wchar_t workspace[kWidePathCapacity];
  wchar_t installer[kWidePathCapacity];
  // The installer opened for reading, sharing neither writing nor deleting,
  // from before its first signature check until its start is over.
  HANDLE verifiedFile;
  // What the clean-up still has to do; each step is cleared before it is
  // tried, so that a step that faulted is not tried again.
  bool windowToDestroy;
  bool workspaceToRemove;
  // The installer's exit code after a completed handover.
  DWORD installerExitCode;
  // The job the launcher joined before the handover (null when it could
  // not); closed by the clean-up.
  HANDLE installerJob;
  // The launcher's exit code after a failure: -99, or 1223 when the user
  // declined the installer's elevation.
  int failureExitCode;
  // The worker of a signature check given up at the stage's bound, still
  // running (null when none): the clean-up gives it time to end.
  HANDLE abandonedCheck;
  // The run's log; without a file when none could be made.
  RunLog log;
};

// Zero buffers, no handle, nothing made yet, the failure exit code -99.
void InitSetupRun(SetupRun* run);

// The exit code of every failure (4294967197 as an unsigned exit code).
constexpr int kLauncherFailureCode = -99;

// Walks every stage for run (fresh from InitSetupRun) and cleans up after
// itself. The installer is started inside the launcher's own job, and after
// it ends the launcher waits while anything it started still runs from the
// workspace (AwaitWorkspaceProcesses). Returns 1 when the installer was
// started and has ended (its exit code in run->installerExitCode), 0 on
// every failure, each reported by one message box.
int RunSetupSequence(SetupRun* run, const wchar_t* commandLine);

// Releases the installer file, removes the workspace (marking what resists
// for removal at the next restart), destroys the window and closes the
// installer's job, as far as they are still there; a second call does
// nothing more.
void CleanUpSetupRun(SetupRun* run);

// The Unicode GUI entry point's work. Returns the process exit code: the
// installer's own after a completed handover, 1223 (ERROR_CANCELLED) when
// the user declined the installer's elevation, -99 after any other failure.
int LauncherMain(HINSTANCE instance, HINSTANCE previous, PWSTR commandLine, int show);
