// The installer's job: which images hold the workspace, the wait on real
// processes in a job, the launcher's road when the platform gives it no job,
// and marking for removal at restart. Second stages started by a real
// installer through the real launcher are shown end to end
// (launcher_e2e_test).
#include "launcher/installer_job.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "launcher/handover.h"
#include "launcher/launch_sequence.h"
#include "launcher/launcher_hooks.h"
#include "launcher/process_query.h"
#include "splash/splash_window.h"
#include "tests/launcher/installer_fixtures.h"
#include "tests/launcher/test_tree.h"

namespace {

using installer_fixtures::EndProcess;
using installer_fixtures::Fixture;
using installer_fixtures::IsRunning;
using test_tree::ReadBytes;

// --- One form of every path ------------------------------------------------

// The platform's resolution of the folders of the table below: what a
// junction, a SUBST drive, a short name and a folder mount point come to.
struct Resolution {
  const wchar_t* given;
  const wchar_t* native;
};
const Resolution kResolutions[] = {
    // The profile's Temp moved to another disk with a junction.
    {L"C:\\Users\\Ann\\AppData\\Local\\Temp\\_qln_setup_sfx_00000abc", L"\\Device\\HarddiskVolume4\\Temp\\_qln_setup_sfx_00000abc"},
    {L"C:\\Users\\Ann\\AppData\\Local\\Temp", L"\\Device\\HarddiskVolume4\\Temp"},
    // TEMP on a SUBST drive.
    {L"T:\\_qln_setup_sfx_00000abc", L"\\Device\\HarddiskVolume3\\Scratch\\_qln_setup_sfx_00000abc"},
    {L"T:\\", L"\\Device\\HarddiskVolume3\\Scratch"},
    // 8.3 short names, as GetTempPathW gives for a long user name.
    {L"C:\\Users\\ANNMAR~1\\AppData\\Local\\Temp\\_qln_setup_sfx_00000abc", L"\\Device\\HarddiskVolume3\\Users\\Ann Marie\\AppData\\Local\\Temp\\_qln_setup_sfx_00000abc"},
    {L"C:\\Users\\ANNMAR~1\\AppData\\Local\\Temp", L"\\Device\\HarddiskVolume3\\Users\\Ann Marie\\AppData\\Local\\Temp"},
    // A volume mounted in a folder, reported in device form.
    {L"C:\\Mounts\\Fast\\Temp\\_qln_setup_sfx_00000abc", L"\\Device\\HarddiskVolume9\\Temp\\_qln_setup_sfx_00000abc"},
    {L"C:\\Mounts\\Fast\\Temp", L"\\Device\\HarddiskVolume9\\Temp"},
    // A whole volume as TEMP.
    {L"R:\\", L"\\Device\\HarddiskVolume5"},
};

BOOL FakeResolve(const wchar_t* path, wchar_t* native, DWORD capacity) {
  std::wstring given(path);
  while (given.size() > 3 && given.back() == L'\\') given.pop_back();
  for (const Resolution& r : kResolutions)
    if (_wcsicmp(given.c_str(), r.given) == 0 && wcslen(r.native) < capacity) {
      wcscpy(native, r.native);
      // The platform may add a separator for a volume's root; the form
      // compared never has one.
      if (wcslen(native) + 1 < capacity && given.size() == 3) wcscat(native, L"\\");
      return TRUE;
    }
  SetLastError(ERROR_PATH_NOT_FOUND);
  return FALSE;
}

TEST(WorkspacePlaces, EverySpellingComesToTheFormProcessImagesAreReportedIn) {
  Hooks.resolveFolderPath = FakeResolve;
  struct Case {
    const char* name;
    const wchar_t* workspace;
    const wchar_t* temp;
    const wchar_t* image;  // as PROCESS_NAME_NATIVE reports it
    bool inWorkspace, underTemp;
  } cases[] = {
      {"junction: a stage in the workspace", L"C:\\Users\\Ann\\AppData\\Local\\Temp\\_qln_setup_sfx_00000abc",
       L"C:\\Users\\Ann\\AppData\\Local\\Temp\\", L"\\Device\\HarddiskVolume4\\Temp\\_qln_setup_sfx_00000abc\\Setup.exe", true, true},
      {"junction: a copy elsewhere under Temp", L"C:\\Users\\Ann\\AppData\\Local\\Temp\\_qln_setup_sfx_00000abc",
       L"C:\\Users\\Ann\\AppData\\Local\\Temp\\", L"\\device\\harddiskvolume4\\temp\\{5E3A}\\helper.exe", false, true},
      {"junction: the text form is not what is reported", L"C:\\Users\\Ann\\AppData\\Local\\Temp\\_qln_setup_sfx_00000abc",
       L"C:\\Users\\Ann\\AppData\\Local\\Temp\\", L"\\Device\\HarddiskVolume3\\Users\\Ann\\AppData\\Local\\Temp\\_qln_setup_sfx_00000abc\\Setup.exe", false, false},
      {"SUBST drive", L"T:\\_qln_setup_sfx_00000abc", L"T:\\",
       L"\\Device\\HarddiskVolume3\\Scratch\\_qln_setup_sfx_00000abc\\bin\\stage2.exe", true, true},
      {"SUBST drive, with trailing separators", L"T:\\_qln_setup_sfx_00000abc\\\\", L"T:\\",
       L"\\Device\\HarddiskVolume3\\Scratch\\_QLN_SETUP_SFX_00000ABC\\Setup.exe", true, true},
      {"SUBST drive: a sibling that only begins like the workspace", L"T:\\_qln_setup_sfx_00000abc", L"T:\\",
       L"\\Device\\HarddiskVolume3\\Scratch\\_qln_setup_sfx_00000abcd\\Setup.exe", false, true},
      {"short names", L"C:\\Users\\ANNMAR~1\\AppData\\Local\\Temp\\_qln_setup_sfx_00000abc",
       L"C:\\Users\\ANNMAR~1\\AppData\\Local\\Temp\\",
       L"\\Device\\HarddiskVolume3\\Users\\Ann Marie\\AppData\\Local\\Temp\\_qln_setup_sfx_00000abc\\Setup.exe", true, true},
      {"a folder mount point", L"C:\\Mounts\\Fast\\Temp\\_qln_setup_sfx_00000abc", L"C:\\Mounts\\Fast\\Temp\\",
       L"\\Device\\HarddiskVolume9\\Temp\\_qln_setup_sfx_00000abc\\Setup.exe", true, true},
      {"a folder mount point: the product elsewhere", L"C:\\Mounts\\Fast\\Temp\\_qln_setup_sfx_00000abc",
       L"C:\\Mounts\\Fast\\Temp\\", L"\\Device\\HarddiskVolume3\\Program Files\\Quillane\\Quillane.exe", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WorkspacePlaces places;
    FindWorkspacePlaces(c.workspace, c.temp, &places);
    EXPECT_NE(places.workspace.back(), L'\\');
    EXPECT_EQ(LiesUnder(c.image, places.workspace), c.inWorkspace) << testing::PrintToString(places.workspace);
    EXPECT_EQ(LiesUnder(c.image, places.temp), c.underTemp) << testing::PrintToString(places.temp);
  }
  // A temporary folder that is a volume's root would hold everything.
  WorkspacePlaces places;
  FindWorkspacePlaces(L"T:\\_qln_setup_sfx_00000abc", L"R:\\", &places);
  EXPECT_EQ(places.workspace, L"\\Device\\HarddiskVolume3\\Scratch\\_qln_setup_sfx_00000abc");
  EXPECT_EQ(places.temp, L"");
  Hooks = RealLauncherHooks();
}

TEST(WorkspacePlaces, FoldersAndProcessImagesAgreeOnThisPlatform) {
  // A real process started from a real folder: its image, read as the wait
  // reads it, lies under the folder's resolved form, whatever the spelling
  // the folder was given in.
  const std::wstring folder = test_tree::FreshFolder(L"a folder with a long name");
  const std::wstring program = folder + L"\\a long file name.exe";
  ASSERT_TRUE(CopyFileW(Fixture(L"bootstrap.exe").c_str(), program.c_str(), FALSE));
  wchar_t shortForm[MAX_PATH] = {};
  GetShortPathNameW(folder.c_str(), shortForm, MAX_PATH);
  std::wstring line = L"\"" + program + L"\" sleep 3000";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  ASSERT_TRUE(CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &process));
  std::wstring image(32768, L'\0');
  DWORD length = 0;
  for (int i = 0; i < 100; ++i, Sleep(20)) {  // Wine answers late for a new process
    length = static_cast<DWORD>(image.size());
    if (QueryFullProcessImageNameW(process.hProcess, PROCESS_NAME_NATIVE, &image[0], &length)) break;
    length = 0;
  }
  image.resize(length);
  for (const std::wstring& spelling : {folder, folder + L"\\", std::wstring(shortForm)}) {
    const std::wstring native = NativeFolderPath(spelling.c_str());
    EXPECT_EQ(native.compare(0, 8, L"\\Device\\"), 0) << testing::PrintToString(native);
    EXPECT_TRUE(LiesUnder(image, native)) << testing::PrintToString(image) << " / " << testing::PrintToString(native);
  }
  printf("folder %ls\n  resolved %ls\n  image    %ls\n", folder.c_str(), NativeFolderPath(folder.c_str()).c_str(),
         image.c_str());
  fflush(stdout);
  TerminateProcess(process.hProcess, 0);
  WaitForSingleObject(process.hProcess, 5000);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  test_tree::Wipe(folder);
}

TEST(IsWorkingHost, TheSystemsHostsOfInstallersAndScriptsByName) {
  for (const wchar_t* image : {L"\\Device\\HarddiskVolume3\\Windows\\System32\\msiexec.exe",
                               L"\\Device\\HarddiskVolume3\\WINDOWS\\SysWOW64\\MSIEXEC.EXE",
                               L"C:\\Windows\\system32\\cmd.exe", L"wscript.exe", L"cscript.exe",
                               L"C:\\Windows\\System32\\WindowsPowerShell\\v1.0\\powershell.exe",
                               L"C:\\Program Files\\PowerShell\\7\\pwsh.exe", L"C:\\Windows\\SysWOW64\\rundll32.exe"})
    EXPECT_TRUE(IsWorkingHost(image)) << testing::PrintToString(image);
  for (const wchar_t* image : {L"C:\\Windows\\System32\\notepad.exe", L"C:\\Tools\\mycmd.exe",
                               L"C:\\Tools\\cmd.exe.bak", L"C:\\Windows\\explorer.exe", L""})
    EXPECT_FALSE(IsWorkingHost(image)) << testing::PrintToString(image);
}

TEST(CommandLineNamesWorkspace, Table) {
  WorkspacePlaces places;
  places.spellings = {L"C:\\Users\\ANNMAR~1\\AppData\\Local\\Temp\\_qln_setup_sfx_00000abc",
                      L"C:\\Users\\Ann Marie\\AppData\\Local\\Temp\\_qln_setup_sfx_00000abc"};
  struct Case {
    const wchar_t* line;
    bool names;
  } cases[] = {
      {L"msiexec.exe /i \"C:\\Users\\Ann Marie\\AppData\\Local\\Temp\\_qln_setup_sfx_00000abc\\Quillane.msi\" /qb", true},
      {L"msiexec /i C:\\Users\\ANNMAR~1\\AppData\\Local\\Temp\\_QLN_SETUP_SFX_00000ABC\\q.msi", true},
      {L"helper.exe --source=\"C:\\Users\\Ann Marie\\AppData\\Local\\Temp\\_qln_setup_sfx_00000abc\"", true},
      {L"helper.exe C:\\Users\\Ann Marie\\AppData\\Local\\Temp\\_qln_setup_sfx_00000abc", true},
      {L"msiexec /i C:\\Users\\Ann Marie\\AppData\\Local\\Temp\\_qln_setup_sfx_00000abcd\\q.msi", false},
      {L"\"C:\\Program Files\\Quillane\\Quillane.exe\" /firstrun", false},
      {L"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(CommandLineNamesWorkspace(c.line, places), c.names) << testing::PrintToString(c.line);
}

// --- Which processes hold: the trees ----------------------------------------

constexpr DWORD kLauncher = 100;
const wchar_t kWs[] = L"\\Device\\HarddiskVolume3\\Users\\Ann\\AppData\\Local\\Temp\\_qln_setup_sfx_00000064";
const wchar_t kTemp[] = L"\\Device\\HarddiskVolume3\\Users\\Ann\\AppData\\Local\\Temp";
const wchar_t kSys[] = L"\\Device\\HarddiskVolume3\\Windows\\System32";

WorkspacePlaces TreePlaces() {
  WorkspacePlaces places;
  places.workspace = kWs;
  places.temp = kTemp;
  places.spellings = {L"C:\\Users\\Ann\\AppData\\Local\\Temp\\_qln_setup_sfx_00000064"};
  return places;
}

// A process of the job, its parent, its creation time and its image.
ListedProcess InJob(DWORD id, DWORD parent, uint64_t created, const std::wstring& image) {
  return {id, parent, created, true, true, image, {}};
}
ListedProcess Outside(DWORD id, DWORD parent, uint64_t created, const std::wstring& image,
                      bool sameUser, const std::wstring& commandLine) {
  return {id, parent, created, false, sameUser, image, commandLine};
}

struct TreeCase {
  const char* name;
  std::vector<JudgedProcess> earlier;  // judged by earlier listings
  std::vector<ListedProcess> listing;  // the launcher, then the others
  std::vector<DWORD> holding;          // which of them hold
};

TEST(ListingHoldsWorkspace, ProcessTrees) {
  const std::wstring ws = kWs, temp = kTemp, sys = kSys;
  const std::wstring programFiles = L"\\Device\\HarddiskVolume3\\Program Files\\Quillane";
  const ListedProcess launcher = InJob(kLauncher, 50, 10, L"\\Device\\HarddiskVolume3\\Downloads\\QuillaneSetup.exe");
  const TreeCase cases[] = {
      {"a stage and its msiexec from the workspace",
       {},
       {launcher, InJob(201, kLauncher, 20, ws + L"\\Setup.exe"), InJob(202, 201, 30, sys + L"\\msiexec.exe")},
       {201, 202}},
      {"a stage copied under Temp, its parent Setup.exe ended and never listed",
       {},
       {launcher, InJob(203, 999, 30, temp + L"\\{5E3A}\\stage.exe")},
       {203}},
      {"a stage whose parent ended before it was listed holds, as does its shell",
       {},
       {launcher, InJob(204, 998, 30, temp + L"\\x\\stage.exe"), InJob(205, 204, 40, sys + L"\\cmd.exe")},
       {204, 205}},
      {"a restarted Explorer with a cmd and a program from Temp under it",
       {},
       {launcher, InJob(210, 997, 30, L"\\Device\\HarddiskVolume3\\Windows\\explorer.exe"),
        InJob(211, 210, 40, sys + L"\\cmd.exe"), InJob(212, 210, 41, temp + L"\\tool.exe"),
        InJob(213, 211, 50, sys + L"\\WindowsPowerShell\\v1.0\\powershell.exe")},
       {}},
      {"the product from Program Files with a powershell under it",
       {},
       {launcher, InJob(220, 996, 30, programFiles + L"\\Quillane.exe"),
        InJob(221, 220, 40, sys + L"\\WindowsPowerShell\\v1.0\\powershell.exe")},
       {}},
      {"the product ended: its shell's parent is remembered as not holding",
       {{230, 25, false}},
       {launcher, InJob(231, 230, 40, sys + L"\\cmd.exe")},
       {}},
      {"a stage ended: its shell's parent is remembered as holding",
       {{232, 25, true}},
       {launcher, InJob(233, 232, 40, sys + L"\\cmd.exe")},
       {233}},
      {"a reused parent id: the process now under it came after the child",
       {},
       {launcher, InJob(240, 241, 30, sys + L"\\cmd.exe"), InJob(241, 995, 60, programFiles + L"\\Quillane.exe")},
       {240}},
      {"a reused parent id: the earlier process of that id decides",
       {{242, 20, true}, {242, 55, false}},
       {launcher, InJob(243, 242, 40, sys + L"\\msiexec.exe")},
       {243}},
      {"another account's stage in the workspace, read without a handle",
       {},
       {launcher, {250, kLauncher, 20, true, false, ws + L"\\Setup.exe", {}},
        {251, 990, 30, false, false, ws + L"\\bin\\stage2.exe", {}}},
       {250, 251}},
      {"another account's program outside the workspace",
       {},
       {launcher, {252, 991, 30, false, false, programFiles + L"\\Quillane.exe", {}},
        {253, 991, 30, false, false, sys + L"\\msiexec.exe", L"msiexec /i C:\\Users\\Ann\\AppData\\Local\\Temp\\_qln_setup_sfx_00000064\\q.msi"}},
       {}},
      {"outside the job: a command line that names the workspace",
       {},
       {launcher, Outside(260, 994, 30, sys + L"\\msiexec.exe", true,
                          L"msiexec.exe /i \"C:\\Users\\Ann\\AppData\\Local\\Temp\\_qln_setup_sfx_00000064\\Quillane.msi\""),
        Outside(261, 994, 30, sys + L"\\msiexec.exe", true, L"msiexec.exe /V"),
        Outside(262, 994, 30, sys + L"\\cmd.exe", true, L"cmd.exe"),
        Outside(263, 994, 30, temp + L"\\other\\tool.exe", true, L"tool.exe")},
       {260}},
  };
  for (const TreeCase& c : cases) {
    SCOPED_TRACE(c.name);
    WaitMemory memory;
    memory.judged = c.earlier;
    std::vector<DWORD> holding;
    const WorkspacePlaces places = TreePlaces();
    // Each process alone tells whether it holds: list it with what it
    // descends from.
    const bool any = ListingHoldsWorkspace(c.listing, places, kLauncher, 0, &memory);
    EXPECT_EQ(any, !c.holding.empty());
    for (const ListedProcess& p : c.listing) {
      if (p.id == kLauncher) continue;
      for (const JudgedProcess& j : memory.judged)
        if (j.id == p.id && j.created == p.created && j.holds) holding.push_back(p.id);
    }
    EXPECT_EQ(holding, c.holding);
  }
}

TEST(ListingHoldsWorkspace, AnImageNotYetReadableHoldsForItsGraceOnly) {
  const WorkspacePlaces places = TreePlaces();
  WaitMemory memory;
  const std::vector<ListedProcess> listing = {InJob(300, 999, 30, L"")};
  EXPECT_TRUE(ListingHoldsWorkspace(listing, places, kLauncher, 1000, &memory));
  EXPECT_TRUE(ListingHoldsWorkspace(listing, places, kLauncher, 1000 + kUnreadableImageGraceMs - 1, &memory));
  EXPECT_FALSE(ListingHoldsWorkspace(listing, places, kLauncher, 1000 + kUnreadableImageGraceMs, &memory));
  // Once readable, judged by its image, and remembered.
  const std::vector<ListedProcess> readable = {InJob(300, 999, 30, std::wstring(kWs) + L"\\Setup.exe")};
  EXPECT_TRUE(ListingHoldsWorkspace(readable, places, kLauncher, 5000, &memory));
  EXPECT_TRUE(memory.unreadable.empty());
}

// What an observer of the wait was told, one text per call:
// "seen ID REASON in-job|outside", "ended ID MS".
struct WaitEvents {
  std::vector<std::string> events;
  WaitObserver Observer() {
    return {[](void* context, const WaitedProcess& p) {
              static const char* const kReasons[] = {"image", "descent", "command-line"};
              static_cast<WaitEvents*>(context)->events.push_back("seen " + std::to_string(p.id) + " " +
                                                                  kReasons[p.reason] + (p.inJob ? " in-job" : " outside"));
            },
            [](void* context, const WaitedProcess& p, DWORD now) {
              static_cast<WaitEvents*>(context)->events.push_back("ended " + std::to_string(p.id) + " " +
                                                                  std::to_string(now - p.since));
            },
            this};
  }
  // The events whose text begins with prefix.
  std::vector<std::string> Starting(const std::string& prefix) const {
    std::vector<std::string> found;
    for (const std::string& e : events)
      if (e.compare(0, prefix.size(), prefix) == 0) found.push_back(e);
    return found;
  }
};

TEST(ListingHoldsWorkspace, EachProcessWaitedForIsToldOnceWhenFoundAndOnceWhenGone) {
  const std::wstring ws = kWs, sys = kSys;
  const ListedProcess launcher = InJob(kLauncher, 50, 10, L"\\Device\\HarddiskVolume3\\Downloads\\QuillaneSetup.exe");
  const ListedProcess product = InJob(220, 996, 15, L"\\Device\\HarddiskVolume3\\Program Files\\Quillane\\Quillane.exe");
  const ListedProcess setup = InJob(201, kLauncher, 20, ws + L"\\Setup.exe");
  const ListedProcess msiexec = InJob(202, 201, 30, sys + L"\\msiexec.exe");
  const ListedProcess reused = InJob(201, 202, 90, ws + L"\\stage2.exe");  // 201 again, a later process
  const ListedProcess client = Outside(260, 994, 40, sys + L"\\msiexec.exe", true,
                                       L"msiexec.exe /i C:\\Users\\Ann\\AppData\\Local\\Temp\\_qln_setup_sfx_00000064\\q.msi");
  const ListedProcess starting = InJob(270, 202, 50, L"");  // its image not readable yet
  struct Step {
    DWORD now;
    std::vector<ListedProcess> listing;
    std::vector<std::string> told;
  } steps[] = {
      {1000, {launcher, product, setup}, {"seen 201 image in-job"}},
      {1250, {launcher, product, setup, msiexec, starting}, {"seen 202 descent in-job"}},
      {1500, {launcher, product, setup, msiexec, starting}, {}},
      {2500, {launcher, product, msiexec, reused}, {"ended 201 1500", "seen 201 image in-job"}},
      {3000, {launcher, product, reused, client}, {"ended 202 1750", "seen 260 command-line outside"}},
      {4000, {launcher, product}, {"ended 201 1500", "ended 260 1000"}},
      {4250, {launcher, product}, {}},
  };
  const WorkspacePlaces places = TreePlaces();
  WaitMemory memory;
  WaitEvents told;
  const WaitObserver observer = told.Observer();
  for (const Step& step : steps) {
    SCOPED_TRACE(step.now);
    told.events.clear();
    ListingHoldsWorkspace(step.listing, places, kLauncher, step.now, &memory, &observer);
    EXPECT_EQ(told.events, step.told);
  }
  EXPECT_TRUE(memory.waited.empty());
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

// The lines of a report that begin with prefix, without it.
std::vector<std::string> ReportedLines(const std::string& report, const std::string& prefix) {
  std::vector<std::string> lines;
  for (size_t at = 0; at < report.size();) {
    size_t end = report.find('\n', at);
    if (end == std::string::npos) end = report.size();
    if (report.compare(at, prefix.size(), prefix) == 0) lines.push_back(report.substr(at + prefix.size(), end - at - prefix.size()));
    at = end + 1;
  }
  return lines;
}
std::vector<DWORD> ReportedIds(const std::string& report, const std::string& prefix) {
  std::vector<DWORD> ids;
  for (const std::string& line : ReportedLines(report, prefix)) ids.push_back(strtoul(line.c_str(), nullptr, 10));
  return ids;
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
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    FindWorkspacePlaces(workspace_.c_str(), temp, &places_);
    report_ = test_tree::FreshFolder(L"job_wait_report") + L"\\report.txt";
    SetEnvironmentVariableW(L"QLN_SETUP_REPORT", report_.c_str());
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
    // What the programs reported they started, outside the job or not.
    const std::string report = ReadBytes(report_);
    for (const char* key : {"shell ", "temp-program ", "outside "})
      for (DWORD id : ReportedIds(report, key)) EndProcess(id);
    for (const std::string& copy : ReportedLines(report, "copy ")) {
      const std::wstring wide(copy.begin(), copy.end());
      for (int i = 0; i < 50 && !DeleteFileW(wide.c_str()); ++i) Sleep(100);
    }
    SetEnvironmentVariableW(L"QLN_SETUP_REPORT", nullptr);
    test_tree::Wipe(report_.substr(0, report_.find_last_of(L'\\')));
    DeleteFileW(elsewhere_.c_str());
    test_tree::Wipe(workspace_);
  }
  // Waits until the report holds a line beginning with key.
  bool AwaitReport(const char* key) {
    for (int i = 0; i < 1200; ++i, Sleep(50))  // up to 60 s: a loaded machine starts a Wine process slowly
      if (!ReportedLines(ReadBytes(report_), key).empty()) return true;
    return false;
  }
  HANDLE Start(const std::wstring& program, const std::wstring& arguments, bool resume = true) {
    HANDLE process = StartInJob(job_, program, arguments, resume);
    if (process) started_.push_back(process);
    return process;
  }
  HANDLE job_ = nullptr;
  std::wstring workspace_, inWorkspace_, elsewhere_, report_;
  WorkspacePlaces places_;
  std::vector<HANDLE> started_;
  std::vector<std::pair<int, bool>> pumps_;
};

TEST_F(JobWait, WaitsForWhatRunsFromTheWorkspaceButNotForWhatRunsElsewhere) {
  HANDLE application = Start(elsewhere_, L"sleep 30000");
  HANDLE stage = Start(inWorkspace_, L"sleep 1500");
  ASSERT_TRUE(application && stage);
  {
    // What one listing costs: the first opens every process of the system,
    // later ones only those new since.
    WaitMemory memory;
    LARGE_INTEGER frequency, t0, t1, t2;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&t0);
    JobHoldsWorkspace(job_, places_, &memory);
    QueryPerformanceCounter(&t1);
    JobHoldsWorkspace(job_, places_, &memory);
    QueryPerformanceCounter(&t2);
    printf("one listing of %zu processes: first %.1f ms, then %.1f ms\n", memory.judged.size(),
           (t1.QuadPart - t0.QuadPart) * 1000.0 / frequency.QuadPart,
           (t2.QuadPart - t1.QuadPart) * 1000.0 / frequency.QuadPart);
  }
  WaitEvents told;
  const WaitObserver observer = told.Observer();
  const DWORD start = GetTickCount();
  EXPECT_EQ(AwaitWorkspaceProcesses(job_, workspace_.c_str(), &observer), kWaitNothingHolds);
  const DWORD waited = GetTickCount() - start;
  EXPECT_EQ(WaitForSingleObject(stage, 0), DWORD(WAIT_OBJECT_0)) << "returned while the stage ran";
  EXPECT_EQ(WaitForSingleObject(application, 0), DWORD(WAIT_TIMEOUT));
  EXPECT_GE(waited, 1000u);
  // The stage, and only the stage, was waited for: found once, gone once.
  const std::string id = std::to_string(GetProcessId(stage));
  EXPECT_EQ(told.Starting("seen "), std::vector<std::string>{"seen " + id + " image in-job"});
  const std::vector<std::string> ended = told.Starting("ended ");
  ASSERT_EQ(ended.size(), 1u);
  EXPECT_EQ(ended[0].compare(0, 7 + id.size(), "ended " + id + " "), 0) << ended[0];
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
  WaitMemory memory;
  const DWORD start = GetTickCount();
  EXPECT_TRUE(JobHoldsWorkspace(job_, places_, &memory));
  DWORD released = 0;
  while (GetTickCount() - start < 4 * kUnreadableImageGraceMs) {
    if (!JobHoldsWorkspace(job_, places_, &memory)) {
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
  WaitMemory memory;
  EXPECT_FALSE(JobHoldsWorkspace(job_, places_, &memory));
  EXPECT_EQ(AwaitWorkspaceProcesses(job_, workspace_.c_str()), kWaitNothingHolds);
  EXPECT_TRUE(pumps_.empty());
  // No job: nothing to wait for.
  EXPECT_EQ(AwaitWorkspaceProcesses(nullptr, workspace_.c_str()), kWaitWithoutJob);
}

TEST_F(JobWait, TheProductAndWhatTheUserOpensFromItAreNotWaitedFor) {
  // The product (started by the installer, elsewhere) opens a shell, cmd,
  // and a tool copied under the temporary folder: both are of the kind a
  // stage uses, yet descend from the product, not from the installation.
  HANDLE product = Start(elsewhere_, L"shells 20000");
  ASSERT_NE(product, nullptr);
  ASSERT_TRUE(AwaitReport("temp-program ")) << ReadBytes(report_);
  const std::string report = ReadBytes(report_);
  const std::vector<DWORD> shell = ReportedIds(report, "shell "), tool = ReportedIds(report, "temp-program ");
  ASSERT_EQ(shell.size(), 1u);
  ASSERT_EQ(tool.size(), 1u);
  ASSERT_TRUE(IsRunning(shell[0]) && IsRunning(tool[0])) << report;
  const DWORD start = GetTickCount();
  AwaitWorkspaceProcesses(job_, workspace_.c_str());
  const DWORD waited = GetTickCount() - start;
  EXPECT_LT(waited, 3000u);
  EXPECT_TRUE(IsRunning(shell[0]) && IsRunning(tool[0])) << "the wait outlasted the shell and the tool";
  EXPECT_EQ(WaitForSingleObject(product, 0), DWORD(WAIT_TIMEOUT));
  printf("product with a shell and a tool from the temporary folder: waited %lu ms\n", waited);
  fflush(stdout);
}

TEST_F(JobWait, AShellAStageStartedHoldsUntilItsWorkEnds) {
  // The stage (in the workspace) copies itself under the temporary folder,
  // hands the copy to cmd and exits: cmd and the copy descend from it.
  HANDLE stage = Start(inWorkspace_, L"hosted 2500");
  ASSERT_NE(stage, nullptr);
  ASSERT_TRUE(AwaitReport("shell ")) << ReadBytes(report_);
  const std::vector<DWORD> shell = ReportedIds(ReadBytes(report_), "shell ");
  ASSERT_EQ(shell.size(), 1u);
  AwaitWorkspaceProcesses(job_, workspace_.c_str());
  EXPECT_EQ(WaitForSingleObject(stage, 0), DWORD(WAIT_OBJECT_0));
  EXPECT_FALSE(IsRunning(shell[0])) << "returned while the stage's shell ran";
}

TEST_F(JobWait, AProcessOutsideTheJobHoldsWhileItsCommandLineNamesTheWorkspace) {
  // As the Windows Installer client started with breakaway: outside the job,
  // running from elsewhere, its package in the workspace.
  std::wstring line = L"\"" + elsewhere_ + L"\" sleep 1500 /i \"" + workspace_ + L"\\Quillane.msi\"";
  std::wstring other = L"\"" + elsewhere_ + L"\" sleep 20000 /i \"" + workspace_ + L"-other\\Quillane.msi\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION client = {}, unrelated = {};
  ASSERT_TRUE(CreateProcessW(elsewhere_.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &client));
  ASSERT_TRUE(CreateProcessW(elsewhere_.c_str(), &other[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &unrelated));
  CloseHandle(client.hThread);
  CloseHandle(unrelated.hThread);
  WaitEvents told;
  const WaitObserver observer = told.Observer();
  const DWORD start = GetTickCount();
  AwaitWorkspaceProcesses(job_, workspace_.c_str(), &observer);
  const DWORD waited = GetTickCount() - start;
  EXPECT_EQ(WaitForSingleObject(client.hProcess, 0), DWORD(WAIT_OBJECT_0)) << "returned while the client ran";
  EXPECT_EQ(told.Starting("seen "),
            std::vector<std::string>{"seen " + std::to_string(client.dwProcessId) + " command-line outside"});
  EXPECT_EQ(told.Starting("ended ").size(), 1u);
  EXPECT_EQ(WaitForSingleObject(unrelated.hProcess, 0), DWORD(WAIT_TIMEOUT));
  EXPECT_GE(waited, 1000u);
  TerminateProcess(unrelated.hProcess, 1);
  WaitForSingleObject(unrelated.hProcess, 5000);
  CloseHandle(client.hProcess);
  CloseHandle(unrelated.hProcess);
}

// Another account's processes: the launcher may not open them.
DWORD Refused[2] = {};
std::wstring RefusedImages[2];
HANDLE WINAPI RefuseSome(DWORD access, BOOL inherit, DWORD id) {
  if (id == Refused[0] || id == Refused[1]) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  return OpenProcess(access, inherit, id);
}
BOOL ImageOfRefused(DWORD id, wchar_t* image, DWORD capacity) {
  for (int i = 0; i < 2; ++i)
    if (id == Refused[i] && RefusedImages[i].size() < capacity) {
      wcscpy(image, RefusedImages[i].c_str());
      return TRUE;
    }
  return ReadImageWithoutHandle(id, image, capacity);
}

TEST_F(JobWait, ProcessesThatCannotBeOpenedAreJudgedByTheImageReadWithoutAHandle) {
  // Two processes of another account in the job, one running from the
  // workspace, one from elsewhere; Wine has no query for the image without
  // a handle, so it is stood in for with their true images.
  HANDLE stage = Start(inWorkspace_, L"sleep 1500");
  HANDLE program = Start(elsewhere_, L"sleep 20000");
  ASSERT_TRUE(stage && program);
  Refused[0] = GetProcessId(stage);
  Refused[1] = GetProcessId(program);
  RefusedImages[0] = places_.workspace + L"\\Setup.exe";
  RefusedImages[1] = NativeFolderPath(installer_fixtures::TestFolder().c_str()) +
                     elsewhere_.substr(elsewhere_.find_last_of(L'\\'));
  Hooks.openProcess = RefuseSome;
  Hooks.readImageWithoutHandle = ImageOfRefused;
  const DWORD start = GetTickCount();
  AwaitWorkspaceProcesses(job_, workspace_.c_str());
  const DWORD waited = GetTickCount() - start;
  EXPECT_EQ(WaitForSingleObject(stage, 0), DWORD(WAIT_OBJECT_0)) << "returned while the stage ran";
  EXPECT_EQ(WaitForSingleObject(program, 0), DWORD(WAIT_TIMEOUT));
  EXPECT_GE(waited, 1000u);
  Refused[0] = Refused[1] = 0;
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
int UseFolder(wchar_t*, wchar_t* workspace, TakenWorkspaceNames*) {
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
