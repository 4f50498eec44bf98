#include "splash/frame_gate.h"

bool PassGate(FrameGate* gate, uint32_t now, bool always, uint32_t intervalMs) {
  // Unsigned difference: right across the wrap of the tick count.
  if (gate->passedOnce && !always && now - gate->lastPass < intervalMs) return false;
  gate->lastPass = now;
  gate->passedOnce = true;
  return true;
}

bool PassFrameGate(FrameGate* gate, uint32_t now, bool always) {
  return PassGate(gate, now, always, kFrameGateMs);
}

void ResetFrameGate(FrameGate* gate) {
  gate->lastPass = 0;
  gate->passedOnce = false;
}
