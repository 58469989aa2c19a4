// Sector sizes, the floppy test and, on systems before Vista, the volume GUID name behind a
// "\\.\HarddiskVolumeN" path. None prints; each falls back to a fixed answer when Windows refuses.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/types.h"

// The answer of every sector-size query that cannot tell.
constexpr uint32_t kDefaultSectorSize = 512;

// Bytes per sector of a raw device such as \\.\PhysicalDrive1, from its drive geometry.
uint32_t DeviceSectorSize(const wchar_t* devicePath);

// Bytes per sector of the drive `letter`.
uint32_t DriveSectorSize(wchar_t letter);

// True when `path` names a floppy drive: its root (A:\ or A:) or its volume GUID path. A file or
// folder below the root is not a floppy by this test.
bool IsFloppyPath(const wchar_t* path);

// In place: "\\.\HarddiskVolumeN" becomes "\\?\Volume{...}" (no trailing backslash) of the volume
// whose device is \Device\HarddiskVolumeN, the letters compared without regard to case. False,
// with the path unchanged, when no volume matches.
bool LegacyVolumeName(wchar_t* path, size_t capacity = kPathChars);
