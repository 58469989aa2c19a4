// Sizes of files, volumes and disks, and the rounding of reads to whole sectors.
#pragma once

#include <cstdint>

#include "platform/windows.h"

// What SizeOfFileOrDevice answers for a device that tells no length: only reading to its end
// finds it.
constexpr uint64_t kSizeUnknown = UINT64_MAX;

// The size in bytes behind an open handle; kSizeUnknown when it cannot be told, with the thread's
// last error saying why. For a `device` (a volume or disk, not the null device) a reported size of
// 0 counts as untold, and untold means reading to its end; a file whose size cannot be told cannot
// be compared.
uint64_t SizeOfFileOrDevice(HANDLE handle, bool device);

// `multiple` is a power of two.
uint32_t RoundUp(uint32_t value, uint32_t multiple);
