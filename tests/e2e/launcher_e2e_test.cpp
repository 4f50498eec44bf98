// End-to-end runs of the real launcher, each built around its own test
// package: the program is started as a user would start it, its message
// boxes are found (only those of its own process tree), recorded and
// answered, its status texts are watched, and what the test installer
// reported is read back.
#include <windows.h>
#include <tlhelp32.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "splash/splash_window.h"
#include "tests/launcher/installer_fixtures.h"
#include "tests/launcher/test_tree.h"

namespace {

using installer_fixtures::EndProcess;
using installer_fixtures::Fixture;
using installer_fixtures::IsRunning;
using installer_fixtures::ReportLine;
using installer_fixtures::TestFolder;
using test_tree::Exists;
using test_tree::ReadBytes;

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c < 128 ? static_cast<char>(c) : '?';
  return out;
}

struct Box {
  std::wstring caption, text;
  double seconds;  // since the launcher started
};

struct Title {
  std::wstring text;
  double seconds;
};

struct Outcome {
  DWORD exitCode = 0;
  std::vector<Box> boxes;
  std::vector<Title> titles;  // each change of the splash window's title
  bool splashShown = false;   // the splash window was seen visible
  std::wstring workspace;
  bool workspaceSeen = false;  // the workspace existed while the launcher ran
  // The window is hidden right after the start returns, so a first look
  // may still find it shown; once hidden it must stay hidden.
  bool hiddenWhileInstallerRan = false;
  bool shownAgainWhileInstallerRan = false;
  std::string report;          // what the test installer wrote
  std::string log;             // the run's log, read from the temporary folder
  std::wstring logPath;
  double seconds = 0;

  // The text of the first log line holding part ("" when none).
  std::string LogLine(const std::string& part) const {
    const size_t at = log.find(part);
    if (at == std::string::npos) return std::string();
    const size_t begin = log.rfind('\n', at) + 1;
    return log.substr(begin, log.find("\r\n", at) - begin);
  }
  // The texts of every log line holding part.
  std::vector<std::string> LogLines(const std::string& part) const {
    std::vector<std::string> lines;
    for (size_t at = log.find(part); at != std::string::npos;) {
      const size_t begin = log.rfind('\n', at) + 1, end = log.find("\r\n", at);
      lines.push_back(log.substr(begin, end - begin));
      at = end == std::string::npos ? end : log.find(part, end);
    }
    return lines;
  }
  // The text of the last line, after its time.
  std::string LastLogLine() const {
    if (log.size() < 2) return std::string();
    const size_t begin = log.rfind('\n', log.size() - 3) + 1;
    const std::string line = log.substr(begin, log.size() - 2 - begin);
    const size_t mark = line.find(" ms  ");
    return mark == std::string::npos ? line : line.substr(mark + 5);
  }

  double FirstTitle(const std::wstring& text) const {
    for (const Title& t : titles)
      if (t.text == text) return t.seconds;
    return -1;
  }
};

// The launcher and every process it started, found by parent identifier.
std::set<DWORD> ProcessTree(DWORD root) {
  std::set<DWORD> tree = {root};
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return tree;
  std::vector<std::pair<DWORD, DWORD>> links;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL ok = Process32FirstW(snapshot, &entry); ok; ok = Process32NextW(snapshot, &entry))
    links.emplace_back(entry.th32ProcessID, entry.th32ParentProcessID);
  CloseHandle(snapshot);
  for (bool grew = true; grew;) {
    grew = false;
    for (auto& link : links)
      if (tree.count(link.second) && !tree.count(link.first)) grew = tree.insert(link.first).second;
  }
  return tree;
}

struct Watch {
  std::set<DWORD> tree;
  DWORD launcher;
  Outcome* outcome;
  double now;
  std::set<HWND> answered;
  bool closeSplash;  // post WM_CLOSE to the splash window once it shows
  bool closed;
};

BOOL CALLBACK CollectText(HWND child, LPARAM param) {
  auto* longest = reinterpret_cast<std::wstring*>(param);
  wchar_t cls[64] = {}, text[2048] = {};
  GetClassNameW(child, cls, 64);
  if (lstrcmpiW(cls, L"Static") != 0) return TRUE;
  GetWindowTextW(child, text, 2048);
  if (wcslen(text) > longest->size()) *longest = text;
  return TRUE;
}

