#include "launcher/launcher_hooks.h"

#include <ntsecapi.h>

#include "launcher/process_query.h"
#include "launcher/signature.h"
#include "launcher/workspace.h"
#include "splash/message_pump.h"
#include "splash/splash_window.h"

LauncherHooks RealLauncherHooks() {
  LauncherHooks hooks;
  hooks.setStatusText = SetStatusText;
  hooks.showWindow = ShowWindow;
  hooks.pumpMessages = static_cast<int (*)(int, bool)>(PumpMessages);
  hooks.sleep = Sleep;
  hooks.tickCount = GetTickCount;
  hooks.readTimestamp = ReadTimestamp;
  hooks.messageBox = MessageBoxW;
  hooks.shellExecuteEx = ShellExecuteExW;
  hooks.readIntegrityLevel = ReadProcessIntegrity;
  hooks.createJobObject = CreateJobObjectW;
  hooks.assignProcessToJobObject = AssignProcessToJobObject;
  hooks.queryProcessImageName = QueryFullProcessImageNameW;
  hooks.moveFileEx = MoveFileExW;
  hooks.getUserObjectInformation = GetUserObjectInformationW;
  hooks.msgWaitForMultipleObjects = MsgWaitForMultipleObjects;
  hooks.processIdToSessionId = ProcessIdToSessionId;
  hooks.genRandom = SystemFunction036;  // RtlGenRandom, exported by advapi32
  hooks.reportEvent = ReportEventW;
  hooks.resolveFolderPath = ResolveFolderPath;
  hooks.openProcess = OpenProcess;
  hooks.readImageWithoutHandle = ReadImageWithoutHandle;
  return hooks;
}

LauncherHooks Hooks = RealLauncherHooks();

bool FailureBoxesCanBeSeen = true;

void NoteWhetherBoxesCanBeSeen() {
  DWORD session = 1;
  if (Hooks.processIdToSessionId(GetCurrentProcessId(), &session) && session == 0) {
    FailureBoxesCanBeSeen = false;
    return;
  }
  USEROBJECTFLAGS flags = {};
  DWORD needed = 0;
  HWINSTA station = GetProcessWindowStation();
  FailureBoxesCanBeSeen =
      !station ||
      !Hooks.getUserObjectInformation(station, UOI_FLAGS, &flags, sizeof(flags), &needed) ||
      (flags.dwFlags & WSF_VISIBLE) != 0;
}

void ShowFailureMessage(HWND owner, const wchar_t* caption, const wchar_t* text) {
  if (!FailureBoxesCanBeSeen) return;
  // The user may have closed the splash window. A box owned by a window
  // that is gone is refused, and a quit message in the queue (which the
  // window's end leaves there) ends a box as soon as it appears: the box is
  // then shown unowned, the quit message set aside until it is answered.
  if (owner && !IsWindow(owner)) owner = nullptr;
  MSG quit;
  const bool quitPending = PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != 0;
  Hooks.messageBox(owner, text, caption, kFailureBoxFlags);
  if (quitPending) PostQuitMessage(static_cast<int>(quit.wParam));
}
