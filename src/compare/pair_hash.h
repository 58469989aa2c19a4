// The SHA-256 of side 1's bytes of a pair (-h), taken block by block on a thread of its own while
// the next block is read, so that no byte is read twice and the reading does not wait for the
// hashing. The block loop hands each block over once it is compared; a source must not overwrite
// a block's bytes before the hash of the block has taken them (AwaitBlockHash).
#pragma once

#include <cstdint>

#include "base/run_state.h"

// Whether the run hashes its pairs: to write their sums, or to check files against theirs.
inline bool HashesPairs(const RunState& run) { return run.sums.writer != nullptr || run.setup.CheckOnly; }

// A new hash for the pair; nothing without -h.
void StartPairHash(RunState* run);

// Hands `length` bytes at `data`, the next of side 1, to the hashing thread.
void HashBlock(RunState* run, const uint8_t* data, uint32_t length);

// Waits until the block handed over last has been taken. False when the hash failed or was
// abandoned after a stop.
void AwaitBlockHash(RunState* run);

// Ends the pair's hash: with every block of the range hashed, the digest goes to the pair
// (DigestReady). `whole`: the loop went through the whole range.
void FinishPairHash(RunState* run, bool whole);

// Ends the hashing thread.
void StopPairHashing(RunState* run);
