// Listing the differing bytes of one block.
#pragma once

#include <cstdint>

// Listing stops after this many lines per block; counting goes on.
constexpr uint32_t kDiffLineLimit = 10000;

// Compares `length` bytes of the two buffers and lists every differing byte with its offset
// (`blockOffset` plus its place in the block, counted from the start offset of the pair) unless
// quiet. `compareLength`, the end of the pair's range, sets the width of the offsets. Returns the
// number of differing bytes. A stop request ends the scan within the block.
uint32_t DiffBlock(const uint8_t* buffer1, const uint8_t* buffer2, uint32_t length, uint64_t blockOffset,
                   uint64_t compareLength);

// One line, in the listing's offset format, for bytes [first, last] that side `side` (0 or 1)
// could not read: they are zero in its buffer, and listed lines among them are no data.
void PrintUnreadRange(uint64_t first, uint64_t last, int side, uint64_t compareLength);

// Whether all `length` bytes are zero, tested a cache line at a time.
bool IsAllZero(const uint8_t* bytes, uint32_t length);
