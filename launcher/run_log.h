// The run's log: one short text file per run that an administrator (or a
// help desk) can read afterwards: what the launcher found, what each stage
// did and why a failed run failed. UTF-8 with a byte-order mark and CRLF
// line ends, so that every Windows tool reads it right.
//
// It lives beside the workspace in the temporary folder, never inside it,
// so that it outlives the clean-up, and is named
// "Quillane_Setup_<yyyyMMdd_HHmmss>_<pid>.log" in local time. The
// environment variable QUILLANE_SETUP_LOG, a full file path, puts it
// elsewhere: the launcher's arguments all belong to the installer.
//
// The log is never in the way: a log that cannot be made or written leaves
// the run exactly as it would be without one. Each line is one WriteFile,
// so a launcher ended from outside leaves every line up to then.
#pragma once
#include <windows.h>

#include <cstdint>

#include "launcher/handover.h"
#include "launcher/installer_job.h"
#include "launcher/signature.h"
#include "launcher/workspace.h"
#include "payload/extract_payload.h"
#include "support/owners.h"
#include "support/path_utils.h"

constexpr wchar_t kRunLogVariable[] = L"QUILLANE_SETUP_LOG";

// The most one run writes, whatever the package: no line per entry or per
// listing, and lines past the limit are left out (saying so once). The last
// kRunLogClosingReserve bytes are kept for the clean-up and the exit code.
constexpr uint32_t kRunLogLimit = 64 * 1024;
constexpr uint32_t kRunLogClosingReserve = 4 * 1024;

// Units of one line's text, before its time and its line end.
constexpr size_t kRunLogLineUnits = 1024;

// Names the log may take in the temporary folder: the first, then the same
// followed by "_1" up to "_15", as for the workspace.
constexpr int kRunLogNameCandidates = 16;

// One run's log. Zero-filled and file INVALID_HANDLE_VALUE (InitRunLog)
// means no log: every call below then does nothing.
struct RunLog {
  HANDLE file;
  DWORD startTick;      // Hooks.tickCount() when the log was opened
  uint32_t written;     // bytes this run wrote
  bool closing;         // the clean-up has begun: the reserve may be used
  bool cut;             // a line was left out for the limit
  wchar_t path[kWidePathCapacity];
  // The failure that ended the run, in one line, for the event log.
  wchar_t cause[kRunLogLineUnits];
};

void InitRunLog(RunLog* log);

// The access list the log is made with: the running user, SYSTEM and the
// administrators have full control, nobody else has any (the log holds the
// installer's arguments), and nothing is inherited from the folder.
struct RunLogDescriptor {
  WorkspaceTrustees trustees;  // of them, the user, SYSTEM and the administrators
  LocalOwner accessList;
  SECURITY_DESCRIPTOR descriptor;
  RunLogDescriptor() = default;
  QLN_NO_COPY(RunLogDescriptor);
};

// Builds record->descriptor. Returns 1 when it is ready while record lives.
int MakeRunLogDescriptor(RunLogDescriptor* record);

// Opens the run's log: at the path in QUILLANE_SETUP_LOG when that is set
// (appended to when the file exists, so that several runs can share one),
// else made new (CREATE_NEW) in the temporary folder, taking the next name
// when one is taken. now is the local time its name and first line carry.
// A new file gets the byte-order mark. Returns true when there is a log;
// false leaves log without one.
bool OpenRunLog(RunLog* log, const SYSTEMTIME& now);

// Closes the file; later lines go nowhere.
void CloseRunLog(RunLog* log);

// Writes one line: the milliseconds since the log was opened, then the
// formatted text (cut to kRunLogLineUnits; line breaks and other control
// characters inside become blanks, so that no value can forge a line).
void LogLine(RunLog* log, const wchar_t* format, ...);

// The system's text for error code (FormatMessage), without its line end,
// into text (units); "unknown error" when it has none.
void SystemErrorText(DWORD code, wchar_t* text, size_t units);

// A WinVerifyTrust result in words ("verified", "not signed", "the file was
// altered after it was signed", ...); the system's text when there is one
// for an unlisted result.
void TrustResultText(LONG result, wchar_t* text, size_t units);

