// Read-ahead where every read waits a round trip (a network share): several blocks of each side
// are read at once, each at its own offset by a thread with a handle of its own, and the
// comparison takes them in order. Nothing is recovered here: a block that does not arrive whole
// is read again by the comparison the usual way, one block at a time, with its messages and
// prompts, so the listing and the verdict are those of a pair read block after block.
#pragma once

#include <cstdint>

#include "base/run_state.h"
#include "compare/block_source.h"

// The read-ahead source for the pair, where the run has a network side: its readers and buffers
// are made on first use and kept for the run. False where they cannot all be had (and the run
// then reads one block at a time).
bool OpenAheadSource(BlockSource* source);

Brought BringAheadBlock(BlockSource* source, uint64_t block, const BlockPlan& plan, BlockView* view);
void AheadBlockCompared(BlockSource* source, uint64_t block);
void CloseAheadSource(BlockSource* source);

// Ends the readers and frees what they used; what a reader that does not end may still write
// into stays.
void ReleaseReadAhead(BlockSources* sources);
