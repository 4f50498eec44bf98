// The program's Unicode GUI entry point.
#include <windows.h>

#include "launcher/launch_sequence.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR commandLine, int show) {
  return LauncherMain(instance, previous, commandLine, show);
}