BOOL CALLBACK Visit(HWND window, LPARAM param) {
  auto* watch = reinterpret_cast<Watch*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (!watch->tree.count(pid)) return TRUE;
  wchar_t cls[64] = {}, title[512] = {};
  GetClassNameW(window, cls, 64);
  GetWindowTextW(window, title, 512);
  if (lstrcmpW(cls, L"#32770") == 0) {
    if (!IsWindowVisible(window) || watch->answered.count(window)) return TRUE;
    Box box;
    box.caption = title;
    EnumChildWindows(window, CollectText, reinterpret_cast<LPARAM>(&box.text));
    box.seconds = watch->now;
    watch->outcome->boxes.push_back(box);
    watch->answered.insert(window);
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  } else if (pid == watch->launcher && lstrcmpW(cls, kSplashClassName) == 0) {
    // Only the splash window counts: the platform gives the process
    // top-level windows of its own (such as the hidden "Default IME"), and
    // their visibility says nothing about the splash.
    auto& titles = watch->outcome->titles;
    if (IsWindowVisible(window)) watch->outcome->splashShown = true;
    if (titles.empty() || titles.back().text != title) titles.push_back({title, watch->now});
    if (watch->tree.size() > 1) {
      if (!IsWindowVisible(window))
        watch->outcome->hiddenWhileInstallerRan = true;
      else if (watch->outcome->hiddenWhileInstallerRan)
        watch->outcome->shownAgainWhileInstallerRan = true;
    }
    if (watch->closeSplash && !watch->closed && IsWindowVisible(window)) {
      PostMessageW(window, WM_CLOSE, 0, 0);
      watch->closed = true;
    }
  }
  return TRUE;
}

std::wstring TempFolder() {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  return temp;
}

// The pattern of the logs of the launcher with process id pid.
std::wstring LogPattern(DWORD pid) { return TempFolder() + L"Quillane_Setup_*_" + std::to_wstring(pid) + L".log"; }

void DeleteLogsOf(DWORD pid) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(LogPattern(pid).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do DeleteFileW((TempFolder() + found.cFileName).c_str());
  while (FindNextFileW(search, &found));
  FindClose(search);
}

// Runs the launcher built around package with the exact arguments, while
// the installer exits with installerExit. beforeStart, when given, is
// called with the launcher's process identifier before its first
// instruction runs.
Outcome RunLauncher(const wchar_t* package, const std::wstring& arguments,
                    const wchar_t* installerExit = L"0", bool closeSplash = false,
                    const std::function<void(DWORD)>& beforeStart = nullptr) {
  Outcome outcome;
  const std::wstring program = TestFolder() + L"\\e2e\\" + package + L".exe";
  const std::wstring report = TempFolder() + L"qln_e2e_report_" + package + L".txt";
  DeleteFileW(report.c_str());
  SetEnvironmentVariableW(L"QLN_SETUP_REPORT", report.c_str());
  SetEnvironmentVariableW(L"QLN_SETUP_EXIT", installerExit);

  std::wstring line = L"\"" + program + L"\" " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  const DWORD start = GetTickCount();
  if (!CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                      nullptr, &startup, &process)) {
    ADD_FAILURE() << "cannot start " << Narrow(program) << ": " << GetLastError();
    return outcome;
  }
  // Process ids come round again: a log an earlier launcher of the same id
  // left must not be taken for this one's.
  DeleteLogsOf(process.dwProcessId);
  if (beforeStart) beforeStart(process.dwProcessId);
  ResumeThread(process.hThread);
  CloseHandle(process.hThread);
  wchar_t name[64];
  wsprintfW(name, L"_qln_setup_sfx_%08x", process.dwProcessId);
  outcome.workspace = TempFolder() + name;

  Watch watch{{}, process.dwProcessId, &outcome, 0, {}, closeSplash, false};
  for (;;) {
    const DWORD wait = WaitForSingleObject(process.hProcess, 50);
    watch.now = (GetTickCount() - start) / 1000.0;
    if (GetFileAttributesW(outcome.workspace.c_str()) != INVALID_FILE_ATTRIBUTES)
      outcome.workspaceSeen = true;
    watch.tree = ProcessTree(process.dwProcessId);
    EnumWindows(Visit, reinterpret_cast<LPARAM>(&watch));
    if (wait != WAIT_TIMEOUT) break;
    if (watch.now > 180) {
      ADD_FAILURE() << "the launcher still runs after 180 s";
      TerminateProcess(process.hProcess, 1);
    }
  }
  outcome.seconds = (GetTickCount() - start) / 1000.0;
  GetExitCodeProcess(process.hProcess, &outcome.exitCode);
  CloseHandle(process.hProcess);
  outcome.report = ReadBytes(report);
  DeleteFileW(report.c_str());
  // The run's log stays in the temporary folder, under its process id.
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(LogPattern(process.dwProcessId).c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    outcome.logPath = TempFolder() + found.cFileName;
    outcome.log = ReadBytes(outcome.logPath);
    FindClose(search);
    DeleteFileW(outcome.logPath.c_str());
  }
  SetEnvironmentVariableW(L"QLN_SETUP_REPORT", nullptr);
  SetEnvironmentVariableW(L"QLN_SETUP_EXIT", nullptr);
  return outcome;
}

