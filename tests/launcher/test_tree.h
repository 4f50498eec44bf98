// Small file-system helpers for tests that build and inspect folder trees.
#pragma once
#include <windows.h>

#include <string>

namespace test_tree {

// The extended-length form of an absolute drive path, for long paths.
inline std::wstring Long(const std::wstring& path) { return L"\\\\?\\" + path; }

inline bool Exists(const std::wstring& path) {
  return GetFileAttributesW(Long(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline bool IsFolder(const std::wstring& path) {
  DWORD a = GetFileAttributesW(Long(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

inline DWORD Attributes(const std::wstring& path) { return GetFileAttributesW(Long(path).c_str()); }

inline bool MakeFolder(const std::wstring& path) {
  return CreateDirectoryW(Long(path).c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

// Writes bytes to a new file (replacing one), with the given attributes.
inline bool WriteBytes(const std::wstring& path, const std::string& bytes,
                       DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
  HANDLE f = CreateFileW(Long(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = bytes.empty() || WriteFile(f, bytes.data(), DWORD(bytes.size()), &written, nullptr);
  CloseHandle(f);
  return ok && written == bytes.size();
}

// The whole content of a file; `ok` false when it cannot be read.
inline std::string ReadBytes(const std::wstring& path, bool* ok = nullptr) {
  std::string bytes;
  HANDLE f = CreateFileW(Long(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (ok) *ok = f != INVALID_HANDLE_VALUE;
  if (f == INVALID_HANDLE_VALUE) return bytes;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(f, buffer, sizeof buffer, &got, nullptr) && got) bytes.append(buffer, got);
  CloseHandle(f);
  return bytes;
}

// True when the file cannot be opened for writing because someone holds it
// open without sharing writes (whatever the opener itself would share).
inline bool HeldAgainstWriting(const std::wstring& path) {
  HANDLE f = CreateFileW(Long(path).c_str(), GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION;
  CloseHandle(f);
  return false;
}

// Deletes a tree by any means (test clean-up only).
inline void Wipe(const std::wstring& path) {
  std::wstring l = Long(path);
  DWORD a = GetFileAttributesW(l.c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return;
  SetFileAttributesW(l.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!(a & FILE_ATTRIBUTE_DIRECTORY)) { DeleteFileW(l.c_str()); return; }
  if (!(a & FILE_ATTRIBUTE_REPARSE_POINT)) {
    WIN32_FIND_DATAW d;
    HANDLE h = FindFirstFileW((l + L"\\*").c_str(), &d);
    if (h != INVALID_HANDLE_VALUE) {
      do {
        if (wcscmp(d.cFileName, L".") && wcscmp(d.cFileName, L"..")) Wipe(path + L"\\" + d.cFileName);
      } while (FindNextFileW(h, &d));
      FindClose(h);
    }
  }
  RemoveDirectoryW(l.c_str());
}

// A fresh, empty folder under the temporary directory, named for a test and
// the process (test programs run side by side).
inline std::wstring FreshFolder(const wchar_t* name) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  std::wstring path = std::wstring(temp) + L"qln_test_" + std::to_wstring(GetCurrentProcessId()) + L"_" + name;
  Wipe(path);
  MakeFolder(path);
  return path;
}

}  // namespace test_tree
