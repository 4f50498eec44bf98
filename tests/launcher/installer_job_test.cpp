// The installer's job: which images hold the workspace, the wait on real
// processes in a job, the launcher's road when the platform gives it no job,
// and marking for removal at restart. Second stages started by a real
// installer through the real launcher are shown end to end
// (launcher_e2e_test).
#include "launcher/installer_job.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/handover.h"
#include "launcher/launch_sequence.h"
#include "launcher/launcher_hooks.h"
#include "splash/splash_window.h"
#include "tests/launcher/installer_fixtures.h"
#include "tests/launcher/test_tree.h"

namespace {

using installer_fixtures::Fixture;
using test_tree::ReadBytes;

TEST(ImageHoldsWorkspace, Table) {
  WorkspacePlaces places;
  places.workspace = L"C:\\Users\\Ann\\AppData\\Local\\Temp\\_qln_setup_sfx_00000abc";
  places.temp = L"C:\\Users\\Ann\\AppData\\Local\\Temp";
  struct Case {
    const wchar_t* image;
    bool holds;
  } cases[] = {
      {L"C:\\Users\\Ann\\AppData\\Local\\Temp\\_qln_setup_sfx_00000abc\\Setup.exe", true},
      {L"c:\\users\\ann\\appdata\\local\\temp\\_QLN_SETUP_SFX_00000ABC\\bin\\stage2.exe", true},
      {L"\\\\?\\C:\\Users\\Ann\\AppData\\Local\\Temp\\_qln_setup_sfx_00000abc\\Setup.exe", true},
      // Elsewhere under the temporary folder: a stage copied out of the workspace.
      {L"C:\\Users\\Ann\\AppData\\Local\\Temp\\{5E3A}\\helper.exe", true},
      // A sibling whose name only begins like the temporary folder's.
      {L"C:\\Users\\Ann\\AppData\\Local\\Temporary Programs\\app.exe", false},
      // The system's hosts of installers and scripts, wherever they lie.
      {L"C:\\Windows\\System32\\msiexec.exe", true},
      {L"C:\\WINDOWS\\SysWOW64\\MSIEXEC.EXE", true},
      {L"C:\\Windows\\system32\\cmd.exe", true},
      {L"C:\\Windows\\System32\\wscript.exe", true},
      {L"C:\\Windows\\System32\\cscript.exe", true},
      {L"C:\\Windows\\System32\\WindowsPowerShell\\v1.0\\powershell.exe", true},
      {L"C:\\Windows\\SysWOW64\\rundll32.exe", true},
      // What the installer leaves running: not waited for.
      {L"C:\\Program Files\\Quillane\\Quillane.exe", false},
      {L"C:\\Program Files\\Browser\\browser.exe", false},
      {L"C:\\Windows\\System32\\notepad.exe", false},
      {L"C:\\Tools\\mycmd.exe", false},
      {L"C:\\Tools\\cmd.exe.bak", false},
      {L"", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ImageHoldsWorkspace(c.image, places), c.holds) << testing::PrintToString(c.image);
  }
  // Without a known temporary folder only the workspace and the hosts count.
  places.temp.clear();
  EXPECT_FALSE(ImageHoldsWorkspace(L"C:\\Users\\Ann\\AppData\\Local\\Temp\\x\\helper.exe", places));
  EXPECT_TRUE(ImageHoldsWorkspace(
      L"C:\\Users\\Ann\\AppData\\Local\\Temp\\_qln_setup_sfx_00000abc\\Setup.exe", places));
}

TEST(LongPathForm, ComparesTheLongSpellingOfAShortOne) {
  const std::wstring folder = test_tree::FreshFolder(L"a folder with a long name");
  ASSERT_TRUE(test_tree::WriteBytes(folder + L"\\a long file name.exe", "MZ"));
  wchar_t shortForm[MAX_PATH] = {};
  const std::wstring file = folder + L"\\a long file name.exe";
  ASSERT_NE(GetShortPathNameW(file.c_str(), shortForm, MAX_PATH), 0u);
  EXPECT_EQ(LongPathForm(shortForm), file);
  EXPECT_EQ(LongPathForm((folder + L"\\").c_str()), folder) << "no trailing separator";
  // A file that is gone keeps the spelling it was given.
  EXPECT_EQ(LongPathForm(L"C:\\no\\such\\file.exe"), L"C:\\no\\such\\file.exe");

  WorkspacePlaces places;
  FindWorkspacePlaces(folder.c_str(), &places);
  EXPECT_EQ(places.workspace, folder);
  EXPECT_TRUE(ImageHoldsWorkspace(shortForm, places));
  test_tree::Wipe(folder);
}

// --- Waiting on a job's processes ------------------------------------------
// The jobs here hold children of the test only: the test process itself
// stays outside, as the launcher's own entry in its job is skipped anyway.

// Starts program with arguments inside job, before it runs a single
// instruction. Returns its process handle (the caller closes it), or null.
HANDLE StartInJob(HANDLE job, const std::wstring& program, const std::wstring& arguments,
                  bool resume = true) {
  std::wstring line = L"\"" + program + L"\" " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                      nullptr, &startup, &process))
    return nullptr;
  if (!AssignProcessToJobObject(job, process.hProcess)) {
    TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return nullptr;
  }
  if (resume) ResumeThread(process.hThread);
  CloseHandle(process.hThread);
  return process.hProcess;
}