unsigned long FileCrc(const std::wstring& path) {
  const std::string data = ReadBytes(path);
  return crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(data.data()),
               static_cast<uInt>(data.size()));
}

constexpr DWORD kFailure = 4294967197u;  // -99

TEST(LauncherE2E, HappyRoadPassesTrimmedArgumentsAndTheExitCode) {
  const Outcome run =
      RunLauncher(L"happy", L"  /quiet  LANG=en \"TARGET=C:\\Program Files\\Q\"   ", L"3010");
  EXPECT_EQ(run.exitCode, 3010u);
  EXPECT_TRUE(run.boxes.empty()) << Narrow(run.boxes.empty() ? L"" : run.boxes[0].caption);
  ASSERT_FALSE(run.report.empty()) << "the installer did not run";
  EXPECT_EQ(ReportLine(run.report, "arguments"), "/quiet  LANG=en \"TARGET=C:\\Program Files\\Q\"");
  EXPECT_EQ(ReportLine(run.report, "folder"), Narrow(run.workspace));
  // The whole package was unpacked, the installer byte for byte.
  char crc[64];
  snprintf(crc, sizeof crc, "crc32=%08lx", FileCrc(Fixture(L"signed.exe")));
  const size_t setup = run.report.find("file Setup.exe ");
  ASSERT_NE(setup, std::string::npos) << run.report;
  EXPECT_NE(run.report.find(crc, setup), std::string::npos) << run.report;
  EXPECT_NE(run.report.find("file ReadMe.txt "), std::string::npos) << run.report;
  EXPECT_NE(run.report.find("file docs\\License.txt "), std::string::npos) << run.report;
  EXPECT_TRUE(run.workspaceSeen);
  EXPECT_FALSE(Exists(run.workspace)) << "workspace left behind";
  EXPECT_GE(run.FirstTitle(L"Handing over to 'Setup.exe' ..."), 0.0);
  // The log has a line for every stage, and the exit code last.
  ASSERT_FALSE(run.log.empty()) << "no log in the temporary folder";
  EXPECT_EQ(run.log.compare(0, 3, "\xEF\xBB\xBF"), 0);
  for (const char* part : {"Quillane setup log: run of process ", "start: Quillane setup launcher 5.09.01, built ",
                           "start: Windows ", "start: arguments passed on: [/quiet] [LANG=en] [TARGET=C:\\Program Files\\Q]",
                           ", scaled for 96 DPI (the monitor's 96)", "workspace: ", "extraction: ", "installer: ",
                           "signature: round 1 (machine's stores only): verified; WinVerifyTrust 0x00000000 (verified)",
                           "signature: verified after 1 round(s)", "start: installer started, process id ",
                           "installer: ended with exit code 3010",
                           "wait: nothing started from the installation holds the workspace any more, after ",
                           "; 0 process(es) waited for", "clean-up: workspace removed"})
    EXPECT_NE(run.LogLine(part), "") << part << "\n" << run.log;
  EXPECT_NE(run.LogLine("workspace: " + Narrow(run.workspace)), "") << run.log;
  EXPECT_EQ(run.LastLogLine(), "exit: code 3010 (0x00000bc2)") << run.log;
  printf("happy road: %.1f s from start to exit, handover after %.1f s\n", run.seconds,
         run.FirstTitle(L"Handing over to 'Setup.exe' ..."));
  fflush(stdout);
}

