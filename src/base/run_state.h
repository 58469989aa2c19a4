// The state of one run, grouped by meaning: what the setup decides once, the pair being compared,
// and the counters. One plain structure, handed to every function that reads or writes it; only
// the main thread writes it, except where noted.
#pragma once

#include <cstdint>

#include "base/types.h"
#include "platform/windows.h"

struct CallWorker;
struct FileIdList;
struct FolderOnPath;
struct LongTurn;
struct PairPool;
struct ReadAhead;
struct ResultList;
struct SideReadJob;
struct SumWriter;
struct HashJob;

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
    bool device[2];
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

// What the setup decides once, before the first pair; from the first pair on nothing writes it.
struct RunSetup {
    uint32_t BlockSize;
    uint8_t* CompareBuffers[2];  // BlockSize + 1 bytes each in whole pages, zero when reserved
    uint32_t SectorSize[2];
    bool ParallelReads;
    // Both sides on one drive that may seek: a stretch of blocks of one side is read, then of the
    // other, instead of alternating every block.
    bool LongTurns;
    // A side lies on a network drive, where every read waits a round trip: the blocks of a pair
    // are read ahead, several at a time (taking precedence over long turns).
    bool NetworkSide;
    bool SideIsNull[2];
    bool HardLinkSupport[2];
    // The pairs found identical in a run whose volumes both keep hard links; null otherwise.
    FileIdList* FileIds;
    // Where every pair's compared range begins: -st exactly. Reads begin at ReadStart, the start
    // rounded down to whole sectors of both sides, since unbuffered reads take whole sectors; the
    // bytes between the two are read and not compared.
    uint64_t StartOffset;
    uint64_t ReadStart;
    bool FolderRun;  // pairs of a tree walk, not the one pair of the command line
    // -c: each "pair" is one file, read once and hashed; its side 2 is side 1 itself, never opened.
    bool CheckOnly;
    // Pairs in flight: the workers of a folder run, null for one pair at a time.
    PairPool* Pool;
    ResultList* Results;  // -o:file, or null
};

// One side of the pair being compared: its handle, how it was opened, and what its reading
// brought of the current block. A reader thread works on a copy of it, which the main thread takes
// back when the block is read.
struct PairSide {
    HANDLE handle;  // owned by the pair; replaced by a reopen from `path`
    const wchar_t* path;
    // The CreateFileW flags the handle has: a volume that refuses unbuffered reads refuses them to
    // every handle opened with FILE_FLAG_NO_BUFFERING, not only to the first to meet it.
    uint32_t openFlags;
    uint32_t sectorSize;
    // Bytes the last successful read delivered of the current block. A block read sector by
    // sector counts as whole: its unreadable sectors are zero.
    uint32_t delivered;
    // What the side could not read of the current block; those bytes are zero in its buffer.
    UnreadRanges unread;
    // In a long turn a read that fails is not recovered at once: its error is kept here with the
    // block it belongs to (where it begins), and that block is recovered when the comparison
    // reaches it, one block at a time as always. The sides' errors may belong to different blocks.
    DWORD deferredError;
    uint64_t deferredAt;
};

// The pair being compared, set afresh at its start.
struct PairState {
    PairSide side[2];
    uint64_t CompareLength;  // end of the compared range, start offset included
    // A device side told no length: CompareLength is only a bound, the pair ends where a side
    // ends, and CompareLength becomes that end.
    bool LengthUnknown;
    uint32_t CompareLengthMiB;
    uint64_t BlockCount;
    // Why the pair is not verified, for the result list: the first cause noted, empty if none.
    char Reason[128];
    // With -h and -c: the SHA-256 of side 1's bytes, where every block was hashed.
    bool DigestReady;
    uint8_t Digest[32];
};