// A VerifyFileSignature result in words: "verified", "not signed", ...
const wchar_t* SignatureResultText(int result);

// One line per round of the signature check (number, from 1): the check's
// result, the trust service's own result in hex and in words, whether the
// network could be used, the time taken (ms), and the signer's subject when
// the check read one; or that the round still ran when the stage gave up.
void LogSignatureRound(RunLog* log, int number, int result, const SignatureRound& round, double ms);

// One line with every workspace name found taken already, when any was.
void LogTakenWorkspaceNames(RunLog* log, const TakenWorkspaceNames& taken);

// The launcher's arguments as they are passed on, split as CommandLineToArgvW
// splits them, each in brackets, secrets masked (MaskSecretArguments):
// "[/quiet] [PASSWORD=***]", or "none".
void DescribeArguments(const wchar_t* commandLine, wchar_t* text, size_t units);

// The start lines: the launcher's version and build date, its own path,
// the Windows version and build, WOW64, integrity level, whether anybody
// sees the window station, and the arguments as passed on.
void LogStart(RunLog* log, const wchar_t* commandLine);

// Counts what extraction reports and keeps its failure, on the way to the
// window's own progress record.
struct ExtractionTally {
  const ExtractProgress* inner;  // may be null
  DWORD startTick;
  uint32_t entries;              // entries begun
  uint32_t count;                // entries in the archive
  uint64_t written, total;
  bool failed;
  ExtractFailure failure;        // strings below, copied
  wchar_t failedStep[128];
  wchar_t failedName[MAX_PATH];
};

// The record that tallies into tally (which must outlive its use) and passes
// every report on to inner.
ExtractProgress TallyingProgress(ExtractionTally* tally, const ExtractProgress* inner);

// The extraction's lines: entries and bytes with the time taken, or what
// failed. Notes the failure as the run's cause.
void LogExtraction(RunLog* log, const ExtractionTally& tally, bool extracted);

// The start's line: how many attempts failed, the first and the last
// failed attempt's error, and the installer's process id once started.
void LogStartAttempts(RunLog* log, const StartAttempts& attempts, bool started);

// The most processes of the wait after the installer that the log names
// one by one (a line when found holding, a line when ended); the rest are
// counted. 24 processes with images of a usual length take about 13 KiB;
// the log's own limit holds whatever their length.
constexpr int kRunLogWaitedProcesses = 24;

// What the wait after the installer told the log.
struct WaitTally {
  RunLog* log;
  DWORD startTick;
  int seen;     // processes found holding
  int ended;    // of those, ended
  int named;    // of those, named in the log (the first kRunLogWaitedProcesses)
  struct Named {
    DWORD id;
    uint64_t created;
  } names[kRunLogWaitedProcesses];
};

// The observer that writes the wait's process lines into tally->log
// (tally must outlive its use):
//   "wait: process 812 holds the workspace (its image lies in the
//    workspace): \Device\...\Setup.exe"
//   "wait: process 812 (Setup.exe) has ended; waited for 4210 ms"
WaitObserver LoggingWaitObserver(WaitTally* tally, RunLog* log);

// The wait's last line: how it ended, after how long, how many processes
// were waited for (and how many still held the workspace when they could
// no longer be listed).
void LogWaitEnd(const WaitTally& tally, WaitEnd end);

// The clean-up's lines: the workspace removed; or how many entries stayed,
// the first of them and the system's error for it, and how many entries
// were marked for removal at restart (marked < 0: no marking was tried).
void LogCleanUp(RunLog* log, bool removed, const TreeLeftover& leftover, int marked);

// Notes text as the cause of the run's failure, and logs it.
void LogFailure(RunLog* log, const wchar_t* text);

// When nobody sees the window station and the run failed: one error entry
// in the Application event log (source "Quillane Setup", not registered, so
// nothing is written under HKLM) with the cause and the log's path, through
// Hooks.reportEvent. True when the entry was written.
bool ReportFailureToEventLog(const RunLog* log, int exitCode);

// The last line: the launcher's exit code. Then the log is closed.
void LogExitCode(RunLog* log, int exitCode);
