#include "compare/compare_pair.h"

#include <cstring>

#include "base/run_options.h"
#include "compare/device_size.h"
#include "compare/diff_block.h"
#include "compare/error_names.h"
#include "compare/file_identity.h"
#include "compare/reader_threads.h"
#include "compare/run_state.h"
#include "compare/speed_text.h"
#include "console/console_output.h"
#include "console/console_session.h"
#include "console/control_handler.h"
#include "console/cursor.h"
#include "console/status_line.h"
#include "paths/path_strings.h"
#include "platform/win_api.h"

namespace {

bool StopRequested() {
    return InterruptFlag.load(std::memory_order_relaxed) != 0 || AbortFlag.load(std::memory_order_relaxed) != 0;
}

// A second name of a multi-link file already compared on this side needs no second comparison.
bool IsKnownHardLink(FileIdList* list, const wchar_t* path) {
    uint32_t low = 0, high = 0;
    uint32_t links = FileIdentity(path, &low, &high);
    return links > 1 && RememberFileId(list, links, low, high) == 0;
}

HANDLE OpenSide(const wchar_t* path) {
    return win.CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, OpenFlags, nullptr);
}

void CloseSide(HANDLE* handle) {
    if (*handle != INVALID_HANDLE_VALUE) win.CloseHandle(*handle);
    *handle = INVALID_HANDLE_VALUE;
}

bool OutputRedirected() { return Session && Session->outputRedirected; }

// How the block loop ended.
enum class LoopEnd { Completed, ReaderGaveUp, Stopped, ShortRead };

struct PairRun {
    uint64_t differences = 0;
    uint32_t startTime = 0;
    LoopEnd end = LoopEnd::Completed;
};

void ShowProgress(PairRun* run, uint64_t position) {
    uint32_t elapsed = win.GetTickCount() - run->startTime;
    if (LastProgressTime != 0 && elapsed - LastProgressTime <= 33) return;
    LastProgressTime = elapsed;
    if (!((elapsed > 100 && CompareLength > 1048576) || elapsed > 1000)) return;
    uint16_t column =
        WriteStatusAt(0, " %u MB of %u MB compared", static_cast<uint32_t>(position >> 20), CompareLengthMiB);
    WriteStatusAt(column, " (%s)           ", SpeedText(position - Options.startOffset, elapsed));
}

// A side that is not the null device and delivered less than the block: the file shrank or
// changed while it was compared. Only what both sides delivered may be compared.
uint32_t DeliveredLength(uint32_t blockLength, uint64_t blockOffset) {
    uint32_t length = blockLength;
    for (int side = 0; side < 2; ++side) {
        bool isNull = side == 0 ? Side1IsNull : Side2IsNull;
        if (isNull || BytesRead[side] >= blockLength) continue;
        PrintErr("\nfile%i ended early: %u of %u bytes read at offset %I64u -> abort\n", side + 1, BytesRead[side],
                 blockLength, blockOffset + Options.startOffset);
        if (BytesRead[side] < length) length = BytesRead[side];
    }
    return length;
}

void CompareBlocks(PairRun* run) {
    const uint32_t sectorSize = SectorSize1 > SectorSize2 ? SectorSize1 : SectorSize2;
    const bool showProgress = !Options.quiet && !OutputRedirected();
    uint64_t position = Options.startOffset;
    uint64_t blockOffset = 0;
    for (uint64_t block = 0; block < BlockCount; ++block) {
        if (showProgress) PrintOut("\r");
        uint32_t blockLength = BlockSize;
        uint32_t readLength = BlockSize;
        if (block == BlockCount - 1) {
            blockLength = static_cast<uint32_t>(CompareLength - (BlockCount - 1) * BlockSize - Options.startOffset);
            // Unbuffered reads take whole sectors; only the block length is compared.
            readLength = RoundUp(blockLength, sectorSize);
        }
        BytesRead[0] = BytesRead[1] = 0;
        uint32_t result1, result2;
        if (ParallelReads) {
            StartSideRead(0, readLength);
            StartSideRead(1, readLength);
            result1 = WaitSideRead(0);
            result2 = WaitSideRead(1);
        } else {
            // One after the other: the handing over to a thread and back would cost more than it
            // buys, so this thread reads both, side 1 first, exactly as the readers would.
            result1 = ReadSide1(readLength);
            result2 = ReadSide2(readLength);
        }
        if (result1 == 0 || result2 == 0) {
            PrintErr("\n aborted\n");
            run->end = LoopEnd::ReaderGaveUp;
            return;
        }
        uint32_t length = DeliveredLength(blockLength, blockOffset);
        run->differences += DiffBlock(CompareBuffers[0], CompareBuffers[1], length, blockOffset);
        if (length < blockLength) {
            run->end = LoopEnd::ShortRead;
            return;
        }
        if (showProgress && LastControlEvent.load(std::memory_order_relaxed) == 0) {
            position += blockLength;
            if (position != 0) ShowProgress(run, position);
        }
        if (StopRequested()) {
            run->end = LoopEnd::Stopped;
            return;
        }
        blockOffset += BlockSize;
    }
}

void PrintVerdict(const PairRun& run) {
    if (run.differences == 0) {
        PrintOut("\r");
        if (Options.skipZero || Options.skipZero1 || Options.skipZero2) {
            // Below 1 MiB the share has no whole MiB to divide by; nothing is skipped anyway.
            uint64_t whole = static_cast<uint64_t>(CompareLengthMiB) * 1048576;
            PrintOut("Files are identical (%I64i%% skipped)", whole ? SkippedBytes * 100 / whole : 0);
        } else {
            PrintOut("Files are identical");
        }
    }
    uint32_t elapsed = win.GetTickCount() - run.startTime;
    if (CompareLength > 102400 && elapsed > 100 && InterruptFlag.load(std::memory_order_relaxed) == 0) {
        PrintOut("\nFiles compared with %s", SpeedText(CompareLength, elapsed));
    }
}