std::vector<std::pair<int, bool>>* Pumps = nullptr;
int NotePump(int budget, bool discard) {
  Pumps->emplace_back(budget, discard);
  return 1;
}

class JobWait : public ::testing::Test {
 protected:
  void SetUp() override {
    job_ = CreateJobObjectW(nullptr, nullptr);
    ASSERT_NE(job_, nullptr);
    workspace_ = test_tree::FreshFolder(L"job_wait");
    inWorkspace_ = workspace_ + L"\\Setup.exe";
    ASSERT_TRUE(CopyFileW(Fixture(L"bootstrap.exe").c_str(), inWorkspace_.c_str(), FALSE));
    // Beside the test programs: neither the workspace nor the temporary folder.
    elsewhere_ = installer_fixtures::TestFolder() + L"\\qln_job_wait_" +
                 std::to_wstring(GetCurrentProcessId()) + L".exe";
    ASSERT_TRUE(CopyFileW(Fixture(L"bootstrap.exe").c_str(), elsewhere_.c_str(), FALSE));
    FindWorkspacePlaces(workspace_.c_str(), &places_);
    Pumps = &pumps_;
    Hooks.pumpMessages = NotePump;
  }
  void TearDown() override {
    Hooks = RealLauncherHooks();
    Pumps = nullptr;
    TerminateJobObject(job_, 1);
    for (HANDLE process : started_) {
      WaitForSingleObject(process, 5000);
      CloseHandle(process);
    }
    CloseHandle(job_);
    DeleteFileW(elsewhere_.c_str());
    test_tree::Wipe(workspace_);
  }
  HANDLE Start(const std::wstring& program, const std::wstring& arguments, bool resume = true) {
    HANDLE process = StartInJob(job_, program, arguments, resume);
    if (process) started_.push_back(process);
    return process;
  }
  HANDLE job_ = nullptr;
  std::wstring workspace_, inWorkspace_, elsewhere_;
  WorkspacePlaces places_;
  std::vector<HANDLE> started_;
  std::vector<std::pair<int, bool>> pumps_;
};

TEST_F(JobWait, WaitsForWhatRunsFromTheWorkspaceButNotForWhatRunsElsewhere) {
  HANDLE application = Start(elsewhere_, L"sleep 30000");
  HANDLE stage = Start(inWorkspace_, L"sleep 1500");
  ASSERT_TRUE(application && stage);
  const DWORD start = GetTickCount();
  AwaitWorkspaceProcesses(job_, workspace_.c_str());
  const DWORD waited = GetTickCount() - start;
  EXPECT_EQ(WaitForSingleObject(stage, 0), DWORD(WAIT_OBJECT_0)) << "returned while the stage ran";
  EXPECT_EQ(WaitForSingleObject(application, 0), DWORD(WAIT_TIMEOUT));
  EXPECT_GE(waited, 1000u);
  // Every round pumps with input discarded before its pause.
  ASSERT_FALSE(pumps_.empty());
  for (const auto& pump : pumps_) EXPECT_EQ(pump, std::make_pair(250, true));
  printf("waited %lu ms for a 1.5 s stage in %zu rounds\n", waited, pumps_.size());
  fflush(stdout);
}

BOOL WINAPI ImageNotYetKnown(HANDLE, DWORD, LPWSTR, PDWORD) {
  SetLastError(ERROR_GEN_FAILURE);
  return FALSE;
}

