// Loader hardening: the first act of the program.
#pragma once

// Restricts the search for DLLs loaded by name to the system folder and
// drops the current directory from it, so a DLL planted beside the program
// (a Downloads folder holds anyone's files) or in the current directory is
// never loaded. Call before anything can load a DLL.
void HardenDllSearch();
