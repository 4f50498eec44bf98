// The main sequence on a virtual clock: every stage, status text, pause,
// message box and clean-up step is recorded through the seams, in order.
#include "launcher/launch_sequence.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "launcher/launcher_hooks.h"
#include "launcher/signature.h"
#include "splash/splash_window.h"
#include "tests/launcher/test_tree.h"

namespace {

// One report of a scripted extraction, made after the clock has moved on
// by advanceMs: a stage text when text is set, else an entry when number is
// set, else bytes.
struct Report {
  uint32_t advanceMs;
  const wchar_t* text;
  uint32_t number, count;
  uint64_t written, total;
};

struct Script {
  bool windowOk = true, prepareOk = true, extractOk = true, locateOk = true;
  bool faultInExtract = false;
  bool realExtraction = false;       // the program's own payload resource, unpacked
  std::vector<Report> extraction;    // played to the progress record by the fake
  int removeOk = 1;
  double verifiesAfter = 0.0;  // seconds of virtual time; < 0: never
  int handoverResult = 1;
  DWORD installerExit = 0;
  DWORD startError = ERROR_ACCESS_DENIED;  // of a failed handover
  std::wstring folder, installer;  // real folder with a real installer file
  uint64_t nowMs = 1000;
  uint64_t stageStartMs = 0;
  std::vector<std::wstring> log;
  std::vector<double> logTimes;
  bool lockedDuringCheck = false;
  bool checkBlocks = false;  // the check never returns during the run
  // The trust service's result per round (the last one repeats); empty:
  // verifiesAfter decides.
  std::vector<LONG> trustResults;
  // What each round was given: its provider flags, and whether its handle
  // was a duplicate of its own of the held installer.
  std::vector<DWORD> roundFlags;
  std::vector<bool> roundHandleSound;
  const SetupRun* run = nullptr;
  // A blocking check is let go once this long has passed since the stage
  // began (0: never during the run).
  uint64_t releaseAfterStageMs = 0;
  void Note(const std::wstring& entry) {
    log.push_back(entry);
    logTimes.push_back(static_cast<double>(nowMs - stageStartMs) / 1000.0);
  }
};
Script* S = nullptr;

void FakeStatus(const wchar_t* text) {
  // Times are taken from the start of the signature stage.
  if (text == std::wstring(L"Checking digital signature for 'Setup.exe' ...")) S->stageStartMs = S->nowMs;
  S->Note(std::wstring(L"status ") + text);
}
BOOL WINAPI FakeShow(HWND, int command) { S->Note(L"show " + std::to_wstring(command)); return TRUE; }
int FakePump(int budget, bool discard) {
  S->Note(L"pump " + std::to_wstring(budget) + (discard ? L" discard" : L""));
  return 1;
}
void WINAPI FakeSleep(DWORD ms) { S->nowMs += ms; S->Note(L"sleep " + std::to_wstring(ms)); }
uint64_t FakeClock() {
  // The counter runs with the tick count, as on a sound machine.
  return ComposeTimestamp(static_cast<uint32_t>(S->nowMs), S->nowMs * 1000, 1000000);
}
int WINAPI FakeBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT flags) {
  wchar_t hex[16];
  wsprintfW(hex, L"%08x", flags);
  S->Note(std::wstring(L"box ") + caption + L" | " + text + L" | " + hex +
          (owner == GetDesktopWindow() ? L" | desktop" : owner == SplashWindow ? L" | splash" : L" | ?"));
  return IDOK;
}
DWORD WINAPI FakeTick() { return static_cast<DWORD>(S->nowMs); }
int FakeCreateWindow(HINSTANCE) {
  S->Note(L"create window");
  if (!S->windowOk) return 0;
  SplashWindow = CreateWindowExW(0, L"STATIC", L"splash", WS_OVERLAPPED, 0, 0, 50, 50, nullptr,
                                 nullptr, nullptr, nullptr);
  return SplashWindow != nullptr;
}
int FakePrepare(wchar_t*, wchar_t* workspace, TakenWorkspaceNames*) {
  S->Note(L"prepare");
  lstrcpyW(workspace, S->folder.c_str());
  return S->prepareOk;
}
int FakeGrant(const wchar_t* folder) { S->Note(std::wstring(L"grant ") + folder); return 1; }
int FakeExtract(HINSTANCE module, const wchar_t* folder, const ExtractProgress* progress) {
  S->Note(std::wstring(L"extract ") + folder);
  if (S->faultInExtract) *static_cast<volatile int*>(nullptr) = 1;
  if (S->realExtraction) return ExtractPayload(module, folder, progress);
  for (const Report& r : S->extraction) {
    S->nowMs += r.advanceMs;
    if (r.text) progress->stage(progress->context, r.text);
    else if (r.number) progress->entry(progress->context, r.number, r.count);
    else progress->bytes(progress->context, r.written, r.total);
  }
  return S->extractOk;
}
bool FakeLocate(const wchar_t*, wchar_t*, wchar_t* installer) {
  S->Note(L"locate");
  if (!S->locateOk) return false;
  lstrcpyW(installer, S->installer.c_str());
  return true;
}
// True when file is a handle of the round's own on the installer's file:
// not the held handle itself, yet the same file.
bool IsOwnCopyOfTheInstaller(HANDLE file) {
  if (!file || file == INVALID_HANDLE_VALUE || (S->run && file == S->run->verifiedFile)) return false;
  HANDLE named = CreateFileW(S->installer.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
  BY_HANDLE_FILE_INFORMATION a = {}, b = {};
  const bool same = named != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file, &a) &&
                    GetFileInformationByHandle(named, &b) && a.nFileIndexHigh == b.nFileIndexHigh &&
                    a.nFileIndexLow == b.nFileIndexLow && a.dwVolumeSerialNumber == b.dwVolumeSerialNumber;
  if (named != INVALID_HANDLE_VALUE) CloseHandle(named);
  return same;
}
void NoteRound(const SignatureRound* round) {
  S->roundFlags.push_back(round->providerFlags);
  S->roundHandleSound.push_back(IsOwnCopyOfTheInstaller(round->file));
}
int FakeVerify(SignatureRound* round) {
  S->nowMs += 30;  // a check takes a while
  S->lockedDuringCheck = test_tree::HeldAgainstWriting(round->path);
  NoteRound(round);
  bool ok;
  if (!S->trustResults.empty()) {
    const size_t n = std::min(S->roundFlags.size(), S->trustResults.size()) - 1;
    round->trustResult = S->trustResults[n];
    ok = round->trustResult == 0;
  } else {
    ok = S->verifiesAfter >= 0 &&
         static_cast<double>(S->nowMs - S->stageStartMs) / 1000.0 >= S->verifiesAfter;
    round->trustResult = ok ? 0 : static_cast<LONG>(0x800B0100);
  }
  S->Note(ok ? L"verify 1" : L"verify 0");
  return ok ? 1 : 0;
}
// The real wait on the worker, with no window messages: a check that
// returns at once ends it. While a check blocks, each slice of the wait
// passes in virtual time only, but only once the blocking check has begun:
// a round before it (one that returns at once) may not have been scheduled
// yet on a loaded machine, and its slices must not pass the stage's bound.
HANDLE LetCheckGo = CreateEventW(nullptr, TRUE, FALSE, nullptr);
HANDLE CheckStarted = CreateEventW(nullptr, TRUE, FALSE, nullptr);
DWORD WINAPI FakeWait(DWORD count, const HANDLE* handles, BOOL all, DWORD ms, DWORD) {
  if (S->checkBlocks && S->releaseAfterStageMs && S->nowMs - S->stageStartMs >= S->releaseAfterStageMs) {
    SetEvent(LetCheckGo);
    S->checkBlocks = false;
  }
  DWORD woke;
  if (S->checkBlocks && count < MAXIMUM_WAIT_OBJECTS) {
    std::vector<HANDLE> awaited(handles, handles + count);
    awaited.push_back(CheckStarted);
    woke = WaitForMultipleObjects(count + 1, awaited.data(), FALSE, 10000);
    if (woke == WAIT_OBJECT_0 + count) woke = WaitForMultipleObjects(count, handles, all, 0);
  } else {
    woke = WaitForMultipleObjects(count, handles, all, S->checkBlocks ? 0 : 10000);
  }
  if (woke == WAIT_TIMEOUT) {
    S->nowMs += ms;
    S->Note(L"wait " + std::to_wstring(ms));
  }
  return woke;
}
// A check that blocks until it is let go (never during a run), as a call
// of the trust service does behind a proxy that drops traffic. It touches
// nothing of the test's, which may be gone by the time it is let go.
int BlockingVerify(SignatureRound*) {
  SetEvent(CheckStarted);
  WaitForSingleObject(LetCheckGo, INFINITE);
  return 1;
}
// The first round finds no trusted root in the machine's stores; the
// second, allowed the network, blocks until let go.
int RootThenBlockingNetwork(SignatureRound* round) {
  NoteRound(round);
  if (S->roundFlags.size() == 1) {
    round->trustResult = static_cast<LONG>(0x800B0109);
    return -1;
  }
  return BlockingVerify(round);
}
int VerifyAfterThreeSeconds(SignatureRound*) {
  SetEvent(CheckStarted);
  Sleep(3000);
  return 1;
}

