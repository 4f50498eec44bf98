// Stand-in for an installer that hands its work to a second stage and exits
// at once, as many real bootstrappers do. Chosen by its arguments (which the
// launcher passes on):
//   bootstrap STAGES PLACE EXIT [WAIT]
//       starts a chain of STAGES stages and exits with EXIT at once. PLACE
//       "beside": the stages run from this program's own file (in the
//       workspace); "temp": from a copy of it elsewhere under the temporary
//       folder (its path reported as "copy PATH").
//   stage LEFT FOLDER WAIT
//       with LEFT > 1 starts the next stage from its own file and exits at
//       once; the last one waits WAIT ms (bootstrap: 2000 unless given), reads
//       FOLDER\stage-data.txt and reports what it read, then whether FOLDER
//       still exists.
//   outside PATH EXIT
//       copies itself to PATH, starts the copy as "sleep 30000" (reported as
//       "outside PID") and exits with EXIT at once.
//   product PATH WAIT EXIT
//       copies itself to PATH (as an installed product), starts the copy as
//       "shells WAIT" (reported as "product PID") and exits with EXIT.
//   shells WAIT
//       as a product the user works in: starts a shell, cmd running this
//       program as "sleep WAIT" ("shell PID"), and a tool copied under the
//       temporary folder as "sleep WAIT" ("temp-program PID", "copy PATH"),
//       then waits WAIT ms itself.
//   hosted WAIT
//       copies itself under the temporary folder ("copy PATH"), starts cmd
//       running the copy as "sleep WAIT" ("shell PID") and exits at once.
//   breakaway PATH WAIT EXIT
//       copies itself to PATH, starts the copy outside the job
//       (CREATE_BREAKAWAY_FROM_JOB) as "sleep WAIT" with the path of this
//       program's folder on its command line, as a bootstrapper hands a
//       package to the Windows Installer ("outside PID"), and exits with EXIT.
//   sleep MS
// Each process appends its lines to the file named by QLN_SETUP_REPORT:
//   "setup", "stage LEFT", "read: TEXT" (or "read: failed"),
//   "folder-still-there: yes|no", "copy PATH", "outside PID".
#include <windows.h>
#include <shellapi.h>

#include <cstdlib>
#include <string>

namespace {

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c < 128 ? static_cast<char>(c) : '?';
  return out;
}

void Report(const std::string& line) {
  wchar_t path[1024] = {};
  DWORD n = GetEnvironmentVariableW(L"QLN_SETUP_REPORT", path, 1024);
  if (n == 0 || n >= 1024) return;
  // Several processes append to one report; each line is one write. A test
  // reading the report meanwhile shares no writing: the line waits for it
  // (up to 10 s) rather than being lost.
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int tries = 0; tries < 500; ++tries, Sleep(20)) {
    file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION) break;
  }
  if (file == INVALID_HANDLE_VALUE) return;
  const std::string text = line + "\n";
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

std::wstring Self() {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  return self;
}

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

// Starts program with the arguments; returns its process id, 0 on failure.
DWORD Start(const std::wstring& program, const std::wstring& arguments, DWORD flags = 0) {
  std::wstring line = L"\"" + program + L"\" " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, FALSE, flags, nullptr, nullptr,
                      &startup, &process))
    return 0;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return process.dwProcessId;
}

std::wstring TempCopyOfSelf(const wchar_t* kind) {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring copy =
      std::wstring(temp) + L"qln_" + kind + L"_" + std::to_wstring(GetCurrentProcessId()) + L".exe";
  if (!CopyFileW(Self().c_str(), copy.c_str(), FALSE)) return std::wstring();
  Report("copy " + Narrow(copy));
  return copy;
}

// Starts the system's cmd running program with the arguments.
DWORD StartInShell(const std::wstring& program, const std::wstring& arguments) {
  wchar_t system[MAX_PATH] = {};
  GetSystemDirectoryW(system, MAX_PATH);
  return Start(std::wstring(system) + L"\\cmd.exe", L"/c \"\"" + program + L"\" " + arguments + L"\"");
}

