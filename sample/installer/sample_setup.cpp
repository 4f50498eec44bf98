// Stand-in installer for the demo and the end-to-end tests.
#include <windows.h>
#include <cstdlib>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  const wchar_t* code = _wgetenv(L"QLN_SETUP_EXIT");
  return code ? _wtoi(code) : 0;
}