TEST_F(JobWait, AnImageThatCannotBeReadHoldsForTwoSeconds) {
  // As for a process that has only just started; placed elsewhere, it
  // would hold nothing once its image could be read.
  Hooks.queryProcessImageName = ImageNotYetKnown;
  ASSERT_NE(Start(elsewhere_, L"sleep 30000"), nullptr);
  std::vector<UnreadableImage> unreadable;
  const DWORD start = GetTickCount();
  EXPECT_TRUE(JobHoldsWorkspace(job_, places_, &unreadable));
  DWORD released = 0;
  while (GetTickCount() - start < 4 * kUnreadableImageGraceMs) {
    if (!JobHoldsWorkspace(job_, places_, &unreadable)) {
      released = GetTickCount() - start;
      break;
    }
    Sleep(50);
  }
  EXPECT_GE(released, kUnreadableImageGraceMs - 100) << "held for " << released << " ms";
  EXPECT_LE(released, kUnreadableImageGraceMs + 1000) << "held for " << released << " ms";
}

TEST_F(JobWait, NothingOfTheJobLeftEndsTheWaitAtOnce) {
  HANDLE quick = Start(inWorkspace_, L"sleep 0");
  ASSERT_NE(quick, nullptr);
  WaitForSingleObject(quick, 10000);
  std::vector<UnreadableImage> unreadable;
  EXPECT_FALSE(JobHoldsWorkspace(job_, places_, &unreadable));
  AwaitWorkspaceProcesses(job_, workspace_.c_str());
  EXPECT_TRUE(pumps_.empty());
  AwaitWorkspaceProcesses(nullptr, workspace_.c_str());  // no job: nothing to wait for
}

// --- The road without a job ---------------------------------------------

struct Road {
  std::wstring folder, installer, report;
  std::string reportAfterHandover;
  std::vector<std::wstring> boxes;
  int assignCalls = 0;
};
Road* R = nullptr;

BOOL WINAPI RefuseJob(HANDLE, HANDLE) {
  ++R->assignCalls;
  SetLastError(ERROR_ACCESS_DENIED);  // as for a process inside another job on Windows 7
  return FALSE;
}
int MakeWindow(HINSTANCE) {
  SplashWindow = CreateWindowExW(0, L"STATIC", L"splash", WS_OVERLAPPED, 0, 0, 50, 50, nullptr,
                                 nullptr, nullptr, nullptr);
  return SplashWindow != nullptr;
}
int UseFolder(wchar_t*, wchar_t* workspace) {
  lstrcpyW(workspace, R->folder.c_str());
  return 1;
}
int Unpacked(HINSTANCE, const wchar_t*, const ExtractProgress*) { return 1; }
bool Found(const wchar_t*, wchar_t*, wchar_t* installer) {
  lstrcpyW(installer, R->installer.c_str());
  return true;
}
int Verified(SignatureRound*) { return 1; }
BOOL WINAPI KeepWindow(HWND, int) { return TRUE; }
// The real handover; what the stages had reported when it returned.
int HandOverAndLook(const wchar_t* installer, const wchar_t* line, HANDLE* file, DWORD* code,
                    StartAttempts* attempts) {
  const int result = HandOverToInstaller(installer, line, file, code, attempts);
  R->reportAfterHandover = ReadBytes(R->report);
  return result;
}
BOOL WINAPI PretendToMark(LPCWSTR, LPCWSTR, DWORD) { return TRUE; }
int WINAPI NoteBox(HWND, LPCWSTR text, LPCWSTR caption, UINT) {
  R->boxes.push_back(std::wstring(caption) + L"|" + text);
  return IDOK;
}

