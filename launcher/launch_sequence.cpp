#include "launcher/launch_sequence.h"

HINSTANCE ModuleInstance = nullptr;

// Placeholder until the stages land: the spine only records its instance.
int LauncherMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  ModuleInstance = instance;
  return -99;
}
