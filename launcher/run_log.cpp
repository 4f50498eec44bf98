#include "launcher/run_log.h"

#include <shellapi.h>
#include <softpub.h>
#include <wintrust.h>

#include <cstdarg>
#include <string>
#include <vector>

#include "launcher/launcher_hooks.h"
#include "launcher/secret_mask.h"
#include "launcher/signature.h"
#include "launcher/workspace.h"
#include "splash/build_date.h"
#include "splash/splash_window.h"
#include "support/system_library.h"

namespace {

constexpr BYTE kByteOrderMark[] = {0xEF, 0xBB, 0xBF};

// Writes bytes whole at the end of the file; false when they did not all
// reach it.
bool WriteWhole(RunLog* log, const void* bytes, DWORD count) {
  DWORD done = 0;
  return WriteFile(log->file, bytes, count, &done, nullptr) && done == count;
}

void ResetLog(RunLog* log) {
  log->file = INVALID_HANDLE_VALUE;
  log->path[0] = L'\0';
}

// Made new under the first free candidate name. A name something already
// stands under is never opened: it may be another user's file or link.
HANDLE CreateInTemporaryFolder(RunLog* log, const SYSTEMTIME& now, SECURITY_ATTRIBUTES* access) {
  wchar_t folder[kWidePathCapacity] = {};
  FindTemporaryFolder(folder);
  for (int candidate = 0; candidate < kRunLogNameCandidates; ++candidate) {
    wchar_t name[80];
    StrFormatBounded(name, 80, L"Quillane_Setup_%04u%02u%02u_%02u%02u%02u_%lu", now.wYear, now.wMonth,
                     now.wDay, now.wHour, now.wMinute, now.wSecond, GetCurrentProcessId());
    if (candidate > 0) {
      wchar_t suffix[8];
      StrFormatBounded(suffix, 8, L"_%d", candidate);
      StrAppendBounded(name, 80, suffix);
    }
    StrAppendBounded(name, 80, L".log");
    if (StrCopyBounded(log->path, kWidePathCapacity, folder) != kStrOk) return INVALID_HANDLE_VALUE;
    JoinPath(log->path, kWidePathCapacity, name);
    size_t length = 0;
    if (StrLengthBounded(log->path, kWidePathCapacity, &length) != kStrOk || length + 1 >= kWidePathCapacity)
      return INVALID_HANDLE_VALUE;  // possibly cut
    const HANDLE file = CreateFileW(log->path, FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ, access,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) return file;
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS && error != ERROR_ACCESS_DENIED) break;
  }
  return INVALID_HANDLE_VALUE;
}

