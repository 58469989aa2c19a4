#include "compare/compare_pair.h"

#include <cstring>

#include "base/run_options.h"
#include "compare/allocated_ranges.h"
#include "compare/device_size.h"
#include "compare/diff_block.h"
#include "compare/error_names.h"
#include "compare/file_identity.h"
#include "compare/reader_threads.h"
#include "compare/speed_text.h"
#include "console/console_output.h"
#include "console/console_session.h"
#include "console/control_handler.h"
#include "console/cursor.h"
#include "console/status_line.h"
#include "paths/path_strings.h"
#include "platform/win_api.h"

bool PairKeyWanted(const RunState& run) { return run.HardLinkSupport1 && run.HardLinkSupport2 && run.FileIdLists[0]; }

namespace {

// The identities of both sides, from the handles just opened. In a tree only a side with several
// links can come again or be the other side itself, and only volumes that keep hard links are
// asked; the one pair of the command line is always asked, for it may name one file twice.
bool ReadSidesKey(const RunState& run, bool skipHardLinkCheck, FileIdKey* key) {
    if (const PrefetchedPair* ahead = run.Prefetched) {
        *key = ahead->key;
        return ahead->keyOk;
    }
    if (skipHardLinkCheck || run.paths.device1 || run.paths.device2 || run.Side1IsNull || run.Side2IsNull) return false;
    if (run.FolderRun && !PairKeyWanted(run)) return false;
    return ReadPairKey(run.SideHandle1, run.SideHandle2, run.FolderRun, key);
}

// The same two files, found identical earlier in the run, need no second comparison; another
// tree-1 file paired with a second name of an earlier side 2 is compared as any pair.
bool SkippedAsHardLink(const RunState& run, const FileIdKey& key) {
    if (!HasFileIdKey(run.FileIdLists[0], key)) return false;
    if (!Options.quiet) PrintOut("--- hardlink ---\n");
    return true;
}

HANDLE OpenSide(RunState* run, int side, const wchar_t* path) {
    run->SideOpenFlags[side] = run->OpenFlags;
    return win.CreateFileW(path, GENERIC_READ, kSideShareMode, nullptr, OPEN_EXISTING, run->OpenFlags, nullptr);
}

void CloseSide(HANDLE* handle) {
    if (*handle != INVALID_HANDLE_VALUE) win.CloseHandle(*handle);
    *handle = INVALID_HANDLE_VALUE;
}

// The sides live in the run state, where the side-1 reader may replace its handle, so they are
// closed from there on every way out of the pair.
struct SidesClosedAtEnd {
    RunState* run;
    void CloseNow() {
        CloseSide(&run->SideHandle1);
        CloseSide(&run->SideHandle2);
    }
    ~SidesClosedAtEnd() { CloseNow(); }
};

// "Cannot open fileN for compare '...'" and the error; a path beyond the formatter's limit goes
// out whole instead of taking the error line with it.
void PrintCannotOpen(int side, const wchar_t* path, DWORD error) {
    const wchar_t* shown = SkipLongPathPrefix(path);
    if (wcslen(shown) + 64 < static_cast<size_t>(kFormatLimit)) {
        PrintErr("\rCannot open file%i for compare '%S'\nerr=%s\n", side, shown, ErrorName(error));
        return;
    }
    PrintErr("\rCannot open file%i for compare '", side);
    PrintErrLongPath(shown);
    PrintErr("'\nerr=%s\n", ErrorName(error));
}

// Both sides open, or false with the error of the side that failed, its message printed.
bool OpenSides(RunState* run, const wchar_t* path1, const wchar_t* path2, DWORD* openError) {
    run->Side1Path = path1;
    run->Side2Path = path2;
    run->SideHandle1 = OpenSide(run, 0, path1);
    if (run->SideHandle1 == INVALID_HANDLE_VALUE) {
        *openError = win.GetLastError();
        PrintCannotOpen(1, path1, *openError);
        return false;
    }
    run->SideHandle2 = OpenSide(run, 1, path2);
    if (run->SideHandle2 == INVALID_HANDLE_VALUE) {
        *openError = win.GetLastError();
        PrintCannotOpen(2, path2, *openError);
        return false;
    }
    return true;
}

// The sides a worker opened become the pair's own, closed with it; those it closed stay closed.
void TakePrefetchedSides(RunState* run, const wchar_t* path1, const wchar_t* path2) {
    run->Side1Path = path1;
    run->Side2Path = path2;
    for (int side = 0; side < 2; ++side) {
        HANDLE* handle = side == 0 ? &run->SideHandle1 : &run->SideHandle2;
        *handle = run->Prefetched->handles[side];
        run->Prefetched->handles[side] = INVALID_HANDLE_VALUE;
        run->SideOpenFlags[side] = run->Prefetched->openFlags;
    }
}

// A pair read ahead is compared in the worker's buffers, and the run's own come back afterwards.
struct PrefetchedBuffers {
    RunState* run;
    uint8_t* own[2] = {};
    explicit PrefetchedBuffers(RunState* r) : run(r) {
        if (!run->Prefetched || !run->Prefetched->read) return;
        for (int side = 0; side < 2; ++side) {
            own[side] = run->CompareBuffers[side];
            run->CompareBuffers[side] = run->Prefetched->data[side];
        }
    }
    ~PrefetchedBuffers() {
        if (!own[0]) return;
        run->CompareBuffers[0] = own[0];
        run->CompareBuffers[1] = own[1];
    }
};

bool OutputRedirected() { return Session && Session->outputRedirected; }

// The lines that end every pair that was opened.
void EndPairLines() {
    if (CursorColumn() > 0) PrintOut("\n");
    PrintOut("\n");
}

// How the block loop ended. A pair of unknown length completes where a side ends; SizesDiffer
// when the other side went on (and -i was not given).
enum class LoopEnd { Completed, ReaderGaveUp, Stopped, ShortRead, SizesDiffer };

struct PairRun {
    uint64_t differences = 0;
    uint64_t unreadBytes = 0;      // of the compared range, on either side
    bool readBytesDiffer = false;  // a difference among bytes that both sides delivered
    uint32_t startTime = 0;
    LoopEnd end = LoopEnd::Completed;
    uint64_t comparedTo = 0;        // where the compared bytes end, start offset included
    uint64_t sideEnds[2] = {};      // of a pair of unknown length: where each side ended or, if it went
                                    // on, the bytes it delivered; 0 while none ended
    uint64_t skippedBytes = 0;      // not compared: zero blocks (-sz, -sz1, -sz2), holes included
    uint64_t holeBytes = 0;         // of those, not even read: holes of a sparse side
    AllocatedRanges holes[2] = {};  // of the sides the option names
};

void ShowProgress(RunState* run, const PairRun& pair, uint64_t position) {
    uint32_t elapsed = win.GetTickCount() - pair.startTime;
    if (run->LastProgressTime != 0 && elapsed - run->LastProgressTime <= 33) return;
    run->LastProgressTime = elapsed;
    if (!((elapsed > 100 && run->CompareLength > 1048576) || elapsed > 1000)) return;
    uint16_t column = run->LengthUnknown ? WriteStatusAt(0, " %u MB compared", static_cast<uint32_t>(position >> 20))
                                         : WriteStatusAt(0, " %u MB of %u MB compared",
                                                         static_cast<uint32_t>(position >> 20), run->CompareLengthMiB);
    WriteStatusAt(column, " (%s)           ", SpeedText(position - Options.startOffset, elapsed));
}

// A side that is not the null device and delivered less than the block: the file shrank or
// changed while it was compared. Only what both sides delivered may be compared.
uint32_t DeliveredLength(const RunState& run, uint32_t blockLength, uint64_t blockOffset) {
    uint32_t length = blockLength;
    for (int side = 0; side < 2; ++side) {
        bool isNull = SideIsNull(run, side);
        if (isNull || run.BytesRead[side] >= blockLength) continue;
        PrintErr("\nfile%i ended early: %u of %u bytes read at offset %I64u -> abort\n", side + 1, run.BytesRead[side],
                 blockLength, blockOffset + Options.startOffset);
        if (run.BytesRead[side] < length) length = run.BytesRead[side];
    }
    return length;
}

// A pair of unknown length ends in the block where a side delivers less than the block: both
// sides are compared up to the shorter one, and where each ended is kept for the size lines.
uint32_t LengthToFirstEnd(const RunState& run, uint32_t blockLength, uint64_t blockOffset, PairRun* pair) {
    uint32_t got[2];
    for (int side = 0; side < 2; ++side) {
        bool isNull = SideIsNull(run, side);
        got[side] = isNull || run.BytesRead[side] > blockLength ? blockLength : run.BytesRead[side];
    }
    uint32_t length = got[0] < got[1] ? got[0] : got[1];
    if (length == blockLength) return length;
    for (int side = 0; side < 2; ++side) {
        bool isNull = SideIsNull(run, side);
        // The null device ends with the other side.
        pair->sideEnds[side] = Options.startOffset + blockOffset + (isNull ? length : got[side]);
    }
    return length;
}

// Both sides of one block, at the same time when the run reads in parallel. False when a reader
// gave up.
bool ReadBothSides(RunState* run, uint32_t readLength) {
    run->BytesRead[0] = run->BytesRead[1] = 0;
    run->Unread[0].count = run->Unread[1].count = 0;
    if (run->Prefetched && run->Prefetched->read) {
        // Read ahead into the buffers the pair now compares.
        run->BytesRead[0] = run->Prefetched->delivered[0];
        run->BytesRead[1] = run->Prefetched->delivered[1];
        return true;
    }
    uint32_t result1, result2;
    if (run->ParallelReads) {
        StartSideRead(run, 0, readLength);
        StartSideRead(run, 1, readLength);
        result1 = WaitSideRead(0);
        result2 = WaitSideRead(1);
    } else {
        // One after the other: the handing over to a thread and back would cost more than it
        // buys, so this thread reads both, side 1 first, exactly as the readers would.
        result1 = ReadSide1(run, readLength);
        result2 = ReadSide2(run, readLength);
    }
    return result1 != 0 && result2 != 0;
}

// Whether the bytes of [0, length) that neither side lacks differ anywhere.
bool ReadBytesDiffer(const uint8_t* a, const uint8_t* b, uint32_t length, const UnreadRanges& r1,
                     const UnreadRanges& r2) {
    uint32_t at = 0, i1 = 0, i2 = 0;
    while (at < length) {
        while (i1 < r1.count && r1.end[i1] <= at) ++i1;
        while (i2 < r2.count && r2.end[i2] <= at) ++i2;
        uint32_t next = length;
        if (i1 < r1.count) {
            if (r1.begin[i1] <= at) {
                at = r1.end[i1];
                continue;
            }
            if (r1.begin[i1] < next) next = r1.begin[i1];
        }
        if (i2 < r2.count) {
            if (r2.begin[i2] <= at) {
                at = r2.end[i2];
                continue;
            }
            if (r2.begin[i2] < next) next = r2.begin[i2];
        }
        if (memcmp(a + at, b + at, next - at) != 0) return true;
        at = next;
    }
    return false;
}

// Names what a side could not read of this block and tells whether what was read differs; the
// listing has shown the unread bytes as zeros.
void AccountUnread(const RunState& run, uint32_t length, uint64_t blockOffset, PairRun* pair) {
    for (int side = 0; side < 2; ++side) {
        const UnreadRanges& ranges = run.Unread[side];
        for (uint32_t i = 0; i < ranges.count && ranges.begin[i] < length; ++i) {
            uint32_t end = ranges.end[i] < length ? ranges.end[i] : length;
            pair->unreadBytes += end - ranges.begin[i];
            if (!Options.quiet) {
                PrintUnreadRange(blockOffset + ranges.begin[i], blockOffset + end - 1, side + 1, run.CompareLength);
            }
        }
    }
    if (ReadBytesDiffer(run.CompareBuffers[0], run.CompareBuffers[1], length, run.Unread[0], run.Unread[1])) {
        pair->readBytesDiffer = true;
    }
}

// -sz1 and -sz2 leave out blocks that are all zero in file 1 or file 2, -sz those of either. A
// block with unread bytes is always compared: zeros in their place are no data.
bool SkippedAsZero(const RunState& run, uint32_t length) {
    for (int side = 0; side < 2; ++side) {
        if (SkipsZeroBlocksOf(side) && IsAllZero(run.CompareBuffers[side], length)) return true;
    }
    return false;
}

bool InHoleOfNamedSide(PairRun* pair, uint64_t begin, uint64_t end) {
    return InHole(&pair->holes[0], begin, end) || InHole(&pair->holes[1], begin, end);
}

// The holes of the sparse sides that the option names, where the file system tells them. Files
// only: devices and the null device are read as they are.
void FindHoles(const RunState& run, PairRun* pair) {
    if (run.Prefetched || run.LengthUnknown || run.paths.device1 || run.paths.device2) return;
    if (SkipsZeroBlocksOf(0)) StartAllocatedRanges(&pair->holes[0], run.SideHandle1, run.CompareLength);
    if (SkipsZeroBlocksOf(1)) StartAllocatedRanges(&pair->holes[1], run.SideHandle2, run.CompareLength);
}

void CompareBlocks(RunState* run, PairRun* pair) {
    const uint32_t sectorSize = LargerSectorSize(*run);
    const bool showProgress = !Options.quiet && !OutputRedirected();
    uint64_t position = Options.startOffset;
    uint64_t blockOffset = 0;
    for (uint64_t block = 0; block < run->BlockCount; ++block) {
        if (showProgress) PrintOut("\r");
        uint32_t blockLength = run->BlockSize;
        uint32_t readLength = run->BlockSize;
        if (block == run->BlockCount - 1) {
            blockLength = static_cast<uint32_t>(run->CompareLength - (run->BlockCount - 1) * run->BlockSize -
                                                Options.startOffset);
            // Unbuffered reads take whole sectors; only the block length is compared.
            readLength = RoundUp(blockLength, sectorSize);
        }
        run->BlockPosition = Options.startOffset + blockOffset;
        if (InHoleOfNamedSide(pair, run->BlockPosition, run->BlockPosition + blockLength)) {
            // Zero by definition: neither side is read, and both move on to the next block.
            pair->skippedBytes += blockLength;
            pair->holeBytes += blockLength;
            if (!SeekSide(run->SideHandle1, run->BlockPosition + readLength, 1) ||
                !SeekSide(run->SideHandle2, run->BlockPosition + readLength, 2)) {
                pair->end = LoopEnd::ReaderGaveUp;
                return;
            }
            pair->comparedTo = run->BlockPosition + blockLength;
            blockOffset += run->BlockSize;
            if (showProgress) position += blockLength;
            if (StopRequested()) {
                pair->end = LoopEnd::Stopped;
                return;
            }
            continue;
        }
        if (!ReadBothSides(run, readLength)) {
            PrintErr("\n aborted\n");
            pair->end = LoopEnd::ReaderGaveUp;
            return;
        }
        uint32_t length = run->LengthUnknown ? LengthToFirstEnd(*run, blockLength, blockOffset, pair)
                                             : DeliveredLength(*run, blockLength, blockOffset);
        bool unread = run->Unread[0].count != 0 || run->Unread[1].count != 0;
        if (!unread && SkippedAsZero(*run, length)) {
            pair->skippedBytes += length;
        } else {
            pair->differences +=
                DiffBlock(run->CompareBuffers[0], run->CompareBuffers[1], length, blockOffset, run->CompareLength);
            if (unread) AccountUnread(*run, length, blockOffset, pair);
        }
        pair->comparedTo = Options.startOffset + blockOffset + length;
        if (length < blockLength) {
            pair->end = run->LengthUnknown ? LoopEnd::Completed : LoopEnd::ShortRead;
            return;
        }
        if (showProgress && LastControlEvent.load(std::memory_order_relaxed) == 0) {
            position += blockLength;
            if (position != 0) ShowProgress(run, *pair, position);
        }
        if (StopRequested()) {
            pair->end = LoopEnd::Stopped;
            return;
        }
        blockOffset += run->BlockSize;
    }
}

void PrintVerdict(const RunState& run, const PairRun& pair) {
    if (pair.differences == 0 && pair.unreadBytes == 0) {
        PrintOut("\r");
        if (SkipsZeroBlocks()) {
            // The share of the pair's own range, which may be far below a MiB.
            uint64_t range = run.CompareLength - Options.startOffset;
            PrintOut("Files are identical (%I64i%% skipped)", range ? pair.skippedBytes * 100 / range : 0);
        } else {
            PrintOut("Files are identical");
        }
    }
    uint32_t elapsed = win.GetTickCount() - pair.startTime;
    if (run.CompareLength > 102400 && elapsed > 100 && InterruptFlag.load(std::memory_order_relaxed) == 0) {
        PrintOut("\nFiles compared with %s", SpeedText(run.CompareLength, elapsed));
    }
}

// The end of a range that only the sides' ends, -f or the null device's lack of one bound.
constexpr uint64_t kOpenEnded = 0x7FFFFFFFFFFFFFFFull;

// The lines of a size difference; true, after the abort line, unless -i was given.
bool ReportSizeDifference(uint64_t size1, uint64_t size2) {
    PrintOut("Files have different sizes:\n");
    PrintOut("File1=%I64u bytes\n", size1);
    PrintOut("File2=%I64u bytes\n", size2);
    if (!Options.ignoreSizes) {
        PrintOut(" -> abort! (use -i to ignore)\n");
        return true;
    }
    PrintOut("comparing to end of the small file...\n");
    return false;
}

// A pair of unknown length has its length once compared: where the compared bytes end. Sides
// that ended in different places differ in size, told with the bytes each delivered; a side of
// which nothing could be read proves nothing.
void SettleFirstEnd(RunState* run, PairRun* pair) {
    run->CompareLength = pair->comparedTo;
    run->CompareLengthMiB = static_cast<uint32_t>(run->CompareLength >> 20);
    if (pair->end != LoopEnd::Completed) return;
    if (pair->sideEnds[0] != pair->sideEnds[1] && ReportSizeDifference(pair->sideEnds[0], pair->sideEnds[1])) {
        pair->end = LoopEnd::SizesDiffer;
        return;
    }
    if (pair->comparedTo != Options.startOffset) return;
    PrintErr("\n");
    for (int side = 0; side < 2; ++side) {
        bool isNull = SideIsNull(*run, side);
        if (isNull || pair->sideEnds[side] != Options.startOffset) continue;
        PrintErr("file%i ended early: 0 of %u bytes read at offset %I64u -> abort\n", side + 1, run->BlockSize,
                 Options.startOffset);
    }
    pair->end = LoopEnd::ShortRead;
}

// Reports a start offset beyond the compared range on standard error.
bool StartOffsetFits(const RunState& run, HANDLE side, bool isNull, const char* message) {
    if (Options.startOffset == 0 || isNull) return true;
    if (Options.startOffset > run.CompareLength) {
        PrintErr(message, Options.startOffset, run.CompareLength);
        return false;
    }
    // A device refuses a position past its end (Linux block devices do, under Wine); reading from
    // wherever the handle stands instead would compare the wrong bytes.
    if (!SeekTo(side, Options.startOffset)) {
        PrintErr("Error: StartPos (%I64u) cannot be reached (%s) -> abort", Options.startOffset, LastErrorName());
        return false;
    }
    return true;
}

// "Cannot read the size of fileN" and the error: a size that cannot be told is no size of 0, and
// nothing of the pair can be compared.
void PrintCannotSize(int side, const wchar_t* path, DWORD error) {
    PrintErr("\rCannot read the size of file%i '", side);
    PrintErrLongPath(SkipLongPathPrefix(path));
    PrintErr("'\nerr=%s\n", ErrorName(error));
}

enum class RangeSettled { kCompare, kDifferent, kUnreadable };

// The sizes of both sides, from a worker or asked now; kSizeUnknown of a device means reading to
// its end. The null device has no size to ask: the other side's stands for it.
bool ReadSizes(const RunState& run, uint64_t sizes[2]) {
    const HANDLE handles[2] = {run.SideHandle1, run.SideHandle2};
    const bool devices[2] = {run.paths.device1, run.paths.device2};
    const wchar_t* paths[2] = {run.Side1Path, run.Side2Path};
    for (int side = 0; side < 2; ++side) {
        sizes[side] = 0;
        if (SideIsNull(run, side)) continue;
        // A serial port or a console would block in its first read until someone types.
        if (devices[side] && win.GetFileType(handles[side]) == FILE_TYPE_CHAR) {
            PrintErr("file%i is a character device, not a file, volume or disk -> abort\n", side + 1);
            return false;
        }
        sizes[side] = run.Prefetched ? run.Prefetched->sizes[side] : SizeOfFileOrDevice(handles[side], devices[side]);
        if (sizes[side] == kSizeUnknown && !devices[side]) {
            PrintCannotSize(side + 1, paths[side], win.GetLastError());
            return false;
        }
    }
    return true;
}

// The compared range from the sizes of both sides, -i and -f; the pair ends here as different
// (sizes differ without -i, or the start offset lies beyond the range) or unreadable (a size
// cannot be told).
RangeSettled SettleRange(RunState* run) {
    uint64_t sizes[2];
    if (!ReadSizes(*run, sizes)) return RangeSettled::kUnreadable;
    uint64_t size1 = sizes[0], size2 = sizes[1];
    run->LengthUnknown = size1 == kSizeUnknown || size2 == kSizeUnknown;
    if (run->LengthUnknown) {
        // Read until a side ends; the sizes are compared there.
        run->CompareLength = kOpenEnded;
    } else if (run->Side1IsNull) {
        run->CompareLength = run->Side2IsNull ? kOpenEnded : size2;
    } else {
        if (run->Side2IsNull) size2 = size1;
        run->CompareLength = size1;
        if (size1 != size2) {
            if (ReportSizeDifference(size1, size2)) {
                // A moment to read it, for the one pair of a console run; a tree of such files, or
                // a log, would only wait.
                if (!run->FolderRun && !OutputRedirected()) win.Sleep(500);
                return RangeSettled::kDifferent;
            }
            run->CompareLength = size1 < size2 ? size1 : size2;
        }
    }
    if (Options.firstBytes != 0 && Options.firstBytes < run->CompareLength) run->CompareLength = Options.firstBytes;
    run->CompareLengthMiB = static_cast<uint32_t>(run->CompareLength >> 20);
    // Offsets are unsigned: one of 2^63 or more is no negative number.
    if (!StartOffsetFits(*run, run->SideHandle2, run->Side2IsNull,
                         "Error: StartPos (%I64u) > FileSize2 (%I64u) -> abort") ||
        !StartOffsetFits(*run, run->SideHandle1, run->Side1IsNull,
                         "Error: StartPos (%I64u) > FileSize (%I64u) -> abort")) {
        return RangeSettled::kDifferent;
    }
    // Two null devices have no end to check against but the range itself, which must not wrap.
    if (Options.startOffset > run->CompareLength) {
        PrintErr("Error: StartPos (%I64u) > FileSize (%I64u) -> abort", Options.startOffset, run->CompareLength);
        return RangeSettled::kDifferent;
    }
    // ... and without -fi no end at all: zeros against zeros up to 2^63 bytes prove nothing.
    if (run->Side1IsNull && run->Side2IsNull && Options.firstBytes == 0) {
        PrintErr("both sides are the null device: nothing to compare -> abort\n");
        return RangeSettled::kUnreadable;
    }
    return RangeSettled::kCompare;
}

}  // namespace

