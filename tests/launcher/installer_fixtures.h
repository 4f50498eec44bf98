// The installer fixtures made at build time (signed, unsigned and altered
// copies of the sample installer), the report the installer writes, and
// the processes the stand-in installers start.
#pragma once
#include <windows.h>

#include <string>

namespace installer_fixtures {

// The folder that holds this test program (build/tests).
inline std::wstring TestFolder() {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path(self);
  path.resize(path.find_last_of(L'\\'));
  return path;
}

// A fixture from the "fixtures" folder beside this test program.
inline std::wstring Fixture(const wchar_t* name) {
  return TestFolder() + L"\\fixtures\\" + name;
}

// The value of one "key: value" line of the installer's report.
inline std::string ReportLine(const std::string& report, const std::string& key) {
  size_t at = report.find(key + ": ");
  if (at == std::string::npos) return "<missing>";
  at += key.size() + 2;
  return report.substr(at, report.find('\n', at) - at);
}

// True while the process of id runs.
inline bool IsRunning(DWORD id) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, id);
  if (!process) return false;
  const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return running;
}

// Ends the process of id, if it still runs, and waits up to 5 s for it.
inline void EndProcess(DWORD id) {
  HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
  if (!process) return;
  TerminateProcess(process, 1);
  WaitForSingleObject(process, 5000);
  CloseHandle(process);
}

}  // namespace installer_fixtures
