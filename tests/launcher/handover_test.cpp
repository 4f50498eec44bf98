// The handover: parameters, start retries, the error texts, the wait on the
// installer's process and its exit code. The sample installer, copied into
// a folder of the test's own, is the program that gets started.
#include "launcher/handover.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/launcher_hooks.h"
#include "launcher/signature.h"
#include "splash/splash_window.h"
#include "tests/launcher/installer_fixtures.h"
#include "tests/launcher/test_tree.h"

namespace {

using installer_fixtures::Fixture;
using installer_fixtures::ReportLine;
using test_tree::ReadBytes;

// What the fakes saw.
struct Record {
  int shellCalls = 0;
  int failuresLeft = 0;
  std::vector<DWORD> errors;  // the errors of the first attempts, in order
  std::vector<DWORD> sleeps;
  std::vector<std::pair<int, bool>> pumps;
  std::vector<std::wstring> boxes;  // caption | text
  std::vector<UINT> boxFlags;
  std::vector<HWND> boxOwners;
  std::vector<int> showCommands;
  SHELLEXECUTEINFOW lastLaunch = {};
  std::wstring lastParameters;
  std::wstring installer;
  bool fileLockedDuringStart = false;
  bool realSleeps = false;
  std::vector<uint64_t> shellTimes;  // ReadTimestamp at each start attempt
};
Record* Seen = nullptr;

BOOL WINAPI FakeShell(SHELLEXECUTEINFOW* launch) {
  ++Seen->shellCalls;
  Seen->shellTimes.push_back(ReadTimestamp());
  Seen->lastLaunch = *launch;
  Seen->lastParameters = launch->lpParameters ? launch->lpParameters : L"<null>";
  Seen->fileLockedDuringStart = test_tree::HeldAgainstWriting(Seen->installer);
  if (!Seen->errors.empty()) {
    SetLastError(Seen->errors.front());
    Seen->errors.erase(Seen->errors.begin());
    return FALSE;
  }
  if (Seen->failuresLeft > 0) {
    --Seen->failuresLeft;
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return ShellExecuteExW(launch);
}
void WINAPI FakeSleep(DWORD ms) {
  Seen->sleeps.push_back(ms);
  Sleep(Seen->realSleeps || ms < 10 ? ms : 10);
}
int FakePump(int budget, bool discard) {
  Seen->pumps.emplace_back(budget, discard);
  return 1;
}
int WINAPI FakeBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT flags) {
  Seen->boxes.push_back(std::wstring(caption) + L"|" + text);
  Seen->boxFlags.push_back(flags);
  Seen->boxOwners.push_back(owner);
  return IDOK;
}
BOOL WINAPI FakeShow(HWND, int command) {
  Seen->showCommands.push_back(command);
  return TRUE;
}

class Handover : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = test_tree::FreshFolder(L"handover");
    installer_ = folder_ + L"\\Setup.exe";
    report_ = folder_ + L"\\report.txt";
    ASSERT_TRUE(CopyFileW(Fixture(L"unsigned.exe").c_str(), installer_.c_str(), FALSE));
    record_.installer = installer_;
    Seen = &record_;
    Hooks.shellExecuteEx = FakeShell;
    Hooks.sleep = FakeSleep;
    Hooks.pumpMessages = FakePump;
    Hooks.messageBox = FakeBox;
    Hooks.showWindow = FakeShow;
    SetEnvironmentVariableW(L"QLN_SETUP_REPORT", report_.c_str());
    SetEnvironmentVariableW(L"QLN_SETUP_EXIT", L"0");
    SplashWindow = CreateWindowExW(0, L"STATIC", L"splash", WS_OVERLAPPED, 0, 0, 50, 50, nullptr,
                                   nullptr, nullptr, nullptr);
  }
  void TearDown() override {
    Hooks = RealLauncherHooks();
    Seen = nullptr;
    DestroyWindow(SplashWindow);
    SplashWindow = nullptr;
    SetEnvironmentVariableW(L"QLN_SETUP_REPORT", nullptr);
    SetEnvironmentVariableW(L"QLN_SETUP_EXIT", nullptr);
    test_tree::Wipe(folder_);
  }
  HANDLE* OpenVerified() {
    verified_ = CreateFileW(installer_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       0, nullptr);
    return &verified_;
  }
  HANDLE verified_ = INVALID_HANDLE_VALUE;
  Record record_;
  std::wstring folder_, installer_, report_;
};

