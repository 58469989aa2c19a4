// Drive letters: the letter a path begins with, the folder a substituted letter stands for, and
// the letter whose DOS device is a given NT device.
#pragma once

#include <cstddef>

#include "paths/path_strings.h"
#include "storage/device_queries.h"

// When the path's drive letter is a substitution for a folder of another drive, writes
// "\\?\" + that folder + the rest of the path to `out` and returns true. `out` may be `path`.
// A rewrite that would not fit `capacity` is refused: false with `*refused` set and `out` empty.
bool ResolveSubstDrive(const wchar_t* path, wchar_t* out, size_t capacity = kTopologyPathChars,
                       bool* refused = nullptr);

// The first present drive letter, A to Z, whose DOS device is exactly `ntDeviceName`; 0 for none.
wchar_t DriveLetterForDevice(const wchar_t* ntDeviceName);
