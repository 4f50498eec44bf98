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
// file, and its peak until the files are read.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "launcher/workspace.h"
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

HANDLE Start(const std::wstring& program, const std::wstring& arguments, DWORD* pid) {
  std::wstring line = L"\"" + program + L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process))
    return nullptr;
  CloseHandle(process.hThread);
  *pid = process.dwProcessId;
  return process.hProcess;
}

struct LauncherRun {
  bool ok = false;
  Scan scan;
  double startMiB = -1, peakMiB = -1;
};

LauncherRun RunLauncher(const std::wstring& program) {
  LauncherRun run;
  DWORD pid = 0;
  HANDLE process = Start(program, L"/bench", &pid);
  if (!process) {
    printf("  cannot start the launcher (%lu)\n", GetLastError());
    return run;
  }
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

struct Package {
  std::string name;
  std::wstring launcher;
  double target;
};

bool Measure(const Package& p, int rounds, const std::wstring& limit) {
  std::vector<double> ours, theirs;
  int files = 0;
  double extraMiB = 0, startMiB = 0;
  printf("%s: %ls\n", p.name.c_str(), p.launcher.c_str());
  for (int round = 0; round < rounds; ++round) {
    // Alternate which goes first, so neither always meets the other's
    // freshly freed pages or folders.
    for (int turn = 0; turn < 2; ++turn) {
      bool launcherTurn = (turn == 0) == (round % 2 == 0);
      if (launcherTurn) {
        LauncherRun run = RunLauncher(p.launcher);
        if (!run.ok) return false;
        ours.push_back(run.scan.Span());
        if (files && run.scan.files != files) {
          printf("  the launcher wrote %d files, the limit %d\n", run.scan.files, files);
          return false;
        }
        files = run.scan.files;
        if (run.peakMiB - run.startMiB > extraMiB) extraMiB = run.peakMiB - run.startMiB;
        startMiB = run.startMiB;
      } else {
        Scan scan;
        if (!RunLimit(limit, p.launcher, &scan)) {
          printf("  the limit program failed\n");
          return false;
        }
        if (files && scan.files != files) {
          printf("  the limit wrote %d files, the launcher %d\n", scan.files, files);
          return false;
        }
        files = scan.files;
        theirs.push_back(scan.Span());
      }
    }
    printf("  round %d: launcher %.3f s, limit %.3f s\n", round + 1, ours.back(), theirs.back());
  }
  double om = Median(ours), lm = Median(theirs), ob = Best(ours), lb = Best(theirs);
  printf("  %d files; first to last file written, %d rounds:\n", files, rounds);
  printf("  launcher: median %.3f s, best %.3f s\n", om, ob);
  printf("  limit:    median %.3f s, best %.3f s\n", lm, lb);
  printf("  launcher / limit: %.3f medians (target <= %.2f: %s), %.3f bests\n", om / lm, p.target,
         om / lm <= p.target ? "met" : "NOT met", ob / lb);
  // A running process always has private bytes: a level of zero (or a failed
  // query) is no reading, as Wine under emulation gives, and proves nothing.
  if (startMiB <= 0) {
    printf("  launcher's private memory: no reading (this platform reports none for another process; "
           "target < 1 MiB more: not measured)\n");
    return true;
  }
  printf("  launcher's private memory: %.2f MiB when the workspace appeared, at most %.3f MiB more during "
         "extraction (target < 1: %s)\n",
         startMiB, extraMiB, extraMiB < 1 ? "met" : "NOT met");
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  if (argc < 3) {
    fwprintf(stderr, L"usage: launcher_bench ROUNDS NAME=LAUNCHER.exe...\n");
    return 2;
  }
  const int rounds = std::max(1, _wtoi(argv[1]));
  printf("workspace parent (TEMP): %ls\n", TempFolder().c_str());
  const std::wstring limit = OwnFolder() + L"\\extract_limit.exe";
  bool ok = true;
  for (int i = 2; i < argc; ++i) {
    std::wstring arg = argv[i];
    size_t eq = arg.find(L'=');
    if (eq == std::wstring::npos) continue;
    Package p;
    p.name.assign(arg.begin(), arg.begin() + eq);
    p.launcher = arg.substr(eq + 1);
    // Where the cost per entry outweighs the cost per byte, the launcher may
    // trail further.
    p.target = p.name.compare(0, 5, "small") == 0 ? 1.30 : 1.15;
    ok = Measure(p, rounds, limit) && ok;
  }
  return ok ? 0 : 1;
}