// Appending only (FILE_APPEND_DATA without FILE_WRITE_DATA): every write
// lands at the end even while other runs write to the same file.
HANDLE OpenNamedLog(RunLog* log, const wchar_t* path, SECURITY_ATTRIBUTES* access, bool* made) {
  if (StrCopyBounded(log->path, kWidePathCapacity, path) != kStrOk) return INVALID_HANDLE_VALUE;
  const HANDLE file = CreateFileW(log->path, FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  access, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return file;
  LARGE_INTEGER size = {};
  *made = GetLastError() != ERROR_ALREADY_EXISTS || (GetFileSizeEx(file, &size) && size.QuadPart == 0);
  return file;
}

// Line breaks, tabs and other control characters become blanks.
void Flatten(wchar_t* text) {
  for (; *text; ++text)
    if (*text < 0x20 || *text == 0x7F) *text = L' ';
}

const wchar_t* IntegrityName(DWORD rid) {
  if (rid == 0) return L"unknown";
  if (rid < SECURITY_MANDATORY_LOW_RID) return L"Untrusted";
  if (rid < SECURITY_MANDATORY_MEDIUM_RID) return L"Low";
  if (rid < SECURITY_MANDATORY_HIGH_RID) return rid > SECURITY_MANDATORY_MEDIUM_RID ? L"Medium Plus" : L"Medium";
  if (rid < SECURITY_MANDATORY_SYSTEM_RID) return L"High";
  return L"System";
}

// The true version: GetVersionEx answers as the manifest allows.
void WindowsVersion(DWORD* major, DWORD* minor, DWORD* build) {
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  OSVERSIONINFOW info = {};
  info.dwOSVersionInfoSize = sizeof(info);
  auto get = ModuleProcedure<RtlGetVersionFn>(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion");
  if (!get || get(&info) != 0) info = {};
  *major = info.dwMajorVersion;
  *minor = info.dwMinorVersion;
  *build = info.dwBuildNumber;
}

bool RunsUnderWow64() {
  BOOL wow64 = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

void OnStage(void* context, const wchar_t* text) {
  auto* tally = static_cast<ExtractionTally*>(context);
  if (tally->inner && tally->inner->stage) tally->inner->stage(tally->inner->context, text);
}

void OnEntry(void* context, uint32_t number, uint32_t count) {
  auto* tally = static_cast<ExtractionTally*>(context);
  tally->entries = number;
  tally->count = count;
  if (tally->inner && tally->inner->entry) tally->inner->entry(tally->inner->context, number, count);
}

void OnBytes(void* context, uint64_t written, uint64_t total) {
  auto* tally = static_cast<ExtractionTally*>(context);
  tally->written = written;
  tally->total = total;
  if (tally->inner && tally->inner->bytes) tally->inner->bytes(tally->inner->context, written, total);
}

void OnFailed(void* context, const ExtractFailure* failure) {
  auto* tally = static_cast<ExtractionTally*>(context);
  tally->failed = true;
  tally->failure = *failure;
  StrCopyBounded(tally->failedStep, 128, failure->step ? failure->step : L"");
  StrCopyBounded(tally->failedName, MAX_PATH, failure->entryName ? failure->entryName : L"");
  tally->failure.step = tally->failedStep;
  tally->failure.entryName = tally->failedName;
  if (tally->inner && tally->inner->failed) tally->inner->failed(tally->inner->context, failure);
}

}  // namespace

void InitRunLog(RunLog* log) {
  ZeroMemory(log, sizeof(*log));
  ResetLog(log);
}

int MakeRunLogDescriptor(RunLogDescriptor* record) {
  WorkspaceTrustees& trustees = record->trustees;
  if (!MakeWorkspaceTrustees(&trustees)) return 0;
  EXPLICIT_ACCESS_W entries[3];
  PSID self = reinterpret_cast<TOKEN_USER*>(trustees.tokenUser)->User.Sid;
  FillAccessEntry(&entries[0], self, GENERIC_ALL, TRUSTEE_IS_USER, NO_INHERITANCE);
  FillAccessEntry(&entries[1], trustees.system.sid, GENERIC_ALL, TRUSTEE_IS_USER, NO_INHERITANCE);
  FillAccessEntry(&entries[2], trustees.administrators.sid, GENERIC_ALL, TRUSTEE_IS_GROUP, NO_INHERITANCE);
  PACL list = nullptr;
  if (SetEntriesInAclW(3, entries, nullptr, &list) != ERROR_SUCCESS) return 0;
  record->accessList.mem = list;
  return InitProtectedDescriptor(&record->descriptor, list) ? 1 : 0;
}

bool OpenRunLog(RunLog* log, const SYSTEMTIME& now) {
  InitRunLog(log);
  RunLogDescriptor descriptor;
  if (!MakeRunLogDescriptor(&descriptor)) return false;
  SECURITY_ATTRIBUTES access = {sizeof(access), &descriptor.descriptor, FALSE};

  wchar_t named[kWidePathCapacity] = {};
  const DWORD length = GetEnvironmentVariableW(kRunLogVariable, named, kWidePathCapacity);
  bool made = true;
  if (length > 0 && length < kWidePathCapacity) {
    log->file = OpenNamedLog(log, named, &access, &made);
  } else if (length == 0) {
    log->file = CreateInTemporaryFolder(log, now, &access);
  }
  // A path too long for the buffer, like one that cannot be opened, means
  // no log: the administrator asked for that place, not another.
  if (log->file == INVALID_HANDLE_VALUE) {
    ResetLog(log);
    return false;
  }
  log->startTick = Hooks.tickCount();
  if (made && !WriteWhole(log, kByteOrderMark, sizeof(kByteOrderMark))) {
    CloseRunLog(log);
    return false;
  }
  const int biasMinutes = [] {
    TIME_ZONE_INFORMATION zone;
    const DWORD kind = GetTimeZoneInformation(&zone);
    LONG bias = zone.Bias;
    if (kind == TIME_ZONE_ID_DAYLIGHT) bias += zone.DaylightBias;
    else if (kind == TIME_ZONE_ID_STANDARD) bias += zone.StandardBias;
    return kind == TIME_ZONE_ID_INVALID ? 0 : static_cast<int>(-bias);
  }();
  const int biasAbs = biasMinutes < 0 ? -biasMinutes : biasMinutes;
  LogLine(log, L"Quillane setup log: run of process %lu started %04u-%02u-%02u %02u:%02u:%02u.%03u local time (UTC%c%02d:%02d); times below in ms since then",
          GetCurrentProcessId(), now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
          now.wMilliseconds, biasMinutes < 0 ? L'-' : L'+', biasAbs / 60, biasAbs % 60);
  return true;
}

void CloseRunLog(RunLog* log) {
  if (log->file != INVALID_HANDLE_VALUE) CloseHandle(log->file);
  log->file = INVALID_HANDLE_VALUE;
}

void LogLine(RunLog* log, const wchar_t* format, ...) {
  if (!log || log->file == INVALID_HANDLE_VALUE) return;
  wchar_t text[kRunLogLineUnits + 32];
  const DWORD ms = Hooks.tickCount() - log->startTick;
  int head = _snwprintf(text, 32, L"%8lu ms  ", ms);
  if (head < 0 || head >= 32) head = 0;
  va_list args;
  va_start(args, format);
  const int body = _vsnwprintf(text + head, kRunLogLineUnits - 1, format, args);
  va_end(args);
  text[head + (body < 0 || body > static_cast<int>(kRunLogLineUnits) - 1 ? kRunLogLineUnits - 1 : body)] = L'\0';
  Flatten(text);

  char line[3 * (kRunLogLineUnits + 32) + 2];
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, line, sizeof(line) - 2, nullptr, nullptr);
  if (bytes <= 0) return;
  --bytes;  // the terminator
  line[bytes++] = '\r';
  line[bytes++] = '\n';

  const uint32_t limit = log->closing ? kRunLogLimit : kRunLogLimit - kRunLogClosingReserve;
  if (log->written + static_cast<uint32_t>(bytes) > limit) {
    if (log->cut) return;
    log->cut = true;
    static const char kCut[] = "(the log is full: lines up to the clean-up are left out)\r\n";
    if (WriteWhole(log, kCut, sizeof(kCut) - 1)) log->written += sizeof(kCut) - 1;
    return;
  }
  if (WriteWhole(log, line, static_cast<DWORD>(bytes))) log->written += static_cast<uint32_t>(bytes);
}

void SystemErrorText(DWORD code, wchar_t* text, size_t units) {
  text[0] = L'\0';
  const DWORD length =
      FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                     static_cast<DWORD>(units), nullptr);
  if (length == 0) StrCopyBounded(text, units, L"unknown error");
  text[units - 1] = L'\0';
  size_t end = wcslen(text);
  while (end > 0 && (text[end - 1] == L'\r' || text[end - 1] == L'\n' || text[end - 1] == L' ')) text[--end] = 0;
}

