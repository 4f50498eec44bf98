#include "launcher/launch_sequence.h"

#include "launcher/dll_search.h"
#include "launcher/extract_progress.h"
#include "launcher/handover.h"
#include "launcher/installer_job.h"
#include "launcher/installer_search.h"
#include "launcher/launcher_hooks.h"
#include "launcher/signature.h"
#include "splash/screen_dpi.h"
#include "splash/splash_picture.h"
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

// The clock of the signature stage, for the waits on each check, the
// provider flags of its next round (cache-only until a round finds that the
// chain cannot be built from what the machine has), and what the log needs
// to say of its rounds.
struct SignatureStage {
  uint64_t start;
  DWORD providerFlags;
  RunLog* log;
  int rounds;
  bool slowLogged;
};

// Says once that the stage passed the mark after which the status reports a
// time-out.
void NoteSlowSignature(SignatureStage* stage) {
  if (stage->slowLogged) return;
  stage->slowLogged = true;
  LogLine(stage->log, L"signature: not verified after %.0f s: the status now reads \"Digital signature timed out ...\"",
          kSignatureSlowSeconds);
}

// One line per round (LogSignatureRound), with the time since began.
void NoteSignatureRound(SignatureStage* stage, const int result, const SignatureRound& round, uint64_t began) {
  LogSignatureRound(stage->log, stage->rounds, result, round,
                    ElapsedSeconds(began, Hooks.readTimestamp()) * 1000.0);
}

// Asked while a check runs: gives up at the stage's bound, and reports a
// check that is slow by itself as the retries do.
bool KeepWaitingForSignature(void* context) {
  auto* stage = static_cast<SignatureStage*>(context);
  const double seconds = ElapsedSeconds(stage->start, Hooks.readTimestamp());
  if (seconds >= kSignatureGiveUpSeconds) return false;
  if (seconds > kSignatureSlowSeconds) {
    Hooks.setStatusText(kTimedOut);
    NoteSlowSignature(stage);
  }
  return true;
}

// One signature check, on a worker thread while the window is served, of
// the held file through a duplicate of its handle of the round's own (the
// worker may outlive the round, and the clean-up closes the held handle). A
// file that is not held counts as not verified: what the check passes must
// be what starts. kSignatureAbandoned when the stage's bound passed during
// the check; the worker is then kept in run->abandonedCheck.
int CheckInstaller(SetupRun* run, SignatureStage* stage) {
  ++stage->rounds;
  if (!HoldInstaller(run)) {
    LogLine(&run->log, L"signature: round %d: the installer cannot be held open against changes (error %lu)",
            stage->rounds, GetLastError());
    return kSignatureFailed;
  }
  HANDLE copy = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), run->verifiedFile, GetCurrentProcess(), &copy, 0, FALSE,
                       DUPLICATE_SAME_ACCESS)) {
    LogLine(&run->log, L"signature: round %d: the held installer's handle cannot be duplicated (error %lu)",
            stage->rounds, GetLastError());
    return kSignatureFailed;
  }
  SignatureRound round = {run->installer, copy, stage->providerFlags, 0, {}};
  const uint64_t began = Hooks.readTimestamp();
  const int result = RunSignatureCheck(Stages.verifyFileSignature, &round, KeepWaitingForSignature,
                                       stage, &run->abandonedCheck);
  NoteSignatureRound(stage, result, round, began);
  if (result != kSignatureAbandoned && ChainNeedsNetwork(round.trustResult) &&
      (stage->providerFlags & kTrustCacheOnly)) {
    stage->providerFlags &= ~kTrustCacheOnly;
    LogLine(&run->log, L"signature: the chain cannot be built from the machine's own stores: later rounds may "
                       L"fetch certificates over the network");
  }
  return result;
}

