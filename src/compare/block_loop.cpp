#include "compare/block_loop.h"

#include <cstring>

#include "base/run_options.h"
#include "compare/device_size.h"
#include "compare/diff_block.h"
#include "compare/pair_hash.h"
#include "compare/block_source.h"
#include "compare/reader_threads.h"
#include "compare/speed_text.h"
#include "console/console_output.h"
#include "console/console_session.h"
#include "console/control_handler.h"
#include "console/status_line.h"
#include "platform/win_api.h"

namespace {

void ShowProgress(RunState* run, const PairRun& pair, uint64_t position) {
    uint32_t elapsed = win.GetTickCount() - pair.startTime;
    if (run->counts.LastProgressTime != 0 && elapsed - run->counts.LastProgressTime <= 33) return;
    run->counts.LastProgressTime = elapsed;
    if (!((elapsed > 100 && run->pair.CompareLength > 1048576) || elapsed > 1000)) return;
    uint16_t column = run->pair.LengthUnknown
                          ? WriteStatusAt(0, " %u MB compared", static_cast<uint32_t>(position >> 20))
                          : WriteStatusAt(0, " %u MB of %u MB compared", static_cast<uint32_t>(position >> 20),
                                          run->pair.CompareLengthMiB);
    WriteStatusAt(column, " (%s)           ", SpeedText(position - run->setup.StartOffset, elapsed));
}

// A side that is not the null device and delivered less than the block: the file shrank or
// changed while it was compared. Only what both sides delivered may be compared.
uint32_t DeliveredLength(RunState* runState, const BlockPlan& plan, const BlockView& view) {
    const RunState& run = *runState;
    uint32_t length = plan.length;
    for (int side = 0; side < 2; ++side) {
        const uint32_t got = view.delivered[side];
        if (run.setup.SideIsNull[side] || got >= plan.length) continue;
        PrintErr("\nfile%i ended early: %u of %u bytes read at offset %I64u -> abort\n", side + 1, got, plan.length,
                 plan.position);
        NoteReason(&runState->pair, "file%i ended early at offset %llu", side + 1,
                   static_cast<unsigned long long>(plan.position + got));
        if (got < length) length = got;
    }
    return length;
}

// A pair of unknown length ends in the block where a side delivers less than the block: both
// sides are compared up to the shorter one, and where each ended is kept for the size lines.
uint32_t LengthToFirstEnd(const RunState& run, const BlockPlan& plan, const BlockView& view, PairRun* pair) {
    uint32_t got[2];
    for (int side = 0; side < 2; ++side) {
        const uint32_t read = view.delivered[side];
        got[side] = run.setup.SideIsNull[side] || read > plan.length ? plan.length : read;
    }
    uint32_t length = got[0] < got[1] ? got[0] : got[1];
    if (length == plan.length) return length;
    for (int side = 0; side < 2; ++side) {
        // The null device ends with the other side; a side that ended before the start offset
        // delivered nothing of the range.
        uint64_t end = plan.position + (run.setup.SideIsNull[side] ? length : got[side]);
        pair->sideEnds[side] = end > run.setup.StartOffset ? end : run.setup.StartOffset;
    }
    return length;
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

// An offset as the listing writes it, at least eight hexadecimal digits.
const char* HexOffset(char* text, uint64_t value) {
    char digits[17];
    int count = 0;
    do {
        digits[count++] = "0123456789ABCDEF"[value & 15];
        value >>= 4;
    } while (value != 0);
    int width = count < 8 ? 8 : count;
    for (int i = 0; i < width; ++i) text[i] = i < width - count ? '0' : digits[width - 1 - i];
    text[width] = 0;
    return text;
}

// The compared part of a block: each side's bytes and unread ranges from the first compared byte.
struct ComparedBytes {
    const uint8_t* data[2];
    const UnreadRanges* unread[2];
    uint32_t length;
    uint64_t listedAt;  // where its first byte stands in the listing
};

// Names what a side could not read of this block and tells whether what was read differs; the
// listing has shown the unread bytes as zeros.
void AccountUnread(RunState* run, const ComparedBytes& bytes, PairRun* pair) {
    const uint32_t length = bytes.length;
    const uint64_t listedAt = bytes.listedAt;
    for (int side = 0; side < 2; ++side) {
        const UnreadRanges& ranges = *bytes.unread[side];
        for (uint32_t i = 0; i < ranges.count && ranges.begin[i] < length; ++i) {
            uint32_t end = ranges.end[i] < length ? ranges.end[i] : length;
            pair->unreadBytes += end - ranges.begin[i];
            char first[20], last[20];
            NoteReason(&run->pair, "not read in file%i from %s to %s", side + 1,
                       HexOffset(first, listedAt + ranges.begin[i]), HexOffset(last, listedAt + end - 1));
            if (!Options.quiet) {
                PrintUnreadRange(listedAt + ranges.begin[i], listedAt + end - 1, side, run->pair.CompareLength);
            }
        }
    }
    if (ReadBytesDiffer(bytes.data[0], bytes.data[1], length, *bytes.unread[0], *bytes.unread[1])) {
        pair->readBytesDiffer = true;
    }
}

// The ranges from `lead` bytes into the block on, counted from there.
void RangesAfter(const UnreadRanges& ranges, uint32_t lead, UnreadRanges* after) {
    after->count = 0;
    for (uint32_t i = 0; i < ranges.count; ++i) {
        if (ranges.end[i] <= lead) continue;
        after->begin[after->count] = ranges.begin[i] > lead ? ranges.begin[i] - lead : 0;
        after->end[after->count++] = ranges.end[i] - lead;
    }
}

// -sz1 and -sz2 leave out blocks that are all zero in file 1 or file 2, -sz those of either. A
// block with unread bytes is always compared: zeros in their place are no data.
bool SkippedAsZero(const ComparedBytes& bytes) {
    for (int side = 0; side < 2; ++side) {
        if (SkipsZeroBlocksOf(side) && IsAllZero(bytes.data[side], bytes.length)) return true;
    }
    return false;
}

// Compares the `length` bytes both sides delivered of the block, from the start offset on, or
// leaves them out as zero.
void CompareBlock(RunState* run, const BlockPlan& plan, const BlockView& view, uint32_t length, PairRun* pair) {
    if (length <= plan.lead) return;
    // Listed offsets count from the start offset.
    ComparedBytes bytes = {{view.data[0] + plan.lead, view.data[1] + plan.lead},
                           {view.unread[0], view.unread[1]},
                           length - plan.lead,
                           plan.position + plan.lead - run->setup.StartOffset};
    UnreadRanges after[2];
    for (int side = 0; side < 2 && plan.lead != 0; ++side) {
        RangesAfter(*view.unread[side], plan.lead, &after[side]);
        bytes.unread[side] = &after[side];
    }
    bool unread = bytes.unread[0]->count != 0 || bytes.unread[1]->count != 0;
    if (!unread && SkippedAsZero(bytes)) {
        pair->skippedBytes += bytes.length;
        return;
    }
    // A file checked against its sum is its own side 2: its bytes cannot differ from themselves.
    const uint64_t found = bytes.data[0] == bytes.data[1] ? 0
                                                          : DiffBlock(bytes.data[0], bytes.data[1], bytes.length,
                                                                      bytes.listedAt, run->pair.CompareLength);
    pair->differences += found;
    // Without unread bytes every difference is one of bytes both sides delivered.
    if (unread) {
        AccountUnread(run, bytes, pair);
    } else if (found != 0) {
        pair->readBytesDiffer = true;
    }
}

}  // namespace

void FindHoles(const RunState& run, PairRun* pair) {
    if (run.pair.LengthUnknown || run.paths.device[0] || run.paths.device[1]) return;
    for (int side = 0; side < 2; ++side) {
        HANDLE handle = run.pair.side[side].handle;
        if (!SkipsZeroBlocksOf(side) || handle == INVALID_HANDLE_VALUE) continue;
        StartAllocatedRanges(&pair->holes[side], handle, run.pair.CompareLength);
    }
}

namespace {

// A block wholly in a hole: zero by definition, neither side is read, and both move on to the
// next block. False when a side cannot be moved.
bool SkipHole(RunState* run, const BlockPlan& plan, PairRun* pair) {
    pair->skippedBytes += plan.length - plan.lead;
    pair->holeBytes += plan.length - plan.lead;
    const uint64_t next = plan.position + plan.readLength;
    if (SeekSide(run->pair.side[0].handle, next, 0) && SeekSide(run->pair.side[1].handle, next, 1)) return true;
    NoteReason(&run->pair, "a side could not be positioned at offset %llu", static_cast<unsigned long long>(next));
    pair->end = LoopEnd::ReaderGaveUp;
    return false;
}

// Brings one planned block from the source and compares it. False when the pair ends with it.
bool RunBlock(RunState* run, BlockSource* source, uint64_t block, const BlockPlan& plan, PairRun* pair) {
    uint32_t length = plan.length;
    if (plan.hole) {
        if (!SkipHole(run, plan, pair)) return false;
    } else {
        BlockView view;
        switch (BringBlock(source, block, plan, &view)) {
            case Brought::kBlock: break;
            case Brought::kGaveUp:
                PrintErr("\n aborted\n");
                NoteReason(&run->pair, "reading given up at offset %llu",
                           static_cast<unsigned long long>(plan.position));
                pair->end = LoopEnd::ReaderGaveUp;
                return false;
            case Brought::kNotPlaced: pair->end = LoopEnd::ReaderGaveUp; return false;
            case Brought::kStopped: pair->end = LoopEnd::Stopped; return false;
        }
        length = run->pair.LengthUnknown ? LengthToFirstEnd(*run, plan, view, pair) : DeliveredLength(run, plan, view);
        CompareBlock(run, plan, view, length, pair);
        if (HashesPairs(*run)) {
            // The block's bytes stay where they are until the hash has taken them: the source
            // lets its place go only after the next block is compared.
            AwaitBlockHash(run);
            if (source->hashed != 0) BlockCompared(source, source->hashed - 1);
            source->hashed = block + 1;
            HashBlock(run, view.data[0], length);
        } else {
            BlockCompared(source, block);
        }
    }
    const uint64_t reached = plan.position + length;
    pair->comparedTo = reached > run->setup.StartOffset ? reached : run->setup.StartOffset;
    if (length < plan.length) {
        pair->end = run->pair.LengthUnknown ? LoopEnd::Completed : LoopEnd::ShortRead;
        return false;
    }
    return true;
}

}  // namespace

void CompareBlocks(RunState* run, const PairSides& sides, PairRun* pair) {
    const bool showProgress = !Options.quiet && !(Session && Session->outputRedirected);
    // Read-ahead and long turns for a pair of several blocks that is read here, of known length
    // and without holes (their ranges are asked block after block, once).
    const bool plain = sides.read || run->pair.LengthUnknown || run->pair.BlockCount <= 1 || pair->holes[0].active ||
                       pair->holes[1].active;
    BlockSource source;
    OpenBlockSource(&source, run, sides, plain);
    StartPairHash(run);
    for (uint64_t block = 0; block < run->pair.BlockCount; ++block) {
        if (showProgress) PrintOut("\r");
        const BlockPlan plan = PlanBlock(*run, block, pair->holes);
        if (!RunBlock(run, &source, block, plan, pair)) break;
        if (showProgress && LastControlEvent.load(std::memory_order_relaxed) == 0) {
            ShowProgress(run, *pair, pair->comparedTo);
        }
        if (StopRequested()) {
            pair->end = LoopEnd::Stopped;
            break;
        }
    }
    FinishPairHash(run, pair->end == LoopEnd::Completed && pair->comparedTo == run->pair.CompareLength);
    if (source.hashed != 0) BlockCompared(&source, source.hashed - 1);
    CloseBlockSource(&source);
}
