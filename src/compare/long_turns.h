// Long turns on one drive: where both sides lie on the same drive, the blocks of a stretch of one
// side are read, then those of the other, so that a hard disk seeks once a turn instead of once a
// block. The comparison still takes block by block, with the same lines at the same offsets.
#pragma once

#include <cstdint>

#include "base/run_state.h"
#include "compare/block_source.h"

// One turn: up to kMostBlocks blocks of both sides, with what each read delivered.
struct LongTurn {
    static constexpr uint32_t kMostBlocks = 256;
    static constexpr uint64_t kTurnBytes = 16ull << 20;  // per side: a seek costs a few ms, 16 MiB 100
    // A whole turn read in less than this came at 1 GB/s or more: from no disk that seeks.
    static constexpr uint32_t kFastMs = 32;
    uint32_t capacity;  // blocks in the buffers
    uint8_t* data[2];   // capacity blocks each
    uint32_t bytesRead[2][kMostBlocks];
    bool whole[2][kMostBlocks];  // the side read the block whole; false also for a block not read
    UnreadRanges unread[2][kMostBlocks];
};

// The long-turns source. The pair's first two blocks are read alone, the second timed: where it
// came at memory speed (the page cache, a fast solid-state drive) the turns would save no seek and cost cache
// misses, and the pair is read block by block without their buffers ever being made.
Brought BringTurnBlock(BlockSource* source, uint64_t block, const BlockPlan& plan, BlockView* view);

void ReleaseTurn(BlockSources* sources);
