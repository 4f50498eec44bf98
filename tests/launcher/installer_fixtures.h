// The installer fixtures made at build time (signed, unsigned and altered
// copies of the sample installer) and the report the installer writes.
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

}  // namespace installer_fixtures
