#include "launcher/launcher_hooks.h"
#include "launcher/signature.h"
#include "support/fault_guard.h"
#include "support/owners.h"
#include "support/path_utils.h"

namespace {

// One check handed to a worker. Shared by the waiting thread and the
// worker; each lets go once, and the last one frees it, so that a wait given
// up early leaves the worker nothing that is gone.
struct SignatureJob {
  volatile LONG holders;
  int (*check)(const wchar_t* path);
  int result;
  wchar_t path[kWidePathCapacity];
};

SignatureJob* NewJob(int (*check)(const wchar_t*), const wchar_t* path) {
  auto* job = static_cast<SignatureJob*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(SignatureJob)));
  if (!job) return nullptr;
  job->holders = 2;
  job->check = check;
  job->result = kSignatureFailed;
  if (StrCopyBounded(job->path, kWidePathCapacity, path) != kStrOk) job->path[0] = L'\0';
  return job;
}

void LetGo(SignatureJob* job) {
  if (InterlockedDecrement(&job->holders) == 0) HeapFree(GetProcessHeap(), 0, job);
}

// The check under a fault guard of its own: the entry point's guard covers
// only the sequence's thread. A path that did not fit is never checked.
int GuardedCheck(SignatureJob* job) {
  int result = kSignatureFailed;
  if (job->path[0] && !RunGuarded([&] { result = job->check(job->path); })) result = kSignatureFailed;
  return result;
}

DWORD WINAPI SignatureWorker(void* parameter) {
  auto* job = static_cast<SignatureJob*>(parameter);
  job->result = GuardedCheck(job);
  LetGo(job);
  return 0;
}

}  // namespace

int RunSignatureCheck(int (*check)(const wchar_t*), const wchar_t* path,
                      bool (*keepWaiting)(void*), void* context) {
  if (!check || !path) return kSignatureFailed;
  SignatureJob* job = NewJob(check, path);
  if (!job) return kSignatureFailed;
  HandleOwner worker(CreateThread(nullptr, 0, SignatureWorker, job, 0, nullptr));
  if (!worker.h) {
    const int result = GuardedCheck(job);
    HeapFree(GetProcessHeap(), 0, job);
    return result;
  }
  // Every kind of message wakes the wait, until a quit message waits in the
  // queue: the pump leaves it there for the outer loops, and it would wake
  // the wait again at once, each time. From then on only messages sent by
  // other threads, which must never be kept waiting, wake it.
  DWORD wakeMask = QS_ALLINPUT;
  for (;;) {
    const DWORD woke =
        Hooks.msgWaitForMultipleObjects(1, &worker.h, FALSE, kSignatureWaitSliceMs, wakeMask);
    if (woke == WAIT_OBJECT_0) {
      const int result = job->result;
      LetGo(job);
      return result;
    }
    if (woke == WAIT_FAILED) Hooks.sleep(kSignatureWaitSliceMs);  // never a busy loop
    if (Hooks.pumpMessages(0, false) == 0) wakeMask = QS_SENDMESSAGE;
    if (!keepWaiting || !keepWaiting(context)) {
      LetGo(job);
      return kSignatureAbandoned;
    }
  }
}