int FakeHandover(const wchar_t* installer, const wchar_t* line, HANDLE* file, DWORD* code, StartAttempts*) {
  S->Note(std::wstring(L"handover ") + installer + L" | " + line +
          (file && *file != INVALID_HANDLE_VALUE ? L" | held" : L" | not held"));
  if (file && *file != INVALID_HANDLE_VALUE) {
    CloseHandle(*file);
    *file = INVALID_HANDLE_VALUE;
  }
  if (code) *code = S->handoverResult ? S->installerExit : S->startError;
  return S->handoverResult;
}
int FakeRemove(const wchar_t* folder, DWORD budget, void* context, RemoveFilter filter, TreeLeftover*) {
  S->Note(std::wstring(L"remove ") + folder + L" " + std::to_wstring(budget) +
          (context || filter ? L" filtered" : L""));
  return S->removeOk;
}
// The platform refuses the job: the installer is waited for alone.
HANDLE WINAPI FakeCreateJob(LPSECURITY_ATTRIBUTES, LPCWSTR) {
  S->Note(L"job");
  SetLastError(ERROR_ACCESS_DENIED);
  return nullptr;
}
BOOL WINAPI FakeMark(LPCWSTR from, LPCWSTR to, DWORD flags) {
  std::wstring path(from);
  S->Note(L"mark " + path.substr(path.find_last_of(L'\\') + 1) + (to ? L" to ?" : L"") +
          (flags == MOVEFILE_DELAY_UNTIL_REBOOT ? L"" : L" flags ?"));
  return TRUE;
}
BOOL WINAPI FakeDestroy(HWND window) {
  S->Note(window == SplashWindow ? L"destroy splash" : L"destroy ?");
  return DestroyWindow(window);
}

