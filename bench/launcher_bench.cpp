// Extraction as the user sees it: the real launcher, started as a user
// starts it, with its window, unpacking its package into %TEMP%, beside the
// limit program (extract_limit.exe) unpacking the same package into the same
// file system, rounds interleaved.
//
//   launcher_bench.exe ROUNDS NAME=LAUNCHER.exe [NAME=LAUNCHER.exe ...]
//
// Each run is timed by the files themselves: from the earliest to the latest
// last-write time of the files it wrote, so that neither process start-up
// nor the window's creation nor the clean-up counts. The launcher is watched
// from outside: once its title has moved past extraction its files are read
// and the run ends there (the launcher is stopped and its workspace
// removed), since the signature check and the installer's start that follow
// are no part of the extraction and cost seconds each. Its private memory is
// sampled meanwhile: its level when the workspace appears, before the first
// file, and its peak until the files are read. After the timed rounds, one
// more run of each launcher has a message hook in its thread
// (text_counter.dll) that counts the "Extracting file" texts its window
// received; that run is not timed, since under Wine every hooked message
// costs a round trip to the server.
//
// A second launcher of a package, named NAME@LABEL (an earlier build, say),
// runs in the same rounds, so that both are compared on one machine at one
// time.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/text_counter.h"
#include "launcher/workspace.h"
#include "splash/frame_gate.h"
#include "splash/splash_window.h"

namespace {

constexpr DWORD kLauncherTimeoutMs = 300000;

struct Scan {
  int files = 0;
  uint64_t first = ~0ull, last = 0;  // last-write times, 100 ns units
  double Span() const { return files ? (last - first) / 1e7 : 0; }
};

void ScanTree(const std::wstring& folder, Scan* scan) {
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      ScanTree(folder + L"\\" + name, scan);
      continue;
    }
    uint64_t t = (uint64_t(entry.ftLastWriteTime.dwHighDateTime) << 32) | entry.ftLastWriteTime.dwLowDateTime;
    scan->first = std::min(scan->first, t);
    scan->last = std::max(scan->last, t);
    ++scan->files;
  } while (FindNextFileW(find, &entry));
  FindClose(find);
}

std::wstring TempFolder() {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  return temp;
}

std::wstring OwnFolder() {
  wchar_t exe[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring path(exe, n);
  return path.substr(0, path.find_last_of(L'\\'));
}

double PrivateMiB(HANDLE process) {
  PROCESS_MEMORY_COUNTERS_EX c{};
  c.cb = sizeof c;
  if (!GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&c), sizeof c)) return -1;
  return c.PrivateUsage / 1048576.0;
}

struct TitleSearch {
  DWORD pid;
  wchar_t title[128];
};

BOOL CALLBACK FindTitle(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<TitleSearch*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid != search->pid || GetWindow(window, GW_OWNER)) return TRUE;
  wchar_t cls[32] = {};
  GetClassNameW(window, cls, 32);
  if (wcscmp(cls, kSplashClassName) != 0) return TRUE;
  GetWindowTextW(window, search->title, 128);
  return FALSE;
}

// The launcher's splash title, or an empty text while it has no window.
std::wstring LauncherTitle(DWORD pid) {
  TitleSearch search{pid, {}};
  EnumWindows(FindTitle, reinterpret_cast<LPARAM>(&search));
  return search.title;
}

bool Starts(const std::wstring& text, const wchar_t* prefix) { return text.compare(0, wcslen(prefix), prefix) == 0; }

// Every status text that follows a complete extraction.
bool PastExtraction(const std::wstring& title) {
  return Starts(title, L"Extraction complete") || Starts(title, L"Locating") || Starts(title, L"Checking") ||
         Starts(title, L"Digital") || Starts(title, L"Handing");
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Starts program; with thread, suspended, its first thread's handle there.
HANDLE Start(const std::wstring& program, const std::wstring& arguments, DWORD* pid, HANDLE* thread = nullptr,
             DWORD* threadId = nullptr) {
  std::wstring line = L"\"" + program + L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, FALSE, thread ? CREATE_SUSPENDED : 0, nullptr,
                      nullptr, &startup, &process))
    return nullptr;
  if (thread) {
    *thread = process.hThread;
    *threadId = process.dwThreadId;
  } else {
    CloseHandle(process.hThread);
  }
  *pid = process.dwProcessId;
  return process.hProcess;
}

// The text counter's hook procedure, loaded once.
HOOKPROC CounterProc(HMODULE* module) {
  static HMODULE dll = LoadLibraryW((OwnFolder() + L"\\text_counter.dll").c_str());
  *module = dll;
  return dll ? reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(dll, "CountEntryTexts"))) : nullptr;
}

struct LauncherRun {
  bool ok = false;
  Scan scan;
  double startMiB = -1, peakMiB = -1;
  int texts = -1;           // "Extracting file" texts; -1 when not counted
  double textSpan = 0;      // seconds from the first of them to the last
};