// Reports a start offset beyond the compared range on standard error.
bool StartOffsetFits(HANDLE side, bool isNull, const char* message) {
    if (Options.startOffset == 0 || isNull) return true;
    if (Options.startOffset > CompareLength) {
        PrintErr(message, Options.startOffset, CompareLength);
        return false;
    }
    SeekTo(side, Options.startOffset);
    return true;
}

}  // namespace

CompareOutcome CompareFilePair(const wchar_t* path1, const wchar_t* path2, uint32_t* hardLinkCounter,
                               bool skipHardLinkCheck) {
    if (StopRequested()) return OtherProblem;
    if (HardLinkSupport1 && !skipHardLinkCheck && FileIdLists[0] && IsKnownHardLink(FileIdLists[0], path1)) {
        if (!Options.quiet) PrintOut("--- hardlink ---\n");
        ++*hardLinkCounter;
        return Identical;
    }
    if (HardLinkSupport2 && !skipHardLinkCheck && FileIdLists[1] && IsKnownHardLink(FileIdLists[1], path2)) {
        if (!Options.quiet) PrintOutW(L"%s (hardlink)\n", FileNamePart(path2));
        ++*hardLinkCounter;
        return Identical;
    }
    if (StopRequested()) return OtherProblem;

    PairRun run;
    run.startTime = win.GetTickCount();
    DWORD openError = ERROR_SUCCESS;
    bool side2Opened = false;
    Side1Path = path1;
    SideHandle1 = OpenSide(path1);
    if (SideHandle1 == INVALID_HANDLE_VALUE) {
        openError = win.GetLastError();
        PrintErr("\rCannot open file1 for compare '%S'\nerr=%s\n", SkipLongPathPrefix(path1), ErrorName(openError));
    } else {
        SideHandle2 = OpenSide(path2);
        if (SideHandle2 == INVALID_HANDLE_VALUE) {
            openError = win.GetLastError();
            PrintErr("\rCannot open file2 for compare '%S'\nerr=%s\n", SkipLongPathPrefix(path2), ErrorName(openError));
        } else {
            side2Opened = true;
        }
    }

    if (side2Opened) {
        uint64_t size1 = SizeOfFileOrDevice(SideHandle1);
        uint64_t size2 = SizeOfFileOrDevice(SideHandle2);
        if (Side1IsNull) {
            CompareLength = Side2IsNull ? 0x7FFFFFFFFFFFFFFFull : size2;
        } else {
            if (Side2IsNull) size2 = size1;
            CompareLength = size1;
            if (size1 != size2) {
                PrintOut("Files have different sizes:\n");
                PrintOut("File1=%I64u bytes\n", size1);
                PrintOut("File2=%I64u bytes\n", size2);
                if (!Options.ignoreSizes) {
                    PrintOut(" -> abort! (use -i to ignore)\n");
                    win.Sleep(500);
                    CloseSide(&SideHandle1);
                    CloseSide(&SideHandle2);
                    return Different;
                }
                PrintOut("comparing to end of the small file...\n");
                CompareLength = size1 < size2 ? size1 : size2;
            }
        }
        if (Options.firstBytes != 0 && Options.firstBytes < CompareLength) CompareLength = Options.firstBytes;
        CompareLengthMiB = static_cast<uint32_t>(CompareLength >> 20);

        if (!StartOffsetFits(SideHandle2, Side2IsNull, "Error: StartPos (%I64i) > FileSize2 (%I64i) -> abort") ||
            !StartOffsetFits(SideHandle1, Side1IsNull, "Error: StartPos (%I64i) > FileSize (%I64i) -> abort")) {
            CloseSide(&SideHandle1);
            CloseSide(&SideHandle2);
            return Different;
        }
        // The null device delivers no bytes, so its buffer must hold zeros, not an earlier pair's data:
        // comparing with it lists every nonzero byte of the other side.
        if (Side1IsNull) memset(CompareBuffers[0], 0, BlockSize);
        if (Side2IsNull) memset(CompareBuffers[1], 0, BlockSize);
        uint64_t range = CompareLength - Options.startOffset;
        BlockCount = range / BlockSize + (range % BlockSize ? 1 : 0);
        CompareBlocks(&run);
        if (!AbortFlag.load(std::memory_order_relaxed)) ClearStatusLine();
        if (run.end == LoopEnd::Completed && !Options.quiet) PrintVerdict(run);
    }

    if (!Options.quiet) {
        if (CursorColumn() > 0) PrintOut("\n");
        PrintOut("\n");
    }
    CloseSide(&SideHandle1);
    if (!side2Opened) {
        return openError == ERROR_FILE_NOT_FOUND || openError == ERROR_PATH_NOT_FOUND ? Missing : Unreadable;
    }
    CloseSide(&SideHandle2);
    BytesComparedTotal += CompareLength;
    // A pair that was not compared to its end is never reported identical: what was found
    // differs, otherwise the pair could not be read, or the run was stopped.
    if (run.differences != 0) return Different;
    switch (run.end) {
        case LoopEnd::Completed: return Identical;
        case LoopEnd::Stopped: return OtherProblem;
        case LoopEnd::ReaderGaveUp:
        case LoopEnd::ShortRead: return Unreadable;
    }
    return Unreadable;
}