// The stage's last line: how it ended, after how long and how many rounds.
bool EndSignatureStage(SetupRun* run, const SignatureStage& stage, bool verified) {
  const double seconds = ElapsedSeconds(stage.start, Hooks.readTimestamp());
  if (verified) {
    LogLine(&run->log, L"signature: verified after %d round(s), %.1f s", stage.rounds, seconds);
    return true;
  }
  wchar_t cause[160];
  StrFormatBounded(cause, 160, L"signature: not verified after %d round(s), %.1f s: given up", stage.rounds,
                   seconds);
  LogFailure(&run->log, cause);
  return false;
}

// Repeats the check until it verifies. Returns false when it still has not
// after kSignatureGiveUpSeconds, even when a check is still running then.
bool AwaitVerifiedInstaller(SetupRun* run) {
  Hooks.setStatusText(kChecking);
  SignatureStage stage = {Hooks.readTimestamp(), kTrustCacheOnly, &run->log, 0, false};
  Hooks.pumpMessages(0, false);
  int result = CheckInstaller(run, &stage);
  if (result == kSignatureVerified) return EndSignatureStage(run, stage, true);
  if (result == kSignatureAbandoned) return EndSignatureStage(run, stage, false);
  ShowTaskbarWaiting();
  for (;;) {
    const double seconds = ElapsedSeconds(stage.start, Hooks.readTimestamp());
    if (seconds >= kSignatureGiveUpSeconds) return EndSignatureStage(run, stage, false);
    if (seconds > kSignatureSlowSeconds) {
      NoteSlowSignature(&stage);
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
    if (result == kSignatureVerified) return EndSignatureStage(run, stage, true);
    if (result == kSignatureAbandoned) return EndSignatureStage(run, stage, false);
  }
}

// Reports a failure in the splash window's name, then cleans up.
int Fail(SetupRun* run, const wchar_t* caption, const wchar_t* text) {
  if (!run->log.cause[0]) StrCopyBounded(run->log.cause, kRunLogLineUnits, caption);
  LogLine(&run->log, L"failure: \"%s\"%s", caption,
          FailureBoxesCanBeSeen ? L", reported in a box" : L", no box: nobody sees the window station");
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
  InitRunLog(&run->log);
  run->verifiedFile = INVALID_HANDLE_VALUE;
  run->failureExitCode = kLauncherFailureCode;
}

void CleanUpSetupRun(SetupRun* run) {
  if (run->verifiedFile != INVALID_HANDLE_VALUE) {
    CloseHandle(run->verifiedFile);
    run->verifiedFile = INVALID_HANDLE_VALUE;
  }
  run->log.closing = true;
  // A check given up at the stage's bound may still read the installer
  // through its own handle: a few seconds to end let the workspace go whole.
  if (run->abandonedCheck)
    LogLine(&run->log, AwaitAbandonedCheck(&run->abandonedCheck, kAbandonedCheckGraceMs)
                           ? L"signature: the check given up at the bound has ended"
                           : L"signature: the check given up at the bound still runs after %lu ms",
            kAbandonedCheckGraceMs);
  if (run->workspaceToRemove) {
    run->workspaceToRemove = false;
    // What still resists after the wait and the retries (a file held by a
    // process outside the job) goes at the next restart, where allowed.
    TreeLeftover leftover = {};
    const bool removed = Stages.removeTree(run->workspace, 1000, nullptr, nullptr, &leftover) != 0;
    LogCleanUp(&run->log, removed, leftover, removed ? -1 : MarkTreeForRemovalAtRestart(run->workspace));
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
    LogFailure(&run->log, L"window: the splash window could not be created");
    // No folder exists yet: nothing to clean up.
    ShowFailureMessage(GetDesktopWindow(), L"Window Creation Failed",
                       L"Setup was unable to create a user interface");
    return 0;
  }
  run->windowToDestroy = true;
  LogLine(&run->log, L"window: picture %dx%d pixels, scaled for %d DPI (the monitor's %d)", static_cast<int>(SplashImage.width),
          static_cast<int>(SplashImage.height), RoundScreenDpi(SplashWindowDpi()), SplashWindowDpi());
  Hooks.setStatusText(kPreparing);
  Hooks.showWindow(SplashWindow, SW_SHOW);
  Hooks.pumpMessages(0, false);
  StartTaskbarProgress(SplashWindow);

  // A folder that could not be made anew is never used, nor removed:
  // whatever stands under its name (or under a cut name) may not be ours.
  TakenWorkspaceNames taken = {};
  const bool prepared = Stages.prepareWorkspace(run->scratch, run->workspace, &taken) != 0;
  LogTakenWorkspaceNames(&run->log, taken);
  if (prepared) {
    run->workspaceToRemove = true;
    LogLine(&run->log, L"workspace: %s", run->workspace);
    Stages.grantWorkspaceAccess(run->workspace);
  } else {
    run->workspace[0] = L'\0';
    LogFailure(&run->log, L"workspace: no folder could be made anew in the temporary folder");
  }
  ProgressPacer pacer = {};
  const ExtractProgress window = PacedWindowProgress(&pacer);
  ExtractionTally tally;
  const ExtractProgress progress = TallyingProgress(&tally, &window);
  const bool extracted = prepared && Stages.extractPayload(ModuleInstance, run->workspace, &progress);
  if (prepared) LogExtraction(&run->log, tally, extracted);
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

  const bool located = Stages.locateInstaller(run->workspace, run->scratch, run->installer);
  if (located) LogLine(&run->log, L"installer: %s", run->installer);
  else LogFailure(&run->log, L"installer: no 'Setup.exe' in the workspace");
  if (!located)
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
  if (!run->installerJob)
    LogLine(&run->log, L"start: no job could be made or joined (error %lu): what the installer leaves running "
                       L"cannot be waited for",
            GetLastError());
  DWORD outcome = 0;  // the installer's exit code, or the start's error
  StartAttempts attempts = {};
  const int result = Stages.handOverToInstaller(run->installer, commandLine, &run->verifiedFile,
                                                &outcome, &attempts);
  LogStartAttempts(&run->log, attempts, result != 0);
  if (result) {
    run->installerExitCode = outcome;
    LogLine(&run->log, L"installer: ended with exit code %lu (0x%08lx)", outcome, outcome);
    WaitTally tally;
    const WaitObserver observer = LoggingWaitObserver(&tally, &run->log);
    LogWaitEnd(tally, AwaitWorkspaceProcesses(run->installerJob, run->workspace, &observer));
  } else {
    run->failureExitCode = ExitCodeForStartError(outcome);
    wchar_t text[240], cause[320];
    SystemErrorText(outcome, text, 240);
    StrFormatBounded(cause, 320, L"start: the installer could not be started: error %lu (%s)", outcome, text);
    LogFailure(&run->log, cause);
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
  SYSTEMTIME now;
  GetLocalTime(&now);
  OpenRunLog(&run.log, now);
  LogStart(&run.log, commandLine);
  int result = 0;
  if (!RunGuarded([&] { result = RunSetupSequence(&run, commandLine); })) {
    // A fault ended the sequence: it still leaves no folder and no window
    // behind. The clean-up runs guarded too, since the fault may recur.
    result = 0;
    LogFailure(&run.log, L"a processor fault ended the sequence");
    RunGuarded([&] { CleanUpSetupRun(&run); });
  }
  const int exitCode = result ? static_cast<int>(run.installerExitCode) : run.failureExitCode;
  // Where nobody saw a box, a deployment console collects the event log.
  if (!result && !FailureBoxesCanBeSeen)
    LogLine(&run.log, ReportFailureToEventLog(&run.log, exitCode) ? L"event log: failure entry written"
                                                                  : L"event log: no entry could be written");
  LogExitCode(&run.log, exitCode);
  return exitCode;
}
