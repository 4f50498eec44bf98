#include "splash/frame_gate.h"

bool PassFrameGate(FrameGate* gate, uint32_t now, bool always) {
  // Unsigned difference: right across the wrap of the tick count.
  if (gate->passedOnce && !always && now - gate->lastPass < kFrameGateMs) return false;
  gate->lastPass = now;
  gate->passedOnce = true;
  return true;
}

void ResetFrameGate(FrameGate* gate) {
  gate->lastPass = 0;
  gate->passedOnce = false;
}
