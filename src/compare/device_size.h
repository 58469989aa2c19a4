// Sizes of files, volumes and disks, and the rounding of reads to whole sectors.
#pragma once

#include <cstdint>

#include "platform/windows.h"

// The size in bytes behind an open handle; 0 when it cannot be told.
uint64_t SizeOfFileOrDevice(HANDLE handle);

// `multiple` is a power of two.
uint32_t RoundUp(uint32_t value, uint32_t multiple);