TEST(LauncherE2E, EmptyArgumentsReachTheInstallerEmpty) {
  const Outcome run = RunLauncher(L"happy", L"");
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(ReportLine(run.report, "arguments"), "");
  EXPECT_FALSE(Exists(run.workspace));
}

TEST(LauncherE2E, InstallerExitingWithStillActiveEndsTheWait) {
  const Outcome run = RunLauncher(L"happy", L"/x", L"259");
  EXPECT_EQ(run.exitCode, 259u);
  EXPECT_FALSE(Exists(run.workspace));
}

TEST(LauncherE2E, SplashIsHiddenWhileTheInstallerRuns) {
  SetEnvironmentVariableW(L"QLN_SETUP_DELAY_MS", L"1500");
  const Outcome run = RunLauncher(L"happy", L"/x", L"7");
  SetEnvironmentVariableW(L"QLN_SETUP_DELAY_MS", nullptr);
  EXPECT_EQ(run.exitCode, 7u);
  EXPECT_GE(run.seconds, 1.5) << "the launcher did not wait for the installer";
  EXPECT_TRUE(run.hiddenWhileInstallerRan);
  EXPECT_FALSE(run.shownAgainWhileInstallerRan);
}

TEST(LauncherE2E, ClosingTheSplashWindowDoesNotStopTheSetup) {
  const Outcome run = RunLauncher(L"happy", L"/x", L"5", true);
  EXPECT_EQ(run.exitCode, 5u);
  EXPECT_EQ(ReportLine(run.report, "arguments"), "/x");
  EXPECT_FALSE(Exists(run.workspace));
}

TEST(LauncherE2E, FailureIsStillShownAfterTheSplashWindowWasClosed) {
  const Outcome run = RunLauncher(L"noinstaller", L"/x", L"0", true);
  EXPECT_EQ(run.exitCode, kFailure);
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].caption, L"Installer Not Found");
  EXPECT_FALSE(Exists(run.workspace));
}

TEST(LauncherE2E, InstallerFailureCodeIsNotASuccess) {
  const Outcome run = RunLauncher(L"happy", L"/x", L"1603");
  EXPECT_EQ(run.exitCode, 1603u);
}

struct FailureCase {
  const wchar_t* package;
  const wchar_t* caption;
  const wchar_t* text;
  const char* logged;  // the cause as the log gives it
};

TEST(LauncherE2E, StageFailuresAreReportedAndCleanedUp) {
  const FailureCase cases[] = {
      {L"noinstaller", L"Installer Not Found",
       L"Setup could not locate the installer binary 'Setup.exe'", "installer: no 'Setup.exe' in the workspace"},
      {L"damaged", L"Payload Extraction Failed", L"Setup was unable to extract its payload package",
       "\"Setup.exe\": reading the entry's data; reader status "},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(Narrow(c.package));
    const Outcome run = RunLauncher(c.package, L"/quiet");
    EXPECT_EQ(run.exitCode, kFailure);
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(run.boxes[0].caption, c.caption);
    EXPECT_EQ(run.boxes[0].text, c.text);
    EXPECT_TRUE(run.report.empty()) << "an installer ran";
    EXPECT_FALSE(Exists(run.workspace)) << "workspace left behind";
    EXPECT_NE(run.LogLine(c.logged), "") << run.log;
    EXPECT_NE(run.LogLine("failure: \"" + Narrow(c.caption) + "\", reported in a box"), "") << run.log;
    EXPECT_NE(run.LogLine("clean-up: workspace removed"), "") << run.log;
    EXPECT_EQ(run.LastLogLine(), "exit: code -99 (0xffffff9d)") << run.log;
    printf("log of the %s road:\n%s", Narrow(c.package).c_str(), run.log.c_str() + 3);
    fflush(stdout);
  }
}

