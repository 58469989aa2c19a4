// Where a pair's sides come from: opened by the comparison itself, or by a worker of the walk
// ahead of it (tree/pairs_in_flight). Either way the comparison takes handles, sizes, identities
// and, for a small pair, its bytes from one structure, and runs the same way.
#pragma once

#include <cstdint>

#include "base/run_state.h"
#include "base/types.h"
#include "compare/file_identity.h"

struct PairSides {
    HANDLE handles[2];   // open, or INVALID_HANDLE_VALUE where no longer needed
    uint32_t openFlags;  // the CreateFileW flags both handles were opened with
    uint64_t sizes[2];   // kSizeUnknown for a device that tells none; 0 for the null device
    FileIdKey key;
    bool keyOk;        // both identities were asked for and read
    bool oneFile;      // proven to be one file under two names: one identity on one volume
    bool read;         // the whole pair is in `data`: a single block, equal sizes
    uint8_t* data[2];  // page-aligned, whole sectors long
    uint32_t delivered[2];
};

// Whether a tree pair's identities are asked: only a run whose volumes both keep hard links can
// meet a pair again.
bool PairKeyWanted(const RunState& run);

// Opens both sides with the run's flags as the pair's own in the run state, and reads into
// `sides` their sizes and, where a pair can come again or be one file, their identities. False,
// with its message printed and `failed` set (Missing or Unreadable), when a side cannot be opened
// or sized; what was opened is the pair's either way, and closed with it.
bool OpenPairSides(RunState* run, const wchar_t* const paths[2], bool skipHardLinkCheck, PairSides* sides,
                   CompareOutcome* failed);

// The sides become the pair's own in the run state, closed with it; the handles in `sides` are
// taken over.
void TakeSides(RunState* run, const wchar_t* const paths[2], PairSides* sides);

// Closes what the pair still holds open.
void CloseSides(RunState* run);