class Sequence : public ::testing::Test {
 protected:
  void SetUp() override {
    script_.folder = test_tree::FreshFolder(L"sequence");
    script_.installer = script_.folder + L"\\Setup.exe";
    test_tree::WriteBytes(script_.installer, "MZ");
    S = &script_;
    Hooks.setStatusText = FakeStatus;
    Hooks.showWindow = FakeShow;
    Hooks.pumpMessages = FakePump;
    Hooks.sleep = FakeSleep;
    Hooks.tickCount = FakeTick;
    Hooks.readTimestamp = FakeClock;
    Hooks.messageBox = FakeBox;
    Hooks.createJobObject = FakeCreateJob;
    Hooks.moveFileEx = FakeMark;
    Hooks.msgWaitForMultipleObjects = FakeWait;
    Stages.createSplashWindow = FakeCreateWindow;
    Stages.prepareWorkspace = FakePrepare;
    Stages.grantWorkspaceAccess = FakeGrant;
    Stages.extractPayload = FakeExtract;
    Stages.locateInstaller = FakeLocate;
    Stages.verifyFileSignature = FakeVerify;
    Stages.handOverToInstaller = FakeHandover;
    Stages.removeTree = FakeRemove;
    Stages.destroyWindow = FakeDestroy;
  }
  void TearDown() override {
    Hooks = RealLauncherHooks();
    Stages = RealSequenceStages();
    FailureBoxesCanBeSeen = true;
    if (SplashWindow) DestroyWindow(SplashWindow);
    SplashWindow = nullptr;
    test_tree::Wipe(script_.folder);
    S = nullptr;
  }
  int Run(const wchar_t* line = L"/quiet") {
    SetupRun run;
    InitSetupRun(&run);
    script_.run = &run;
    const int result = RunSetupSequence(&run, line);
    script_.run = nullptr;
    EXPECT_EQ(run.abandonedCheck, nullptr) << "an abandoned check's worker was not let go";
    exitCode_ = run.installerExitCode;
    EXPECT_EQ(run.verifiedFile, INVALID_HANDLE_VALUE) << "installer file left open";
    return result;
  }
  // The entries that start with prefix.
  std::vector<std::wstring> Only(const std::wstring& prefix) const {
    std::vector<std::wstring> out;
    for (const auto& e : script_.log)
      if (e.compare(0, prefix.size(), prefix) == 0) out.push_back(e);
    return out;
  }
  size_t IndexOf(const std::wstring& entry) const {
    for (size_t i = 0; i < script_.log.size(); ++i)
      if (script_.log[i] == entry) return i;
    return static_cast<size_t>(-1);
  }
  Script script_;
  DWORD exitCode_ = 0;
};

TEST_F(Sequence, HappyRoadWalksEveryStageInOrder) {
  script_.installerExit = 3010;
  ASSERT_EQ(Run(L"  /quiet  "), 1);
  EXPECT_EQ(exitCode_, 3010u);
  const std::vector<std::wstring> expected = {
      L"create window",
      L"status Preparing installation data ...",
      L"show 5",
      L"pump 0",
      L"prepare",
      L"grant " + script_.folder,
      L"extract " + script_.folder,
      L"sleep 200",
      L"pump 0",
      L"sleep 200",
      L"pump 0",
      L"status Locating the binary 'Setup.exe' ...",
      L"pump 0",
      L"locate",
      L"status Checking digital signature for 'Setup.exe' ...",
      L"pump 0",
      L"verify 1",
      L"status Handing over to 'Setup.exe' ...",
      L"pump 250 discard",
      L"job",
      L"handover " + script_.installer + L" |   /quiet   | held",
      L"remove " + script_.folder + L" 1000",
      L"destroy splash",
  };
  EXPECT_EQ(script_.log, expected);
  EXPECT_TRUE(script_.lockedDuringCheck) << "the installer could be written while checked";
}

TEST_F(Sequence, SlowSignatureShowsTheTimeOutTextFromTheFirstRoundAfterTenSeconds) {
  script_.verifiesAfter = 12.0;
  ASSERT_EQ(Run(), 1);
  const size_t first = IndexOf(L"status Digital signature timed out ...");
  ASSERT_NE(first, static_cast<size_t>(-1));
  // Before the mark every round is one 250 ms pause; after it, five pumps
  // with 200 ms pauses (about a second) per round.
  const size_t checking = IndexOf(L"status Checking digital signature for 'Setup.exe' ...");
  for (size_t i = checking; i < first; ++i) {
    if (script_.log[i].compare(0, 6, L"sleep ") != 0) continue;
    EXPECT_EQ(script_.log[i], L"sleep 250");
  }
  EXPECT_GT(script_.logTimes[first], 10.0);
  EXPECT_LT(script_.logTimes[first], 10.6);
  for (size_t i = first; i < script_.log.size(); ++i) {
    if (script_.log[i].compare(0, 6, L"sleep ") != 0) continue;
    EXPECT_EQ(script_.log[i], L"sleep 200");
  }
  EXPECT_EQ(Only(L"box").size(), 0u);
  EXPECT_EQ(Only(L"handover").size(), 1u);
  const size_t verified = IndexOf(L"verify 1");
  EXPECT_GE(script_.logTimes[verified], 12.0);
  EXPECT_LT(script_.logTimes[verified], 13.5);
}

TEST_F(Sequence, SignatureThatNeverVerifiesEndsAtSixtySecondsWithABox) {
  script_.verifiesAfter = -1;
  ASSERT_EQ(Run(), 0);
  const auto boxes = Only(L"box");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0],
            L"box Signature Check Failed | Setup could not verify the digital signature of the "
            L"installer binary 'Setup.exe' | 00051030 | splash");
  const size_t box = IndexOf(boxes[0]);
  EXPECT_GE(script_.logTimes[box], 60.0);
  EXPECT_LT(script_.logTimes[box], 62.0);
  EXPECT_EQ(Only(L"handover").size(), 0u);
  EXPECT_EQ(script_.log[script_.log.size() - 2], L"remove " + script_.folder + L" 1000");
  EXPECT_EQ(script_.log.back(), L"destroy splash");
}

