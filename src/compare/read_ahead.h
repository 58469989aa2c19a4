// Read-ahead where every read waits a round trip (a network share): several blocks of each side
// are read at once, each at its own offset by a thread with a handle of its own, and the
// comparison takes them in order. Nothing is recovered here: a block that does not arrive whole
// is read again by the comparison the usual way, one block at a time, with its messages and
// prompts, so the listing and the verdict are those of a pair read block after block.
#pragma once

#include <cstdint>

#include "base/run_state.h"

// The run's read-ahead, made on first use: null where its threads or buffers cannot all be had,
// and the run then reads one block at a time.
ReadAhead* RunReadAhead(RunState* run);

// Ends the readers and frees what they used; what a reader that does not end may still write
// into stays.
void ReleaseReadAhead(RunState* run);

// Starts reading the current pair's blocks from `first` on. The pair's paths, open flags and
// range must stay as they are until StopReadAhead.
void StartReadAhead(ReadAhead* ahead, const RunState& run, uint64_t first);

// Waits for block `block` of both sides. True when both arrived whole: the compare buffers then
// point at them, with BytesRead set and nothing unread, until ReleaseAheadBlock. False when a side
// did not (a read failed or came short, or its handle could not be opened) or a stop came.
bool TakeAheadBlock(ReadAhead* ahead, uint64_t block, RunState* run);

// The block has been compared: its places may take later blocks.
void ReleaseAheadBlock(ReadAhead* ahead, uint64_t block);

// The readers finish the reads they are in and close their handles. False when a stop came
// before they did: they may still be reading, and the read-ahead must not be started again.
// `opened` tells whether every reader could open its handle.
bool StopReadAhead(ReadAhead* ahead, bool* opened);