TEST(ComposeInstallerParameters, Table) {
  struct Case {
    const wchar_t* line;
    std::wstring expected;
  } cases[] = {
      {L"", L""},
      {nullptr, L""},
      {L"   ", L""},
      {L"/quiet", L"/quiet"},
      {L"  /quiet  LANG=en \t\r\n", L"/quiet  LANG=en"},
      {L"\"TARGET=C:\\Program Files\\Q\"  /x ", L"\"TARGET=C:\\Program Files\\Q\"  /x"},
  };
  for (const Case& c : cases) {
    wchar_t buffer[kParameterCapacity];
    wmemset(buffer, L'#', kParameterCapacity);
    ComposeInstallerParameters(buffer, c.line);
    EXPECT_EQ(std::wstring(buffer), c.expected) << (c.line ? c.line : L"<null>");
  }
}

TEST(ComposeInstallerParameters, CutsLongArgumentsWithinTheBuffer) {
  // The leading blank counts: 1023 units in all, then trimmed of the blank.
  std::wstring line(3000, L'x');
  wchar_t buffer[kParameterCapacity];
  ComposeInstallerParameters(buffer, line.c_str());
  EXPECT_EQ(std::wstring(buffer), std::wstring(1022, L'x'));
}

TEST(ComposeInstallerError, ChoosesTheTextByTheFileAndAddsTheSystemText) {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  wchar_t buffer[kParameterCapacity];

  ComposeInstallerError(buffer, self, ERROR_ACCESS_DENIED);
  std::wstring run(buffer);
  const std::wstring runText =
      L"Setup was unable to run the installer binary 'Setup.exe'.\n"
      L"The following error was returned by the system:\n\n";
  ASSERT_EQ(run.compare(0, runText.size(), runText), 0) << run;
  EXPECT_GT(run.size(), runText.size()) << "no system description";

  ComposeInstallerError(buffer, L"C:\\no\\such\\folder\\Setup.exe", ERROR_FILE_NOT_FOUND);
  std::wstring find(buffer);
  const std::wstring findText =
      L"Setup was unable to find the installer binary 'Setup.exe'.\n"
      L"It may have been deleted by background software services.\n"
      L"The following error was returned by the system:\n\n";
  ASSERT_EQ(find.compare(0, findText.size(), findText), 0) << find;
  EXPECT_GT(find.size(), findText.size());
}

