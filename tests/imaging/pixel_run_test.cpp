// CopyPixelRun: exact bytes at every length and alignment, nothing beyond.
// Windows-free: it also runs natively under the sanitizers.
#include "imaging/pixels/pixel_run.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

TEST(CopyPixelRun, EveryLengthAndAlignment) {
  constexpr size_t kPad = 32;
  for (size_t count : {0, 1, 4, 15, 16, 31, 32, 33, 47, 48, 64, 100, 257, 4096 + 12}) {
    for (size_t toShift = 0; toShift < 16; toShift += 3) {
      for (size_t fromShift = 0; fromShift < 16; fromShift += 5) {
        std::vector<uint8_t> from(count + 2 * kPad), to(count + 2 * kPad, 0xEE);
        for (size_t i = 0; i < from.size(); ++i) from[i] = static_cast<uint8_t>(i * 7 + 1);
        CopyPixelRun(to.data() + kPad + toShift, from.data() + kPad + fromShift, count);
        for (size_t i = 0; i < to.size(); ++i) {
          const bool inside = i >= kPad + toShift && i < kPad + toShift + count;
          const uint8_t expected = inside ? from[i - toShift + fromShift] : 0xEE;
          ASSERT_EQ(to[i], expected)
              << "count " << count << ", shifts " << toShift << "/" << fromShift << ", byte " << i;
        }
      }
    }
  }
}
