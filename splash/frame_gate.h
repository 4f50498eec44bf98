// A gate for display updates that may come faster than a screen shows them.
#pragma once
#include <cstdint>

// About one frame of a 60 Hz screen.
constexpr uint32_t kFrameGateMs = 16;

// The pace of a changing text: nobody reads faster, and each change of a
// window's title redraws its taskbar button and is announced (or queued) by
// screen readers.
constexpr uint32_t kReadingGateMs = 100;

// One gate per displayed value. Zero-filled: closed to nothing, so that the
// first update always passes.
struct FrameGate {
  uint32_t lastPass;  // tick (ms) of the last update let through
  bool passedOnce;
};

// True when an update at tick now may be shown: the first one, any with
// always set (a last value, a change of kind), and any other once
// intervalMs have passed since the last one let through. Ticks wrap.
bool PassGate(FrameGate* gate, uint32_t now, bool always, uint32_t intervalMs);

// PassGate at the pace of the screen, kFrameGateMs.
bool PassFrameGate(FrameGate* gate, uint32_t now, bool always);

// Opens the gate again for a new series (its first update passes).
void ResetFrameGate(FrameGate* gate);
