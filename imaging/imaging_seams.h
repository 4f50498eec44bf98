// Diagnostics and test seams of the imaging library. Production code never
// sets a seam; tests use them to force failures that a healthy machine does
// not produce and to shorten the library's waits.
#pragma once
#include <windows.h>
#include <cstdint>

// Runs the processor ladder and returns the highest rung whose probes all
// pass, without touching SimdLevel. StartImaging stores its answer.
int32_t MeasureSimdLevel();

// Sabotage of one probe: the probe of rung ProbeSabotageLevel (SimdSse ...
// SimdSse41) executes an undefined instruction (ProbeSabotageFault) or
// computes with a wrong operand (ProbeSabotageWrongAnswer).
enum : LONG { ProbeSabotageNone = 0, ProbeSabotageFault = 1, ProbeSabotageWrongAnswer = 2 };
extern volatile LONG ProbeSabotageLevel;
extern volatile LONG ProbeSabotageMode;

// Counters: how often the lock was initialised, how often StartImaging was
// entered, and how often a start-up ran its probes.
extern volatile LONG LockInitCount;
extern volatile LONG StartAttemptCount;
extern volatile LONG ProbeRunCount;

// Waits of the image object, in milliseconds. Defaults: 5,000 for a foreign
// exclusive owner, 2,000 for outstanding locks, in 20 ms steps.
struct ImageWaitTimes {
  LONG ownerWaitMs;
  LONG lockWaitMs;
};
extern ImageWaitTimes ImageWaits;

// A platform step of CreateImage to fail on purpose.
enum : LONG {
  CreateFailNone = 0,
  CreateFailDc = 1,           // CreateCompatibleDC
  CreateFailDib = 2,          // CreateDIBSection
  CreateFailDescription = 3,  // GetObjectW of the DIB section
  CreateFailBlock = 4,        // GlobalAlloc
};
extern volatile LONG CreateForcedFailure;

// Fails the table allocation of CurrentThreadContext this many more times.
extern volatile LONG TableAllocFailures;

// The next this many guarded writes to an image record (clearing it, or
// releasing its storage) fault as if the record's memory had gone away.
extern volatile LONG ForcedRecordFaults;

// Called inside the guarded record writes: faults while ForcedRecordFaults
// is above zero, counting it down.
void FaultIfForced();

// The exit code of the thread with this id cannot be read (0: none).
extern volatile DWORD UnreadableExitCodeThread;

// Called, when set, where a lock and a destruction of the same image can
// cross: in LockImage after the geometry is read and before the lock is
// counted, and in DestroyImage after the storage is released and before the
// record is cleared.
enum class ImageCrossing { LockBeforeCount, DestroyBeforeClear };
extern void (*volatile ImageCrossingHook)(ImageCrossing point);

// Fails the allocation of a thread's sampling map block this many more times.
extern volatile LONG MapBlockFailures;