TEST(InstallerJob, WithoutAJobTheInstallerIsWaitedForAloneAsBefore) {
  Road road;
  R = &road;
  road.folder = test_tree::FreshFolder(L"no_job");
  road.installer = road.folder + L"\\Setup.exe";
  ASSERT_TRUE(CopyFileW(Fixture(L"bootstrap.exe").c_str(), road.installer.c_str(), FALSE));
  ASSERT_TRUE(test_tree::WriteBytes(road.folder + L"\\stage-data.txt", "package data"));
  const std::wstring report = test_tree::FreshFolder(L"no_job_report") + L"\\report.txt";
  road.report = report;
  SetEnvironmentVariableW(L"QLN_SETUP_REPORT", report.c_str());

  Hooks.assignProcessToJobObject = RefuseJob;
  Hooks.messageBox = NoteBox;
  Hooks.showWindow = KeepWindow;
  Hooks.moveFileEx = PretendToMark;  // the running second stage may hold its file
  EXPECT_EQ(JoinInstallerJob(), nullptr);
  Stages.createSplashWindow = MakeWindow;
  Stages.prepareWorkspace = UseFolder;
  Stages.extractPayload = Unpacked;
  Stages.locateInstaller = Found;
  Stages.verifyFileSignature = Verified;
  Stages.handOverToInstaller = HandOverAndLook;

  SetupRun run;
  InitSetupRun(&run);
  const int result = RunSetupSequence(&run, L"bootstrap 1 beside 41 5000");
  const std::string atReturn = road.reportAfterHandover;
  Hooks = RealLauncherHooks();
  Stages = RealSequenceStages();
  SplashWindow = nullptr;

  EXPECT_EQ(result, 1);
  EXPECT_EQ(run.installerExitCode, 41u);
  EXPECT_TRUE(road.boxes.empty());
  EXPECT_EQ(road.assignCalls, 2);
  EXPECT_EQ(run.installerJob, nullptr);
  EXPECT_NE(atReturn.find("setup\n"), std::string::npos) << atReturn;
  // The installer has ended, its second stage has not: with no job to
  // list, the launcher goes on to the clean-up (which retries the files
  // the stage holds, as before).
  EXPECT_EQ(atReturn.find("read: "), std::string::npos)
      << "the handover waited for the second stage: " << atReturn;

  // Let the second stage finish before the folders go.
  for (int i = 0; i < 600 && ReadBytes(report).find("folder-still-there") == std::string::npos; ++i)
    Sleep(50);
  SetEnvironmentVariableW(L"QLN_SETUP_REPORT", nullptr);
  Sleep(200);
  test_tree::Wipe(road.folder);
  test_tree::Wipe(report.substr(0, report.find_last_of(L'\\')));
  R = nullptr;
}

// --- Marking for removal at restart -------------------------------------

std::vector<std::wstring>* Marked = nullptr;
bool RefuseMarks = false;
BOOL WINAPI NoteMark(LPCWSTR from, LPCWSTR to, DWORD flags) {
  if (to || flags != MOVEFILE_DELAY_UNTIL_REBOOT) return FALSE;
  Marked->push_back(from);
  if (!RefuseMarks) return TRUE;
  SetLastError(ERROR_ACCESS_DENIED);  // not an administrator
  return FALSE;
}

TEST(MarkTreeForRemovalAtRestart, MarksFilesBeforeTheirFoldersAndStopsAtTheFirstRefusal) {
  const std::wstring root = test_tree::FreshFolder(L"restart");
  ASSERT_TRUE(test_tree::MakeFolder(root + L"\\bin"));
  ASSERT_TRUE(test_tree::WriteBytes(root + L"\\bin\\held.dll", "x"));
  ASSERT_TRUE(test_tree::WriteBytes(root + L"\\Setup.exe", "MZ"));
  std::vector<std::wstring> marked;
  Marked = &marked;
  Hooks.moveFileEx = NoteMark;

  RefuseMarks = false;
  EXPECT_EQ(MarkTreeForRemovalAtRestart(root.c_str()), 4);
  ASSERT_EQ(marked.size(), 4u);
  auto at = [&](const std::wstring& tail) {
    for (size_t i = 0; i < marked.size(); ++i)
      if (marked[i].size() >= tail.size() &&
          marked[i].compare(marked[i].size() - tail.size(), tail.size(), tail) == 0)
        return i;
    return size_t(99);
  };
  EXPECT_LT(at(L"\\bin\\held.dll"), at(L"\\bin"));
  EXPECT_LT(at(L"\\Setup.exe"), 3u);
  EXPECT_EQ(at(root.substr(root.find_last_of(L'\\'))), 3u) << "the workspace goes last";
  EXPECT_TRUE(test_tree::Exists(root)) << "marking deletes nothing now";

  marked.clear();
  RefuseMarks = true;
  EXPECT_EQ(MarkTreeForRemovalAtRestart(root.c_str()), 0);
  EXPECT_EQ(marked.size(), 1u) << "a refusal ends the marking";

  marked.clear();
  EXPECT_EQ(MarkTreeForRemovalAtRestart((root + L"\\Setup.exe").c_str()), 0);
  EXPECT_EQ(MarkTreeForRemovalAtRestart((root + L"\\missing").c_str()), 0);
  EXPECT_EQ(MarkTreeForRemovalAtRestart(L"C:\\"), 0);
  EXPECT_TRUE(marked.empty());

  Hooks = RealLauncherHooks();
  Marked = nullptr;
  test_tree::Wipe(root);
}

}  // namespace
