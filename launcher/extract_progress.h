// The window's side of extraction: what ExtractPayload reports reaches the
// status text, the taskbar button and the message pump at the pace of the
// screen, not at the pace of the entries.
#pragma once
#include <cstdint>

#include "payload/extract_payload.h"
#include "splash/frame_gate.h"

// The window is pumped at least this often while extraction runs (between
// entries and between the pieces of one large entry), so that it repaints
// and answers the system. Not once per entry: under Wine an empty pump
// costs about 70 us and a status text about 270 us, where writing a small
// file takes about 120 us.
constexpr uint32_t kProgressPumpMs = 100;

// One extraction's display state; zero-filled before it starts.
struct ProgressPacer {
  FrameGate gate;         // the "Extracting file %i of %i" series, at reading pace
  uint32_t lastPump;      // tick (ms) at the end of the last pump
  uint32_t heldNumber;    // entry whose text was held back; 0 when none
  uint32_t heldCount;
};

// The progress record that shows extraction through Hooks on SplashWindow:
//  - each stage text at once, followed by a pump; an entry text held back
//    is shown first, so a failing entry's own number precedes the failure;
//  - "Extracting file %i of %i" at most once per kReadingGateMs, its first
//    and last always; one held back is shown at the first report after the
//    gate opens again, so the title trails by little more than that;
//  - the bytes written on the taskbar button;
//  - a pump whenever kProgressPumpMs have passed since the last one.
// The record points at pacer, which must outlive its use.
ExtractProgress PacedWindowProgress(ProgressPacer* pacer);