void LastStage(const std::wstring& folder, DWORD wait) {
  Sleep(wait);
  std::string data;
  HANDLE file = CreateFileW((folder + L"\\stage-data.txt").c_str(), GENERIC_READ, FILE_SHARE_READ,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    char buffer[256];
    DWORD got = 0;
    if (ReadFile(file, buffer, sizeof buffer, &got, nullptr)) data.assign(buffer, got);
    CloseHandle(file);
  }
  while (!data.empty() && (data.back() == '\n' || data.back() == '\r')) data.pop_back();
  Report("read: " + (file == INVALID_HANDLE_VALUE ? std::string("failed") : data));
  const bool there = GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES;
  Report(std::string("folder-still-there: ") + (there ? "yes" : "no"));
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv || argc < 2) return 2;
  const std::wstring mode = argv[1];
  const std::wstring self = Self();

  if (mode == L"bootstrap" && argc >= 5) {
    Report("setup");
    std::wstring program = self;
    if (std::wstring(argv[3]) == L"temp") {
      wchar_t temp[MAX_PATH] = {};
      GetTempPathW(MAX_PATH, temp);
      program = std::wstring(temp) + L"qln_stage_" + std::to_wstring(GetCurrentProcessId()) + L".exe";
      if (!CopyFileW(self.c_str(), program.c_str(), FALSE)) return 3;
      Report("copy " + Narrow(program));
    }
    const std::wstring wait = argc >= 6 ? argv[5] : L"2000";
    if (!Start(program, L"stage " + std::wstring(argv[2]) + L" \"" + FolderOf(self) + L"\" " + wait))
      return 4;
    return _wtoi(argv[4]);
  }
  if (mode == L"stage" && argc >= 5) {
    const int left = _wtoi(argv[2]);
    Report("stage " + std::to_string(left));
    if (left > 1)
      return Start(self, L"stage " + std::to_wstring(left - 1) + L" \"" + argv[3] + L"\" " + argv[4])
                 ? 0
                 : 4;
    LastStage(argv[3], static_cast<DWORD>(_wtoi(argv[4])));
    return 0;
  }
  if (mode == L"outside" && argc >= 4) {
    Report("setup");
    if (!CopyFileW(self.c_str(), argv[2], FALSE)) return 3;
    const DWORD id = Start(argv[2], L"sleep 30000");
    if (!id) return 4;
    Report("outside " + std::to_string(id));
    return _wtoi(argv[3]);
  }
  if (mode == L"product" && argc >= 5) {
    Report("setup");
    if (!CopyFileW(self.c_str(), argv[2], FALSE)) return 3;
    const DWORD id = Start(argv[2], L"shells " + std::wstring(argv[3]));
    if (!id) return 4;
    Report("product " + std::to_string(id));
    return _wtoi(argv[4]);
  }
  if (mode == L"shells" && argc >= 3) {
    const DWORD shell = StartInShell(self, L"sleep " + std::wstring(argv[2]));
    Report("shell " + std::to_string(shell));
    const std::wstring tool = TempCopyOfSelf(L"tool");
    const DWORD program = tool.empty() ? 0 : Start(tool, L"sleep " + std::wstring(argv[2]));
    Report("temp-program " + std::to_string(program));
    Sleep(static_cast<DWORD>(_wtoi(argv[2])));
    return 0;
  }
  if (mode == L"hosted" && argc >= 3) {
    Report("setup");
    const std::wstring copy = TempCopyOfSelf(L"hosted");
    if (copy.empty()) return 3;
    const DWORD shell = StartInShell(copy, L"sleep " + std::wstring(argv[2]));
    Report("shell " + std::to_string(shell));
    return shell ? 0 : 4;
  }
  if (mode == L"breakaway" && argc >= 5) {
    Report("setup");
    if (!CopyFileW(self.c_str(), argv[2], FALSE)) return 3;
    const DWORD id = Start(argv[2], L"sleep " + std::wstring(argv[3]) + L" /i \"" + FolderOf(self) +
                                        L"\\package.msi\"", CREATE_BREAKAWAY_FROM_JOB);
    if (!id) return 4;
    Report("outside " + std::to_string(id));
    return _wtoi(argv[4]);
  }
  if (mode == L"sleep" && argc >= 3) {
    Sleep(static_cast<DWORD>(_wtoi(argv[2])));
    return 0;
  }
  return 2;
}
