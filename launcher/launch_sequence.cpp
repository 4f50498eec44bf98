#include "launcher/launch_sequence.h"

#include "launcher/dll_search.h"
#include "launcher/extract_progress.h"
#include "launcher/handover.h"
#include "launcher/installer_job.h"
#include "launcher/installer_search.h"
#include "launcher/launcher_hooks.h"
#include "launcher/signature.h"
#include "splash/splash_window.h"
#include "splash/taskbar_progress.h"
#include "support/fault_guard.h"

HINSTANCE ModuleInstance = nullptr;

namespace {

constexpr wchar_t kPreparing[] = L"Preparing installation data ...";
constexpr wchar_t kLocating[] = L"Locating the binary 'Setup.exe' ...";
constexpr wchar_t kChecking[] = L"Checking digital signature for 'Setup.exe' ...";
constexpr wchar_t kTimedOut[] = L"Digital signature timed out ...";
constexpr wchar_t kHandingOver[] = L"Handing over to 'Setup.exe' ...";

// Opens the found installer so that nobody can write, delete or rename it
// while it is checked and started. True when it is held.
bool HoldInstaller(SetupRun* run) {
  if (run->verifiedFile != INVALID_HANDLE_VALUE) return true;
  run->verifiedFile = CreateFileW(run->installer, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  return run->verifiedFile != INVALID_HANDLE_VALUE;
}

// The clock of the signature stage, for the waits on each check, and the
// provider flags of its next round: cache-only until a round finds that the
// chain cannot be built from what the machine has.
struct SignatureStage {
  uint64_t start;
  DWORD providerFlags;
};

// Asked while a check runs: gives up at the stage's bound, and reports a
// check that is slow by itself as the retries do.
bool KeepWaitingForSignature(void* context) {
  const auto* stage = static_cast<const SignatureStage*>(context);
  const double seconds = ElapsedSeconds(stage->start, Hooks.readTimestamp());
  if (seconds >= kSignatureGiveUpSeconds) return false;
  if (seconds > kSignatureSlowSeconds) Hooks.setStatusText(kTimedOut);
  return true;
}

// One signature check, on a worker thread while the window is served, of
// the held file through a duplicate of its handle of the round's own (the
// worker may outlive the round, and the clean-up closes the held handle). A
// file that is not held counts as not verified: what the check passes must
// be what starts. kSignatureAbandoned when the stage's bound passed during
// the check; the worker is then kept in run->abandonedCheck.
int CheckInstaller(SetupRun* run, SignatureStage* stage) {
  if (!HoldInstaller(run)) return kSignatureFailed;
  HANDLE copy = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), run->verifiedFile, GetCurrentProcess(), &copy, 0, FALSE,
                       DUPLICATE_SAME_ACCESS))
    return kSignatureFailed;
  SignatureRound round = {run->installer, copy, stage->providerFlags, 0};
  const int result = RunSignatureCheck(Stages.verifyFileSignature, &round, KeepWaitingForSignature,
                                       stage, &run->abandonedCheck);
  if (result != kSignatureAbandoned && ChainNeedsNetwork(round.trustResult))
    stage->providerFlags &= ~kTrustCacheOnly;
  return result;
}

// Repeats the check until it verifies. Returns false when it still has not
// after kSignatureGiveUpSeconds, even when a check is still running then.
bool AwaitVerifiedInstaller(SetupRun* run) {
  Hooks.setStatusText(kChecking);
  SignatureStage stage = {Hooks.readTimestamp(), kTrustCacheOnly};
  Hooks.pumpMessages(0, false);
  int result = CheckInstaller(run, &stage);
  if (result == kSignatureVerified) return true;
  if (result == kSignatureAbandoned) return false;
  ShowTaskbarWaiting();
  for (;;) {
    const double seconds = ElapsedSeconds(stage.start, Hooks.readTimestamp());
    if (seconds >= kSignatureGiveUpSeconds) return false;
    if (seconds > kSignatureSlowSeconds) {
      Hooks.setStatusText(kTimedOut);
      for (int i = 0; i < 5; ++i) {
        Hooks.pumpMessages(0, false);
        Hooks.sleep(200);
      }
    } else {
      Hooks.sleep(250);
    }
    Hooks.pumpMessages(0, false);
    result = CheckInstaller(run, &stage);
    if (result == kSignatureVerified) return true;
    if (result == kSignatureAbandoned) return false;
  }
}

// Reports a failure in the splash window's name, then cleans up.
int Fail(SetupRun* run, const wchar_t* caption, const wchar_t* text) {
  ClearTaskbarProgress();
  ShowFailureMessage(SplashWindow, caption, text);
  CleanUpSetupRun(run);
  return 0;
}

}  // namespace

SequenceStages RealSequenceStages() {
  SequenceStages stages;
  stages.createSplashWindow = CreateSplashWindow;
  stages.prepareWorkspace = PrepareWorkspace;
  stages.grantWorkspaceAccess = GrantWorkspaceAccess;
  stages.extractPayload = ExtractPayload;
  stages.locateInstaller = LocateInstaller;
  stages.verifyFileSignature = VerifyFileSignature;
  stages.handOverToInstaller = HandOverToInstaller;
  stages.removeTree = RemoveTree;
  stages.destroyWindow = DestroyWindow;
  return stages;
}