LauncherRun RunLauncher(const std::wstring& program, bool countTexts) {
  LauncherRun run;
  DWORD pid = 0, threadId = 0;
  HANDLE thread = nullptr;
  HANDLE process = Start(program, L"/bench", &pid, &thread, &threadId);
  if (!process) {
    printf("  cannot start the launcher (%lu)\n", GetLastError());
    return run;
  }
  // The counter's block, then its hook on the launcher's thread, before the
  // launcher runs a single instruction of its own.
  wchar_t blockName[64];
  TextCountName(blockName, pid);
  HANDLE block = countTexts ? CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                                 sizeof(TextCount), blockName)
                            : nullptr;
  TextCount* count = block ? static_cast<TextCount*>(MapViewOfFile(block, FILE_MAP_READ, 0, 0, sizeof(TextCount)))
                           : nullptr;
  HMODULE counterModule = nullptr;
  HOOKPROC counter = CounterProc(&counterModule);
  HHOOK hook = count && counter ? SetWindowsHookExW(WH_CALLWNDPROC, counter, counterModule, threadId) : nullptr;
  ResumeThread(thread);
  CloseHandle(thread);
  wchar_t name[64];
  swprintf(name, 64, L"_qln_setup_sfx_%08x", pid);
  const std::wstring workspace = TempFolder() + name;
  const DWORD start = GetTickCount();
  bool seen = false, done = false;
  std::wstring title;
  // Light polling: this process shares the processor with the launcher.
  while (!done && WaitForSingleObject(process, 2) == WAIT_TIMEOUT) {
    double mib = PrivateMiB(process);
    if (!seen && Exists(workspace)) {
      seen = true;
      run.startMiB = mib;
    }
    if (seen) run.peakMiB = std::max(run.peakMiB, mib);
    if (GetTickCount() - start > kLauncherTimeoutMs) break;
    title = LauncherTitle(pid);
    done = PastExtraction(title);
  }
  if (done) ScanTree(workspace, &run.scan);
  else printf("  the launcher ended or stalled with the title \"%ls\"\n", title.c_str());
  TerminateProcess(process, 0);
  WaitForSingleObject(process, kLauncherTimeoutMs);
  CloseHandle(process);
  if (hook) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    run.texts = static_cast<int>(count->texts);
    run.textSpan = count->texts ? double(count->last - count->first) / double(frequency.QuadPart) : 0;
    UnhookWindowsHookEx(hook);
  }
  if (count) UnmapViewOfFile(count);
  if (block) CloseHandle(block);
  RemoveTree(workspace.c_str(), 1000, nullptr, nullptr);
  run.ok = done;
  return run;
}