// What the run has done so far, for the summary and the exit code.
struct RunCounters {
    uint64_t BytesComparedTotal;
    uint32_t LastProgressTime;   // ms since the start of a pair; never reset between pairs
    uint64_t SkippedBytes;       // not compared: zero blocks left out by -sz, -sz1 or -sz2
    uint64_t HoleBytes;          // of those, not read at all: holes of sparse files
    uint32_t ResultCounters[5];  // indexed by CompareOutcome
    uint32_t HardLinks;          // pairs skipped as hard links already compared
    uint32_t FoldersMissing;     // tree-1 folders that tree 2 lacks
    uint32_t FoldersUnreadable;  // tree-1 folders that could not be listed to their end
    uint32_t LinksFailed;        // links that could not be read or reproduced in tree 2
    bool WorkStopped;            // the comparison ended early (a limit, Ctrl+C, Esc)
    uint32_t FilesOnlyIn2;       // with -b: files and folders that tree 1 lacks
    uint32_t FoldersOnlyIn2;
    bool ResultsIncomplete;  // a line of the result list could not be written
};

// Notes why the pair is not verified, unless a cause is noted already (printf-style).
void NoteReason(PairState* pair, const char* format, ...);

// The persistent helper threads of the run, made on first use and ended with its resources: one
// reader per side, and the lister of tree 1.
struct RunHelpers {
    CallWorker* reader[2];
    SideReadJob* readerJob[2];  // what a reader works on: its side, its request, its answer
    // A reader or the hasher did not return after a stop: it may still use the compare buffers.
    bool readerAbandoned;
    CallWorker* lister[1];  // tree 1's; tree 2's folders each get one of their own
};

// What the block sources keep from pair to pair, made on first use: the long turns' buffers and
// the read-ahead's readers, and what they learned of the run's drives.
struct BlockSources {
    LongTurn* turn;
    bool turnsRefused;  // the turn's buffers could not be had: one block at a time
    ReadAhead* ahead;
    bool aheadRefused;  // its threads or buffers could not be had, or a stop held a reader
    // While side 1 is hashed: a second buffer for it, so that the next block is read while the
    // last one is hashed.
    uint8_t* spare;
};

// -h:file: the SHA-256 of side 1's bytes of each pair, taken on a thread of its own beside the
// reading, and a line in the sum file for each pair found identical.
struct RunSums {
    SumWriter* writer;  // null without -h
    HashJob* job;       // the hash of the pair being compared
    CallWorker* hasher;
    bool incomplete;  // a sum could not be taken or written: the file lacks a pair found identical
    uint8_t expected[32];  // -c: the sum of the file being checked
};

struct RunState {
    // The two path arguments, rewritten in place as the run sets them up.
    PathBuffer path1;
    PathBuffer path2;
    RunPaths paths;
    // The root folders of a folder run, in the long-path form with a trailing backslash; paths
    // are shown relative to them.
    PathBuffer BaseFolder1;
    PathBuffer BaseFolder2;

    RunSetup setup;
    PairState pair;
    RunCounters counts;
    RunHelpers helpers;
    BlockSources sources;
    RunSums sums;

    // CreateFileW flags of every open; a reader drops FILE_FLAG_NO_BUFFERING for the rest of the
    // run when a volume refuses unbuffered reads.
    uint32_t OpenFlags;
    // The walk met a path too long to go deeper: no sub-folder is entered after it.
    bool NoMoreRecursion;
    // The tree-1 folders from the root to the one being walked, innermost first (tree/tree_walk).
    const FolderOnPath* FolderPath;
    // How many of the tree-2 folders below the root, down to the one being walked, are reparse
    // points (tree/tree_walk): a link written there would land wherever they lead.
    uint32_t Tree2LinksOnPath;
};

// The sides a pair opens and reads: both, or in a check against sums only the first.
inline int SidesRead(const RunState& run) { return run.setup.CheckOnly ? 1 : 2; }

// Puts every field to how a new process starts. Releases nothing: see ReleaseRunResources.
void SetRunStateDefaults(RunState* run);

// The larger sector size of the two sides: what every unbuffered read must be a multiple of.
inline uint32_t LargerSectorSize(const RunState& run) {
    return run.setup.SectorSize[0] > run.setup.SectorSize[1] ? run.setup.SectorSize[0] : run.setup.SectorSize[1];
}

// Sets where every pair's compared range begins (-st) and where its reading begins: the whole
// sector of both sides that holds it. Needs the sides' sector sizes.
inline void SetStartOffset(RunState* run, uint64_t offset) {
    run->setup.StartOffset = offset;
    run->setup.ReadStart = offset - offset % LargerSectorSize(*run);
}
