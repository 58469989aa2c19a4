// Walking tree 1 and pairing every file with the file of the same relative path in tree 2.
#pragma once

#include <cstdint>

#include "base/run_state.h"
#include "base/types.h"

// A full path of tree 1 must stay below this many characters, and a call that enters a
// sub-folder below this depth.
constexpr int kMaxTreePathChars = 32768;
constexpr int kMaxTreeDepth = 1024;

// Sub-folders are entered and links reproduced: a folder run, until a path too long to go deeper.
bool Recursing(const RunState& run);

// Compares every file of `folder1` that matches `mask` with its namesake in `folder2`, and with
// recursion the sub-folders that tree 2 has as well. Both folders get a trailing backslash in
// place, so their buffers need room for one more character. Returns the pairs handed to the
// comparison plus the links reproduced, in this folder and below; each pair's outcome is counted
// in the run's ResultCounters. Paths are shown relative to the run's base folders. Files and
// folders that only tree 2 has are never reported.
uint32_t CompareFolderTree(RunState* run, wchar_t* folder1, const wchar_t* mask, wchar_t* folder2, int32_t depth);
