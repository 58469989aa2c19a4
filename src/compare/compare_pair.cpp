#include "compare/compare_pair.h"

#include <cstring>

#include "base/run_options.h"
#include "compare/block_loop.h"
#include "compare/device_size.h"
#include "compare/error_names.h"
#include "compare/file_identity.h"
#include "compare/reader_threads.h"
#include "compare/speed_text.h"
#include "console/console_output.h"
#include "console/console_session.h"
#include "console/control_handler.h"
#include "console/cursor.h"
#include "console/status_line.h"
#include "platform/win_api.h"

namespace {

// The sides live in the run state, where a reader may replace its handle, so they are closed
// from there on every way out of the pair.
struct SidesClosedAtEnd {
    RunState* run;
    ~SidesClosedAtEnd() { CloseSides(run); }
};

bool OutputRedirected() { return Session && Session->outputRedirected; }

// The lines that end every pair that was opened.
void EndPairLines() {
    if (CursorColumn() > 0) PrintOut("\n");
    PrintOut("\n");
}

// The same two files, found identical earlier in the run, need no second comparison; another
// tree-1 file paired with a second name of an earlier side 2 is compared as any pair.
bool SkippedAsHardLink(const RunState& run, const FileIdKey& key) {
    if (!run.setup.FolderRun || !HasFileIdKey(run.setup.FileIds, key)) return false;
    if (!Options.quiet) PrintOut("--- hardlink ---\n");
    return true;
}

void PrintVerdict(const RunState& run, const PairRun& pair) {
    if (run.setup.CheckOnly && pair.unreadBytes == 0) {
        PrintOut(pair.sumDiffers ? "\rThe sum differs" : "\rThe sum matches");
    } else if (pair.differences == 0 && pair.unreadBytes == 0) {
        PrintOut("\r");
        if (SkipsZeroBlocks()) {
            // The share of the pair's own range, which may be far below a MiB.
            uint64_t range = run.pair.CompareLength - run.setup.StartOffset;
            PrintOut("Files are identical (%I64i%% skipped)", range ? pair.skippedBytes * 100 / range : 0);
        } else {
            PrintOut("Files are identical");
        }
    }
    uint32_t elapsed = win.GetTickCount() - pair.startTime;
    if (run.pair.CompareLength > 102400 && elapsed > 100 && InterruptFlag.load(std::memory_order_relaxed) == 0) {
        PrintOut(run.setup.CheckOnly ? "\nFile checked with %s" : "\nFiles compared with %s",
                 SpeedText(run.pair.CompareLength, elapsed));
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
    run->pair.CompareLength = pair->comparedTo;
    run->pair.CompareLengthMiB = static_cast<uint32_t>(run->pair.CompareLength >> 20);
    if (pair->end != LoopEnd::Completed) return;
    if (pair->sideEnds[0] != pair->sideEnds[1] && ReportSizeDifference(pair->sideEnds[0], pair->sideEnds[1])) {
        pair->end = LoopEnd::SizesDiffer;
        return;
    }
    if (pair->comparedTo != run->setup.StartOffset) return;
    PrintErr("\n");
    for (int side = 0; side < 2; ++side) {
        if (run->setup.SideIsNull[side] || pair->sideEnds[side] != run->setup.StartOffset) continue;
        PrintErr("file%i ended early: 0 of %u bytes read at offset %I64u -> abort\n", side + 1, run->setup.BlockSize,
                 run->setup.StartOffset);
    }
    pair->end = LoopEnd::ShortRead;
}

// Reports a start offset beyond the compared range on standard error.
bool StartOffsetFits(const RunState& run, HANDLE side, bool isNull, const char* message) {
    if (run.setup.StartOffset == 0 || isNull) return true;
    if (run.setup.StartOffset > run.pair.CompareLength) {
        PrintErr(message, run.setup.StartOffset, run.pair.CompareLength);
        return false;
    }
    // A device refuses a position past its end (Linux block devices do, under Wine); reading from
    // wherever the handle stands instead would compare the wrong bytes.
    if (!SeekTo(side, run.setup.ReadStart)) {
        PrintErr("Error: StartPos (%I64u) cannot be reached (%s) -> abort", run.setup.StartOffset, LastErrorName());
        return false;
    }
    return true;
}

// The compared range from the sizes of both sides, -i and -f; the pair ends here as different
// (sizes differ without -i, or the start offset lies beyond the range) or unreadable (two null
// devices without -fi have nothing to compare).
enum class RangeSettled { kCompare, kDifferent, kUnreadable };

RangeSettled SettleRange(RunState* run, const PairSides& sides) {
    uint64_t size1 = sides.sizes[0], size2 = sides.sizes[1];
    run->pair.LengthUnknown = size1 == kSizeUnknown || size2 == kSizeUnknown;
    if (run->pair.LengthUnknown) {
        // Read until a side ends; the sizes are compared there.
        run->pair.CompareLength = kOpenEnded;
    } else if (run->setup.SideIsNull[0]) {
        run->pair.CompareLength = run->setup.SideIsNull[1] ? kOpenEnded : size2;
    } else {
        if (run->setup.SideIsNull[1]) size2 = size1;
        run->pair.CompareLength = size1;
        if (size1 != size2) {
            if (ReportSizeDifference(size1, size2)) {
                // A moment to read it, for the one pair of a console run; a tree of such files, or
                // a log, would only wait.
                if (!run->setup.FolderRun && !OutputRedirected()) win.Sleep(500);
                return RangeSettled::kDifferent;
            }
            run->pair.CompareLength = size1 < size2 ? size1 : size2;
        }
    }
    if (Options.firstBytes != 0 && Options.firstBytes < run->pair.CompareLength)
        run->pair.CompareLength = Options.firstBytes;
    run->pair.CompareLengthMiB = static_cast<uint32_t>(run->pair.CompareLength >> 20);
    // Offsets are unsigned: one of 2^63 or more is no negative number.
    if (!StartOffsetFits(*run, run->pair.side[1].handle, run->setup.SideIsNull[1],
                         "Error: StartPos (%I64u) > FileSize2 (%I64u) -> abort") ||
        !StartOffsetFits(*run, run->pair.side[0].handle, run->setup.SideIsNull[0],
                         "Error: StartPos (%I64u) > FileSize (%I64u) -> abort")) {
        return RangeSettled::kDifferent;
    }
    // Two null devices have no end to check against but the range itself, which must not wrap.
    if (run->setup.StartOffset > run->pair.CompareLength) {
        PrintErr("Error: StartPos (%I64u) > FileSize (%I64u) -> abort", run->setup.StartOffset,
                 run->pair.CompareLength);
        return RangeSettled::kDifferent;
    }
    // ... and without -fi no end at all: zeros against zeros up to 2^63 bytes prove nothing.
    if (run->setup.SideIsNull[0] && run->setup.SideIsNull[1] && Options.firstBytes == 0) {
        PrintErr("both sides are the null device: nothing to compare -> abort\n");
        NoteReason(&run->pair, "both sides are the null device");
        return RangeSettled::kUnreadable;
    }
    return RangeSettled::kCompare;
}

// What the loop found, as the pair's outcome. A pair that was not compared to its end is never
// identical: what was found differs, otherwise the pair could not be read, or the run was
// stopped. Bytes that both sides delivered and that differ prove a difference wherever else a
// sector could not be read; short of that, unread bytes decide: zeros in their place prove
// nothing, also not a difference.
CompareOutcome OutcomeOf(const PairRun& pair) {
    if (pair.readBytesDiffer || pair.sumDiffers) return Different;
    if (pair.unreadBytes != 0) return Unreadable;
    if (pair.differences != 0) return Different;
    switch (pair.end) {
        case LoopEnd::Completed: return Identical;
        case LoopEnd::Stopped: return OtherProblem;
        case LoopEnd::ReaderGaveUp:
        case LoopEnd::ShortRead: return Unreadable;
        case LoopEnd::SizesDiffer: return Different;
    }
    return Unreadable;
}

// Settles the range and runs the block loop over sides already taken into the run.
CompareOutcome CompareSides(RunState* run, const PairSides& sides) {
    PairRun pair;
    pair.startTime = win.GetTickCount();
    switch (SettleRange(run, sides)) {
        case RangeSettled::kCompare: break;
        case RangeSettled::kDifferent: return Different;
        case RangeSettled::kUnreadable:
            if (!Options.quiet) EndPairLines();
            return Unreadable;
    }
    // The null device delivers no bytes, so its buffer must hold zeros, not an earlier pair's data:
    // comparing with it lists every nonzero byte of the other side.
    for (int side = 0; side < 2; ++side) {
        if (run->setup.SideIsNull[side]) memset(run->setup.CompareBuffers[side], 0, run->setup.BlockSize);
    }
    // Blocks begin where reading begins; an empty range has none.
    uint64_t range = run->pair.CompareLength > run->setup.StartOffset
                         ? run->pair.CompareLength - run->setup.ReadStart
                         : 0;
    run->pair.BlockCount = range / run->setup.BlockSize + (range % run->setup.BlockSize ? 1 : 0);
    pair.comparedTo = run->setup.StartOffset;
    FindHoles(*run, &pair);
    CompareBlocks(run, sides, &pair);
    // A file read whole whose digest is not its sum; one that could not be hashed is not verified.
    if (run->setup.CheckOnly && pair.end == LoopEnd::Completed && pair.unreadBytes == 0) {
        if (!run->pair.DigestReady) {
            PrintErr("error taking the SHA-256 of the file -> not verified\n");
            NoteReason(&run->pair, "no SHA-256 taken");
            pair.end = LoopEnd::ReaderGaveUp;
        } else {
            pair.sumDiffers = memcmp(run->pair.Digest, run->sums.expected, sizeof run->sums.expected) != 0;
        }
    }
    if (!AbortFlag.load(std::memory_order_relaxed)) ClearStatusLine();
    if (run->pair.LengthUnknown) SettleFirstEnd(run, &pair);
    if (pair.end == LoopEnd::Completed && !Options.quiet) PrintVerdict(*run, pair);
    if (!Options.quiet) EndPairLines();
    CloseSides(run);
    run->counts.BytesComparedTotal += run->pair.CompareLength;
    run->counts.SkippedBytes += pair.skippedBytes;
    run->counts.HoleBytes += pair.holeBytes;
    return OutcomeOf(pair);
}

}  // namespace

CompareOutcome CompareFilePair(RunState* run, const wchar_t* path1, const wchar_t* path2, bool skipHardLinkCheck,
                               PairSides* ahead) {
    if (StopRequested()) {
        run->pair.Reason[0] = 0;  // the reason of the pair before would go into this pair's line
        return OtherProblem;
    }
    const wchar_t* const paths[2] = {path1, path2};
    run->pair = PairState{};
    SidesClosedAtEnd closer{run};
    PairSides own;
    PairSides* sides = ahead ? ahead : &own;
    CompareOutcome failed = Unreadable;
    if (ahead) TakeSides(run, paths, ahead);
    if (!ahead && !OpenPairSides(run, paths, skipHardLinkCheck, &own, &failed)) {
        if (!Options.quiet) EndPairLines();
        return failed;
    }
    if (sides->oneFile) {
        // Two names of one file: reading it twice would prove nothing more.
        if (!Options.quiet) {
            PrintOut("\rFiles are identical (same file)");
            EndPairLines();
        }
        return Identical;
    }
    if (sides->keyOk && SkippedAsHardLink(*run, sides->key)) {
        ++run->counts.HardLinks;
        // Its sum is the one of the pair it repeats.
        run->pair.DigestReady = FileIdDigest(run->setup.FileIds, sides->key, run->pair.Digest);
        return Identical;
    }
    CompareOutcome outcome = CompareSides(run, *sides);
    if (outcome == Identical && sides->keyOk && run->setup.FolderRun) {
        RememberFileIdKey(run->setup.FileIds, sides->key, run->pair.DigestReady ? run->pair.Digest : nullptr);
    }
    return outcome;
}
