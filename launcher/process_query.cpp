#include "launcher/process_query.h"

#include <winternl.h>

#include <algorithm>
#include <cstddef>

#include "launcher/workspace.h"
#include "support/owners.h"
#include "support/system_library.h"

namespace {

// ntdll's information classes the MinGW headers do not name.
constexpr ULONG kSystemProcessInformation = 5;
constexpr ULONG kSystemProcessIdInformation = 88;   // Vista and later
constexpr ULONG kProcessBasicInformation = 0;
constexpr ULONG kProcessCommandLineInformation = 60;  // Windows 8.1 and later
constexpr LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);

using QuerySystemFn = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
using QueryProcessFn = LONG(WINAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);

// ntdll is in every process from its first instruction, and a known DLL:
// nothing is loaded, nothing can be planted.
template <typename Fn>
Fn NtdllFunction(const char* name) {
  return ModuleProcedure<Fn>(GetModuleHandleW(L"ntdll.dll"), name);
}

// The head of one entry of the system's process list, in the layout the
// kernel writes for a process of the caller's bitness (the fields before
// the image name were reserved in older headers).
struct ProcessEntryHead {
  ULONG nextEntryOffset;
  ULONG numberOfThreads;
  LARGE_INTEGER workingSetPrivateSize;
  ULONG hardFaultCount;
  ULONG numberOfThreadsHighWatermark;
  ULONGLONG cycleTime;
  LARGE_INTEGER createTime;
  LARGE_INTEGER userTime;
  LARGE_INTEGER kernelTime;
  UNICODE_STRING imageName;
  LONG basePriority;
  HANDLE uniqueProcessId;
  HANDLE inheritedFromUniqueProcessId;
};

// The record of the process-id query: the id in, the image name out into a
// buffer of the caller's.
struct ProcessIdInformation {
  HANDLE processId;
  UNICODE_STRING imageName;
};

bool SameBitnessAsLauncher(HANDLE process) {
  BOOL self = FALSE, other = FALSE;
  return IsWow64Process(GetCurrentProcess(), &self) && IsWow64Process(process, &other) &&
         self == other;
}

bool ReadRemote(HANDLE process, const void* at, void* into, size_t size) {
  SIZE_T read = 0;
  return ReadProcessMemory(process, at, into, size, &read) && read == size;
}

// The command line from the process's parameters block (systems before 8.1
// have no query for it): only where the block's layout is the launcher's own.
std::wstring CommandLineFromParameters(HANDLE process) {
  auto query = NtdllFunction<QueryProcessFn>("NtQueryInformationProcess");
  if (!query || !SameBitnessAsLauncher(process)) return {};
  PROCESS_BASIC_INFORMATION basic = {};
  if (query(process, kProcessBasicInformation, &basic, sizeof(basic), nullptr) != 0 || !basic.PebBaseAddress)
    return {};
  PEB peb = {};
  RTL_USER_PROCESS_PARAMETERS parameters = {};
  if (!ReadRemote(process, basic.PebBaseAddress, &peb, sizeof(peb)) || !peb.ProcessParameters ||
      !ReadRemote(process, peb.ProcessParameters, &parameters, sizeof(parameters)))
    return {};
  const UNICODE_STRING& line = parameters.CommandLine;
  if (!line.Buffer || line.Length == 0) return {};
  std::wstring text(line.Length / sizeof(wchar_t), L'\0');
  if (!ReadRemote(process, line.Buffer, &text[0], text.size() * sizeof(wchar_t))) return {};
  return text;
}

}  // namespace

