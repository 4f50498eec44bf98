#include "launcher/handover.h"

#include <shellapi.h>

#include "launcher/launch_sequence.h"
#include "launcher/launcher_hooks.h"
#include "support/path_utils.h"
#include "splash/splash_window.h"
#include "support/owners.h"

namespace {

// Start errors the MinGW headers do not name.
constexpr DWORD kErrorVirusInfected = 225;               // ERROR_VIRUS_INFECTED
constexpr DWORD kErrorIntegrityPolicyViolation = 4551;   // ERROR_SYSTEM_INTEGRITY_POLICY_VIOLATION
constexpr DWORD kErrorMachineTypeMismatch = 216;         // ERROR_EXE_MACHINE_TYPE_MISMATCH
constexpr DWORD kErrorSideBySideConfiguration = 14001;   // ERROR_SXS_CANT_GEN_ACTCTX
constexpr DWORD kErrorInvalidImageHash = 577;            // ERROR_INVALID_IMAGE_HASH

constexpr wchar_t kUnableToRun[] =
    L"Setup was unable to run the installer binary 'Setup.exe'.\n"
    L"The following error was returned by the system:\n\n";
constexpr wchar_t kUnableToFind[] =
    L"Setup was unable to find the installer binary 'Setup.exe'.\n"
    L"It may have been deleted by background software services.\n"
    L"The following error was returned by the system:\n\n";

// Starts the installer, retrying as the shell fails, unless the failure is
// final. Returns true once an attempt succeeded; on false, *error holds the
// last attempt's error.
bool StartInstaller(SHELLEXECUTEINFOW* launch, DWORD* error, StartAttempts* attempts) {
  for (int attempt = 0;; ++attempt) {
    if (Hooks.shellExecuteEx(launch)) return true;
    *error = GetLastError();
    if (attempts->failures++ == 0) attempts->firstError = *error;
    attempts->lastError = *error;
    if (attempt == kStartRetries || IsFinalStartError(*error)) return false;
    Hooks.pumpMessages(250, true);
    Hooks.sleep(250);
  }
}

// Waits until the installer's process has ended, polling at the pump's
// cadence, and returns its exit code (STILL_ACTIVE when that cannot be
// read). The process handle decides, not the exit code: an installer that
// itself exits with 259 (STILL_ACTIVE), or an exit-code query that fails,
// would otherwise keep the launcher waiting for ever. A handle that cannot
// be waited on ends the wait as well.
DWORD WaitForInstaller(HANDLE process) {
  do {
    Hooks.pumpMessages(250, true);
    Hooks.sleep(250);
  } while (WaitForSingleObject(process, 0) == WAIT_TIMEOUT);
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(process, &code);
  return code;
}

}  // namespace

bool IsFinalStartError(DWORD error) {
  switch (error) {
    case ERROR_CANCELLED:                  // 1223
    case ERROR_ACCESS_DISABLED_BY_POLICY:  // 1260
    case kErrorIntegrityPolicyViolation:   // 4551
    case kErrorVirusInfected:              // 225
    case ERROR_BAD_EXE_FORMAT:             // 193
    case kErrorMachineTypeMismatch:        // 216
    case kErrorSideBySideConfiguration:    // 14001
    case kErrorInvalidImageHash:           // 577
      return true;
  }
  return false;
}

int ExitCodeForStartError(DWORD error) {
  return error == ERROR_CANCELLED ? static_cast<int>(ERROR_CANCELLED) : kLauncherFailureCode;
}

void ComposeInstallerParameters(wchar_t* buffer, const wchar_t* commandLine) {
  StrFormatBounded(buffer, kParameterCapacity, L" %s", commandLine ? commandLine : L"");
  TrimBlanks(buffer);
}

void ComposeInstallerError(wchar_t* buffer, const wchar_t* installer, DWORD error) {
  StrCopyBounded(buffer, kParameterCapacity, FileExists(installer) ? kUnableToRun : kUnableToFind);
  size_t length = 0;
  StrLengthBounded(buffer, kParameterCapacity, &length);
  if (length + 32 >= kParameterCapacity) return;
  FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                 buffer + length, static_cast<DWORD>(kParameterCapacity - length), nullptr);
  buffer[kParameterCapacity - 1] = L'\0';
}

int HandOverToInstaller(const wchar_t* installer, const wchar_t* commandLine, HANDLE* verifiedFile,
                        DWORD* exitCode, StartAttempts* attempts) {
  StartAttempts unused;
  if (!attempts) attempts = &unused;
  ZeroMemory(attempts, sizeof(*attempts));
  const HWND window = SplashWindow;
  ComApartment com(COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);

  wchar_t buffer[kParameterCapacity] = {};
  ComposeInstallerParameters(buffer, commandLine);

  SHELLEXECUTEINFOW launch = {};
  launch.cbSize = sizeof(launch);
  launch.fMask = kLaunchMask;
  launch.hwnd = window;
  launch.lpVerb = L"open";
  launch.lpFile = installer;
  launch.lpParameters = buffer;
  launch.lpDirectory = nullptr;
  launch.nShow = SW_SHOW;

  DWORD error = 0;
  const bool started = StartInstaller(&launch, &error, attempts);
  // The start is over: the file the check verified has been mapped for the
  // new process, or will not be started at all.
  if (verifiedFile && *verifiedFile != INVALID_HANDLE_VALUE) {
    CloseHandle(*verifiedFile);
    *verifiedFile = INVALID_HANDLE_VALUE;
  }
  if (!started) {
    ComposeInstallerError(buffer, installer, error);
    ShowFailureMessage(window, kInstallerErrorCaption, buffer);
    if (exitCode) *exitCode = error;
    return 0;
  }

  HandleOwner process(launch.hProcess);
  attempts->processId = launch.hProcess ? GetProcessId(launch.hProcess) : 0;
  Hooks.showWindow(window, SW_HIDE);
  const DWORD code = WaitForInstaller(process.h);
  if (exitCode) *exitCode = code;
  return 1;
}
