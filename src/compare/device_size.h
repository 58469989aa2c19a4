// Sizes of files, volumes and disks, and the rounding of reads to whole sectors.
#pragma once

#include <cstdint>

#include "platform/windows.h"

// What SizeOfFileOrDevice answers for a device that tells no length: only reading to its end
// finds it.
constexpr uint64_t kSizeUnknown = UINT64_MAX;

// The size in bytes behind an open handle. 0 when a file's size cannot be told; for a `device`
// (a volume or disk, not the null device) kSizeUnknown, and a reported size of 0 counts as untold.
uint64_t SizeOfFileOrDevice(HANDLE handle, bool device);

// `multiple` is a power of two.
uint32_t RoundUp(uint32_t value, uint32_t multiple);