SequenceStages Stages = RealSequenceStages();

void InitSetupRun(SetupRun* run) {
  ZeroMemory(run, sizeof(*run));
  run->verifiedFile = INVALID_HANDLE_VALUE;
  run->failureExitCode = kLauncherFailureCode;
}

void CleanUpSetupRun(SetupRun* run) {
  if (run->verifiedFile != INVALID_HANDLE_VALUE) {
    CloseHandle(run->verifiedFile);
    run->verifiedFile = INVALID_HANDLE_VALUE;
  }
  // A check given up at the stage's bound may still read the installer
  // through its own handle: a few seconds to end let the workspace go whole.
  AwaitAbandonedCheck(&run->abandonedCheck, kAbandonedCheckGraceMs);
  if (run->workspaceToRemove) {
    run->workspaceToRemove = false;
    // What still resists after the wait and the retries (a file held by a
    // process outside the job) goes at the next restart, where allowed.
    if (!Stages.removeTree(run->workspace, 1000, nullptr, nullptr))
      MarkTreeForRemovalAtRestart(run->workspace);
  }
  if (run->windowToDestroy) {
    run->windowToDestroy = false;
    StopTaskbarProgress();
    Stages.destroyWindow(SplashWindow);
  }
  if (run->installerJob) {
    CloseHandle(run->installerJob);
    run->installerJob = nullptr;
  }
}

int RunSetupSequence(SetupRun* run, const wchar_t* commandLine) {
  if (!Stages.createSplashWindow(ModuleInstance)) {
    // No folder exists yet: nothing to clean up.
    ShowFailureMessage(GetDesktopWindow(), L"Window Creation Failed",
                       L"Setup was unable to create a user interface");
    return 0;
  }
  run->windowToDestroy = true;
  Hooks.setStatusText(kPreparing);
  Hooks.showWindow(SplashWindow, SW_SHOW);
  Hooks.pumpMessages(0, false);
  StartTaskbarProgress(SplashWindow);

  // A folder that could not be made anew is never used, nor removed:
  // whatever stands under its name (or under a cut name) may not be ours.
  const bool prepared = Stages.prepareWorkspace(run->scratch, run->workspace) != 0;
  if (prepared) {
    run->workspaceToRemove = true;
    Stages.grantWorkspaceAccess(run->workspace);
  } else {
    run->workspace[0] = L'\0';
  }
  ProgressPacer pacer = {};
  const ExtractProgress progress = PacedWindowProgress(&pacer);
  const bool extracted = prepared && Stages.extractPayload(ModuleInstance, run->workspace, &progress);
  ClearTaskbarProgress();
  if (!extracted)
    return Fail(run, L"Payload Extraction Failed",
                L"Setup was unable to extract its payload package");

  // Keeps the extraction's last status on screen for about 0.4 s.
  Hooks.sleep(200);
  Hooks.pumpMessages(0, false);
  Hooks.sleep(200);
  Hooks.pumpMessages(0, false);
  Hooks.setStatusText(kLocating);
  Hooks.pumpMessages(0, false);

  if (!Stages.locateInstaller(run->workspace, run->scratch, run->installer))
    return Fail(run, L"Installer Not Found",
                L"Setup could not locate the installer binary 'Setup.exe'");

  if (!AwaitVerifiedInstaller(run))
    return Fail(run, L"Signature Check Failed",
                L"Setup could not verify the digital signature of the installer binary 'Setup.exe'");

  ClearTaskbarProgress();
  Hooks.setStatusText(kHandingOver);
  Hooks.pumpMessages(250, true);
  // Whatever the installer starts from here on belongs to the job, so that
  // its second stages are seen after it exits.
  run->installerJob = JoinInstallerJob();
  DWORD outcome = 0;  // the installer's exit code, or the start's error
  const int result = Stages.handOverToInstaller(run->installer, commandLine, &run->verifiedFile,
                                                &outcome);
  if (result) {
    run->installerExitCode = outcome;
    AwaitWorkspaceProcesses(run->installerJob, run->workspace);
  } else {
    run->failureExitCode = ExitCodeForStartError(outcome);
  }
  CleanUpSetupRun(run);
  return result ? 1 : 0;
}

int LauncherMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
  // Before anything can load a DLL: only the system folder is searched.
  HardenDllSearch();
  ModuleInstance = instance;
  NoteWhetherBoxesCanBeSeen();

  SetupRun run;
  InitSetupRun(&run);
  int result = 0;
  if (!RunGuarded([&] { result = RunSetupSequence(&run, commandLine); })) {
    // A fault ended the sequence: it still leaves no folder and no window
    // behind. The clean-up runs guarded too, since the fault may recur.
    result = 0;
    RunGuarded([&] { CleanUpSetupRun(&run); });
  }
  return result ? static_cast<int>(run.installerExitCode) : run.failureExitCode;
}
