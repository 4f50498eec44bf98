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
  int (*check)(SignatureRound* round);
  int result;
  SignatureRound round;  // round.path points into path
  wchar_t path[kWidePathCapacity];
};

SignatureJob* NewJob(int (*check)(SignatureRound*), const SignatureRound& round) {
  auto* job = static_cast<SignatureJob*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(SignatureJob)));
  if (!job) return nullptr;
  job->holders = 2;
  job->check = check;
  job->result = kSignatureFailed;
  job->round = round;
  job->round.path = job->path;
  if (!round.path || StrCopyBounded(job->path, kWidePathCapacity, round.path) != kStrOk)
    job->path[0] = L'\0';
  return job;
}

// What the check set in the job's round, into the caller's.
void CopyRoundResult(const SignatureJob* job, SignatureRound* round) {
  round->trustResult = job->round.trustResult;
  CopyMemory(round->signer, job->round.signer, sizeof(round->signer));
  round->signer[kSignerUnits - 1] = L'\0';
}

void LetGo(SignatureJob* job) {
  if (InterlockedDecrement(&job->holders) == 0) HeapFree(GetProcessHeap(), 0, job);
}

// The check under a fault guard of its own: the entry point's guard covers
// only the sequence's thread. A path that did not fit is never checked. The
// round's file is closed as soon as the check is over, so that a finished
// worker holds nothing of the workspace.
int GuardedCheck(SignatureJob* job) {
  int result = kSignatureFailed;
  if (job->path[0] && !RunGuarded([&] { result = job->check(&job->round); })) result = kSignatureFailed;
  if (job->round.file) {
    CloseHandle(job->round.file);
    job->round.file = nullptr;
  }
  return result;
}

DWORD WINAPI SignatureWorker(void* parameter) {
  auto* job = static_cast<SignatureJob*>(parameter);
  job->result = GuardedCheck(job);
  LetGo(job);
  return 0;
}

// Waits for worker for up to one slice, serving the thread's messages.
// *wakeMask narrows once a quit message waits in the queue: the pump leaves
// it there for the outer loops, and it would wake the wait again at once,
// each time; from then on only messages sent by other threads, which must
// never be kept waiting, wake it. True when the worker has ended.
bool WaitOneSlice(HANDLE worker, DWORD* wakeMask) {
  const DWORD woke = Hooks.msgWaitForMultipleObjects(1, &worker, FALSE, kSignatureWaitSliceMs, *wakeMask);
  if (woke == WAIT_OBJECT_0) return true;
  if (woke == WAIT_FAILED) Hooks.sleep(kSignatureWaitSliceMs);  // never a busy loop
  if (Hooks.pumpMessages(0, false) == 0) *wakeMask = QS_SENDMESSAGE;
  return false;
}

}  // namespace

int RunSignatureCheck(int (*check)(SignatureRound*), SignatureRound* round,
                      bool (*keepWaiting)(void*), void* context, HANDLE* abandonedWorker) {
  if (!check || !round) {
    if (round && round->file) CloseHandle(round->file);
    return kSignatureFailed;
  }
  SignatureJob* job = NewJob(check, *round);
  if (!job) {
    if (round->file) CloseHandle(round->file);
    return kSignatureFailed;
  }
  round->file = nullptr;  // the job's now
  HandleOwner worker(CreateThread(nullptr, 0, SignatureWorker, job, 0, nullptr));
  if (!worker.h) {
    const int result = GuardedCheck(job);
    CopyRoundResult(job, round);
    HeapFree(GetProcessHeap(), 0, job);
    return result;
  }
  DWORD wakeMask = QS_ALLINPUT;
  for (;;) {
    if (WaitOneSlice(worker.h, &wakeMask)) {
      const int result = job->result;
      CopyRoundResult(job, round);
      LetGo(job);
      return result;
    }
    if (!keepWaiting || !keepWaiting(context)) {
      LetGo(job);
      if (abandonedWorker) {
        *abandonedWorker = worker.h;
        worker.h = nullptr;
      }
      return kSignatureAbandoned;
    }
  }
}

bool AwaitAbandonedCheck(HANDLE* worker, DWORD timeoutMs) {
  if (!worker || !*worker) return true;
  HandleOwner owned(*worker);
  *worker = nullptr;
  DWORD wakeMask = QS_ALLINPUT;
  const uint64_t start = Hooks.readTimestamp();
  for (;;) {
    if (WaitOneSlice(owned.h, &wakeMask)) return true;
    if (ElapsedSeconds(start, Hooks.readTimestamp()) * 1000.0 >= timeoutMs) return false;
  }
}
