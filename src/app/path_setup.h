// Turning the two path arguments into what the comparison needs: full paths, folder and mask of
// each side, device forms, volume roots, and the run state that depends on them (parallel
// reading, hard links, sector sizes, block size, compare buffers).
#pragma once

#include <cstdint>

#include "base/types.h"
#include "platform/windows.h"
#include "tree/tree_walk.h"

// Exit codes of the program. 11 and 12 are this program's own additions: a run that could not
// read everything must never look verified, and a run that cannot get its buffers must say so.
enum ExitCode : int {
    kExitIdentical = 0,
    kExitDifferent = 1,
    kExitUsage = 2,
    kExitBadArguments = 3,
    kExitPath1Invalid = 4,
    kExitPath2Invalid = 5,
    kExitVolume1Unreadable = 6,
    kExitVolume2Unreadable = 7,
    kExitRecursion = 8,
    kExitMissing = 9,
    kExitSourceFolderMissing = 10,
    kExitIncomplete = 11,
    kExitNoMemory = 12,
};

struct RunPaths {
    PathBuffer mask1;
    PathBuffer mask2;
    PathBuffer folder1;
    PathBuffer folder2;
    wchar_t volumeRoot1[MAX_PATH + 1];
    wchar_t volumeRoot2[MAX_PATH + 1];
    bool device1;
    bool device2;
};

extern RunPaths Paths;

// In place: a folder path becomes a search mask for everything in it.
void MakeFolderMask(wchar_t* path, size_t capacity = kPathChars);

// `multiple` is a power of two.
uint64_t RoundUp64(uint64_t value, uint64_t multiple);

// Sets up `path1` and `path2` (rewritten in place) and the run state. -1 when the run goes on,
// else the exit code, its message printed.
int SetUpPaths(wchar_t* path1, wchar_t* path2);
