// The two-clock timestamp: packing and elapsed time. No platform calls.
#include "launcher/timestamp.h"

#include <gtest/gtest.h>

namespace {

uint64_t Stamp(uint64_t tickMs, uint64_t micros) {
  return ((tickMs & kTimestampTickMask) << kTimestampMicroBits) | (micros & kTimestampMicroMask);
}

constexpr uint64_t kTickWrap = uint64_t{1} << 27;
constexpr uint64_t kMicroWrap = uint64_t{1} << 37;

struct ElapsedCase {
  const char* name;
  uint64_t earlier, later;
  double expected;
};

TEST(ElapsedSeconds, Table) {
  const ElapsedCase cases[] = {
      {"same stamp", Stamp(5000, 7000000), Stamp(5000, 7000000), 0.0},
      {"counter jumps an hour in 2 s: tick decides", Stamp(1000, 1000000),
       Stamp(3000, 3603000000ull), 2.0},
      {"50 ms by tick, 0.048 s by counter: counter decides", Stamp(1000, 1000000),
       Stamp(1050, 1048000), 0.048},
      {"tick field wrapped", Stamp(kTickWrap - 500, 1000000), Stamp(1500, 3000000), 2.0},
      {"counter field wrapped", Stamp(1000, kMicroWrap - 1000000), Stamp(3000, 1000000), 2.0},
      {"both wrapped", Stamp(kTickWrap - 250, kMicroWrap - 250000), Stamp(1750, 1750000), 2.0},
      {"no counter, 5 s: tick alone", Stamp(1000, 0), Stamp(6000, 0), 5.0},
      {"no counter, 50 ms: counter's 0 kept", Stamp(1000, 0), Stamp(1050, 0), 0.0},
      {"short by tick, counter claims a minute: tick", Stamp(1000, 0), Stamp(1040, 60000000), 0.04},
      {"short by tick, counter just under a minute", Stamp(1000, 0), Stamp(1040, 59999999),
       59.999999},
      {"agreement within 10 %", Stamp(0, 0), Stamp(10000, 10500000), 10.5},
      {"under a second, within a third", Stamp(0, 0), Stamp(500, 600000), 0.6},
      {"within a third but reaching a second: tick", Stamp(0, 0), Stamp(1000, 1250000), 1.0},
      {"beyond a third: tick", Stamp(0, 0), Stamp(300, 100000), 0.3},
      {"counter runs backwards (wraps): tick", Stamp(0, 5000000), Stamp(2000, 4000000), 2.0},
      {"ten seconds by both", Stamp(100, 100000), Stamp(10100, 10100000), 10.0},
  };
  for (const ElapsedCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_NEAR(ElapsedSeconds(c.earlier, c.later), c.expected, 1e-9);
  }
}

struct ComposeCase {
  const char* name;
  uint32_t tick;
  uint64_t counter, frequency;
  uint64_t tickField, microField;
};

TEST(ComposeTimestamp, Table) {
  const ComposeCase cases[] = {
      {"plain", 1234, 3000000, 1000000, 1234, 3000000},
      {"rounded to the nearest microsecond", 0, 15, 10000000, 0, 2},
      {"no counter: half a microsecond truncates to 0", 7, 0, 1000000, 7, 0},
      {"no frequency: infinite quotient gives 0", 7, 5, 0, 7, 0},
      {"neither: not a number gives 0", 7, 0, 0, 7, 0},
      {"tick beyond 27 bits keeps its low bits", 0x8000005u, 0, 1, 5, 0},
      {"microseconds beyond 37 bits keep their low bits", 1, (uint64_t{1} << 37) + 123, 1000000,
       1, 123},
      {"quotient beyond 64 bits is defined", 1, uint64_t{1} << 63, 1, 1, 0},
      {"largest counter, slowest frequency", 9, ~uint64_t{0}, 1, 9,
       // (2^64 - 1) * 1e6 rounds to 2^64 * 1e6 in double, a multiple of 2^37.
       0},
  };
  for (const ComposeCase& c : cases) {
    SCOPED_TRACE(c.name);
    const uint64_t stamp = ComposeTimestamp(c.tick, c.counter, c.frequency);
    EXPECT_EQ(stamp >> kTimestampMicroBits, c.tickField);
    EXPECT_EQ(stamp & kTimestampMicroMask, c.microField);
  }
}

TEST(ComposeTimestamp, RoundTripsThroughElapsed) {
  const uint64_t frequency = 3579545;  // the old ACPI timer rate
  const uint64_t a = ComposeTimestamp(100000, 1000 * frequency, frequency);
  const uint64_t b = ComposeTimestamp(112000, 1012 * frequency, frequency);
  EXPECT_NEAR(ElapsedSeconds(a, b), 12.0, 1e-6);
}

}  // namespace
