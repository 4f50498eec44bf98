// The launcher's spine: the entry point and the main sequence of stages.
#pragma once
#include <windows.h>

// Module instance handle of the program, written once by LauncherMain.
extern HINSTANCE ModuleInstance;

// The Unicode GUI entry point's work. Returns the process exit code.
int LauncherMain(HINSTANCE instance, HINSTANCE previous, PWSTR commandLine, int show);