CompareOutcome CompareFilePair(RunState* run, const wchar_t* path1, const wchar_t* path2, uint32_t* hardLinkCounter,
                               bool skipHardLinkCheck) {
    if (StopRequested()) return OtherProblem;

    PairRun pair;
    pair.startTime = win.GetTickCount();
    SidesClosedAtEnd closer{run};
    PrefetchedBuffers buffers(run);
    DWORD openError = ERROR_SUCCESS;
    if (run->Prefetched) {
        TakePrefetchedSides(run, path1, path2);
    } else if (!OpenSides(run, path1, path2, &openError)) {
        if (!Options.quiet) EndPairLines();
        return openError == ERROR_FILE_NOT_FOUND || openError == ERROR_PATH_NOT_FOUND ? Missing : Unreadable;
    }
    FileIdKey pairKey = {};
    bool keyed = ReadSidesKey(*run, skipHardLinkCheck, &pairKey);
    if (keyed && IsOneFile(pairKey)) {
        // Two names of one file: reading it twice would prove nothing more.
        if (!Options.quiet) {
            PrintOut("\rFiles are identical (same file)");
            EndPairLines();
        }
        return Identical;
    }
    if (keyed && run->FolderRun && SkippedAsHardLink(*run, pairKey)) {
        ++*hardLinkCounter;
        return Identical;
    }
    switch (SettleRange(run)) {
        case RangeSettled::kCompare: break;
        case RangeSettled::kDifferent: return Different;
        case RangeSettled::kUnreadable:
            if (!Options.quiet) EndPairLines();
            return Unreadable;
    }
    // The null device delivers no bytes, so its buffer must hold zeros, not an earlier pair's data:
    // comparing with it lists every nonzero byte of the other side.
    if (run->Side1IsNull) memset(run->CompareBuffers[0], 0, run->BlockSize);
    if (run->Side2IsNull) memset(run->CompareBuffers[1], 0, run->BlockSize);
    uint64_t range = run->CompareLength - Options.startOffset;
    run->BlockCount = range / run->BlockSize + (range % run->BlockSize ? 1 : 0);
    pair.comparedTo = Options.startOffset;
    FindHoles(*run, &pair);
    CompareBlocks(run, &pair);
    if (!AbortFlag.load(std::memory_order_relaxed)) ClearStatusLine();
    if (run->LengthUnknown) SettleFirstEnd(run, &pair);
    if (pair.end == LoopEnd::Completed && !Options.quiet) PrintVerdict(*run, pair);
    if (!Options.quiet) EndPairLines();
    closer.CloseNow();
    run->BytesComparedTotal += run->CompareLength;
    run->SkippedBytes += pair.skippedBytes;
    run->HoleBytes += pair.holeBytes;
    // A pair that was not compared to its end is never reported identical: what was found
    // differs, otherwise the pair could not be read, or the run was stopped.
    // Unread bytes decide before anything else: zeros in their place prove nothing either way.
    if (pair.unreadBytes != 0) return pair.readBytesDiffer ? Different : Unreadable;
    if (pair.differences != 0) return Different;
    switch (pair.end) {
        case LoopEnd::Completed:
            if (keyed && run->FolderRun) RememberFileIdKey(run->FileIdLists[0], pairKey, 2);
            return Identical;
        case LoopEnd::Stopped: return OtherProblem;
        case LoopEnd::ReaderGaveUp:
        case LoopEnd::ShortRead: return Unreadable;
        case LoopEnd::SizesDiffer: return Different;
    }
    return Unreadable;
}
