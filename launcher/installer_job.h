// The installer's job: before the installer starts, the launcher puts
// itself into a job object of its own, so that the installer and everything
// it starts belong to that job. Many installers start a second stage (a copy
// of themselves, a helper beside them, a script, the Windows Installer
// client) and exit at once; the workspace may be removed only once those
// have ended too.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

// Pause between two listings of the job while the launcher waits.
constexpr DWORD kJobPollMs = 250;

// How long a process whose image path cannot be read yet (the platform
// answers late for a process that has just started) counts as holding the
// workspace.
constexpr DWORD kUnreadableImageGraceMs = 2000;

// Makes a job that allows breakaway and limits nothing else, and puts the
// launcher into it. Never kill-on-close: the installer may start the
// installed application as its last act, and the launcher's end must not end
// it. Returns the job, owned by the caller (CloseHandle), or null when the
// launcher cannot make or join one (on Windows 7 a process already inside a
// job cannot join another): the caller then waits for the installer alone.
HANDLE JoinInstallerJob();

// The places a process of the job may run from and still need the
// workspace, each in its long form without a trailing backslash.
struct WorkspacePlaces {
  std::wstring workspace;
  std::wstring temp;  // the temporary folder; empty when unknown
};

// Fills places for the workspace folder at workspace.
void FindWorkspacePlaces(const wchar_t* workspace, WorkspacePlaces* places);

// The long form of path without a trailing backslash and without an
// extended-length prefix; path itself (so trimmed) when it has none, for
// instance because the file is gone.
std::wstring LongPathForm(const wchar_t* path);

// True when a process of the job whose image is image (a full path as the
// platform reports it) is waited for: its image lies under the workspace or
// under the temporary folder, or it is one of the system's hosts that run
// installers or scripts (msiexec, cmd, wscript, cscript, powershell,
// rundll32), which may be working on files of the workspace wherever their
// own image lies. Paths are compared case-insensitively in their long form.
bool ImageHoldsWorkspace(const wchar_t* image, const WorkspacePlaces& places);

// A process whose image path could not be read, and since when (tick count).
struct UnreadableImage {
  DWORD processId;
  DWORD since;
};

// Lists job's processes once. True when any of them other than the launcher
// holds the workspace: it is still the job's (checked on the opened handle,
// so that a reused identifier cannot fool the wait), still running, and its
// image holds the workspace, or its image could not be read for less than
// kUnreadableImageGraceMs (tracked in unreadable between listings).
bool JobHoldsWorkspace(HANDLE job, const WorkspacePlaces& places,
                       std::vector<UnreadableImage>* unreadable);

// Waits, the window hidden and the queue pumped, while a process of job
// other than the launcher holds the workspace at workspace; the job is
// listed every kJobPollMs. There is no time limit: the fault is removing
// files under processes that still read them. Returns at once for a null
// job or a job that cannot be listed.
void AwaitWorkspaceProcesses(HANDLE job, const wchar_t* workspace);