TEST(LauncherE2E, ALogIntoAFolderThatDoesNotExistLeavesTheRunAsItWas) {
  const std::wstring missing = TempFolder() + L"qln_no_such_folder\\setup.log";
  SetEnvironmentVariableW(L"QUILLANE_SETUP_LOG", missing.c_str());
  const Outcome run = RunLauncher(L"happy", L"/x", L"4");
  SetEnvironmentVariableW(L"QUILLANE_SETUP_LOG", nullptr);
  EXPECT_EQ(run.exitCode, 4u);
  EXPECT_TRUE(run.boxes.empty());
  EXPECT_EQ(ReportLine(run.report, "arguments"), "/x");
  EXPECT_FALSE(Exists(run.workspace));
  EXPECT_TRUE(run.log.empty()) << "a log was made elsewhere";
  EXPECT_FALSE(Exists(TempFolder() + L"qln_no_such_folder"));
}

// The lines of the bootstrapper's report that begin with prefix, without it.
std::vector<std::string> ReportValues(const std::string& report, const std::string& prefix) {
  std::vector<std::string> values;
  for (size_t at = 0; at < report.size();) {
    size_t end = report.find('\n', at);
    if (end == std::string::npos) end = report.size();
    if (report.compare(at, prefix.size(), prefix) == 0)
      values.push_back(report.substr(at + prefix.size(), end - at - prefix.size()));
    at = end + 1;
  }
  return values;
}

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

TEST(LauncherE2E, SecondStagesRunningFromTheWorkspaceAreWaitedFor) {
  // The last stage reads a file of the package a while after the installer
  // exited; the folder may go only after it ended. The while is 4 s, not
  // 2: without a window manager, Wine spends up to 2 s hiding the splash
  // window right after the start, and a shorter stage would end inside that
  // pause, before the launcher even begins to wait.
  struct Case {
    const char* name;
    const wchar_t* arguments;
    DWORD exitCode;
    size_t stages;
    const char* why;  // why the log says the last stage held the workspace
  } cases[] = {
      {"a second stage beside the installer", L"bootstrap 1 beside 23 4000", 23, 1, "(its image lies in the workspace): "},
      {"a chain of two stages", L"bootstrap 2 beside 24 4000", 24, 2, "(its image lies in the workspace): "},
      {"a stage copied elsewhere under the temporary folder", L"bootstrap 1 temp 25 4000", 25, 1,
       "(started from the installation, from the temporary folder or as a host): "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome run = RunLauncher(L"bootstrap", c.arguments);
    EXPECT_EQ(run.exitCode, c.exitCode) << "the installer's own exit code is passed on";
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(ReportValues(run.report, "setup").size(), 1u) << run.report;
    EXPECT_EQ(ReportValues(run.report, "stage ").size(), c.stages) << run.report;
    EXPECT_EQ(ReportValues(run.report, "read: "),
              std::vector<std::string>{"second stage data 0123456789"})
        << "the last stage did not end before the launcher, or read nothing: " << run.report;
    EXPECT_EQ(ReportValues(run.report, "folder-still-there: "), std::vector<std::string>{"yes"});
    EXPECT_GE(run.seconds, 4.0);
    EXPECT_TRUE(run.workspaceSeen);
    EXPECT_FALSE(Exists(run.workspace)) << "workspace left behind";
    EXPECT_FALSE(run.shownAgainWhileInstallerRan);
    // The log names each process waited for when found and when ended (a
    // first stage of a chain may end before any listing finds it).
    const std::vector<std::string> found = run.LogLines(" holds the workspace ("),
                                   ended = run.LogLines(") has ended; waited for ");
    EXPECT_GE(found.size(), 1u) << run.log;
    EXPECT_EQ(ended.size(), found.size()) << run.log;
    EXPECT_NE(run.LogLine(c.why), "") << run.log;
    EXPECT_NE(run.LogLine(std::string("; ") + std::to_string(found.size()) + " process(es) waited for"), "") << run.log;
    printf("%s: %.1f s from start to exit\n", c.name, run.seconds);
    if (c.stages > 1) printf("log of the chain of two stages:\n%s", run.log.c_str() + 3);
    fflush(stdout);
    for (const std::string& copy : ReportValues(run.report, "copy ")) DeleteFileW(Wide(copy).c_str());
  }
}

TEST(LauncherE2E, ProgramsLeftRunningOutsideTheTemporaryFolderAreNotWaitedFor) {
  // The installer starts a program that will run for 30 s from a folder
  // that is neither the workspace nor under the temporary folder (as the
  // installed application would), then exits.
  const std::wstring outside = installer_fixtures::TestFolder() + L"\\e2e\\qln_outside_" +
                               std::to_wstring(GetCurrentProcessId()) + L".exe";
  const Outcome run = RunLauncher(L"bootstrap", L"outside \"" + outside + L"\" 26");
  EXPECT_EQ(run.exitCode, 26u);
  EXPECT_TRUE(run.boxes.empty());
  EXPECT_FALSE(Exists(run.workspace)) << "workspace left behind";
  EXPECT_LT(run.seconds, 30.0);
  const std::vector<std::string> ids = ReportValues(run.report, "outside ");
  ASSERT_EQ(ids.size(), 1u) << run.report;
  HANDLE program = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE,
                               static_cast<DWORD>(strtoul(ids[0].c_str(), nullptr, 10)));
  ASSERT_NE(program, nullptr);
  EXPECT_EQ(WaitForSingleObject(program, 0), DWORD(WAIT_TIMEOUT))
      << "the program had ended: the launcher waited for it";
  printf("launcher ended %.1f s after its start, the outside program still running\n", run.seconds);
  fflush(stdout);
  TerminateProcess(program, 0);
  WaitForSingleObject(program, 5000);
  CloseHandle(program);
  DeleteFileW(outside.c_str());
}

