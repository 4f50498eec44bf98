// Diagnostics and test seams of the imaging library, in one record.
// Production code never sets a seam; tests use them to force failures that a
// healthy machine does not produce, to shorten the library's waits and to run
// the resampler on its scalar references. No Windows headers, so that the
// pixel code reads the same record in its native builds: the fields are
// `long`, which is what Windows' LONG is, so the interlocked calls take them.
#pragma once

// Sabotage of one probe: the probe of rung probeSabotageLevel (SimdSse ...
// SimdSse41) executes an undefined instruction (ProbeSabotageFault) or
// computes with a wrong operand (ProbeSabotageWrongAnswer).
enum : long { ProbeSabotageNone = 0, ProbeSabotageFault = 1, ProbeSabotageWrongAnswer = 2 };

// A platform step of CreateImage to fail on purpose.
enum : long {
  CreateFailNone = 0,
  CreateFailDc = 1,           // CreateCompatibleDC
  CreateFailDib = 2,          // CreateDIBSection
  CreateFailDescription = 3,  // GetObjectW of the DIB section
  CreateFailBlock = 4,        // GlobalAlloc
};

// A platform step of ImportBitmap to fail on purpose.
enum : long {
  ImportFailNone = 0,
  ImportFailDibits = 1,  // GetDIBits converts nothing: the drawing road takes over
  ImportFailCopy = 2,    // CopyImage makes no scaled copy
};

// Where a lock and a destruction of the same image can cross: in LockImage
// after the geometry is read and before the lock is counted, and in
// DestroyImage after the storage is released and before the record is
// cleared.
enum class ImageCrossing { LockBeforeCount, DestroyBeforeClear };

// Waits of the image object, in milliseconds, in 20 ms steps.
struct ImageWaitTimes {
  long ownerWaitMs;  // for a foreign exclusive owner; 5,000 by default
  long lockWaitMs;   // for outstanding locks; 2,000 by default
};

struct ImagingSeamRecord {
  // Counters: how often the lock was initialised, how often StartImaging was
  // entered, and how often a start-up ran its probes.
  volatile long lockInitCount;
  volatile long startAttemptCount;
  volatile long probeRunCount;

  // Start-up and the per-thread context.
  volatile long probeSabotageLevel;
  volatile long probeSabotageMode;   // ProbeSabotage...
  volatile long tableAllocFailures;  // fail the context table's allocation this many more times
  volatile long mapBlockFailures;    // fail a thread's map block allocation this many more times
  // The exit code of the thread with this id cannot be read (0: none).
  volatile unsigned long unreadableExitCodeThread;

  // The image object.
  ImageWaitTimes imageWaits;
  volatile long createForcedFailure;  // CreateFail...
  // The next this many guarded writes to an image record (clearing it, or
  // releasing its storage) fault as if the record's memory had gone away.
  volatile long forcedRecordFaults;
  void (*volatile imageCrossingHook)(ImageCrossing point);  // called when set

  // Import and resampling.
  volatile long importForcedFailure;  // ImportFail...
  // KernelFor hands out the scalar references even where the SSE2 twins are
  // asked for, so that a whole resampling runs on the references.
  volatile bool referenceKernelsOnly;
};

extern ImagingSeamRecord ImagingSeams;
