// Whether a thread of this process has ended, as the context table and the
// image locks judge it.
#pragma once
#include <windows.h>

enum class ThreadFate { Alive, Ended, Unknown };

// Opens the thread with THREAD_ALL_ACCESS, then THREAD_QUERY_INFORMATION,
// then THREAD_QUERY_LIMITED_INFORMATION. No handle: Ended. Otherwise reads
// its exit code: STILL_ACTIVE is Alive, any other code Ended, a failed query
// Unknown.
ThreadFate QueryThreadFate(DWORD threadId);
