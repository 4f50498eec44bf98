#include "launcher/launcher_hooks.h"

#include "launcher/signature.h"
#include "splash/message_pump.h"
#include "splash/splash_window.h"

LauncherHooks RealLauncherHooks() {
  LauncherHooks hooks;
  hooks.setStatusText = SetStatusText;
  hooks.showWindow = ShowWindow;
  hooks.pumpMessages = static_cast<int (*)(int, bool)>(PumpMessages);
  hooks.sleep = Sleep;
  hooks.readTimestamp = ReadTimestamp;
  hooks.messageBox = MessageBoxW;
  hooks.shellExecuteEx = ShellExecuteExW;
  return hooks;
}

LauncherHooks Hooks = RealLauncherHooks();

void ShowFailureMessage(HWND owner, const wchar_t* caption, const wchar_t* text) {
  Hooks.messageBox(owner, text, caption, kFailureBoxFlags);
}