bool RunLimit(const std::wstring& program, const std::wstring& package, Scan* scan) {
  const std::wstring folder = TempFolder() + L"qln_bench_limit";
  RemoveTree(folder.c_str(), 1000, nullptr, nullptr);
  DWORD pid = 0;
  HANDLE process = Start(program, L"\"" + package + L"\" \"" + folder + L"\"", &pid);
  if (!process) return false;
  WaitForSingleObject(process, kLauncherTimeoutMs);
  DWORD code = 1;
  GetExitCodeProcess(process, &code);
  CloseHandle(process);
  if (code == 0) ScanTree(folder, scan);
  RemoveTree(folder.c_str(), 1000, nullptr, nullptr);
  return code == 0;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double Best(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

// One contender's figures over the rounds.
struct Contender {
  std::string label;        // "launcher", "limit", or a second launcher's label
  std::wstring program;     // empty for the limit
  std::vector<double> times;
  double extraMiB = 0, startMiB = 0;
};

struct Package {
  std::string name;
  std::vector<Contender> launchers;  // the launcher first, then any others
  double target;
};

// At most one "Extracting file" text per kReadingGateMs, plus the first
// and the last of the series.
int TextBound(double seconds) { return static_cast<int>(seconds * 1000 / kReadingGateMs) + 2; }

bool RunOne(Contender* c, const Package& p, const std::wstring& limit, int* files) {
  Scan scan;
  if (c->program.empty()) {
    if (!RunLimit(limit, p.launchers[0].program, &scan)) {
      printf("  the limit program failed\n");
      return false;
    }
  } else {
    LauncherRun run = RunLauncher(c->program, false);
    if (!run.ok) return false;
    scan = run.scan;
    if (run.peakMiB - run.startMiB > c->extraMiB) c->extraMiB = run.peakMiB - run.startMiB;
    c->startMiB = run.startMiB;
  }
  if (*files && scan.files != *files) {
    printf("  %s wrote %d files, another contender %d\n", c->label.c_str(), scan.files, *files);
    return false;
  }
  *files = scan.files;
  c->times.push_back(scan.Span());
  return true;
}

void PrintMemory(const Contender& c) {
  // A running process always has private bytes: a level of zero (or a failed
  // query) is no reading, as Wine under emulation gives, and proves nothing.
  if (c.startMiB <= 0) {
    printf("  %s's private memory: no reading (this platform reports none for another process; "
           "target < 1 MiB more: not measured)\n", c.label.c_str());
    return;
  }
  printf("  %s's private memory: %.2f MiB when the workspace appeared, at most %.3f MiB more during "
         "extraction (target < 1: %s)\n",
         c.label.c_str(), c.startMiB, c.extraMiB, c.extraMiB < 1 ? "met" : "NOT met");
}

bool Measure(Package p, int rounds, const std::wstring& limit) {
  Contender theLimit;
  theLimit.label = "limit";
  std::vector<Contender*> all;
  for (Contender& c : p.launchers) all.push_back(&c);
  all.push_back(&theLimit);
  int files = 0;
  printf("%s:\n", p.name.c_str());
  for (const Contender& c : p.launchers) printf("  %s: %ls\n", c.label.c_str(), c.program.c_str());
  for (int round = 0; round < rounds; ++round) {
    // Each round starts with another contender, so that none always meets
    // the others' freshly freed pages or folders.
    for (size_t turn = 0; turn < all.size(); ++turn)
      if (!RunOne(all[(round + turn) % all.size()], p, limit, &files)) return false;
    printf("  round %d:", round + 1);
    for (const Contender* c : all) printf(" %s %.3f s%s", c->label.c_str(), c->times.back(), c == all.back() ? "" : ",");
    printf("\n");
  }
  printf("  %d files; first to last file written, %d rounds:\n", files, rounds);
  for (const Contender* c : all)
    printf("  %-10s median %.3f s, best %.3f s\n", (c->label + ":").c_str(), Median(c->times), Best(c->times));
  const double lm = Median(theLimit.times), lb = Best(theLimit.times);
  for (const Contender& c : p.launchers)
    printf("  %s / limit: %.3f medians (target <= %.2f: %s), %.3f bests\n", c.label.c_str(), Median(c.times) / lm,
           p.target, Median(c.times) / lm <= p.target ? "met" : "NOT met", Best(c.times) / lb);
  for (size_t i = 1; i < p.launchers.size(); ++i)
    printf("  %s / %s: %.3f medians, %.3f bests\n", p.launchers[0].label.c_str(), p.launchers[i].label.c_str(),
           Median(p.launchers[0].times) / Median(p.launchers[i].times),
           Best(p.launchers[0].times) / Best(p.launchers[i].times));
  for (const Contender& c : p.launchers) PrintMemory(c);
  // One counted run of each launcher, untimed.
  for (Contender& c : p.launchers) {
    LauncherRun run = RunLauncher(c.program, true);
    if (!run.ok) return false;
    if (run.texts < 0) {
      printf("  %s: \"Extracting file\" texts not counted (the hook could not be set)\n", c.label.c_str());
      continue;
    }
    printf("  %s: %d \"Extracting file\" texts in a series of %.3f s (target <= one per %u ms + 2 = %d: %s)\n",
           c.label.c_str(), run.texts, run.textSpan, static_cast<unsigned>(kReadingGateMs), TextBound(run.textSpan),
           run.texts <= TextBound(run.textSpan) ? "met" : "NOT met");
  }
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  if (argc < 3) {
    fwprintf(stderr, L"usage: launcher_bench ROUNDS NAME=LAUNCHER.exe [NAME@LABEL=LAUNCHER.exe]...\n");
    return 2;
  }
  const int rounds = std::max(1, _wtoi(argv[1]));
  printf("workspace parent (TEMP): %ls\n", TempFolder().c_str());
  const std::wstring limit = OwnFolder() + L"\\extract_limit.exe";
  std::vector<Package> packages;
  for (int i = 2; i < argc; ++i) {
    std::wstring arg = argv[i];
    size_t eq = arg.find(L'=');
    if (eq == std::wstring::npos) continue;
    std::wstring key = arg.substr(0, eq);
    size_t at = key.find(L'@');
    std::string name(key.begin(), key.begin() + (at == std::wstring::npos ? key.size() : at));
    Contender c;
    c.label = at == std::wstring::npos ? "launcher" : std::string(key.begin() + at + 1, key.end());
    c.program = arg.substr(eq + 1);
    auto found = std::find_if(packages.begin(), packages.end(), [&](const Package& p) { return p.name == name; });
    if (found == packages.end()) {
      Package p;
      p.name = name;
      // Where the cost per entry outweighs the cost per byte, the launcher
      // may trail further.
      p.target = name.compare(0, 5, "small") == 0 ? 1.30 : 1.15;
      packages.push_back(p);
      found = packages.end() - 1;
    }
    // The launcher itself leads; the limit program reads its package.
    if (c.label == "launcher") found->launchers.insert(found->launchers.begin(), c);
    else found->launchers.push_back(c);
  }
  bool ok = true;
  for (const Package& p : packages) {
    if (p.launchers.empty() || p.launchers[0].label != "launcher") {
      printf("%s: no launcher of its own (NAME=LAUNCHER.exe)\n", p.name.c_str());
      ok = false;
      continue;
    }
    ok = Measure(p, rounds, limit) && ok;
  }
  return ok ? 0 : 1;
}