DWORD FirstId(const std::string& report, const std::string& key) {
  const std::vector<std::string> ids = ReportValues(report, key);
  return ids.empty() ? 0 : static_cast<DWORD>(strtoul(ids[0].c_str(), nullptr, 10));
}

TEST(LauncherE2E, TheProductAndTheShellOpenedFromItAreNotWaitedFor) {
  // The installer starts the product as its last act ("Launch now"), which
  // opens a shell (cmd) and a tool copied under the temporary folder, all
  // running for 60 s: hosts and a place a stage might use, yet none of them
  // descends from the installation's own processes.
  const std::wstring product = installer_fixtures::TestFolder() + L"\\e2e\\qln_product_" +
                               std::to_wstring(GetCurrentProcessId()) + L".exe";
  const Outcome run = RunLauncher(L"bootstrap", L"product \"" + product + L"\" 60000 27");
  // The product may report what it started after the launcher ended, into
  // the report file anew.
  const std::wstring later = TempFolder() + L"qln_e2e_report_bootstrap.txt";
  std::string report = run.report;
  for (int i = 0; i < 100 && (report + ReadBytes(later)).find("temp-program ") == std::string::npos; ++i)
    Sleep(50);
  report += ReadBytes(later);
  DeleteFileW(later.c_str());
  EXPECT_EQ(run.exitCode, 27u);
  EXPECT_TRUE(run.boxes.empty());
  EXPECT_FALSE(Exists(run.workspace)) << "workspace left behind";
  EXPECT_LT(run.seconds, 45.0) << "the launcher waited for the product's shell";
  const DWORD productId = FirstId(report, "product "), shell = FirstId(report, "shell "),
              tool = FirstId(report, "temp-program ");
  EXPECT_NE(productId, 0u) << report;
  EXPECT_NE(shell, 0u) << report;
  EXPECT_NE(tool, 0u) << report;
  EXPECT_TRUE(shell && IsRunning(shell)) << "the shell had ended: the launcher waited for it";
  EXPECT_TRUE(tool && IsRunning(tool));
  printf("product with a shell and a tool from %%TEMP%%: launcher ended after %.1f s (shell %s)\n",
         run.seconds, shell ? "seen" : "not yet started");
  fflush(stdout);
  for (DWORD id : {shell, tool, productId})
    if (id) EndProcess(id);
  for (const std::string& copy : ReportValues(report, "copy ")) DeleteFileW(Wide(copy).c_str());
  DeleteFileW(product.c_str());
}