void TrustResultText(LONG result, wchar_t* text, size_t units) {
  struct Meaning {
    DWORD result;
    const wchar_t* text;
  };
  static const Meaning kMeanings[] = {
      {0, L"verified"},
      {static_cast<DWORD>(TRUST_E_NOSIGNATURE), L"not signed, or the signature cannot be read"},
      {static_cast<DWORD>(TRUST_E_BAD_DIGEST), L"the file was altered after it was signed"},
      {static_cast<DWORD>(TRUST_E_EXPLICIT_DISTRUST), L"the signer is explicitly distrusted"},
      {static_cast<DWORD>(TRUST_E_SUBJECT_NOT_TRUSTED), L"the subject is not trusted"},
      {static_cast<DWORD>(TRUST_E_PROVIDER_UNKNOWN), L"no trust provider knows this file"},
      {static_cast<DWORD>(TRUST_E_SUBJECT_FORM_UNKNOWN), L"the trust provider does not know this file's form"},
      {static_cast<DWORD>(TRUST_E_NO_SIGNER_CERT), L"the signer's certificate is missing"},
      {static_cast<DWORD>(CRYPT_E_SECURITY_SETTINGS), L"forbidden by the local security settings"},
      {static_cast<DWORD>(CERT_E_UNTRUSTEDROOT), L"the certificate chain ends in an untrusted root"},
      {static_cast<DWORD>(CERT_E_CHAINING), L"no certificate chain could be built to a trusted root"},
      {static_cast<DWORD>(CERT_E_EXPIRED), L"a certificate has expired or is not yet valid"},
      {static_cast<DWORD>(CERT_E_REVOKED), L"a certificate was revoked"},
      {static_cast<DWORD>(CRYPT_E_FILE_ERROR), L"the file could not be read"},
  };
  for (const Meaning& meaning : kMeanings)
    if (meaning.result == static_cast<DWORD>(result)) {
      StrCopyBounded(text, units, meaning.text);
      return;
    }
  SystemErrorText(static_cast<DWORD>(result), text, units);
}