TEST_F(Sequence, ACheckThatBlocksEndsTheStageAtTheBoundWhileTheWindowIsServed) {
  // The check would return (verified) after 90 s; the stage ends at 60 s
  // with the usual failure, the check still running.
  ResetEvent(LetCheckGo);
  ResetEvent(CheckStarted);
  Stages.verifyFileSignature = BlockingVerify;
  script_.checkBlocks = true;
  ASSERT_EQ(Run(), 0);
  const auto boxes = Only(L"box");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].compare(0, 29, L"box Signature Check Failed | "), 0);
  const size_t box = IndexOf(boxes[0]);
  EXPECT_GE(script_.logTimes[box], 60.0);
  EXPECT_LT(script_.logTimes[box], 60.6);
  EXPECT_EQ(Only(L"handover").size(), 0u);
  EXPECT_EQ(script_.log.back(), L"destroy splash");
  // The window's messages were served all along: a pump after every slice
  // of the wait, never more than a slice apart.
  const size_t checking = IndexOf(L"status Checking digital signature for 'Setup.exe' ...");
  double lastPump = 0;
  int pumps = 0;
  for (size_t i = checking; i < box; ++i) {
    if (script_.log[i] != L"pump 0") continue;
    EXPECT_LE(script_.logTimes[i] - lastPump, 0.251) << "at " << script_.logTimes[i] << " s";
    lastPump = script_.logTimes[i];
    ++pumps;
  }
  EXPECT_GE(pumps, 240);
  EXPECT_GE(lastPump, 59.75);
  // The clean-up gives the check five seconds to let go of the installer,
  // serving the window all along, then removes the workspace as far as it
  // can (the check still runs).
  const size_t remove = IndexOf(L"remove " + script_.folder + L" 1000");
  ASSERT_NE(remove, static_cast<size_t>(-1));
  EXPECT_GE(script_.logTimes[remove] - script_.logTimes[box], 5.0);
  EXPECT_LT(script_.logTimes[remove] - script_.logTimes[box], 5.3);
  for (size_t i = box + 1; i < remove; ++i)
    EXPECT_TRUE(script_.log[i] == L"wait 250" || script_.log[i] == L"pump 0") << script_.log[i];
  // A check slow by itself is reported as slow retries are.
  const size_t slow = IndexOf(L"status Digital signature timed out ...");
  ASSERT_NE(slow, static_cast<size_t>(-1));
  EXPECT_GT(script_.logTimes[slow], 10.0);
  EXPECT_LE(script_.logTimes[slow], 10.3);
  SetEvent(LetCheckGo);  // the abandoned worker ends on its own
  Sleep(200);             // and lets go of its copy of the installer's handle
}