TEST(LauncherE2E, AStageThatLeftTheJobIsWaitedForWhileItsCommandLineNamesTheWorkspace) {
  // As a bootstrapper hands its package to the Windows Installer: the
  // client is started outside the launcher's job, from elsewhere, with the
  // package in the workspace on its command line, and runs 4 s after the
  // installer exited.
  const std::wstring client = installer_fixtures::TestFolder() + L"\\e2e\\qln_client_" +
                              std::to_wstring(GetCurrentProcessId()) + L".exe";
  const Outcome run = RunLauncher(L"bootstrap", L"breakaway \"" + client + L"\" 4000 28");
  EXPECT_EQ(run.exitCode, 28u);
  EXPECT_TRUE(run.boxes.empty());
  const DWORD outside = FirstId(run.report, "outside ");
  ASSERT_NE(outside, 0u) << run.report;
  EXPECT_FALSE(IsRunning(outside)) << "the launcher ended while the client still ran";
  EXPECT_NE(run.LogLine("wait: process " + std::to_string(outside) +
                        " holds the workspace (outside the job, its command line names the workspace): "),
            "")
      << run.log;
  EXPECT_NE(run.LogLine("wait: process " + std::to_string(outside) + " ("), "") << run.log;
  EXPECT_GE(run.seconds, 4.0);
  EXPECT_FALSE(Exists(run.workspace)) << "workspace left behind";
  printf("a client outside the job running 4 s: launcher ended after %.1f s\n", run.seconds);
  fflush(stdout);
  EndProcess(outside);
  DeleteFileW(client.c_str());
}

// The folders under the temporary folder whose names begin with the
// workspace name of the launcher that ran (a taken name gets a suffix).
std::vector<std::wstring> FoldersNamedAfter(const std::wstring& workspace) {
  std::vector<std::wstring> names;
  const std::wstring base = workspace.substr(workspace.find_last_of(L'\\') + 1);
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((TempFolder() + base + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do names.push_back(found.cFileName);
  while (FindNextFileW(search, &found));
  FindClose(search);
  return names;
}

// A picture that cannot be read means no window: the launcher says so and
// stops before it makes any folder.
TEST(LauncherE2E, UnreadablePictureFailsTheWindowAndMakesNoFolder) {
  for (const wchar_t* package : {L"picture-short", L"picture-random", L"picture-truncated"}) {
    SCOPED_TRACE(Narrow(package));
    const Outcome run = RunLauncher(package, L"/quiet");
    EXPECT_EQ(run.exitCode, kFailure);
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(run.boxes[0].caption, L"Window Creation Failed");
    EXPECT_EQ(run.boxes[0].text, L"Setup was unable to create a user interface");
    EXPECT_FALSE(run.splashShown) << "a splash window appeared";
    EXPECT_FALSE(run.workspaceSeen) << "a workspace was made";
    EXPECT_TRUE(run.report.empty()) << "an installer ran";
    // Other launchers may run beside this test: only folders under this
    // launcher's names count.
    for (const std::wstring& name : FoldersNamedAfter(run.workspace))
      ADD_FAILURE() << Narrow(name) << " was left under %TEMP%";
  }
}

void ExpectGivesUpOnTheSignature(const wchar_t* package, const char* trustResult) {
  const Outcome run = RunLauncher(package, L"/quiet");
  EXPECT_EQ(run.exitCode, kFailure);
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].caption, L"Signature Check Failed");
  EXPECT_EQ(run.boxes[0].text,
            L"Setup could not verify the digital signature of the installer binary 'Setup.exe'");
  const double checking = run.FirstTitle(L"Checking digital signature for 'Setup.exe' ...");
  const double slow = run.FirstTitle(L"Digital signature timed out ...");
  ASSERT_GE(checking, 0.0);
  ASSERT_GE(slow, 0.0);
  EXPECT_GT(slow - checking, 9.5);
  EXPECT_LT(slow - checking, 12.5);
  EXPECT_GT(run.boxes[0].seconds - checking, 59.5);
  EXPECT_LT(run.boxes[0].seconds - checking, 65.0);
  EXPECT_TRUE(run.report.empty()) << "an unverified installer ran";
  EXPECT_TRUE(run.workspaceSeen);
  EXPECT_FALSE(Exists(run.workspace)) << "workspace left behind";
  // Every round's result is in the log, and why the stage ended.
  EXPECT_NE(run.LogLine(std::string("signature: round 1 (machine's stores only): ") + trustResult), "") << run.log;
  EXPECT_NE(run.LogLine("signature: not verified after 10 s"), "") << run.log;
  EXPECT_NE(run.LogLine(" s: given up"), "") << run.log;
  EXPECT_NE(run.LogLine("failure: \"Signature Check Failed\""), "") << run.log;
  EXPECT_EQ(run.LastLogLine(), "exit: code -99 (0xffffff9d)") << run.log;
  EXPECT_LT(run.log.size(), 64u * 1024);
  printf("signature stage: time-out text after %.1f s, failure box after %.1f s\n",
         slow - checking, run.boxes[0].seconds - checking);
  fflush(stdout);
}