const wchar_t* SignatureResultText(int result) {
  switch (result) {
    case kSignatureVerified: return L"verified";
    case kSignatureMissing: return L"not signed";
    case kSignatureDistrusted: return L"signer distrusted, or forbidden by the local security settings";
    case kSignatureNotTrusted: return L"subject not trusted";
    default: return L"not verified";
  }
}

void LogSignatureRound(RunLog* log, int number, int result, const SignatureRound& round, double ms) {
  const wchar_t* source = round.providerFlags & kTrustCacheOnly ? L"machine's stores only" : L"network allowed";
  if (result == kSignatureAbandoned) {
    LogLine(log, L"signature: round %d (%s) still ran after %.0f ms when the stage's %.0f s were up", number,
            source, ms, kSignatureGiveUpSeconds);
    return;
  }
  wchar_t meaning[160];
  TrustResultText(round.trustResult, meaning, 160);
  LogLine(log, L"signature: round %d (%s): %s; WinVerifyTrust 0x%08lx (%s), %.0f ms%s%s%s", number, source,
          SignatureResultText(result), static_cast<unsigned long>(round.trustResult), meaning, ms,
          round.signer[0] ? L"; signer \"" : L"", round.signer, round.signer[0] ? L"\"" : L"");
}

// At most kWorkspaceNameCandidates names of kWorkspaceNameUnits: well
// within one line.
void LogTakenWorkspaceNames(RunLog* log, const TakenWorkspaceNames& taken) {
  static_assert(kWorkspaceNameCandidates * (kWorkspaceNameUnits + 2) + 64 < kRunLogLineUnits, "one line holds them");
  const int count = taken.count < kWorkspaceNameCandidates ? taken.count : kWorkspaceNameCandidates;
  if (count <= 0) return;
  wchar_t names[kWorkspaceNameCandidates * (kWorkspaceNameUnits + 2)] = {};
  size_t used = 0;
  for (int i = 0; i < count; ++i) {
    const int wrote = _snwprintf(names + used, ARRAYSIZE(names) - 1 - used, i ? L", %.*s" : L"%.*s",
                                 kWorkspaceNameUnits, taken.names[i]);
    if (wrote < 0) break;
    used += static_cast<size_t>(wrote);
  }
  names[ARRAYSIZE(names) - 1] = L'\0';
  LogLine(log, L"workspace: %d name%s taken already, left untouched: %s", count, count == 1 ? L"" : L"s", names);
}

void DescribeArguments(const wchar_t* commandLine, wchar_t* text, size_t units) {
  StrCopyBounded(text, units, L"none");
  if (!commandLine) return;
  // The installer gets the command line trimmed; split what it gets. A
  // leading placeholder takes the program name's place, whose splitting
  // rules differ, and keeps an empty line from giving our own path.
  std::wstring line = L"x ";
  line += commandLine;
  int count = 0;
  LPWSTR* split = CommandLineToArgvW(line.c_str(), &count);
  if (!split) return;
  std::vector<std::wstring> arguments(split + 1, split + (count > 1 ? count : 1));
  LocalFree(split);
  if (arguments.empty()) return;
  MaskSecretArguments(&arguments);
  std::wstring joined;
  for (const std::wstring& argument : arguments) {
    if (!joined.empty()) joined += L' ';
    joined += L'[';
    joined += argument;
    joined += L']';
  }
  StrCopyBounded(text, units, joined.c_str());
}

void LogStart(RunLog* log, const wchar_t* commandLine) {
  if (!log || log->file == INVALID_HANDLE_VALUE) return;
  wchar_t built[kTitleCapacity] = {};
  AppendBuildDate(built);
  LogLine(log, L"start: Quillane setup launcher %s, built %s", kLauncherVersion, built);
  wchar_t self[kWidePathCapacity] = {};
  GetModuleFileNameW(nullptr, self, kWidePathCapacity - 1);
  LogLine(log, L"start: launcher %s", self);
  DWORD major = 0, minor = 0, build = 0;
  WindowsVersion(&major, &minor, &build);
  LogLine(log, L"start: Windows %lu.%lu build %lu, %s, integrity %s, window station %s", major, minor, build,
          RunsUnderWow64() ? L"32-bit launcher under WOW64" : L"32-bit launcher on 32-bit Windows",
          IntegrityName(Hooks.readIntegrityLevel()),
          FailureBoxesCanBeSeen ? L"seen (boxes shown)" : L"seen by nobody (no boxes)");
  wchar_t arguments[kRunLogLineUnits];
  DescribeArguments(commandLine, arguments, kRunLogLineUnits);
  LogLine(log, L"start: arguments passed on: %s", arguments);
}

