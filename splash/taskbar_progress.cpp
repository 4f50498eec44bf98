#include "splash/taskbar_progress.h"

#include "splash/frame_gate.h"

namespace {

// One progress display per process: the launcher has one window.
struct TaskbarState {
  HWND window;
  ITaskbarList3* list;
  bool comEntered;  // CoUninitialize is owed
  TBPFLAG state;
  uint64_t shownDone;
  FrameGate gate;
};

TaskbarState Taskbar = {};

ITaskbarList3* OpenRealTaskbar() {
  ITaskbarList3* list = nullptr;
  if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                              reinterpret_cast<void**>(&list))) || !list)
    return nullptr;
  if (FAILED(list->HrInit())) {
    list->Release();
    return nullptr;
  }
  return list;
}

void SetState(TBPFLAG state) {
  if (!Taskbar.list || Taskbar.state == state) return;
  Taskbar.state = state;
  Taskbar.list->SetProgressState(Taskbar.window, state);
}

}  // namespace

TaskbarSeam RealTaskbarSeam() {
  TaskbarSeam seam;
  seam.openTaskbar = OpenRealTaskbar;
  seam.tickCount = GetTickCount;
  return seam;
}

TaskbarSeam TaskbarHooks = RealTaskbarSeam();

void StartTaskbarProgress(HWND window) {
  if (!window || Taskbar.window) return;
  Taskbar = TaskbarState{};
  Taskbar.window = window;
  Taskbar.comEntered =
      SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
  Taskbar.list = TaskbarHooks.openTaskbar();
  Taskbar.state = TBPF_NOPROGRESS;
}

void ShowTaskbarProgress(uint64_t done, uint64_t total) {
  if (!Taskbar.list || total == 0) return;
  if (done > total) done = total;
  const bool series = Taskbar.state == TBPF_NORMAL;
  if (series && done == Taskbar.shownDone) return;
  if (!PassFrameGate(&Taskbar.gate, TaskbarHooks.tickCount(), !series || done == total)) return;
  SetState(TBPF_NORMAL);
  Taskbar.shownDone = done;
  Taskbar.list->SetProgressValue(Taskbar.window, done, total);
}

void ShowTaskbarWaiting() { SetState(TBPF_INDETERMINATE); }

void ClearTaskbarProgress() {
  SetState(TBPF_NOPROGRESS);
  ResetFrameGate(&Taskbar.gate);
}

void StopTaskbarProgress() {
  if (!Taskbar.window) return;
  ClearTaskbarProgress();
  if (Taskbar.list) Taskbar.list->Release();
  if (Taskbar.comEntered) CoUninitialize();
  Taskbar = TaskbarState{};
}
