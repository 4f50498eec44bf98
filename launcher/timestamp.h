// The launcher's two-clock timestamp and the elapsed time between two of
// them. Pure arithmetic: no platform calls, so it also builds natively.
//
// A timestamp packs two readings taken at the same moment:
//   bits 0-36   microseconds from the high-resolution counter, modulo 2^37
//   bits 37-63  the tick count in milliseconds, modulo 2^27
// The tick count is coarse but steady; the counter is fine but may jump or
// be missing. ElapsedSeconds lets each vouch for the other.
#pragma once
#include <cstdint>

constexpr uint64_t kTimestampMicroBits = 37;
constexpr uint64_t kTimestampMicroMask = (uint64_t{1} << kTimestampMicroBits) - 1;
constexpr uint64_t kTimestampTickMask = (uint64_t{1} << 27) - 1;

// Packs a tick count (ms) and a counter reading with its frequency. The
// microseconds are counter * 1e6 / frequency + 0.5, truncated. A missing
// counter or frequency (0) gives a quotient that is not finite and a
// microsecond field of 0; a quotient too large for 64 bits keeps its value
// modulo 2^37, the same field a 64-bit conversion would have produced.
uint64_t ComposeTimestamp(uint32_t tickMs, uint64_t counter, uint64_t frequency);

// Seconds from earlier to later. Either field may have wrapped once between
// the two. The counter's figure is taken when it agrees with the tick
// count's (within 10 %, or 33.33 % below one second), or for intervals
// under 0.1 s by tick count unless it claims a minute or more; otherwise
// the tick count decides.
double ElapsedSeconds(uint64_t earlier, uint64_t later);