TEST_F(Sequence, TrustRoundsUseTheNetworkOnlyWhenTheLocalStoresCannotBuildTheChain) {
  constexpr DWORD kCacheOnly = 0x1000;  // WTD_CACHE_ONLY_URL_RETRIEVAL
  const LONG kUntrustedRoot = static_cast<LONG>(0x800B0109), kChaining = static_cast<LONG>(0x800B010A);
  const LONG kNoSignature = static_cast<LONG>(0x800B0100);
  struct Case {
    const char* name;
    std::vector<LONG> results;
    std::vector<DWORD> flags;  // of the first rounds
    int sequence;
  } cases[] = {
      {"verified from the machine's own stores", {0}, {kCacheOnly}, 1},
      {"an untrusted root, then verified with the network", {kUntrustedRoot, 0}, {kCacheOnly, 0}, 1},
      {"a broken chain, then verified with the network", {kChaining, 0}, {kCacheOnly, 0}, 1},
      {"not signed yet: still without the network", {kNoSignature, kNoSignature, 0},
       {kCacheOnly, kCacheOnly, kCacheOnly}, 1},
      {"the network helps no more than the stores", {kUntrustedRoot}, {kCacheOnly, 0, 0, 0}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    script_.log.clear();
    script_.logTimes.clear();
    script_.roundFlags.clear();
    script_.roundHandleSound.clear();
    script_.trustResults = c.results;
    EXPECT_EQ(Run(), c.sequence);
    ASSERT_GE(script_.roundFlags.size(), c.flags.size());
    for (size_t i = 0; i < c.flags.size(); ++i) EXPECT_EQ(script_.roundFlags[i], c.flags[i]) << "round " << i;
    if (!c.sequence) {
      // Every round after the first may use the network, up to the bound.
      for (size_t i = 1; i < script_.roundFlags.size(); ++i) EXPECT_EQ(script_.roundFlags[i], 0u);
      EXPECT_EQ(Only(L"box Signature Check Failed").size(), 1u);
      const size_t box = IndexOf(Only(L"box")[0]);
      EXPECT_GE(script_.logTimes[box], 60.0);
      EXPECT_LT(script_.logTimes[box], 62.0);
    }
    for (size_t i = 0; i < script_.roundHandleSound.size(); ++i)
      EXPECT_TRUE(script_.roundHandleSound[i]) << "round " << i << " did not get its own copy of the held file";
    EXPECT_EQ(Only(L"handover").size(), c.sequence ? 1u : 0u);
    SplashWindow = nullptr;
  }
}

TEST_F(Sequence, ANetworkRoundCutByTheBoundIsGivenTimeToEndBeforeTheCleanUp) {
  // The cache-only round finds no trusted root at once; the next, with the
  // network, blocks past the bound, and ends two seconds into the clean-up.
  ResetEvent(LetCheckGo);
  ResetEvent(CheckStarted);
  Stages.verifyFileSignature = RootThenBlockingNetwork;
  script_.checkBlocks = true;
  script_.releaseAfterStageMs = 62000;
  ASSERT_EQ(Run(), 0);
  EXPECT_EQ(script_.roundFlags, (std::vector<DWORD>{0x1000, 0}));
  const auto boxes = Only(L"box Signature Check Failed");
  ASSERT_EQ(boxes.size(), 1u);
  const size_t box = IndexOf(boxes[0]);
  EXPECT_GE(script_.logTimes[box], 60.0);
  EXPECT_LT(script_.logTimes[box], 60.6);
  const size_t remove = IndexOf(L"remove " + script_.folder + L" 1000");
  ASSERT_NE(remove, static_cast<size_t>(-1));
  EXPECT_GE(script_.logTimes[remove], 62.0) << "removed while the check still read the installer";
  EXPECT_LT(script_.logTimes[remove], 62.6) << "waited on after the check had ended";
  EXPECT_EQ(Only(L"mark").size(), 0u);
  EXPECT_EQ(script_.log.back(), L"destroy splash");
}

// Answers WM_NULL sent to the splash window once the check has started;
// records how long the answer took.
DWORD AnswerMs = 0;
BOOL Answered = FALSE;
DWORD WINAPI SendWhileChecking(void*) {
  WaitForSingleObject(CheckStarted, 30000);
  DWORD_PTR reply = 0;
  const DWORD start = GetTickCount();
  Answered = SendMessageTimeoutW(SplashWindow, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &reply) != 0;
  AnswerMs = GetTickCount() - start;
  return 0;
}

TEST_F(Sequence, TheWindowAnswersAtOnceWhileACheckRuns) {
  // The real wait, pump and clock: a check that takes three seconds does not
  // keep a message sent to the window waiting.
  Hooks.pumpMessages = RealLauncherHooks().pumpMessages;
  Hooks.msgWaitForMultipleObjects = RealLauncherHooks().msgWaitForMultipleObjects;
  Hooks.readTimestamp = RealLauncherHooks().readTimestamp;
  Stages.verifyFileSignature = VerifyAfterThreeSeconds;
  ResetEvent(CheckStarted);
  Answered = FALSE;
  HANDLE sender = CreateThread(nullptr, 0, SendWhileChecking, nullptr, 0, nullptr);
  ASSERT_NE(sender, nullptr);
  EXPECT_EQ(Run(), 1);
  WaitForSingleObject(sender, 30000);
  CloseHandle(sender);
  EXPECT_TRUE(Answered);
  EXPECT_LT(AnswerMs, 1500u) << "the window waited for the check";
  printf("the window answered after %lu ms while the check ran for 3 s\n", AnswerMs);
  fflush(stdout);
}

TEST_F(Sequence, InstallerThatCannotBeHeldIsNeverPassed) {
  // A folder named Setup.exe passes the search but can never be checked.
  script_.installer = script_.folder;
  ASSERT_EQ(Run(), 0);
  EXPECT_EQ(Only(L"verify").size(), 0u);
  EXPECT_EQ(Only(L"box Signature Check Failed").size(), 1u);
}

struct FailureCase {
  const char* name;
  void (*setUp)(Script*);
  const wchar_t* box;  // null: no box from the sequence
  bool cleanedUp;
  bool removed;  // the workspace is removed in the clean-up
};

TEST_F(Sequence, FailuresAreReportedOnceAndCleanedUp) {
  const FailureCase cases[] = {
      {"no window", [](Script* s) { s->windowOk = false; },
       L"box Window Creation Failed | Setup was unable to create a user interface | 00051030 | desktop",
       false, false},
      {"workspace not made anew", [](Script* s) { s->prepareOk = false; },
       L"box Payload Extraction Failed | Setup was unable to extract its payload package | 00051030 | splash",
       true, false},
      {"extraction failed", [](Script* s) { s->extractOk = false; },
       L"box Payload Extraction Failed | Setup was unable to extract its payload package | 00051030 | splash",
       true, true},
      {"no installer", [](Script* s) { s->locateOk = false; },
       L"box Installer Not Found | Setup could not locate the installer binary 'Setup.exe' | 00051030 | splash",
       true, true},
      {"start failed", [](Script* s) { s->handoverResult = 0; }, nullptr, true, true},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    script_.log.clear();
    script_.windowOk = script_.prepareOk = script_.extractOk = script_.locateOk = true;
    script_.handoverResult = 1;
    c.setUp(&script_);
    EXPECT_EQ(Run(), 0);
    const auto boxes = Only(L"box");
    if (c.box) {
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_EQ(boxes[0], c.box);
    } else {
      EXPECT_TRUE(boxes.empty());
    }
    EXPECT_EQ(Only(L"remove").size(), c.removed ? 1u : 0u);
    EXPECT_EQ(Only(L"destroy").size(), c.cleanedUp ? 1u : 0u);
    if (c.cleanedUp) {
      EXPECT_EQ(script_.log.back(), L"destroy splash");
    }
    EXPECT_EQ(Only(L"grant").size(), script_.windowOk && script_.prepareOk ? 1u : 0u);
    SplashWindow = nullptr;
  }
}

HWND BoxOwner = reinterpret_cast<HWND>(1);
bool QuitSeenByBox = true;
int WINAPI BoxThatLooksForQuit(HWND owner, LPCWSTR, LPCWSTR, UINT) {
  BoxOwner = owner;
  MSG m;
  QuitSeenByBox = PeekMessageW(&m, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE) != 0;
  return IDOK;
}

TEST(ShowFailureMessage, ShowsTheBoxEvenAfterTheWindowWasClosed) {
  // A closed splash window leaves a quit message behind; it must not end
  // the box, and it must still be there afterwards.
  Hooks.messageBox = BoxThatLooksForQuit;
  HWND gone = CreateWindowExW(0, L"STATIC", L"x", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  DestroyWindow(gone);
  PostQuitMessage(3);
  ShowFailureMessage(gone, L"Installer Not Found", L"text");
  Hooks = RealLauncherHooks();
  EXPECT_EQ(BoxOwner, nullptr);
  EXPECT_FALSE(QuitSeenByBox);
  MSG m;
  ASSERT_TRUE(PeekMessageW(&m, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(m.wParam, 3u);
}

TEST_F(Sequence, EntryPointPassesTheInstallersExitCodeOrMinus99) {
  script_.installerExit = 1603;
  EXPECT_EQ(LauncherMain(GetModuleHandleW(nullptr), nullptr, const_cast<PWSTR>(L""), SW_SHOW), 1603);
  script_.log.clear();
  script_.locateOk = false;
  EXPECT_EQ(static_cast<DWORD>(LauncherMain(GetModuleHandleW(nullptr), nullptr,
                                            const_cast<PWSTR>(L""), SW_SHOW)),
            4294967197u);
}

// The flags of a service's window station: WSF_VISIBLE clear.
BOOL WINAPI InvisibleStation(HANDLE, int index, PVOID information, DWORD length, LPDWORD needed) {
  if (index != UOI_FLAGS || length < sizeof(USEROBJECTFLAGS)) return FALSE;
  auto* flags = static_cast<USEROBJECTFLAGS*>(information);
  *flags = {};
  if (needed) *needed = sizeof(USEROBJECTFLAGS);
  return TRUE;
}
BOOL WINAPI UnreadableStation(HANDLE, int, PVOID, DWORD, LPDWORD) {
  SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}

TEST_F(Sequence, NoBoxWhereNobodyCanSeeItYetTheSameCleanUpAndExitCode) {
  Hooks.getUserObjectInformation = InvisibleStation;
  const FailureCase cases[] = {
      {"no window", [](Script* s) { s->windowOk = false; }, nullptr, false, false},
      {"extraction failed", [](Script* s) { s->extractOk = false; }, nullptr, true, true},
      {"no installer", [](Script* s) { s->locateOk = false; }, nullptr, true, true},
      {"signature never verifies", [](Script* s) { s->verifiesAfter = -1; }, nullptr, true, true},
      {"start failed", [](Script* s) { s->handoverResult = 0; }, nullptr, true, true},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    script_.log.clear();
    script_.windowOk = script_.extractOk = script_.locateOk = true;
    script_.verifiesAfter = 0;
    script_.handoverResult = 1;
    c.setUp(&script_);
    EXPECT_EQ(LauncherMain(GetModuleHandleW(nullptr), nullptr, const_cast<PWSTR>(L""), SW_SHOW), -99);
    EXPECT_EQ(Only(L"box").size(), 0u);
    EXPECT_EQ(Only(L"create window").size(), 1u) << "the splash window is still made";
    EXPECT_EQ(Only(L"remove").size(), c.removed ? 1u : 0u);
    EXPECT_EQ(Only(L"destroy").size(), c.cleanedUp ? 1u : 0u);
    SplashWindow = nullptr;
  }
}

TEST_F(Sequence, WindowStationFlagsDecideOnceAtStart) {
  // Unreadable flags count as visible: the box is shown.
  Hooks.getUserObjectInformation = UnreadableStation;
  script_.locateOk = false;
  EXPECT_EQ(LauncherMain(GetModuleHandleW(nullptr), nullptr, const_cast<PWSTR>(L""), SW_SHOW), -99);
  EXPECT_EQ(Only(L"box Installer Not Found").size(), 1u);
  // The real station of this test run is visible.
  Hooks.getUserObjectInformation = RealLauncherHooks().getUserObjectInformation;
  NoteWhetherBoxesCanBeSeen();
  EXPECT_TRUE(FailureBoxesCanBeSeen);
  Hooks.getUserObjectInformation = InvisibleStation;
  NoteWhetherBoxesCanBeSeen();
  EXPECT_FALSE(FailureBoxesCanBeSeen);
}

DWORD FakeSession = 1;
BOOL WINAPI SessionOf(DWORD, DWORD* session) {
  if (FakeSession == static_cast<DWORD>(-1)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  *session = FakeSession;
  return TRUE;
}

TEST_F(Sequence, SessionZeroIsNeverSeenWhateverItsStationSays) {
  // A service's or a deployment tool's session reports its interactive
  // station visible; only the session tells.
  struct Case {
    const char* name;
    DWORD session;  // -1: cannot be read
    bool stationVisible;
    bool seen;
  } cases[] = {
      {"session 0, station visible", 0, true, false},
      {"session 0, station invisible", 0, false, false},
      {"a user's session, station visible", 1, true, true},
      {"a user's session, station invisible", 2, false, false},
      {"session unreadable, station visible", static_cast<DWORD>(-1), true, true},
  };
  Hooks.processIdToSessionId = SessionOf;
  script_.locateOk = false;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSession = c.session;
    Hooks.getUserObjectInformation =
        c.stationVisible ? RealLauncherHooks().getUserObjectInformation : InvisibleStation;
    script_.log.clear();
    EXPECT_EQ(LauncherMain(GetModuleHandleW(nullptr), nullptr, const_cast<PWSTR>(L""), SW_SHOW), -99);
    EXPECT_EQ(FailureBoxesCanBeSeen, c.seen);
    EXPECT_EQ(Only(L"box Installer Not Found").size(), c.seen ? 1u : 0u);
    EXPECT_EQ(Only(L"remove").size(), 1u) << "the same clean-up either way";
    SplashWindow = nullptr;
  }
}

TEST_F(Sequence, DeclinedElevationGivesItsOwnExitCode) {
  // A caller can tell the user's No from a failure.
  script_.handoverResult = 0;
  script_.startError = ERROR_CANCELLED;
  EXPECT_EQ(LauncherMain(GetModuleHandleW(nullptr), nullptr, const_cast<PWSTR>(L""), SW_SHOW), 1223);
  EXPECT_EQ(Only(L"remove").size(), 1u);
  script_.log.clear();
  script_.startError = ERROR_ACCESS_DISABLED_BY_POLICY;
  EXPECT_EQ(LauncherMain(GetModuleHandleW(nullptr), nullptr, const_cast<PWSTR>(L""), SW_SHOW), -99);
}

TEST_F(Sequence, AWorkspaceThatWasNotMadeIsNeverRemoved) {
  // Every name was taken, or the path did not fit: what stands there is not
  // the launcher's.
  script_.prepareOk = false;
  EXPECT_EQ(LauncherMain(GetModuleHandleW(nullptr), nullptr, const_cast<PWSTR>(L""), SW_SHOW), -99);
  EXPECT_EQ(Only(L"remove").size(), 0u);
  EXPECT_EQ(Only(L"extract").size(), 0u);
  const auto boxes = Only(L"box");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0],
            L"box Payload Extraction Failed | Setup was unable to extract its payload package | 00051030 | splash");
  EXPECT_EQ(script_.log.back(), L"destroy splash");
}

TEST_F(Sequence, WhatCannotBeRemovedIsMarkedForTheNextRestart) {
  // Files first, then the folders that hold them, the workspace last.
  test_tree::MakeFolder(script_.folder + L"\\docs");
  test_tree::WriteBytes(script_.folder + L"\\docs\\License.txt", "l");
  script_.removeOk = 0;
  ASSERT_EQ(Run(), 1);
  const auto marks = Only(L"mark");
  const std::wstring workspace = script_.folder.substr(script_.folder.find_last_of(L'\\') + 1);
  const std::vector<std::wstring> expected = {L"mark Setup.exe", L"mark License.txt",
                                              L"mark docs", L"mark " + workspace};
  ASSERT_EQ(marks.size(), expected.size());
  EXPECT_EQ(marks.back(), expected.back());
  const size_t license = IndexOf(L"mark License.txt");
  EXPECT_LT(license, IndexOf(L"mark docs"));
  EXPECT_NE(IndexOf(L"mark Setup.exe"), static_cast<size_t>(-1));
  EXPECT_GT(IndexOf(marks[0]), IndexOf(L"remove " + script_.folder + L" 1000"));
  EXPECT_EQ(script_.log.back(), L"destroy splash");
}

TEST_F(Sequence, FaultInsideTheSequenceStillCleansUp) {
  script_.faultInExtract = true;
  EXPECT_EQ(LauncherMain(GetModuleHandleW(nullptr), nullptr, const_cast<PWSTR>(L""), SW_SHOW), -99);
  EXPECT_EQ(Only(L"remove").size(), 1u);
  EXPECT_EQ(Only(L"destroy splash").size(), 1u);
  EXPECT_EQ(Only(L"box").size(), 0u);
}

// A status text and when it was set, in ms of the virtual clock.
struct Shown {
  double ms;
  std::wstring text;
};

constexpr wchar_t kEntryPrefix[] = L"status Extracting file ";

// The entry number of an "Extracting file %i of %i" log entry.
uint32_t EntryNumber(const std::wstring& entry) { return std::stoul(entry.substr(wcslen(kEntryPrefix))); }

class Pacing : public Sequence {
 protected:
  void Stage(uint32_t advanceMs, const wchar_t* text) { script_.extraction.push_back({advanceMs, text, 0, 0, 0, 0}); }
  void Entry(uint32_t advanceMs, uint32_t number, uint32_t count) {
    script_.extraction.push_back({advanceMs, nullptr, number, count, 0, 0});
    reportedMs_.push_back(Clock());
  }
  void Bytes(uint32_t advanceMs, uint64_t written, uint64_t total) {
    script_.extraction.push_back({advanceMs, nullptr, 0, 0, written, total});
  }
  // The script's clock after its last report, in ms since it began.
  double Clock() const {
    double ms = 0;
    for (const Report& r : script_.extraction) ms += r.advanceMs;
    return ms;
  }
  // What the log holds between the start of the extraction and its end,
  // with times from the start.
  std::vector<Shown> During(const std::wstring& prefix) const {
    const size_t from = IndexOf(L"extract " + script_.folder);
    std::vector<Shown> out;
    for (size_t i = from; i < script_.log.size() && script_.log[i] != L"sleep 200"; ++i)
      if (script_.log[i].compare(0, prefix.size(), prefix) == 0)
        out.push_back({script_.logTimes[i] * 1000 - script_.logTimes[from] * 1000, script_.log[i]});
    return out;
  }
  // Checks the pacing of an extraction whose entries were reported at
  // reportedMs_: first and last entry texts shown, at most one text per
  // 100 ms besides those two, none trailing its entry by more than 100 ms
  // and the step of the report that let it through, and a pump at least
  // every 100 ms.
  void ExpectPaced(uint32_t count) {
    const std::vector<Shown> texts = During(kEntryPrefix);
    ASSERT_GE(texts.size(), 2u);
    const std::wstring of = L" of " + std::to_wstring(count);
    EXPECT_EQ(texts.front().text, kEntryPrefix + std::wstring(L"1") + of);
    EXPECT_EQ(texts.back().text, kEntryPrefix + std::to_wstring(count) + of);
    const double span = reportedMs_.back() - reportedMs_.front();
    EXPECT_LE(texts.size(), span / 100 + 2) << "over " << span << " ms";
    for (size_t i = 1; i + 1 < texts.size(); ++i)
      EXPECT_GE(texts[i].ms - texts[i - 1].ms, 100.0) << "text " << i;
    for (uint32_t n = 1; n <= count; ++n) {
      const double reported = reportedMs_[n - 1];
      double shown = -1;
      for (const Shown& t : texts)
        if (EntryNumber(t.text) >= n) {
          shown = t.ms;
          break;
        }
      ASSERT_GE(shown, reported) << "entry " << n << " never shown";
      EXPECT_LE(shown - reported, 100.0 + maxStepMs_) << "entry " << n;
    }
    const std::vector<Shown> pumps = During(L"pump 0");
    ASSERT_FALSE(pumps.empty());
    for (size_t i = 1; i < pumps.size(); ++i)
      EXPECT_LE(pumps[i].ms - pumps[i - 1].ms, 100.0 + maxStepMs_) << "pump " << i;
    EXPECT_LE(pumps.size(), Clock() / 100 + 8) << "pumps during " << Clock() << " ms";
  }
  std::vector<double> reportedMs_;
  uint32_t maxStepMs_ = 1;
};

TEST_F(Pacing, ManySmallEntriesReachTheTitleAtReadingPace) {
  const uint32_t count = 2000;
  Stage(0, L"Finding setup archive ...");
  Stage(0, L"Loading setup archive ...");
  Stage(0, L"Extracting files ...");
  Bytes(0, 0, count * 10);
  for (uint32_t n = 1; n <= count; ++n) {
    Entry(n == 1 ? 0 : 1, n, count);
    Bytes(0, n * 10, count * 10);
  }
  Stage(1, L"Extraction complete!!!");
  ASSERT_EQ(Run(), 1);
  ExpectPaced(count);
  // Every stage text, in order, the last entry's text right before the end.
  std::vector<std::wstring> stages;
  for (const std::wstring& e : Only(L"status "))
    if (e.compare(0, wcslen(kEntryPrefix), kEntryPrefix) != 0) stages.push_back(e);
  const std::vector<std::wstring> expected = {
      L"status Preparing installation data ...",
      L"status Finding setup archive ...",
      L"status Loading setup archive ...",
      L"status Extracting files ...",
      L"status Extraction complete!!!",
      L"status Locating the binary 'Setup.exe' ...",
      L"status Checking digital signature for 'Setup.exe' ...",
      L"status Handing over to 'Setup.exe' ...",
  };
  EXPECT_EQ(stages, expected);
  const size_t complete = IndexOf(L"status Extraction complete!!!");
  EXPECT_EQ(script_.log[complete - 1], L"status Extracting file 2000 of 2000");
}

TEST_F(Pacing, ATextHeldBackAppearsWithinOneLargeEntry) {
  Stage(0, L"Extracting files ...");
  Entry(0, 1, 3);
  Entry(2, 2, 3);  // within 100 ms of the first: held back
  maxStepMs_ = 7;
  for (uint32_t piece = 1; piece <= 100; ++piece) Bytes(7, piece * 262144, 101 * 262144);
  Entry(1, 3, 3);
  Bytes(0, 101 * 262144, 101 * 262144);
  Stage(0, L"Extraction complete!!!");
  ASSERT_EQ(Run(), 1);
  ExpectPaced(3);
  EXPECT_EQ(During(kEntryPrefix).size(), 3u);
}

TEST_F(Pacing, AFailingEntrysOwnTextPrecedesTheFailure) {
  script_.extractOk = false;
  Stage(0, L"Extracting files ...");
  Entry(0, 1, 9);
  Entry(1, 2, 9);  // held back, then it fails
  Stage(1, L"Extraction failed!!!");
  ASSERT_EQ(Run(), 0);
  const size_t failed = IndexOf(L"status Extraction failed!!!");
  ASSERT_NE(failed, static_cast<size_t>(-1));
  EXPECT_EQ(script_.log[failed - 1], L"status Extracting file 2 of 9");
  EXPECT_EQ(script_.log[failed + 1], L"pump 0");
  EXPECT_EQ(Only(L"box Payload Extraction Failed").size(), 1u);
}

TEST_F(Sequence, TheRealExtractionShowsEveryStageAndItsFirstAndLastEntry) {
  // This test program carries the sample package as the launcher does.
  ModuleInstance = GetModuleHandleW(nullptr);
  script_.realExtraction = true;
  ASSERT_EQ(Run(), 1);
  std::vector<std::wstring> texts = Only(L"status ");
  ASSERT_GE(texts.size(), 10u);
  const std::wstring first = texts[4];
  ASSERT_EQ(first.compare(0, wcslen(kEntryPrefix), kEntryPrefix), 0) << std::string(first.begin(), first.end());
  const std::wstring count = first.substr(first.rfind(L' ') + 1);
  EXPECT_EQ(first, kEntryPrefix + std::wstring(L"1 of ") + count);
  const size_t complete = IndexOf(L"status Extraction complete!!!");
  ASSERT_NE(complete, static_cast<size_t>(-1));
  EXPECT_EQ(script_.log[complete - 1], kEntryPrefix + count + L" of " + count);
  EXPECT_EQ(std::vector<std::wstring>(texts.begin(), texts.begin() + 4),
            (std::vector<std::wstring>{L"status Preparing installation data ...", L"status Finding setup archive ...",
                                       L"status Loading setup archive ...", L"status Extracting files ..."}));
  EXPECT_EQ(std::vector<std::wstring>(texts.end() - 4, texts.end()),
            (std::vector<std::wstring>{L"status Extraction complete!!!", L"status Locating the binary 'Setup.exe' ...",
                                       L"status Checking digital signature for 'Setup.exe' ...",
                                       L"status Handing over to 'Setup.exe' ..."}));
  EXPECT_TRUE(test_tree::ReadBytes(script_.folder + L"\\ReadMe.txt").size() > 0);
}

}  // namespace
