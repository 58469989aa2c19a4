// Transfer rates as short texts such as "512.0 MB/s".
#pragma once

#include <cstdint>

// Room for the longest rate text with its terminator.
constexpr int kSpeedTextChars = 32;

// Writes the rate of `bytes` in `milliseconds` (0 counts as 1) into `text`; returns its length.
int FormatSpeed(uint64_t bytes, uint32_t milliseconds, char* text);

// The same into one process-wide buffer, overwritten by the next call; main thread only.
const char* SpeedText(uint64_t bytes, uint32_t milliseconds);
