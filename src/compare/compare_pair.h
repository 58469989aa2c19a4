// Comparing one pair of files, volumes or disks byte by byte.
#pragma once

#include <cstdint>

#include "base/run_state.h"
#include "base/types.h"
#include "compare/pair_sides.h"

// Opens both sides (or takes those a worker opened, `ahead`), settles the compared range, skips
// a hard link already compared, compares block by block with the differences listed, prints the
// verdict and closes both sides. A pair skipped as a hard link counts in the run's HardLinks.
// `skipHardLinkCheck` is set when the pair must not be taken for hard links (a stream of a file).
CompareOutcome CompareFilePair(RunState* run, const wchar_t* path1, const wchar_t* path2, bool skipHardLinkCheck,
                               PairSides* ahead = nullptr);
