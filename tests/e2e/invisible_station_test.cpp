// A run on a window station nobody sees (a service's or a deployment tool's
// session), with the real stages: the launcher's packages are read from the
// test launchers' resources, unpacked into the real temporary folder,
// searched, checked by the trust service and removed again. Only the
// station's flags, the clock, the splash window and the shell's start are
// stood in for. No failure may show a box, and each must leave nothing
// behind and end with -99.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/launch_sequence.h"
#include "launcher/launcher_hooks.h"
#include "launcher/timestamp.h"
#include "splash/splash_window.h"
#include "tests/launcher/installer_fixtures.h"

namespace {

using installer_fixtures::TestFolder;

int Boxes = 0;
int StartAttempts = 0;
uint64_t NowMs = 1000;

BOOL WINAPI InvisibleStation(HANDLE, int index, PVOID information, DWORD length, LPDWORD needed) {
  if (index != UOI_FLAGS || length < sizeof(USEROBJECTFLAGS)) return FALSE;
  *static_cast<USEROBJECTFLAGS*>(information) = {};  // WSF_VISIBLE clear
  if (needed) *needed = sizeof(USEROBJECTFLAGS);
  return TRUE;
}
int WINAPI CountBox(HWND, LPCWSTR, LPCWSTR, UINT) {
  ++Boxes;
  return IDOK;
}
// Virtual time: the minute of the signature stage passes in moments.
void WINAPI VirtualSleep(DWORD ms) { NowMs += ms; }
uint64_t VirtualClock() {
  return ComposeTimestamp(static_cast<uint32_t>(NowMs), NowMs * 1000, 1000000);
}
BOOL WINAPI FailingStart(SHELLEXECUTEINFOW*) {
  ++StartAttempts;
  SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}
int PlainWindow(HINSTANCE) {
  SplashWindow = CreateWindowExW(0, L"STATIC", L"splash", WS_OVERLAPPED, 0, 0, 50, 50, nullptr,
                                 nullptr, nullptr, nullptr);
  return SplashWindow != nullptr;
}

// What stands in the temporary folder under the workspace's name and its
// variants.
std::vector<std::wstring> Workspaces() {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  wchar_t pattern[MAX_PATH];
  wsprintfW(pattern, L"%s_qln_setup_sfx_%08x*", temp, GetCurrentProcessId());
  std::vector<std::wstring> found;
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileW(pattern, &entry);
  if (search == INVALID_HANDLE_VALUE) return found;
  do found.push_back(entry.cFileName);
  while (FindNextFileW(search, &entry));
  FindClose(search);
  return found;
}

struct Road {
  const char* name;
  const wchar_t* launcher;  // whose package is used; null: none at all
  int startAttempts;
};

TEST(InvisibleStation, EveryFailureEndsWithoutABoxAndLeavesNothing) {
  const Road roads[] = {
      {"no payload", nullptr, 0},
      {"damaged package", L"damaged", 0},
      {"no installer", L"noinstaller", 0},
      {"signature never verifies", L"unsigned", 0},
      {"start fails", L"happy", 241},
  };
  ASSERT_TRUE(Workspaces().empty());
  for (const Road& road : roads) {
    SCOPED_TRACE(road.name);
    HMODULE module = GetModuleHandleW(nullptr);  // carries no package
    if (road.launcher) {
      const std::wstring path = TestFolder() + L"\\e2e\\" + road.launcher + L".exe";
      module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
      ASSERT_NE(module, nullptr);
    }
    Boxes = StartAttempts = 0;
    Hooks.getUserObjectInformation = InvisibleStation;
    Hooks.messageBox = CountBox;
    Hooks.sleep = VirtualSleep;
    Hooks.readTimestamp = VirtualClock;
    Hooks.shellExecuteEx = FailingStart;
    Stages.createSplashWindow = PlainWindow;

    const int code = LauncherMain(module, nullptr, const_cast<PWSTR>(L"/quiet"), SW_SHOW);

    Hooks = RealLauncherHooks();
    Stages = RealSequenceStages();
    FailureBoxesCanBeSeen = true;
    SplashWindow = nullptr;
    ModuleInstance = GetModuleHandleW(nullptr);
    if (road.launcher) FreeLibrary(module);
    EXPECT_EQ(code, -99);
    EXPECT_EQ(Boxes, 0);
    EXPECT_EQ(StartAttempts, road.startAttempts);
    const std::vector<std::wstring> left = Workspaces();
    EXPECT_TRUE(left.empty()) << "left in the temporary folder: "
                              << std::string(left[0].begin(), left[0].end());
    for (const std::wstring& name : left) {
      wchar_t temp[MAX_PATH] = {};
      GetTempPathW(MAX_PATH, temp);
      RemoveDirectoryW((std::wstring(temp) + name).c_str());
    }
  }
}

}  // namespace
