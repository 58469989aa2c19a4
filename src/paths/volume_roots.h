// Where a path really lives: what a substituted or network drive letter stands for, the root of
// the volume that holds a path, and whether the first side of a file comparison exists.
#pragma once

#include <cstddef>

#include "base/types.h"

// The size of the buffers that receive QueryDosDeviceW answers.
constexpr int kDosDeviceChars = 260;

// The path without its "\\?\" prefix, with a substituted drive letter replaced by the folder it
// stands for and a network drive letter by the UNC name of its share; a local drive stays as it
// is. False, with ERROR_FILENAME_EXCED_RANGE and `out` empty, when the result does not fit
// `capacity` characters. `out` must not overlap `path`.
bool ResolveDrivePath(const wchar_t* path, wchar_t* out, size_t capacity = kPathChars);

// The root of the volume that holds `path` (as ResolveDrivePath gives it) with a trailing
// backslash: a drive root, a network drive's root, or the folder another volume is mounted on.
// False, with the thread's last error telling why, when there is none.
bool VolumeRootOf(const wchar_t* path, wchar_t* out, size_t capacity);

// Whether the first side of a file comparison exists: a device that opens, or a file or folder
// whose attributes can be read or that exists but may not be queried. A stream name on a volume
// without named streams never exists.
bool SourceFileExists(const wchar_t* path);
