// The screen's DPI as the splash picture uses it, and lengths scaled to it.
#pragma once

// The DPI at which a picture is shown at its own size: the system's 100 %.
constexpr int kBaseDpi = 96;

// The horizontal screen DPI, read once per process: a multiple of 24, at
// least 96; 0 only while no screen device context could be had.
int GetScreenDpi();

// length, scaled from 96 DPI to GetScreenDpi(), halves rounded up.
int ScaleForDpi(int length);

// The steps of those two, for any DPI: the raw DPI rounded down to a
// multiple of 24 and raised to 96 at least; length scaled from 96 to dpi
// (dpi 0 or 96: unchanged).
int RoundScreenDpi(int rawDpi);
int ScaleLengthForDpi(int length, int dpi);
