// The run's log: its file (name, form, access list, QUILLANE_SETUP_LOG), the
// masking of secrets in the arguments, and what the main sequence writes on
// the roads a virtual clock can walk: a disk filling up during extraction,
// a package of 5,000 entries, a start that keeps failing, a failure nobody
// sees (the event log entry), a workspace that stays in part; and the wait's
// lines for every process it waits for, however many.
#include "launcher/run_log.h"

#include <aclapi.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/launch_sequence.h"
#include "launcher/launcher_hooks.h"
#include "launcher/secret_mask.h"
#include "launcher/signature.h"
#include "splash/splash_window.h"
#include "tests/launcher/test_tree.h"

namespace {

using test_tree::ReadBytes;

// ---- The masking of secrets, through the splitting the log uses.

TEST(RunLogArguments, SecretsAreMaskedAsTheArgumentsAreSplit) {
  struct Case {
    const wchar_t* line;
    const wchar_t* logged;
  } cases[] = {
      {L"", L"none"},
      {L"   ", L"none"},
      {L"/quiet LANG=en", L"[/quiet] [LANG=en]"},
      {L"\"TARGET=C:\\Program Files\\Q\" /norestart", L"[TARGET=C:\\Program Files\\Q] [/norestart]"},
      {L"PASSWORD=hunter2", L"[PASSWORD=***]"},
      {L"db_password=x user=me", L"[db_password=***] [user=me]"},
      {L"\"ADMIN_PASSWORD=two words\"", L"[ADMIN_PASSWORD=***]"},
      {L"PASSWORD=\"two words\" next", L"[PASSWORD=***] [next]"},
      {L"SMTP_PASSWD=a MYSQL_PWD=b CLIENT_SECRET=c API_TOKEN=d LICENSEKEY=e", 
       L"[SMTP_PASSWD=***] [MYSQL_PWD=***] [CLIENT_SECRET=***] [API_TOKEN=***] [LICENSEKEY=***]"},
      {L"apiToken=abc", L"[apiToken=***]"},
      {L"/password:s3cret /quiet", L"[/password:***] [/quiet]"},
      {L"--password=s3cret", L"[--password=***]"},
      {L"/password s3cret /quiet", L"[/password] [***] [/quiet]"},
      {L"-password \"two words\"", L"[-password] [***]"},
      {L"-Password /looks-like-a-switch", L"[-Password] [***]"},
      {L"/key:ABCD-EFGH", L"[/key:***]"},
      {L"/password", L"[/password]"},
      {L"INSTALLDIR=C:\\pwd\\x", L"[INSTALLDIR=C:\\pwd\\x]"},
      {L"/log:C:\\temp\\password.txt", L"[/log:C:\\temp\\password.txt]"},
      {L"password s3cret", L"[password] [s3cret]"},
      {L"line\nbreak", L"[line\nbreak]"},
  };
  for (const Case& c : cases) {
    wchar_t text[kRunLogLineUnits];
    DescribeArguments(c.line, text, kRunLogLineUnits);
    EXPECT_STREQ(text, c.logged) << "line: [" << testing::PrintToString(std::wstring(c.line)) << "]";
  }
}

// ---- The file itself.

std::wstring LogFolder() {
  static const std::wstring folder = test_tree::FreshFolder(L"runlog");
  return folder;
}

// The lines of a log, its byte-order mark checked and taken off, CRLF
// checked at every line end.
std::vector<std::string> Lines(const std::string& bytes, bool* wellFormed) {
  std::vector<std::string> lines;
  *wellFormed = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0;
  for (size_t at = 3; at < bytes.size();) {
    const size_t end = bytes.find("\r\n", at);
    if (end == std::string::npos || bytes.find('\n', at) < end) {
      *wellFormed = false;
      break;
    }
    lines.push_back(bytes.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

// The text after "NNNN ms  ".
std::string Text(const std::string& line) {
  const size_t mark = line.find(" ms  ");
  return mark == std::string::npos ? line : line.substr(mark + 5);
}

bool HasLine(const std::vector<std::string>& lines, const std::string& part) {
  for (const std::string& line : lines)
    if (line.find(part) != std::string::npos) return true;
  return false;
}

std::string Dump(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) out += line + "\n";
  return out;
}

TEST(RunLogFile, ANewLogInTheTemporaryFolderTakesTheNextNameWhenOneIsTaken) {
  SetEnvironmentVariableW(kRunLogVariable, nullptr);
  SYSTEMTIME now = {};
  now.wYear = 2031;
  now.wMonth = 2;
  now.wDay = 3;
  now.wHour = 4;
  now.wMinute = 5;
  now.wSecond = 6;
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  wchar_t name[96];
  wsprintfW(name, L"Quillane_Setup_20310203_040506_%lu.log", GetCurrentProcessId());
  const std::wstring first = std::wstring(temp) + name;
  const std::wstring second = first.substr(0, first.size() - 4) + L"_1.log";
  test_tree::WriteBytes(first, "someone else's");

  RunLog log;
  ASSERT_TRUE(OpenRunLog(&log, now));
  EXPECT_EQ(std::wstring(log.path), second);
  LogLine(&log, L"a line with a \u00e9 and a\r\nbreak");
  LogExitCode(&log, -99);
  EXPECT_EQ(ReadBytes(first), "someone else's") << "a taken name was opened";
  bool wellFormed = false;
  const std::vector<std::string> lines = Lines(ReadBytes(second), &wellFormed);
  EXPECT_TRUE(wellFormed);
  ASSERT_EQ(lines.size(), 3u) << Dump(lines);
  EXPECT_NE(lines[0].find("started 2031-02-03 04:05:06.000 local time"), std::string::npos) << lines[0];
  EXPECT_EQ(Text(lines[1]), "a line with a \xC3\xA9 and a  break");
  EXPECT_EQ(Text(lines[2]), "exit: code -99 (0xffffff9d)");
  DeleteFileW(first.c_str());
  DeleteFileW(second.c_str());
}

TEST(RunLogFile, TheNamedLogIsAppendedToAndAMissingFolderMeansNoLog) {
  const std::wstring shared = LogFolder() + L"\\shared.log";
  SetEnvironmentVariableW(kRunLogVariable, shared.c_str());
  SYSTEMTIME now = {};
  GetLocalTime(&now);
  for (int run = 0; run < 2; ++run) {
    RunLog log;
    ASSERT_TRUE(OpenRunLog(&log, now));
    LogLine(&log, L"run %d", run);
    LogExitCode(&log, run);
  }
  bool wellFormed = false;
  const std::vector<std::string> lines = Lines(ReadBytes(shared), &wellFormed);
  EXPECT_TRUE(wellFormed) << "one byte-order mark, at the start, and CRLF line ends";
  ASSERT_EQ(lines.size(), 6u) << Dump(lines);
  EXPECT_EQ(Text(lines[1]), "run 0");
  EXPECT_EQ(Text(lines[4]), "run 1");

  SetEnvironmentVariableW(kRunLogVariable, (LogFolder() + L"\\missing\\setup.log").c_str());
  RunLog log;
  EXPECT_FALSE(OpenRunLog(&log, now));
  EXPECT_EQ(log.file, INVALID_HANDLE_VALUE);
  LogLine(&log, L"goes nowhere");
  LogExitCode(&log, 0);
  EXPECT_FALSE(test_tree::Exists(LogFolder() + L"\\missing"));
  SetEnvironmentVariableW(kRunLogVariable, nullptr);
}

TEST(RunLogFile, OnlyTheUserSystemAndAdministratorsMayOpenIt) {
  RunLogDescriptor record;
  ASSERT_EQ(MakeRunLogDescriptor(&record), 1);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(&record.descriptor, &control, &revision));
  EXPECT_TRUE(control & SE_DACL_PROTECTED) << "the folder's entries would be inherited";
  BOOL present = FALSE, defaulted = FALSE;
  PACL list = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(&record.descriptor, &present, &list, &defaulted));
  ASSERT_TRUE(present && list);
  ASSERT_EQ(list->AceCount, 3);
  PSID expected[3] = {reinterpret_cast<TOKEN_USER*>(record.trustees.tokenUser)->User.Sid,
                      record.trustees.system.sid, record.trustees.administrators.sid};
  for (DWORD i = 0; i < 3; ++i) {
    ACCESS_ALLOWED_ACE* entry = nullptr;
    ASSERT_TRUE(GetAce(list, i, reinterpret_cast<void**>(&entry)));
    EXPECT_EQ(entry->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(entry->Header.AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE), 0);
    bool matched = false;
    for (PSID sid : expected) matched = matched || EqualSid(&entry->SidStart, sid);
    EXPECT_TRUE(matched) << "entry " << i << " is for somebody else";
  }
}

TEST(RunLogFile, ALogStaysUnderItsLimitAndKeepsItsLastLines) {
  const std::wstring path = LogFolder() + L"\\limit.log";
  SetEnvironmentVariableW(kRunLogVariable, path.c_str());
  SYSTEMTIME now = {};
  RunLog log;
  ASSERT_TRUE(OpenRunLog(&log, now));
  SetEnvironmentVariableW(kRunLogVariable, nullptr);
  const std::wstring wide(900, L'\u20ac');  // three bytes each in UTF-8
  for (int i = 0; i < 100; ++i) LogLine(&log, L"%d %s", i, wide.c_str());
  log.closing = true;
  LogLine(&log, L"clean-up: workspace removed");
  LogExitCode(&log, 0);
  const std::string bytes = ReadBytes(path);
  EXPECT_LE(bytes.size(), kRunLogLimit);
  bool wellFormed = false;
  const std::vector<std::string> lines = Lines(bytes, &wellFormed);
  EXPECT_TRUE(wellFormed);
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(Text(lines[lines.size() - 3]), "(the log is full: lines up to the clean-up are left out)");
  EXPECT_EQ(Text(lines[lines.size() - 2]), "clean-up: workspace removed");
  EXPECT_EQ(Text(lines.back()), "exit: code 0 (0x00000000)");
}

// The lines of the log at path whose text begins with prefix.
std::vector<std::string> LinesStarting(const std::string& bytes, const std::string& prefix) {
  bool wellFormed = false;
  std::vector<std::string> found;
  for (const std::string& line : Lines(bytes, &wellFormed))
    if (Text(line).compare(0, prefix.size(), prefix) == 0) found.push_back(Text(line));
  return found;
}

// Opens log at path (made anew) through QUILLANE_SETUP_LOG; the variable is
// unset again.
bool OpenLogAt(const std::wstring& path, RunLog* log) {
  DeleteFileW(path.c_str());
  SetEnvironmentVariableW(kRunLogVariable, path.c_str());
  const bool opened = OpenRunLog(log, SYSTEMTIME{});
  SetEnvironmentVariableW(kRunLogVariable, nullptr);
  return opened;
}

TEST(RunLogFile, TheWaitNamesItsFirstProcessesAndCountsTheRest) {
  // An installer that leaves 200 processes in the workspace: each is found
  // and ends, yet only the first are named.
  const std::wstring path = LogFolder() + L"\\wait.log";
  RunLog log;
  ASSERT_TRUE(OpenLogAt(path, &log));
  WaitTally tally;
  const WaitObserver observer = LoggingWaitObserver(&tally, &log);
  const std::wstring image = L"\\Device\\HarddiskVolume1\\users\\ann\\Temp\\_qln_setup_sfx_0000002a\\" +
                             std::wstring(150, L's') + L".exe";
  std::vector<WaitedProcess> processes;
  for (DWORD i = 0; i < 200; ++i)
    processes.push_back({1000 + i, 77, tally.startTick, i % 2 ? kHoldsByDescent : kHoldsByImage, true, image});
  processes.push_back({5000, 78, tally.startTick, kHoldsByCommandLine, false, L""});
  for (const WaitedProcess& p : processes) observer.seen(observer.context, p);
  for (const WaitedProcess& p : processes) observer.ended(observer.context, p, p.since + 1500);
  LogWaitEnd(tally, kWaitNothingHolds);
  LogExitCode(&log, 0);

  const std::string bytes = ReadBytes(path);
  EXPECT_LT(bytes.size(), 16u * 1024) << "the wait's lines grow with the processes";
  const std::vector<std::string> named = LinesStarting(bytes, "wait: process ");
  ASSERT_EQ(named.size(), 2u * kRunLogWaitedProcesses) << bytes;
  EXPECT_EQ(named[0], "wait: process 1000 holds the workspace (its image lies in the workspace): " +
                          std::string(image.begin(), image.end()));
  EXPECT_EQ(named[1], "wait: process 1001 holds the workspace (started from the installation, from the temporary "
                      "folder or as a host): " + std::string(image.begin(), image.end()));
  EXPECT_EQ(named[kRunLogWaitedProcesses], "wait: process 1000 (" + std::string(150, 's') + ".exe) has ended; waited for 1500 ms");
  EXPECT_EQ(LinesStarting(bytes, "wait: more processes").size(), 1u);
  EXPECT_EQ(LinesStarting(bytes, "wait: nothing started from the installation holds the workspace any more, after ").size(),
            1u);
  EXPECT_NE(bytes.find("; 201 process(es) waited for\r\n"), std::string::npos) << bytes;
  DeleteFileW(path.c_str());
}

TEST(RunLogFile, AWaitWhoseListingFailsSaysHowManyStillHeld) {
  const std::wstring path = LogFolder() + L"\\wait-unlisted.log";
  RunLog log;
  ASSERT_TRUE(OpenLogAt(path, &log));
  WaitTally tally;
  const WaitObserver observer = LoggingWaitObserver(&tally, &log);
  const WaitedProcess stage = {812, 5, tally.startTick, kHoldsByCommandLine, false, L"C:\\x\\msiexec.exe"};
  const WaitedProcess other = {813, 6, tally.startTick, kHoldsByImage, false, L""};
  observer.seen(observer.context, stage);
  observer.seen(observer.context, other);
  observer.ended(observer.context, other, other.since + 20);
  LogWaitEnd(tally, kWaitCannotList);
  LogWaitEnd(tally, kWaitWithoutJob);
  LogExitCode(&log, 0);
  const std::string bytes = ReadBytes(path);
  EXPECT_EQ(LinesStarting(bytes, "wait: "),
            (std::vector<std::string>{
                "wait: process 812 holds the workspace (outside the job, its command line names the workspace): C:\\x\\msiexec.exe",
                "wait: process 813 holds the workspace (its image lies in the workspace, outside the job): image unknown",
                "wait: process 813 (image unknown) has ended; waited for 20 ms",
                LinesStarting(bytes, "wait: the processes").at(0),
                "wait: no job to list: only the installer was waited for"}));
  EXPECT_NE(bytes.find("; 2 process(es) waited for, 1 of them still holding the workspace\r\n"), std::string::npos)
      << bytes;
  DeleteFileW(path.c_str());
}

// ---- The main sequence on a virtual clock, through the entry point.

struct World {
  DWORD nowMs = 5000;
  std::wstring folder, installer, logPath;
  std::vector<std::wstring> boxes;
  std::vector<std::wstring> events;
  // The extraction played to the progress record.
  uint32_t entries = 3;
  uint64_t entryBytes = 100;
  uint32_t failAtEntry = 0;  // 0: no failure
  DWORD failError = 0;
  int startFailures = 0;     // attempts that fail before one succeeds; < 0 always
  DWORD startError = ERROR_SHARING_VIOLATION;
  int verifyAfterRounds = 1;
  int rounds = 0;
  std::wstring signer;       // the subject a verified round reads
  std::vector<std::wstring> taken;  // workspace names found taken
  bool prepareFails = false;
  TreeLeftover leftover = {};       // what stays of the workspace (entries 0: it goes)
  bool marksRefused = false;        // marking for removal at restart is refused
};
World* W = nullptr;

void WINAPI FakeSleep(DWORD ms) { W->nowMs += ms; }
DWORD WINAPI FakeTick() { return W->nowMs; }
uint64_t FakeClock() { return ComposeTimestamp(W->nowMs, uint64_t(W->nowMs) * 1000, 1000000); }
void FakeStatus(const wchar_t*) {}
BOOL WINAPI FakeShow(HWND, int) { return TRUE; }
int FakePump(int, bool) { return 1; }
int WINAPI FakeBox(HWND, LPCWSTR, LPCWSTR caption, UINT) {
  W->boxes.push_back(caption);
  return IDOK;
}
int FakeCreateWindow(HINSTANCE) {
  SplashWindow = CreateWindowExW(0, L"STATIC", L"splash", WS_OVERLAPPED, 0, 0, 50, 50, nullptr, nullptr,
                                 nullptr, nullptr);
  return SplashWindow != nullptr;
}
// Finds W->taken taken already; makes W->folder unless W->prepareFails.
int FakePrepare(wchar_t*, wchar_t* workspace, TakenWorkspaceNames* taken) {
  taken->count = 0;
  for (const std::wstring& name : W->taken) lstrcpynW(taken->names[taken->count++], name.c_str(), kWorkspaceNameUnits + 1);
  lstrcpyW(workspace, W->prepareFails ? L"" : W->folder.c_str());
  return W->prepareFails ? 0 : 1;
}
int FakeGrant(const wchar_t*) { return 1; }
// Plays a package of W->entries entries, each of W->entryBytes bytes, 1 ms
// each; the entry W->failAtEntry fails in its writing with W->failError,
// as the real extraction reports it.
int FakeExtract(HINSTANCE, const wchar_t*, const ExtractProgress* progress) {
  progress->stage(progress->context, L"Extracting files ...");
  const uint64_t total = uint64_t(W->entries) * W->entryBytes;
  progress->bytes(progress->context, 0, total);
  for (uint32_t n = 1; n <= W->entries; ++n) {
    W->nowMs += 1;
    progress->entry(progress->context, n, W->entries);
    if (n == W->failAtEntry) {
      const ExtractFailure failure = {L"writing the entry's file", n, W->entries, L"data\\big.cab", 15,
                                      "the caller's sink asked to stop", W->failError};
      progress->failed(progress->context, &failure);
      progress->stage(progress->context, L"Extraction failed!!!");
      return 0;
    }
    progress->bytes(progress->context, n * W->entryBytes, total);
  }
  progress->stage(progress->context, L"Extraction complete!!!");
  return 1;
}
bool FakeLocate(const wchar_t*, wchar_t*, wchar_t* installer) {
  lstrcpyW(installer, W->installer.c_str());
  return true;
}
int FakeVerify(SignatureRound* round) {
  W->nowMs += 20;
  ++W->rounds;
  const bool verified = W->rounds >= W->verifyAfterRounds;
  round->trustResult = verified ? 0 : static_cast<LONG>(0x800B0100);  // TRUST_E_NOSIGNATURE
  lstrcpynW(round->signer, verified ? W->signer.c_str() : L"", kSignerUnits);
  return verified ? 1 : 0;
}
DWORD WINAPI FakeWait(DWORD count, const HANDLE* handles, BOOL all, DWORD, DWORD) {
  return WaitForMultipleObjects(count, handles, all, 10000);
}
// Leaves W->leftover when it names something, as RemoveTree tells it.
int FakeRemove(const wchar_t*, DWORD, void*, RemoveFilter, TreeLeftover* leftover) {
  if (leftover) *leftover = W->leftover;
  return W->leftover.entries == 0;
}
BOOL WINAPI FakeMark(LPCWSTR, LPCWSTR, DWORD) {
  if (!W->marksRefused) return TRUE;
  SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}
HANDLE WINAPI NoJob(LPSECURITY_ATTRIBUTES, LPCWSTR) {
  SetLastError(ERROR_ACCESS_DENIED);
  return nullptr;
}
// The shell's start: fails W->startFailures times with W->startError, then
// starts a process that has ended already.
BOOL WINAPI FakeShellExecute(SHELLEXECUTEINFOW* launch) {
  if (W->startFailures != 0) {
    if (W->startFailures > 0) --W->startFailures;
    SetLastError(W->startError);
    return FALSE;
  }
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  wchar_t line[] = L"cmd.exe /c exit 7";
  if (!CreateProcessW(nullptr, line, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                      &process))
    return FALSE;
  CloseHandle(process.hThread);
  WaitForSingleObject(process.hProcess, 10000);
  launch->hProcess = process.hProcess;
  return TRUE;
}
BOOL WINAPI FakeReportEvent(HANDLE, WORD type, WORD, DWORD, PSID, WORD count, DWORD, LPCWSTR* strings, LPVOID) {
  W->events.push_back(std::to_wstring(type) + L" " + (count ? strings[0] : L""));
  return TRUE;
}
BOOL WINAPI InvisibleStation(HANDLE, int index, PVOID information, DWORD length, LPDWORD needed) {
  if (index != UOI_FLAGS || length < sizeof(USEROBJECTFLAGS)) return FALSE;
  *static_cast<USEROBJECTFLAGS*>(information) = {};
  if (needed) *needed = sizeof(USEROBJECTFLAGS);
  return TRUE;
}

class LoggedRun : public ::testing::Test {
 protected:
  void SetUp() override {
    world_.folder = test_tree::FreshFolder(L"logged-run");
    world_.installer = world_.folder + L"\\Setup.exe";
    test_tree::WriteBytes(world_.installer, "MZ");
    const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    world_.logPath = LogFolder() + L"\\" + std::wstring(test.begin(), test.end()) + L".log";
    DeleteFileW(world_.logPath.c_str());
    SetEnvironmentVariableW(kRunLogVariable, world_.logPath.c_str());
    W = &world_;
    Hooks.setStatusText = FakeStatus;
    Hooks.showWindow = FakeShow;
    Hooks.pumpMessages = FakePump;
    Hooks.sleep = FakeSleep;
    Hooks.tickCount = FakeTick;
    Hooks.readTimestamp = FakeClock;
    Hooks.messageBox = FakeBox;
    Hooks.createJobObject = NoJob;
    Hooks.msgWaitForMultipleObjects = FakeWait;
    Hooks.shellExecuteEx = FakeShellExecute;
    Hooks.reportEvent = FakeReportEvent;
    Hooks.moveFileEx = FakeMark;
    Stages.createSplashWindow = FakeCreateWindow;
    Stages.prepareWorkspace = FakePrepare;
    Stages.grantWorkspaceAccess = FakeGrant;
    Stages.extractPayload = FakeExtract;
    Stages.locateInstaller = FakeLocate;
    Stages.verifyFileSignature = FakeVerify;
    Stages.removeTree = FakeRemove;
  }
  void TearDown() override {
    SetEnvironmentVariableW(kRunLogVariable, nullptr);
    Hooks = RealLauncherHooks();
    Stages = RealSequenceStages();
    FailureBoxesCanBeSeen = true;
    SplashWindow = nullptr;
    test_tree::Wipe(world_.folder);
    W = nullptr;
  }
  // Runs the entry point; the log's lines in lines_.
  int Run(const wchar_t* arguments = L"/quiet PASSWORD=hunter2") {
    const int code = LauncherMain(GetModuleHandleW(nullptr), nullptr, const_cast<PWSTR>(arguments), SW_SHOW);
    bytes_ = ReadBytes(world_.logPath);
    bool wellFormed = false;
    lines_ = Lines(bytes_, &wellFormed);
    EXPECT_TRUE(wellFormed);
    return code;
  }
  bool Has(const std::string& part) const { return HasLine(lines_, part); }
  World world_;
  std::string bytes_;
  std::vector<std::string> lines_;
};

TEST_F(LoggedRun, ASuccessfulRunLogsEveryStageAndTheExitCodeLast) {
  EXPECT_EQ(Run(), 7);
  EXPECT_TRUE(Has("start: Quillane setup launcher 5.09.01, built ")) << Dump(lines_);
  EXPECT_TRUE(Has("start: Windows ")) << Dump(lines_);
  EXPECT_TRUE(Has("start: arguments passed on: [/quiet] [PASSWORD=***]")) << Dump(lines_);
  EXPECT_EQ(bytes_.find("hunter2"), std::string::npos) << "a secret reached the log";
  EXPECT_TRUE(Has("window: picture 0x0 pixels, scaled for ")) << Dump(lines_);
  EXPECT_TRUE(Has("extraction: 3 entries, 300 bytes, in 3 ms")) << Dump(lines_);
  EXPECT_TRUE(Has("signature: verified after 1 round(s)")) << Dump(lines_);
  EXPECT_TRUE(Has("start: installer started, process id ")) << Dump(lines_);
  EXPECT_TRUE(Has("installer: ended with exit code 7")) << Dump(lines_);
  EXPECT_TRUE(Has("clean-up: workspace removed")) << Dump(lines_);
  ASSERT_FALSE(lines_.empty());
  EXPECT_EQ(Text(lines_.back()), "exit: code 7 (0x00000007)");
  EXPECT_TRUE(world_.events.empty()) << "an event for a successful run";
}

TEST_F(LoggedRun, ADiskFillingUpDuringExtractionNamesTheEntryAndError112) {
  world_.entries = 40;
  world_.failAtEntry = 17;
  world_.failError = ERROR_DISK_FULL;
  EXPECT_EQ(static_cast<DWORD>(Run()), 4294967197u);
  EXPECT_TRUE(Has("extraction failed at entry 17 of 40 \"data\\big.cab\": writing the entry's file; reader status "
                  "15 (the caller's sink asked to stop); system error 112 ("))
      << Dump(lines_);
  EXPECT_TRUE(Has("failure: \"Payload Extraction Failed\", reported in a box")) << Dump(lines_);
  EXPECT_TRUE(Has("clean-up: workspace removed"));
  EXPECT_EQ(Text(lines_.back()), "exit: code -99 (0xffffff9d)");
}

TEST_F(LoggedRun, FiveThousandEntriesKeepTheLogSmall) {
  world_.entries = 5000;
  world_.entryBytes = 4096;
  EXPECT_EQ(Run(), 7);
  EXPECT_TRUE(Has("extraction: 5000 entries, 20480000 bytes")) << Dump(lines_);
  EXPECT_LT(bytes_.size(), 4096u) << Dump(lines_);
}

TEST_F(LoggedRun, StartFailuresGiveTheFirstAndLastErrorAndTheirCount) {
  struct Case {
    int failures;
    DWORD error;
    const char* line;
    bool started;
  } cases[] = {
      {3, ERROR_SHARING_VIOLATION, "start: 3 attempt(s) failed; first error 32 (", true},
      {-1, ERROR_SHARING_VIOLATION, "start: 241 attempt(s) failed; first error 32 (", false},
      {-1, ERROR_CANCELLED, "start: 1 attempt(s) failed; first error 1223 (", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    world_.startFailures = c.failures;
    world_.startError = c.error;
    world_.rounds = 0;
    DeleteFileW(world_.logPath.c_str());
    const int code = Run();
    EXPECT_TRUE(Has(c.line)) << Dump(lines_);
    EXPECT_EQ(Has("start: installer started, process id "), c.started) << Dump(lines_);
    if (!c.started) {
      EXPECT_TRUE(Has("start: the installer could not be started: error ")) << Dump(lines_);
      EXPECT_EQ(code, c.error == ERROR_CANCELLED ? 1223 : -99);
    }
    EXPECT_EQ(Text(lines_.back()).compare(0, 11, "exit: code "), 0);
    if (SplashWindow) DestroyWindow(SplashWindow);
  }
}

TEST_F(LoggedRun, TheWorkspaceLinesListEveryNameTakenAlready) {
  std::vector<std::wstring> all;
  std::string allText;
  for (int n = 0; n < kWorkspaceNameCandidates; ++n) {
    wchar_t name[kWorkspaceNameUnits + 1];
    swprintf(name, kWorkspaceNameUnits + 1, n ? L"_qln_setup_sfx_0000abcd_%08x" : L"_qln_setup_sfx_0000abcd",
             0x5eed0000 + n);
    all.push_back(name);
    allText += (n ? ", " : "") + std::string(name, name + lstrlenW(name));
  }
  struct Case {
    const char* name;
    std::vector<std::wstring> taken;
    bool fails;
    std::string line;  // empty: no line of names taken
  } cases[] = {
      {"none taken", {}, false, ""},
      {"the first taken", {all[0]}, false, "workspace: 1 name taken already, left untouched: _qln_setup_sfx_0000abcd"},
      {"every name taken", all, true, "workspace: 16 names taken already, left untouched: " + allText},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    world_.taken = c.taken;
    world_.prepareFails = c.fails;
    world_.rounds = 0;
    DeleteFileW(world_.logPath.c_str());
    const int code = Run();
    EXPECT_EQ(code, c.fails ? -99 : 7);
    if (c.line.empty()) EXPECT_FALSE(Has("taken already")) << Dump(lines_);
    else EXPECT_TRUE(HasLine(lines_, c.line)) << Dump(lines_);
    EXPECT_EQ(Has("workspace: no folder could be made anew"), c.fails) << Dump(lines_);
    EXPECT_EQ(Has("workspace: " + std::string(world_.folder.begin(), world_.folder.end())), !c.fails)
        << Dump(lines_);
    if (SplashWindow) DestroyWindow(SplashWindow);
  }
}

TEST_F(LoggedRun, ARoundThatReadsTheSignerNamesIt) {
  world_.verifyAfterRounds = 2;
  world_.signer = L"CN=Quillane Test Signing, O=Qu\u00e9bec";
  EXPECT_EQ(Run(), 7);
  std::string first, second;
  for (const std::string& line : lines_) {
    if (line.find("signature: round 1 ") != std::string::npos) first = line;
    if (line.find("signature: round 2 ") != std::string::npos) second = line;
  }
  EXPECT_NE(first, "") << Dump(lines_);
  EXPECT_EQ(first.find("signer"), std::string::npos) << "a round that read no signer names one";
  EXPECT_NE(second.find("verified; WinVerifyTrust 0x00000000 (verified), 20 ms; signer \"CN=Quillane Test "
                        "Signing, O=Qu\xc3\xa9"
                        "bec\""),
            std::string::npos)
      << Dump(lines_);
}

TEST_F(LoggedRun, AFailureNobodySeesGoesToTheEventLogOnce) {
  world_.failAtEntry = 2;
  world_.failError = ERROR_ACCESS_DENIED;
  // Seen: a box, and no event.
  Run();
  EXPECT_EQ(world_.boxes.size(), 1u);
  EXPECT_TRUE(world_.events.empty());
  // Nobody sees the station: no box, one error entry naming the cause and
  // the log.
  Hooks.getUserObjectInformation = InvisibleStation;
  DeleteFileW(world_.logPath.c_str());
  Run();
  EXPECT_EQ(world_.boxes.size(), 1u) << "a box nobody sees";
  ASSERT_EQ(world_.events.size(), 1u);
  const std::wstring& event = world_.events[0];
  EXPECT_EQ(event.compare(0, 2, L"1 "), 0) << "not an error entry";  // EVENTLOG_ERROR_TYPE
  EXPECT_NE(event.find(L"exit code -99"), std::wstring::npos);
  EXPECT_NE(event.find(L"extraction failed at entry 2 of 3 \"data\\big.cab\""), std::wstring::npos);
  EXPECT_NE(event.find(L"system error 5 ("), std::wstring::npos);
  EXPECT_NE(event.find(L"Log: " + world_.logPath), std::wstring::npos);
  EXPECT_TRUE(Has("failure: \"Payload Extraction Failed\", no box: nobody sees the window station"))
      << Dump(lines_);
  EXPECT_TRUE(Has("event log: failure entry written")) << Dump(lines_);
  EXPECT_EQ(Text(lines_.back()), "exit: code -99 (0xffffff9d)");
  // A successful run nobody sees writes none.
  world_.failAtEntry = 0;
  Run();
  EXPECT_EQ(world_.events.size(), 1u);
}

TEST_F(LoggedRun, AWorkspaceThatStaysInPartNamesTheFirstEntryItsErrorAndTheMarking) {
  // The workspace holds Setup.exe: marking takes it and the folder.
  struct Case {
    TreeLeftover leftover;
    bool marksRefused;
    const char* stayed;
    const char* marked;
  } cases[] = {
      {{2, ERROR_SHARING_VIOLATION, L"bin\\held.dll"}, false,
       "clean-up: the workspace could not be removed whole: 2 entries stayed, the first \"bin\\held.dll\", error 32 (",
       "clean-up: 2 entries marked for removal at restart"},
      {{1, ERROR_ACCESS_DENIED, L""}, true,
       "clean-up: the workspace could not be removed whole: 1 entry stayed: the workspace folder itself, error 5 (",
       "clean-up: nothing could be marked for removal at restart (only an administrator may mark)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stayed);
    DeleteFileW(world_.logPath.c_str());
    world_.leftover = c.leftover;
    world_.marksRefused = c.marksRefused;
    EXPECT_EQ(Run(), 7) << "the installer's exit code, whatever stayed";
    EXPECT_TRUE(Has(c.stayed)) << Dump(lines_);
    EXPECT_TRUE(Has(c.marked)) << Dump(lines_);
    EXPECT_FALSE(Has("clean-up: workspace removed")) << Dump(lines_);
    EXPECT_EQ(Text(lines_.back()), "exit: code 7 (0x00000007)");
  }
}

TEST_F(LoggedRun, ALogIntoAMissingFolderLeavesTheRunAsWithoutOne) {
  SetEnvironmentVariableW(kRunLogVariable, (LogFolder() + L"\\no-such-folder\\setup.log").c_str());
  EXPECT_EQ(LauncherMain(GetModuleHandleW(nullptr), nullptr, const_cast<PWSTR>(L"/quiet"), SW_SHOW), 7);
  EXPECT_TRUE(world_.boxes.empty());
  world_.failAtEntry = 1;
  world_.failError = ERROR_DISK_FULL;
  EXPECT_EQ(static_cast<DWORD>(LauncherMain(GetModuleHandleW(nullptr), nullptr, const_cast<PWSTR>(L"/quiet"),
                                            SW_SHOW)),
            4294967197u);
  EXPECT_EQ(world_.boxes, std::vector<std::wstring>{L"Payload Extraction Failed"});
  EXPECT_FALSE(test_tree::Exists(LogFolder() + L"\\no-such-folder"));
}

}  // namespace
