#include <windows.h>

#include <cstring>

#include "payload/extract_payload.h"
#include "support/fault_guard.h"

namespace {

constexpr int kNameUnits = MAX_PATH;

}  // namespace

int Utf8ToWide(wchar_t* dst, const char* src) {
  if (!src) return 0;
  int r = 0;
  if (!dst) {
    RunGuarded([&] { r = MultiByteToWideChar(CP_UTF8, 0, src, -1, nullptr, 0); });
    return r;
  }
  // A conversion that succeeds includes the terminator (the source length is
  // -1), so it ends within the 260 units; a failed one is redone below.
  if (!RunGuarded([&] { r = MultiByteToWideChar(CP_UTF8, 0, src, -1, dst, kNameUnits); })) r = 0;
  if (r == 0) {
    // Byte by byte, each byte widened as a signed 8-bit value.
    size_t count = strlen(src) + 1;
    if (count > kNameUnits) count = kNameUnits;
    for (size_t k = 0; k < count; ++k)
      dst[k] = static_cast<wchar_t>(static_cast<short>(static_cast<signed char>(src[k])));
    dst[count - 1] = 0;
    r = -1 - static_cast<int>(count);
  }
  return r;
}
