#include "splash/screen_dpi.h"

#include <windows.h>

#include "support/owners.h"

namespace {

// Set by the first GetScreenDpi that had a screen; never refreshed, so the
// picture and the window keep one scale for the life of the process.
int ScreenDpiCache = 0;

constexpr int kDpiStep = 24;

}  // namespace

int RoundScreenDpi(int rawDpi) {
  const int dpi = rawDpi / kDpiStep * kDpiStep;
  return dpi < kBaseDpi ? kBaseDpi : dpi;
}

int ScaleLengthForDpi(int length, int dpi) {
  if (length == 0) return 0;
  if (dpi == 0 || dpi == kBaseDpi) return length;
  return static_cast<int>(static_cast<double>(dpi) * length * (1.0 / kBaseDpi) + 0.5);
}

int GetScreenDpi() {
  if (ScreenDpiCache >= kBaseDpi) return ScreenDpiCache;
  WindowDcOwner screen(nullptr);
  if (!screen.dc) return ScreenDpiCache;
  ScreenDpiCache = RoundScreenDpi(GetDeviceCaps(screen.dc, LOGPIXELSX));
  return ScreenDpiCache;
}

int ScaleForDpi(int length) { return ScaleLengthForDpi(length, GetScreenDpi()); }
