#include "imaging/thread_liveness.h"

#include "imaging/imaging.h"
#include "imaging/seams.h"
#include "support/owners.h"

namespace {

HANDLE OpenThreadForQuery(DWORD threadId) {
  static const DWORD kRights[] = {THREAD_ALL_ACCESS, THREAD_QUERY_INFORMATION,
                                  THREAD_QUERY_LIMITED_INFORMATION};
  for (DWORD rights : kRights) {
    HANDLE thread = OpenThread(rights, FALSE, threadId);
    if (thread) return thread;
  }
  return nullptr;
}

}  // namespace

ThreadFate QueryThreadFate(DWORD threadId) {
  HandleOwner thread(OpenThreadForQuery(threadId));
  if (!thread.h) return ThreadFate::Ended;
  // Preset to a code that is not STILL_ACTIVE, so that a query that fails
  // without writing cannot pass for a live thread.
  DWORD exitCode = 0xC0000008;
  if (threadId == ImagingSeams.unreadableExitCodeThread || !GetExitCodeThread(thread.h, &exitCode))
    return ThreadFate::Unknown;
  return exitCode == STILL_ACTIVE ? ThreadFate::Alive : ThreadFate::Ended;
}

bool IsThreadAlive(DWORD threadId) {
  if (threadId == 0) return false;
  return QueryThreadFate(threadId) == ThreadFate::Alive;
}
