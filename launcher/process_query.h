// What the wait after the installer reads about other processes, from the
// system's process list and from ntdll's queries (loaded at run time from
// the already loaded ntdll, so the launcher imports nothing new).
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// One entry of the system's process list.
struct SystemProcess {
  DWORD id;
  DWORD parentId;    // the creator's id when the process was made; may be reused since
  uint64_t created;  // creation time in 100 ns units; 0 when unknown
};

// Lists every process of the system with its parent and creation time, read
// without opening any of them. False when the list cannot be read.
bool ListSystemProcesses(std::vector<SystemProcess>* processes);

// Reads the full image path of process processId, in native form, without a
// handle (the system's process-id query), for processes the launcher may not
// open (another account's). Fills image (capacity units, terminated); FALSE
// when the platform has no such query (Wine) or the process is gone.
BOOL ReadImageWithoutHandle(DWORD processId, wchar_t* image, DWORD capacity);

// Reads the command line of an opened process: the platform's query where it
// has one (Windows 8.1 and later), else from the process's own parameters
// block, for a process of the launcher's own bitness. Empty when neither
// can be read.
std::wstring ReadCommandLine(HANDLE process);

// True when the opened process runs as the launcher's user.
bool RunsAsLaunchersUser(HANDLE process);

// The process's creation time in 100 ns units; 0 when it cannot be read.
uint64_t ProcessCreationTime(HANDLE process);

// Resolves the folder at path to its final native form
// (GetFinalPathNameByHandleW with VOLUME_NAME_NT | FILE_NAME_NORMALIZED),
// into native (capacity units, terminated). FALSE when the folder cannot be
// opened or resolved, or the result does not fit.
BOOL ResolveFolderPath(const wchar_t* path, wchar_t* native, DWORD capacity);
