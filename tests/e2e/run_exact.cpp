// run-exact PROGRAM: runs PROGRAM with exactly the arguments held in the
// environment variable QLN_RUN_ARGS (blanks at either end included), waits
// for it and prints its full 32-bit exit code, which a POSIX shell would cut
// to 8 bits. Exits 0 when the program ran, 1 when it could not be started.
#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: run-exact PROGRAM (arguments in QLN_RUN_ARGS)\n");
    return 1;
  }
  wchar_t args[4096] = {};
  GetEnvironmentVariableW(L"QLN_RUN_ARGS", args, 4096);
  std::wstring line = L"\"" + std::wstring(argv[1]) + L"\" " + args;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(argv[1], &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    fprintf(stderr, "run-exact: cannot start the program (error %lu)\n", GetLastError());
    return 1;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  printf("exit code: %lu (signed: %ld)\n", code, static_cast<long>(code));
  fflush(stdout);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return 0;
}
