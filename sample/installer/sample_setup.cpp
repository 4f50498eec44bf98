// Stand-in installer for the demo and the end-to-end tests. It records what
// it received and where it runs, then exits with a chosen code:
//   QLN_SETUP_REPORT  file to write the report to (UTF-8); none: no report
//   QLN_SETUP_EXIT    exit code, decimal, may be negative; none: 0
//   QLN_SETUP_DELAY_MS  milliseconds to stay running before exiting
// Report lines:
//   command-line: <the whole command line>
//   arguments: <the command line after the program name>
//   working-directory: <current directory>
//   folder: <the folder that holds this program>
//   dir <relative path> attributes=<hex>
//   file <relative path> size=<n> attributes=<hex> crc32=<hex>
#include <windows.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr,
                                 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], size,
                      nullptr, nullptr);
  return out;
}

std::wstring Env(const wchar_t* name) {
  wchar_t value[1024] = {};
  DWORD n = GetEnvironmentVariableW(name, value, 1024);
  return (n > 0 && n < 1024) ? std::wstring(value, n) : std::wstring();
}

// The command line after the program name and the blanks behind it, split
// off the way the C runtime does it.
const wchar_t* ArgumentsOf(const wchar_t* line) {
  bool quoted = false;
  while (*line && (quoted || (*line != L' ' && *line != L'\t'))) {
    if (*line == L'"') quoted = !quoted;
    ++line;
  }
  while (*line == L' ' || *line == L'\t') ++line;
  return line;
}

bool FileCrc(const std::wstring& path, unsigned long* crc) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  std::vector<unsigned char> buffer(1 << 16);
  uLong value = crc32(0L, Z_NULL, 0);
  DWORD got = 0;
  while (ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) && got)
    value = crc32(value, buffer.data(), got);
  CloseHandle(file);
  *crc = value;
  return true;
}

// Lists folder's tree below prefix, in the enumeration's order.
void ListTree(const std::wstring& folder, const std::wstring& prefix, std::string* out) {
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    std::wstring relative = prefix.empty() ? name : prefix + L"\\" + name;
    char line[128];
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      snprintf(line, sizeof line, " attributes=%lx\n", entry.dwFileAttributes);
      *out += "dir " + Utf8(relative) + line;
      ListTree(folder + L"\\" + name, relative, out);
    } else {
      unsigned long crc = 0;
      bool read = FileCrc(folder + L"\\" + name, &crc);
      unsigned long long size =
          (static_cast<unsigned long long>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
      if (read)
        snprintf(line, sizeof line, " size=%llu attributes=%lx crc32=%08lx\n", size,
                 entry.dwFileAttributes, crc);
      else
        snprintf(line, sizeof line, " size=%llu attributes=%lx crc32=unreadable\n", size,
                 entry.dwFileAttributes);
      *out += "file " + Utf8(relative) + line;
    }
  } while (FindNextFileW(find, &entry));
  FindClose(find);
}

void WriteReport(const std::wstring& path) {
  const wchar_t* line = GetCommandLineW();
  wchar_t directory[MAX_PATH] = {}, self[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, directory);
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring folder(self);
  folder.resize(folder.find_last_of(L'\\'));

  std::string report;
  report += "command-line: " + Utf8(line) + "\n";
  report += "arguments: " + Utf8(ArgumentsOf(line)) + "\n";
  report += "working-directory: " + Utf8(directory) + "\n";
  report += "folder: " + Utf8(folder) + "\n";
  ListTree(folder, L"", &report);

  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, report.data(), static_cast<DWORD>(report.size()), &written, nullptr);
  CloseHandle(file);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  const std::wstring report = Env(L"QLN_SETUP_REPORT");
  if (!report.empty()) WriteReport(report);
  const std::wstring delay = Env(L"QLN_SETUP_DELAY_MS");
  if (!delay.empty()) Sleep(static_cast<DWORD>(_wtoi(delay.c_str())));
  const std::wstring code = Env(L"QLN_SETUP_EXIT");
  return code.empty() ? 0 : static_cast<int>(_wtoi64(code.c_str()));
}
