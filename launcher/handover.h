// The handover: start the verified installer with the launcher's own
// arguments, hide the splash window and wait until the installer ends.
#pragma once
#include <windows.h>

// Units of the parameter buffer (the installer's parameters, later the
// error text).
constexpr unsigned kParameterCapacity = 1024;

// Start attempts: the first and 240 retries, each retry at least 250 ms
// after the attempt before it.
constexpr int kStartRetries = 240;

// The launch record's flags: SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC,
// plus SEE_MASK_FLAG_NO_UI so that the shell shows no box of its own for
// each failed attempt; the launcher reports the final failure itself.
constexpr ULONG kLaunchMask = 0x40 | 0x100 | 0x400;

constexpr wchar_t kInstallerErrorCaption[] = L"Installer Error";

// True for a start error that no retry can change: the user declined the
// elevation prompt (ERROR_CANCELLED), policy (ERROR_ACCESS_DISABLED_BY_POLICY)
// or application control (ERROR_SYSTEM_INTEGRITY_POLICY_VIOLATION) forbids
// the program, a scanner found it infected (ERROR_VIRUS_INFECTED), it is no
// valid program (ERROR_BAD_EXE_FORMAT), a program for another processor
// (ERROR_EXE_MACHINE_TYPE_MISMATCH), its side-by-side configuration is wrong
// (ERROR_SXS_CANT_GEN_ACTCTX), or code integrity refuses its image hash
// (ERROR_INVALID_IMAGE_HASH). Retrying those would bring the elevation
// prompt back again and again, or only delay the report by a minute.
bool IsFinalStartError(DWORD error);

// The launcher's exit code after a start that failed with error: 1223
// (ERROR_CANCELLED) for a declined elevation, so that a caller can tell the
// user's No from a failure; -99 for every other error.
int ExitCodeForStartError(DWORD error);

// Fills buffer (kParameterCapacity units) with the installer's parameters:
// the command line cut to 1023 units with its leading blank, then trimmed of
// blanks at both ends. A null command line gives an empty string.
void ComposeInstallerParameters(wchar_t* buffer, const wchar_t* commandLine);

// Fills buffer (kParameterCapacity units) with the "Installer Error" text
// for a start that failed with error: the "unable to run" text when the
// installer is still there as a file, else the "unable to find" text, each
// followed by the system's description of error when it fits.
void ComposeInstallerError(wchar_t* buffer, const wchar_t* installer, DWORD error);

// What the start attempts came to, for the run's log.
struct StartAttempts {
  int failures;        // failed attempts
  DWORD firstError;    // the first failed attempt's error
  DWORD lastError;     // the last one's
  DWORD processId;     // the installer's, once started; 0 when unknown
};

// Starts installer with the parameters from commandLine, owned by the
// splash window, retrying a failed start up to 240 times unless its error
// is final (IsFinalStartError). *verifiedFile,
// when given, is the installer opened for reading with no sharing for
// writing or deleting since before its signature was checked, so the file
// cannot be swapped between the check and the start; this function closes
// it once the start attempts are over and sets it to INVALID_HANDLE_VALUE.
// After a start the window is hidden and the installer waited for until its
// process has ended.
// Returns 1 when the installer ran and ended (*exitCode, when given, gets
// its exit code; STILL_ACTIVE when that cannot be read), 0 when it could not
// be started (the "Installer Error" box has then been shown, where a box can
// be seen; *exitCode, when given, gets the last attempt's error).
// *attempts, when given, gets what the attempts came to.
int HandOverToInstaller(const wchar_t* installer, const wchar_t* commandLine,
                        HANDLE* verifiedFile = nullptr, DWORD* exitCode = nullptr,
                        StartAttempts* attempts = nullptr);