ExtractProgress TallyingProgress(ExtractionTally* tally, const ExtractProgress* inner) {
  ZeroMemory(tally, sizeof(*tally));
  tally->inner = inner;
  tally->startTick = Hooks.tickCount();
  ExtractProgress progress = {};
  progress.context = tally;
  progress.stage = OnStage;
  progress.entry = OnEntry;
  progress.bytes = OnBytes;
  progress.failed = OnFailed;
  return progress;
}

void LogExtraction(RunLog* log, const ExtractionTally& tally, bool extracted) {
  const DWORD took = Hooks.tickCount() - tally.startTick;
  if (extracted) {
    LogLine(log, L"extraction: %lu entries, %I64u bytes, in %lu ms", static_cast<unsigned long>(tally.count),
            tally.written, took);
    return;
  }
  if (!tally.failed) {
    LogFailure(log, L"extraction failed: the package resource was not found in the launcher");
    return;
  }
  const ExtractFailure& f = tally.failure;
  wchar_t system[256] = L"none";
  if (f.systemError) {
    wchar_t described[240];
    SystemErrorText(f.systemError, described, 240);
    StrFormatBounded(system, 256, L"%lu (%s)", static_cast<unsigned long>(f.systemError), described);
  }
  wchar_t cause[kRunLogLineUnits];
  if (f.entryNumber)
    StrFormatBounded(cause, kRunLogLineUnits,
                     L"extraction failed at entry %lu of %lu \"%s\": %s; reader status %d (%S); system error %s",
                     static_cast<unsigned long>(f.entryNumber), static_cast<unsigned long>(f.entryCount),
                     f.entryName, f.step, f.readerStatus, f.readerText ? f.readerText : "", system);
  else
    StrFormatBounded(cause, kRunLogLineUnits, L"extraction failed: %s; reader status %d (%S); system error %s",
                     f.step, f.readerStatus, f.readerText ? f.readerText : "", system);
  LogLine(log, L"extraction: %lu of %lu entries begun, %I64u bytes written, in %lu ms",
          static_cast<unsigned long>(tally.entries), static_cast<unsigned long>(tally.count), tally.written, took);
  LogFailure(log, cause);
}

namespace {

const wchar_t* HoldReasonText(HoldReason reason) {
  switch (reason) {
    case kHoldsByImage: return L"its image lies in the workspace";
    case kHoldsByDescent: return L"started from the installation, from the temporary folder or as a host";
    case kHoldsByCommandLine: return L"outside the job, its command line names the workspace";
  }
  return L"unknown";
}

// The image's last part ("Setup.exe"), or a word for an unknown image.
const wchar_t* ImageLeaf(const std::wstring& image) {
  if (image.empty()) return L"image unknown";
  const size_t slash = image.find_last_of(L"\\/");
  return image.c_str() + (slash == std::wstring::npos ? 0 : slash + 1);
}

void OnProcessSeen(void* context, const WaitedProcess& process) {
  auto* tally = static_cast<WaitTally*>(context);
  ++tally->seen;
  if (tally->named >= kRunLogWaitedProcesses) {
    if (tally->seen == kRunLogWaitedProcesses + 1)
      LogLine(tally->log, L"wait: more processes hold the workspace; they are counted, not named");
    return;
  }
  tally->names[tally->named++] = {process.id, process.created};
  LogLine(tally->log, L"wait: process %lu holds the workspace (%s%s): %s", process.id, HoldReasonText(process.reason),
          process.inJob || process.reason == kHoldsByCommandLine ? L"" : L", outside the job", process.image.empty() ? L"image unknown" : process.image.c_str());
}

void OnProcessEnded(void* context, const WaitedProcess& process, DWORD now) {
  auto* tally = static_cast<WaitTally*>(context);
  ++tally->ended;
  for (int i = 0; i < tally->named; ++i)
    if (tally->names[i].id == process.id && tally->names[i].created == process.created) {
      LogLine(tally->log, L"wait: process %lu (%s) has ended; waited for %lu ms", process.id, ImageLeaf(process.image),
              now - process.since);
      return;
    }
}

}  // namespace