bool ListSystemProcesses(std::vector<SystemProcess>* processes) {
  processes->clear();
  auto query = NtdllFunction<QuerySystemFn>("NtQuerySystemInformation");
  if (!query) return false;
  // The list grows between calls: retry with the size asked for and room.
  std::vector<ULONGLONG> block(64 * 1024 / sizeof(ULONGLONG));
  for (int attempt = 0;; ++attempt) {
    ULONG needed = 0;
    const ULONG size = static_cast<ULONG>(block.size() * sizeof(ULONGLONG));
    const LONG status = query(kSystemProcessInformation, block.data(), size, &needed);
    if (status == 0) break;
    if (status != kStatusInfoLengthMismatch || attempt == 8) return false;
    block.resize((std::max<size_t>(needed, size) + 64 * 1024) / sizeof(ULONGLONG));
  }
  const auto* base = reinterpret_cast<const BYTE*>(block.data());
  const size_t total = block.size() * sizeof(ULONGLONG);
  for (size_t at = 0; at + sizeof(ProcessEntryHead) <= total;) {
    const auto* entry = reinterpret_cast<const ProcessEntryHead*>(base + at);
    SystemProcess process;
    process.id = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(entry->uniqueProcessId));
    process.parentId = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(entry->inheritedFromUniqueProcessId));
    process.created = static_cast<uint64_t>(entry->createTime.QuadPart);
    processes->push_back(process);
    if (entry->nextEntryOffset == 0) break;
    at += entry->nextEntryOffset;
  }
  return true;
}

BOOL ReadImageWithoutHandle(DWORD processId, wchar_t* image, DWORD capacity) {
  auto query = NtdllFunction<QuerySystemFn>("NtQuerySystemInformation");
  if (!query || !image || capacity < 2) return FALSE;
  const DWORD bytes = (capacity - 1) * sizeof(wchar_t);
  ProcessIdInformation information = {};
  information.processId = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(processId));
  information.imageName.Buffer = image;
  information.imageName.MaximumLength = static_cast<USHORT>(bytes > 0xFFFE ? 0xFFFE : bytes);
  if (query(kSystemProcessIdInformation, &information, sizeof(information), nullptr) != 0) return FALSE;
  image[information.imageName.Length / sizeof(wchar_t)] = L'\0';
  return information.imageName.Length != 0;
}

std::wstring ReadCommandLine(HANDLE process) {
  auto query = NtdllFunction<QueryProcessFn>("NtQueryInformationProcess");
  if (query) {
    // The query writes a UNICODE_STRING followed by its text.
    std::vector<ULONG_PTR> block(2048);
    for (int attempt = 0; attempt < 3; ++attempt) {
      ULONG needed = 0;
      const ULONG size = static_cast<ULONG>(block.size() * sizeof(ULONG_PTR));
      const LONG status = query(process, kProcessCommandLineInformation, block.data(), size, &needed);
      if (status == 0) {
        const auto* line = reinterpret_cast<const UNICODE_STRING*>(block.data());
        if (line->Buffer && line->Length) return std::wstring(line->Buffer, line->Length / sizeof(wchar_t));
        return {};
      }
      if (needed <= size) break;  // no such query here, or refused
      block.resize(needed / sizeof(ULONG_PTR) + 1);
    }
  }
  return CommandLineFromParameters(process);
}

bool RunsAsLaunchersUser(HANDLE process) {
  // The launcher's own user, read once.
  static BYTE self[kTokenUserBytes];
  static bool selfRead = false;
  if (!selfRead) selfRead = ReadTokenUser(GetCurrentProcess(), self);
  if (!selfRead) return false;
  BYTE other[kTokenUserBytes];
  if (!ReadTokenUser(process, other)) return false;
  return EqualSid(reinterpret_cast<TOKEN_USER*>(self)->User.Sid,
                  reinterpret_cast<TOKEN_USER*>(other)->User.Sid) != 0;
}

uint64_t ProcessCreationTime(HANDLE process) {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
  return (static_cast<uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

BOOL ResolveFolderPath(const wchar_t* path, wchar_t* native, DWORD capacity) {
  if (!path || !native || capacity == 0) return FALSE;
  // Opening a folder needs backup semantics; reading its attributes needs
  // no right the user lacks, and sharing everything disturbs nobody.
  HANDLE folder = CreateFileW(path, FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (folder == INVALID_HANDLE_VALUE) return FALSE;
  HandleOwner owner(folder);
  const DWORD length =
      GetFinalPathNameByHandleW(folder, native, capacity, VOLUME_NAME_NT | FILE_NAME_NORMALIZED);
  return length != 0 && length < capacity;
}
