// The taskbar progress: what reaches the taskbar (through a stand-in that
// records every call), how often, and that a missing taskbar changes
// nothing.
#include <gtest/gtest.h>
#include <windows.h>
#include <shobjidl.h>

#include <string>
#include <vector>

#include "splash/frame_gate.h"
#include "splash/taskbar_progress.h"

namespace {

struct Call {
  std::string what;
  ULONGLONG done, total;
  bool operator==(const Call& o) const { return what == o.what && done == o.done && total == o.total; }
};

std::ostream& operator<<(std::ostream& out, const Call& c) {
  return out << c.what << "(" << c.done << "/" << c.total << ")";
}

// Records the progress calls; everything else answers E_NOTIMPL.
class RecordingTaskbar : public ITaskbarList3 {
 public:
  std::vector<Call> calls;
  HWND window = nullptr;
  LONG references = 1;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
  HRESULT STDMETHODCALLTYPE HrInit() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE AddTab(HWND) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DeleteTab(HWND) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ActivateTab(HWND) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetActiveAlt(HWND) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE MarkFullscreenWindow(HWND, BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetProgressValue(HWND w, ULONGLONG done, ULONGLONG total) override {
    window = w;
    calls.push_back({"value", done, total});
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetProgressState(HWND w, TBPFLAG state) override {
    window = w;
    const char* names[] = {"none", "busy", "normal", "?", "error", "?", "?", "?", "paused"};
    calls.push_back({state <= 8 ? names[state] : "?", 0, 0});
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE RegisterTab(HWND, HWND) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE UnregisterTab(HWND) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetTabOrder(HWND, HWND) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetTabActive(HWND, HWND, DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ThumbBarAddButtons(HWND, UINT, LPTHUMBBUTTON) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ThumbBarUpdateButtons(HWND, UINT, LPTHUMBBUTTON) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ThumbBarSetImageList(HWND, HIMAGELIST) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetOverlayIcon(HWND, HICON, LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetThumbnailTooltip(HWND, LPCWSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetThumbnailClip(HWND, RECT*) override { return E_NOTIMPL; }
};

RecordingTaskbar* Recorder;
DWORD Clock;

ITaskbarList3* OpenRecorder() {
  if (Recorder) Recorder->AddRef();
  return Recorder;
}
DWORD WINAPI ReadClock() { return Clock; }

class TaskbarProgress : public ::testing::Test {
 protected:
  RecordingTaskbar taskbar;
  HWND window = reinterpret_cast<HWND>(0x1234);
  void SetUp() override {
    Recorder = &taskbar;
    Clock = 1000;
    TaskbarHooks.openTaskbar = OpenRecorder;
    TaskbarHooks.tickCount = ReadClock;
  }
  void TearDown() override {
    StopTaskbarProgress();
    TaskbarHooks = RealTaskbarSeam();
    Recorder = nullptr;
  }
};

TEST_F(TaskbarProgress, ShowsUnpackingWaitingAndClears) {
  StartTaskbarProgress(window);
  ShowTaskbarProgress(0, 1000);
  Clock += 20;
  ShowTaskbarProgress(400, 1000);
  Clock += 20;
  ShowTaskbarProgress(1000, 1000);
  ClearTaskbarProgress();
  ShowTaskbarWaiting();
  ClearTaskbarProgress();
  StopTaskbarProgress();
  const std::vector<Call> expected = {
      {"normal", 0, 0}, {"value", 0, 1000},   {"value", 400, 1000}, {"value", 1000, 1000},
      {"none", 0, 0},   {"busy", 0, 0},       {"none", 0, 0},
  };
  EXPECT_EQ(taskbar.calls, expected);
  EXPECT_EQ(taskbar.window, window);
  EXPECT_EQ(taskbar.references, 1) << "the taskbar was not let go";
}

// Pieces come far faster than a screen shows them: at most one value per
// 16 ms gets through, and the first and the last always.
TEST_F(TaskbarProgress, ChangesAtMostOncePerFrame) {
  StartTaskbarProgress(window);
  const uint64_t total = 64 * 1000;
  for (uint64_t done = 0; done <= total; done += 64) {
    ShowTaskbarProgress(done, total);
    if (done % 1024 == 0) ++Clock;  // 1 ms per 16 pieces
  }
  ASSERT_GE(taskbar.calls.size(), 3u);
  EXPECT_EQ(taskbar.calls.front(), (Call{"normal", 0, 0}));
  EXPECT_EQ(taskbar.calls[1], (Call{"value", 0, total}));
  EXPECT_EQ(taskbar.calls.back(), (Call{"value", total, total}));
  // 63 ms of pieces: the first value, one per 16 ms, the last.
  EXPECT_LE(taskbar.calls.size(), 2u + 63 / kFrameGateMs + 1);
  EXPECT_GE(taskbar.calls.size(), 2u + 63 / kFrameGateMs);
  ULONGLONG previous = 0;
  for (size_t i = 1; i < taskbar.calls.size(); ++i) {
    EXPECT_GE(taskbar.calls[i].done, previous);
    previous = taskbar.calls[i].done;
  }
}

TEST_F(TaskbarProgress, RepeatsNothingAndStartsNoSecondSeries) {
  StartTaskbarProgress(window);
  StartTaskbarProgress(window);  // a second start changes nothing
  ShowTaskbarProgress(5, 10);
  Clock += 100;
  ShowTaskbarProgress(5, 10);  // the same value again
  ShowTaskbarProgress(12, 10);  // past the end: shown as the end
  ShowTaskbarProgress(10, 10);
  ShowTaskbarProgress(3, 0);  // nothing to show of an empty whole
  ShowTaskbarWaiting();
  ShowTaskbarWaiting();
  const std::vector<Call> expected = {
      {"normal", 0, 0}, {"value", 5, 10}, {"value", 10, 10}, {"busy", 0, 0}};
  EXPECT_EQ(taskbar.calls, expected);
}

TEST_F(TaskbarProgress, WithoutATaskbarNothingHappens) {
  Recorder = nullptr;  // the shell has no taskbar list
  StartTaskbarProgress(window);
  ShowTaskbarProgress(0, 10);
  ShowTaskbarWaiting();
  ClearTaskbarProgress();
  StopTaskbarProgress();
  EXPECT_TRUE(taskbar.calls.empty());
}

TEST_F(TaskbarProgress, BeforeStartAndAfterStopNothingHappens) {
  ShowTaskbarProgress(0, 10);
  ShowTaskbarWaiting();
  StartTaskbarProgress(nullptr);  // no window yet: no taskbar either
  ShowTaskbarProgress(1, 10);
  StartTaskbarProgress(window);
  StopTaskbarProgress();
  const size_t afterStop = taskbar.calls.size();
  ShowTaskbarProgress(2, 10);
  EXPECT_EQ(taskbar.calls.size(), afterStop);
  EXPECT_EQ(taskbar.references, 1);
}

// The real taskbar of this system, whatever it offers (under Wine: maybe
// nothing at all): a real window shows progress without a fault, and the
// thread's COM apartment is left as it was found.
TEST(RealTaskbar, MissingOrPresentChangesNothing) {
  HWND window = CreateWindowExW(0, L"STATIC", L"progress", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                200, 100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(window, nullptr);
  StartTaskbarProgress(window);
  ShowTaskbarProgress(0, 100);
  ShowTaskbarProgress(100, 100);
  ShowTaskbarWaiting();
  ClearTaskbarProgress();
  StopTaskbarProgress();
  // The thread holds no apartment any more: one of the other model can be
  // entered afresh. (Asking for the apartment type is no test: once any
  // thread of the process is in the multithreaded apartment, Wine reports
  // the implicit one for every thread that holds none.)
  const HRESULT again = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  EXPECT_EQ(again, S_OK);
  if (SUCCEEDED(again)) CoUninitialize();
  DestroyWindow(window);
}

TEST(FrameGate, PassesFirstLastAndOncePerFrame) {
  FrameGate gate = {};
  struct Step { uint32_t now; bool always; bool passes; };
  const Step steps[] = {
      {0xFFFFFFF8u, false, true},   // the first
      {0xFFFFFFFFu, false, false},  // 7 ms later
      {0x00000007u, false, false},  // 15 ms, across the wrap
      {0x00000008u, false, true},   // 16 ms
      {0x00000009u, true, true},    // always: a last value
      {0x0000000Au, false, false},
  };
  for (const Step& s : steps) EXPECT_EQ(PassFrameGate(&gate, s.now, s.always), s.passes) << s.now;
  ResetFrameGate(&gate);
  EXPECT_TRUE(PassFrameGate(&gate, 0x0000000Bu, false));
}

}  // namespace