TEST(LauncherE2E, NeverVerifiesUnsigned) {
  ExpectGivesUpOnTheSignature(L"unsigned", "not signed; WinVerifyTrust 0x800b0100 (not signed");
}
TEST(LauncherE2E, NeverVerifiesAltered) {
  ExpectGivesUpOnTheSignature(L"altered",
                              "not verified; WinVerifyTrust 0x80096010 (the file was altered after it was signed)");
}

// The workspace's first name for a process, and the names of a scheme
// that follows from the process identifier alone ("_1" to "_15").
std::wstring WorkspaceName(DWORD processId, int candidate) {
  wchar_t name[64];
  if (candidate == 0) wsprintfW(name, L"_qln_setup_sfx_%08x", processId);
  else wsprintfW(name, L"_qln_setup_sfx_%08x_%d", processId, candidate);
  return TempFolder() + name;
}

// True when folder is the first name followed by a random suffix of eight
// lower-case hexadecimal digits.
bool IsRandomCandidate(const std::string& folder, DWORD processId) {
  const std::string first = Narrow(WorkspaceName(processId, 0)) + "_";
  return folder.size() == first.size() + 8 && folder.compare(0, first.size(), first) == 0 &&
         folder.find_first_not_of("0123456789abcdef", first.size()) == std::string::npos;
}

// A folder someone else made under a workspace name: a file and a subfolder
// with a file.
void PlantFolder(const std::wstring& path) {
  CreateDirectoryW(path.c_str(), nullptr);
  CreateDirectoryW((path + L"\\sub").c_str(), nullptr);
  test_tree::WriteBytes(path + L"\\Setup.exe", "planted installer");
  test_tree::WriteBytes(path + L"\\sub\\note.txt", "planted note");
}

bool PlantedFolderUnchanged(const std::wstring& path) {
  return ReadBytes(path + L"\\Setup.exe") == "planted installer" &&
         ReadBytes(path + L"\\sub\\note.txt") == "planted note";
}

TEST(LauncherE2E, PlantedWorkspaceNamesAreLeftUntouchedAndARandomNameUsed) {
  // The first name, and every further name a scheme built on the process
  // identifier alone would try, taken in advance: the launcher still makes
  // a folder of its own.
  constexpr int kPredictable = 16;
  DWORD launcher = 0;
  const Outcome run = RunLauncher(L"happy", L"/x", L"0", false, [&](DWORD pid) {
    launcher = pid;
    for (int n = 0; n < kPredictable; ++n) PlantFolder(WorkspaceName(pid, n));
  });
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_TRUE(run.boxes.empty());
  // The installer ran from a folder of the launcher's own, the verified
  // installer, not the planted one.
  const std::string folder = ReportLine(run.report, "folder");
  EXPECT_TRUE(IsRandomCandidate(folder, launcher)) << folder;
  EXPECT_EQ(run.report.find("planted"), std::string::npos);
  EXPECT_FALSE(Exists(Wide(folder))) << "the launcher's own folder was left";
  EXPECT_NE(run.LogLine("workspace: " + folder), "") << run.log;
  // Of those, only the first is a name the launcher tries: the one it
  // found taken.
  EXPECT_NE(run.LogLine("workspace: 1 name taken already, left untouched: " +
                        Narrow(WorkspaceName(launcher, 0).substr(TempFolder().size())) + "\r\n"),
            "")
      << run.log;
  for (int n = 0; n < kPredictable; ++n) {
    EXPECT_TRUE(PlantedFolderUnchanged(WorkspaceName(launcher, n))) << "planted folder " << n << " was changed";
    test_tree::Wipe(WorkspaceName(launcher, n));
  }
}

}  // namespace