WaitObserver LoggingWaitObserver(WaitTally* tally, RunLog* log) {
  ZeroMemory(tally, sizeof(*tally));
  tally->log = log;
  tally->startTick = Hooks.tickCount();
  return {OnProcessSeen, OnProcessEnded, tally};
}

void LogWaitEnd(const WaitTally& tally, WaitEnd end) {
  const DWORD took = Hooks.tickCount() - tally.startTick;
  switch (end) {
    case kWaitWithoutJob:
      LogLine(tally.log, L"wait: no job to list: only the installer was waited for");
      return;
    case kWaitNothingHolds:
      LogLine(tally.log,
              L"wait: nothing started from the installation holds the workspace any more, after %lu ms; %d "
              L"process(es) waited for",
              took, tally.seen);
      return;
    case kWaitCannotList:
      LogLine(tally.log,
              L"wait: the processes could not be listed any more after %lu ms; %d process(es) waited for, %d of "
              L"them still holding the workspace",
              took, tally.seen, tally.seen - tally.ended);
      return;
  }
}

void LogCleanUp(RunLog* log, bool removed, const TreeLeftover& leftover, int marked) {
  if (removed) {
    LogLine(log, L"clean-up: workspace removed");
    return;
  }
  if (leftover.entries > 0) {
    wchar_t text[240];
    SystemErrorText(leftover.error, text, 240);
    wchar_t first[kWidePathCapacity + 2];
    if (leftover.first[0]) StrFormatBounded(first, kWidePathCapacity + 2, L"\"%s\"", leftover.first);
    else StrCopyBounded(first, kWidePathCapacity + 2, L"the workspace folder itself");
    LogLine(log, L"clean-up: the workspace could not be removed whole: %d %s %s, error %lu (%s)",
            leftover.entries, leftover.entries == 1 ? L"entry stayed:" : L"entries stayed, the first", first,
            leftover.error, text);
  } else {
    LogLine(log, L"clean-up: the workspace could not be removed whole");
  }
  if (marked > 0)
    LogLine(log, L"clean-up: %d entr%s marked for removal at restart", marked, marked == 1 ? L"y" : L"ies");
  else if (marked == 0)
    LogLine(log, L"clean-up: nothing could be marked for removal at restart (only an administrator may mark)");
}

void LogFailure(RunLog* log, const wchar_t* text) {
  if (!log) return;
  StrCopyBounded(log->cause, kRunLogLineUnits, text);
  LogLine(log, L"%s", text);
}

bool ReportFailureToEventLog(const RunLog* log, int exitCode) {
  wchar_t text[kRunLogLineUnits + kWidePathCapacity + 96];
  StrFormatBounded(text, sizeof(text) / sizeof(text[0]),
                   L"Quillane setup failed with exit code %d: %s. Log: %s", exitCode,
                   log && log->cause[0] ? log->cause : L"cause unknown",
                   log && log->path[0] && log->file != INVALID_HANDLE_VALUE ? log->path : L"none");
  Flatten(text);
  const HANDLE source = RegisterEventSourceW(nullptr, L"Quillane Setup");
  if (!source) return false;
  LPCWSTR strings[1] = {text};
  const bool written =
      Hooks.reportEvent(source, EVENTLOG_ERROR_TYPE, 0, 1, nullptr, 1, 0, strings, nullptr) != FALSE;
  DeregisterEventSource(source);
  return written;
}

void LogExitCode(RunLog* log, int exitCode) {
  if (!log) return;
  log->closing = true;
  LogLine(log, L"exit: code %d (0x%08lx)", exitCode, static_cast<unsigned long>(exitCode));
  CloseRunLog(log);
}

void LogStartAttempts(RunLog* log, const StartAttempts& attempts, bool started) {
  if (attempts.failures > 0) {
    wchar_t first[200], last[200];
    SystemErrorText(attempts.firstError, first, 200);
    SystemErrorText(attempts.lastError, last, 200);
    LogLine(log, L"start: %d attempt(s) failed; first error %lu (%s), last error %lu (%s)", attempts.failures,
            attempts.firstError, first, attempts.lastError, last);
  }
  if (started) LogLine(log, L"start: installer started, process id %lu", attempts.processId);
}
