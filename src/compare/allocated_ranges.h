// The allocated ranges of a sparse file, read a window at a time as the comparison moves on, so
// that a block lying wholly in a hole need not be read: its bytes are zero by definition.
#pragma once

#include <cstdint>

#include "platform/windows.h"

struct AllocatedRanges {
    static constexpr uint32_t kWindow = 32;
    HANDLE handle;
    uint64_t fileEnd;
    bool active;  // the file system answered: holes are known
    bool more;    // ranges lie beyond the window
    uint32_t count;
    uint32_t next;  // the first range that may still reach the blocks ahead
    FILE_ALLOCATED_RANGE_BUFFER ranges[kWindow];
};

// Asks for the first window of ranges of [0, fileEnd). Inactive where the system does not answer.
void StartAllocatedRanges(AllocatedRanges* ranges, HANDLE handle, uint64_t fileEnd);

// Whether [begin, end) lies in no allocated range. Blocks are asked in ascending order.
bool InHole(AllocatedRanges* ranges, uint64_t begin, uint64_t end);
