// Comparing one pair of files, volumes or disks byte by byte.
#pragma once

#include <cstdint>

#include "base/run_state.h"
#include "base/types.h"
#include "compare/file_identity.h"

// A pair that a worker opened, sized and perhaps read ahead of the walk (see tree/pairs_in_flight).
// The comparison takes from it what it would otherwise ask the system for, in the same order, so
// the pair's lines and outcome are those of a pair done from scratch.
struct PrefetchedPair {
    HANDLE handles[2];   // open, or INVALID_HANDLE_VALUE where the worker needed them no more
    uint32_t openFlags;  // the CreateFileW flags both handles were opened with
    uint64_t sizes[2];
    FileIdKey key;
    bool keyOk;        // the key was asked for and both identities read
    bool read;         // the whole pair is in `data`: a single block, equal sizes
    uint8_t* data[2];  // page-aligned, whole sectors long
    uint32_t delivered[2];
};

// Whether a pair's identities are asked: both volumes keep hard links.
bool PairKeyWanted(const RunState& run);

// Opens both sides, settles the compared range, skips a hard link already compared, compares
// block by block with the differences listed, prints the verdict and closes both sides.
// `hardLinkCounter` grows by one for a pair skipped as a hard link. `skipHardLinkCheck` is set
// when the pair must not be taken for hard links (a stream of a file).
CompareOutcome CompareFilePair(RunState* run, const wchar_t* path1, const wchar_t* path2, uint32_t* hardLinkCounter,
                               bool skipHardLinkCheck);
