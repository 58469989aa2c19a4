// The state of one run: what the run sequence sets up before the first pair, and what the
// comparison engine writes pair by pair. One plain structure, handed to every function that
// reads or writes it; only the main thread writes it, except where noted.
#pragma once

#include <cstdint>

#include "base/types.h"
#include "platform/windows.h"

struct FileIdList;
struct FolderOnPath;
struct PairPool;
struct PrefetchedPair;

constexpr uint32_t kDefaultBlockSize = 1048576;
constexpr uint32_t kDefaultOpenFlags = FILE_FLAG_NO_BUFFERING | FILE_FLAG_SEQUENTIAL_SCAN;
// Until the run has asked the drives of both sides.
constexpr uint32_t kUnknownSectorSize = 4096;

// Folder and mask of each side, their device forms and volume roots.
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

// The byte ranges of one block that a side could not read, [begin, end) from the block's start,
// in ascending order. Beyond kMost ranges the last one grows over what lies between: more is
// taken as unread, never less.
struct UnreadRanges {
    static constexpr uint32_t kMost = 64;
    uint32_t count;
    uint32_t begin[kMost];
    uint32_t end[kMost];
};

void AddUnreadRange(UnreadRanges* ranges, uint32_t begin, uint32_t end);

struct RunState {
    // The two path arguments, rewritten in place as the run sets them up.
    PathBuffer path1;
    PathBuffer path2;
    RunPaths paths;
    // The root folders of a folder run, in the long-path form with a trailing backslash; paths
    // are shown relative to them.
    PathBuffer BaseFolder1;
    PathBuffer BaseFolder2;

    // Set before the first pair.
    uint32_t BlockSize;
    uint8_t* CompareBuffers[2];  // BlockSize + 1 bytes each in whole pages, zero when reserved
    uint32_t SectorSize1;
    uint32_t SectorSize2;
    bool ParallelReads;
    bool Side1IsNull;
    bool Side2IsNull;
    bool HardLinkSupport1;
    bool HardLinkSupport2;
    FileIdList* FileIdLists[2];  // null for a side whose volume has no hard links

    // CreateFileW flags of every open; a reader drops FILE_FLAG_NO_BUFFERING for the rest of the
    // run when a volume refuses unbuffered reads.
    uint32_t OpenFlags;

    // The pair being compared. Each reader may replace its own handle, reopened from its path,
    // while the main thread waits, and writes its own BytesRead and Unread.
    HANDLE SideHandle1;
    HANDLE SideHandle2;
    // The CreateFileW flags each side's handle has: a volume that refuses unbuffered reads refuses
    // them to every handle opened with FILE_FLAG_NO_BUFFERING, not only to the first to meet it.
    uint32_t SideOpenFlags[2];
    const wchar_t* Side1Path;
    const wchar_t* Side2Path;
    uint64_t CompareLength;  // end of the compared range, start offset included
    // A device side told no length: CompareLength is only a bound, the pair ends where a side
    // ends, and CompareLength becomes that end.
    bool LengthUnknown;
    uint32_t CompareLengthMiB;
    uint64_t BlockCount;
    // Bytes the last successful read of each side delivered for the current block. A block read
    // sector by sector counts as whole: its unreadable sectors are zero.
    uint32_t BytesRead[2];
    // What each side could not read of the current block; those bytes are zero in its buffer.
    UnreadRanges Unread[2];
    // Where the current block begins in both sides: the engine knows it, so nothing asks the file
    // position, which could fail and send every later read to the wrong place.
    uint64_t BlockPosition;

    // Run totals.
    uint64_t BytesComparedTotal;
    uint32_t LastProgressTime;   // ms since the start of a pair; never reset between pairs
    uint64_t SkippedBytes;       // not compared: zero blocks left out by -sz, -sz1 or -sz2
    uint64_t HoleBytes;          // of those, not read at all: holes of sparse files
    uint32_t ResultCounters[5];  // indexed by CompareOutcome
    uint32_t FoldersMissing;     // tree-1 folders that tree 2 lacks
    uint32_t FoldersUnreadable;  // tree-1 folders that could not be listed to their end
    uint32_t LinksFailed;        // links that could not be read or reproduced in tree 2
    bool WorkStopped;            // the comparison ended early (a limit, Ctrl+C, Esc)

    // Pairs in flight: the workers of a folder run (null for one pair at a time), and the pair
    // that the comparison now takes from them (null when it opens the pair itself).
    PairPool* Pool;
    PrefetchedPair* Prefetched;
    bool FolderRun;  // pairs of a tree walk, not the one pair of the command line
    // The tree-1 folders from the root to the one being walked, innermost first (tree/tree_walk).
    const FolderOnPath* FolderPath;
};

// Puts every field to how a new process starts. Releases nothing: see ReleaseRunResources.
void SetRunStateDefaults(RunState* run);

inline bool SideIsNull(const RunState& run, int side) { return side == 0 ? run.Side1IsNull : run.Side2IsNull; }

// The larger sector size of the two sides: what every unbuffered read must be a multiple of.
inline uint32_t LargerSectorSize(const RunState& run) {
    return run.SectorSize1 > run.SectorSize2 ? run.SectorSize1 : run.SectorSize2;
}