TEST_F(Handover, StartsWithTheTrimmedArgumentsAndPassesTheExitCodeOn) {
  SetEnvironmentVariableW(L"QLN_SETUP_EXIT", L"3010");
  DWORD code = 0;
  ASSERT_EQ(HandOverToInstaller(installer_.c_str(), L"  /quiet  LANG=en  ", OpenVerified(), &code), 1);
  EXPECT_EQ(code, 3010u);
  EXPECT_EQ(record_.shellCalls, 1);
  EXPECT_TRUE(record_.boxes.empty());
  EXPECT_EQ(record_.lastLaunch.cbSize, 60u);
  EXPECT_EQ(record_.lastLaunch.fMask, 0x540u);
  EXPECT_EQ(record_.lastLaunch.hwnd, SplashWindow);
  EXPECT_STREQ(record_.lastLaunch.lpVerb, L"open");
  EXPECT_EQ(std::wstring(record_.lastLaunch.lpFile), installer_);
  EXPECT_EQ(record_.lastLaunch.lpDirectory, nullptr);
  EXPECT_EQ(record_.lastLaunch.nShow, SW_SHOW);
  EXPECT_EQ(record_.lastParameters, L"/quiet  LANG=en");
  EXPECT_TRUE(record_.fileLockedDuringStart) << "the verified file was open for writing";
  EXPECT_EQ(verified_, INVALID_HANDLE_VALUE) << "the verified file was not released";
  ASSERT_EQ(record_.showCommands, std::vector<int>{SW_HIDE});
  // Every round of the wait pumps with input discarded, then sleeps 250 ms.
  ASSERT_FALSE(record_.pumps.empty());
  for (auto& p : record_.pumps) EXPECT_EQ(p, std::make_pair(250, true));
  for (DWORD s : record_.sleeps) EXPECT_EQ(s, 250u);
  const std::string report = ReadBytes(report_);
  EXPECT_EQ(ReportLine(report, "arguments"), "/quiet  LANG=en");
  // The verified file was released after the start.
  HANDLE again = CreateFileW(installer_.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(again, INVALID_HANDLE_VALUE);
  if (again != INVALID_HANDLE_VALUE) CloseHandle(again);
}

TEST_F(Handover, EmptyArgumentsGiveAnEmptyParameterString) {
  ASSERT_EQ(HandOverToInstaller(installer_.c_str(), L""), 1);
  EXPECT_EQ(record_.lastParameters, L"");
  EXPECT_EQ(ReportLine(ReadBytes(report_), "arguments"), "");
}

TEST_F(Handover, PassesEveryExitCodeOnIncludingStillActive) {
  // 259 is STILL_ACTIVE: an exit-code poll alone would wait forever.
  for (const wchar_t* value : {L"0", L"1603", L"-5", L"259"}) {
    SetEnvironmentVariableW(L"QLN_SETUP_EXIT", value);
    DWORD code = 12345;
    ASSERT_EQ(HandOverToInstaller(installer_.c_str(), L"", nullptr, &code), 1) << value;
    EXPECT_EQ(code, static_cast<DWORD>(_wtoi(value))) << value;
  }
}

TEST_F(Handover, WaitsUntilTheInstallerHasEnded) {
  SetEnvironmentVariableW(L"QLN_SETUP_DELAY_MS", L"1500");
  const DWORD start = GetTickCount();
  ASSERT_EQ(HandOverToInstaller(installer_.c_str(), L""), 1);
  SetEnvironmentVariableW(L"QLN_SETUP_DELAY_MS", nullptr);
  EXPECT_GE(GetTickCount() - start, 1400u);
  EXPECT_GE(record_.sleeps.size(), 5u);  // fake sleeps last 10 ms each
}

TEST_F(Handover, StartsOnTheThirdAttemptWithoutAMessage) {
  record_.failuresLeft = 2;
  record_.realSleeps = true;
  DWORD code = 1;
  ASSERT_EQ(HandOverToInstaller(installer_.c_str(), L"/a", OpenVerified(), &code), 1);
  EXPECT_EQ(record_.shellCalls, 3);
  EXPECT_EQ(code, 0u);
  EXPECT_TRUE(record_.boxes.empty());
  // Two retries, each a discarding pump and a 250 ms pause, before the start.
  ASSERT_GE(record_.sleeps.size(), 2u);
  ASSERT_GE(record_.pumps.size(), 2u);
  EXPECT_EQ(record_.sleeps[0], 250u);
  EXPECT_EQ(record_.sleeps[1], 250u);
  EXPECT_EQ(record_.pumps[0], std::make_pair(250, true));
  EXPECT_TRUE(record_.fileLockedDuringStart);
  // Each retry comes 250 to 500 ms after the attempt before it.
  // (The platform's Sleep may end a tick early.)
  ASSERT_EQ(record_.shellTimes.size(), 3u);
  for (int i = 1; i < 3; ++i) {
    const double gap = ElapsedSeconds(record_.shellTimes[i - 1], record_.shellTimes[i]);
    EXPECT_GE(gap, 0.235);
    EXPECT_LE(gap, 0.6);
    printf("retry %d came %.3f s after the attempt before it\n", i, gap);
  }
  fflush(stdout);
}

TEST_F(Handover, VanishedInstallerIsReportedAfterEveryAttempt) {
  DeleteFileW(installer_.c_str());
  Hooks.shellExecuteEx = ShellExecuteExW;
  DWORD code = 77;
  EXPECT_EQ(HandOverToInstaller(installer_.c_str(), L"/a", nullptr, &code), 0);
  EXPECT_NE(code, 77u) << "the last attempt's error is handed back";
  EXPECT_NE(code, 0u);
  EXPECT_EQ(record_.sleeps.size(), static_cast<size_t>(kStartRetries));
  EXPECT_TRUE(record_.showCommands.empty()) << "the window stays shown";
  ASSERT_EQ(record_.boxes.size(), 1u);
  const std::wstring prefix =
      L"Installer Error|Setup was unable to find the installer binary 'Setup.exe'.\n"
      L"It may have been deleted by background software services.\n"
      L"The following error was returned by the system:\n\n";
  EXPECT_EQ(record_.boxes[0].compare(0, prefix.size(), prefix), 0) << record_.boxes[0];
  EXPECT_GT(record_.boxes[0].size(), prefix.size()) << "no system description";
  EXPECT_EQ(record_.boxFlags[0], 0x00051030u);
  EXPECT_EQ(record_.boxOwners[0], SplashWindow);
}

TEST_F(Handover, UnstartableFileIsReportedWithTheRunText) {
  record_.failuresLeft = 1000;
  EXPECT_EQ(HandOverToInstaller(installer_.c_str(), L"", OpenVerified()), 0);
  EXPECT_EQ(record_.shellCalls, kStartRetries + 1);
  ASSERT_EQ(record_.boxes.size(), 1u);
  const std::wstring prefix = L"Installer Error|Setup was unable to run the installer binary 'Setup.exe'.\n";
  EXPECT_EQ(record_.boxes[0].compare(0, prefix.size(), prefix), 0) << record_.boxes[0];
}

struct StartErrorCase {
  const char* name;
  std::vector<DWORD> errors;
  int attempts;
  bool box;
  int result;
  int launcherExit;  // the launcher's exit code after a failed start
};

TEST_F(Handover, StartErrorsThatNoRetryCanChangeAreReportedAtOnce) {
  const StartErrorCase cases[] = {
      {"elevation declined", {ERROR_CANCELLED}, 1, true, 0, 1223},
      {"blocked by policy", {ERROR_ACCESS_DISABLED_BY_POLICY}, 1, true, 0, -99},
      {"blocked by application control", {4551}, 1, true, 0, -99},
      {"found infected", {225}, 1, true, 0, -99},
      {"not a valid program", {ERROR_BAD_EXE_FORMAT}, 1, true, 0, -99},
      {"a program for another processor", {216}, 1, true, 0, -99},
      {"a wrong side-by-side configuration", {14001}, 1, true, 0, -99},
      {"an image hash code integrity refuses", {577}, 1, true, 0, -99},
      {"declined after a sharing violation", {ERROR_SHARING_VIOLATION, ERROR_CANCELLED}, 2, true, 0, 1223},
      {"sharing violation twice", {ERROR_SHARING_VIOLATION, ERROR_SHARING_VIOLATION}, 3, false, 1, 0},
  };
  for (const StartErrorCase& c : cases) {
    SCOPED_TRACE(c.name);
    record_ = Record();
    record_.installer = installer_;
    record_.errors = c.errors;
    DWORD code = 12345;
    EXPECT_EQ(HandOverToInstaller(installer_.c_str(), L"/a", OpenVerified(), &code), c.result);
    EXPECT_EQ(record_.shellCalls, c.attempts);
    EXPECT_EQ(verified_, INVALID_HANDLE_VALUE) << "the verified file was not released";
    ASSERT_EQ(record_.boxes.size(), c.box ? 1u : 0u);
    if (c.result) {
      EXPECT_EQ(code, 0u) << "the installer's exit code";
      continue;
    }
    EXPECT_EQ(code, c.errors.back()) << "the last attempt's error";
    EXPECT_EQ(ExitCodeForStartError(code), c.launcherExit);
    // One box, with the run text and the system's own text for the error.
    const std::wstring prefix =
        L"Installer Error|Setup was unable to run the installer binary 'Setup.exe'.\n";
    EXPECT_EQ(record_.boxes[0].compare(0, prefix.size(), prefix), 0);
    wchar_t expected[kParameterCapacity];
    ComposeInstallerError(expected, installer_.c_str(), code);
    EXPECT_EQ(record_.boxes[0], std::wstring(L"Installer Error|") + expected);
    EXPECT_TRUE(record_.showCommands.empty()) << "the window stays shown";
  }
}

TEST(StartErrors, OnlyTheFinalOnesStopTheRetries) {
  for (DWORD error : {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION, ERROR_FILE_NOT_FOUND,
                      ERROR_NOT_ENOUGH_MEMORY, ERROR_NO_ASSOCIATION}) {
    EXPECT_FALSE(IsFinalStartError(error)) << error;
    EXPECT_EQ(ExitCodeForStartError(error), -99) << error;
  }
  for (DWORD error : {1223u, 1260u, 4551u, 225u, 193u, 216u, 14001u, 577u}) EXPECT_TRUE(IsFinalStartError(error)) << error;
}

}  // namespace
