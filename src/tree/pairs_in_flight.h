// Pairs in flight: while the walk compares and prints pair after pair, worker threads open, size
// and (for a pair of one small block) read the next pairs of the walk. The open and close latency
// of one pair then hides behind the work on another. Whatever a worker cannot finish cleanly goes
// back untouched, and the walk does that pair the normal way, with its prompts and messages.
#pragma once

#include <cstdint>

#include "base/run_state.h"
#include "compare/pair_sides.h"

struct PairJob;

// Pairs up to this size are read by the worker: the size where the pair's open and close, not its
// bytes, are what it costs.
constexpr uint32_t kPrefetchBytes = 65536;

// The workers for a folder run, or null when none can be made or `workers` is 0. At most twice
// as many pairs as workers are in flight at once.
PairPool* StartPairPool(uint32_t workers);
// Waits for every worker to end, closes what is still open and frees the pool.
void StopPairPool(PairPool* pool);

// A pair of the walk: the name behind the first `length` characters of each folder (which end in
// a backslash; the rest of the buffer is not read).
struct PairPaths {
    const wchar_t* folder1;
    size_t length1;
    const wchar_t* folder2;
    size_t length2;
    const wchar_t* name;
};

// Hands the pair to the workers. Null, with nothing started, when no job is free or the run is
// stopping: the walk then does the pair itself.
PairJob* QueuePair(PairPool* pool, const RunState& run, const PairPaths& paths);

// Waits for the job. What the worker found, or null when it declined: the walk then compares the
// pair the normal way. Null at once after a stop, with the job left to its worker. Either way the
// job goes back with ReleasePair.
PairSides* AwaitPair(PairPool* pool, PairJob* job);

// Closes what the comparison did not take and frees the job for another pair.
void ReleasePair(PairPool* pool, PairJob* job);

// How many workers a run gets: 12 where a side is a network share, else one per processor, at most
// 8; none for pairs that must be read one at a time (a side on a rotating disk) or a range that
// does not start at 0.
uint32_t PairWorkersFor(const RunState& run);
