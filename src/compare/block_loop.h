// The block loop of one pair: each block of the compared range planned (where it begins, how
// much is read, whether it lies in a hole), read on both sides, compared and listed, with the
// unread ranges named and the progress shown.
#pragma once

#include <cstdint>

#include "base/run_state.h"
#include "compare/allocated_ranges.h"
#include "compare/pair_sides.h"

// How the block loop ended. A pair of unknown length completes where a side ends; SizesDiffer
// when the other side went on (and -i was not given).
enum class LoopEnd { Completed, ReaderGaveUp, Stopped, ShortRead, SizesDiffer };

// What the loop found of one pair.
struct PairRun {
    uint64_t differences = 0;
    uint64_t unreadBytes = 0;      // of the compared range, on either side
    bool readBytesDiffer = false;  // a difference among bytes that both sides delivered
    bool sumDiffers = false;       // -c: the file, read whole, does not have its sum
    uint32_t startTime = 0;
    LoopEnd end = LoopEnd::Completed;
    uint64_t comparedTo = 0;        // where the compared bytes end, start offset included
    uint64_t sideEnds[2] = {};      // of a pair of unknown length: where each side ended or, if it
                                    // went on, the bytes it delivered; 0 while none ended
    uint64_t skippedBytes = 0;      // not compared: zero blocks (-sz, -sz1, -sz2), holes included
    uint64_t holeBytes = 0;         // of those, not even read: holes of a sparse side
    AllocatedRanges holes[2] = {};  // of the sides the option names
};

// The holes of the sparse sides that the option names, where the file system tells them. Files
// only, and only those still open: devices and the null device are read as they are.
void FindHoles(const RunState& run, PairRun* pair);

// Compares the blocks of the range that SettleRange fixed, reading through the run's handles or
// taking the bytes `sides` already holds.
void CompareBlocks(RunState* run, const PairSides& sides, PairRun* pair);
